// The pre-flight check (`corvala --check`): executes the script without a
// window, GL or sound output, decodes every file it names and reports each
// problem as one line "SCRIPT:LINE: error|warning: MESSAGE" on stderr. It
// ends with one summary line on stdout, "SCRIPT: ok: N effects, N bars,
// S s at B BPM" or "SCRIPT: N errors, N warnings".
#pragma once

#include <string>

// Runs the check of `script` (already resolved in the current directory);
// returns the process exit code: 1 when an error was found, else 0.
int RunCheck(const std::string& script);
