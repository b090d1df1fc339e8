// corvala-tracker: makes and reads tracker files. The subcommands run
// in-process from a list of arguments (without the program name) so the
// tests can call them; messages go to `out` and `err`.
#pragma once

#include <ostream>
#include <string>
#include <vector>

// Exit code: 0 done, 1 a file could not be read or written, 2 bad arguments.
int RunTrackerTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
