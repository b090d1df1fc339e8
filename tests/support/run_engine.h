// Runs the engine binary as a user would, in a given folder, and collects
// its exit code and output.
#pragma once

#include <string>

namespace testutil {

struct RunResult {
    int ExitCode = -1;
    std::string Output; // stdout and stderr together
};

// `arguments` is appended to the binary path as shell words (quote them).
RunResult RunEngine(const std::string& arguments, const std::string& folder);

// `command` run by the shell, stdout and stderr together.
RunResult RunShell(const std::string& command);

std::string Quote(const std::string& text);

} // namespace testutil
