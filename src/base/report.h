// Reports to the user. Every report goes to stderr; a modal box is shown
// only when an interactive desktop run switched boxes on (never in tests,
// headless runs or CI).
#pragma once

#include <functional>
#include <stdexcept>
#include <string>

// The script line being executed, appended to script errors and to
// application errors raised while it runs. Line 0 means no line.
void SetScriptLocation(const std::string& file, int line);
void ClearScriptLocation();
// "file:line" of the current script line, or "" when there is none.
std::string ScriptLocationText();

// Writes caption and text to stderr, then shows a modal box when enabled.
void ReportMessage(const std::string& caption, const std::string& text);

// The script error box: "Corvala Demosystem\nError in demoscript. Demo will
// now crash\nDescription: " followed by the description. It stops nothing by
// itself; callers set DemoQuit where playback must not go on.
void ShowScriptError(const std::string& description);

// Reports a problem found while checking a script (pre-flight): one line
// "FILE:LINE: warning: MESSAGE" on stderr. Counts as a warning, not an error.
void ReportWarning(const std::string& message);

// Number of script errors reported since the start (or the last reset).
int ScriptErrorCount();
// Number of warnings reported since the start (or the last reset).
int ScriptWarningCount();
void ResetScriptErrorCount();
// Puts the error count back to an earlier value: dev mode takes back the
// errors of a reload it refused, which the playing demo never had.
void RestoreScriptErrorCount(int count);

// One line per report ("FILE:LINE: error: MESSAGE"), for the pre-flight check.
void SetOneLineReports(bool on);

// Boxes are off unless the entry point decides the run is interactive.
void SetInteractiveReports(bool on);
bool InteractiveReports();

// Tests and the pre-flight check can take reports instead of stderr.
using TReportSink = std::function<void(const std::string& caption, const std::string& text)>;
void SetReportSink(TReportSink sink);
// The sink set now (empty when reports go to stderr), to restore it later.
TReportSink CurrentReportSink();

// An error no part of the engine handles (a missing script or tracker file,
// a malformed number): it ends start-up. The entry point reports it as an
// "Application Error" and exits with code 1. The message carries the script
// place when one is set.
class EApplicationError : public std::runtime_error {
public:
    EApplicationError(const std::string& message, const std::string& bare);
    // The message without the script place.
    const std::string& Bare() const { return bareMessage; }

private:
    std::string bareMessage;
};

[[noreturn]] void RaiseApplicationError(const std::string& message);
