// The pre-flight check (`corvala --check`): executes the script without a
// window, GL or sound output, decodes every file it names and reports each
// problem as one line "SCRIPT:LINE: error|warning: MESSAGE" on stderr. It
// ends with one summary line on stdout, "SCRIPT: ok: N effects, N bars,
// S s at B BPM" or "SCRIPT: N errors, N warnings".
#pragma once

#include <functional>
#include <string>

class TCDemo;

// Called with the checked demo when the check found no error, before the
// demo is dropped (the party pack reads its credits and effects).
using TCheckPassed = std::function<void(const TCDemo& demo)>;

// Runs the check of `script` (already resolved in the current directory);
// returns the process exit code: 1 when an error was found, else 0.
int RunCheck(const std::string& script, const TCheckPassed& passed = {});

// How long a run of the checked demo plays, in demo seconds from 0: to the
// end time, the music's end or the row after the tracker's last, whichever
// comes first.
double PlaySeconds(const TCDemo& demo);
