// Reports to the user. A report is data (TReport: kind, file, line, message)
// handed to one sink; the text is made once, at the edge: the default sink
// writes stderr (and a modal box when an interactive desktop run switched
// boxes on, never in tests, headless runs or CI); the pre-flight, dev mode
// and tests install their own sink and read the fields.
#pragma once

#include <cstddef>
#include <functional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

enum class TReportKind { Error, Warning, Note };

struct TReport {
    TReportKind Kind = TReportKind::Error;
    std::string File;    // the script (or other file) it belongs to; "" none
    int Line = 0;        // 1-based line in File; 0 none
    std::string Message; // what is wrong, without place or kind
    // The LOAD line a reported line belongs to (a file named on an A, B or C
    // line is reported there, with the LOAD line of its effect); 0 none.
    int RelatedLine = 0;
    // The system's caption of a message that is not about a script line
    // ("Application Error", "Texture", "Capture", ...); empty for script
    // errors, warnings and notes.
    std::string Caption;

    // A script error: counts for the exit code and stops what it says.
    bool ScriptError() const { return Kind == TReportKind::Error && Caption.empty(); }
};

// "FILE:LINE: error: MESSAGE (LOAD at line N)", "FILE: warning: MESSAGE",
// "error: MESSAGE" without a file; "CAPTION: MESSAGE" for captioned ones.
std::string ReportLineText(const TReport& report);
// The system's own text of the report, as its message box shows it: for a
// script error "Corvala Demosystem\nError in demoscript. Demo will now
// crash\nDescription: " followed by the message (and the LOAD line).
std::string ReportBoxText(const TReport& report);
// "FILE:LINE: MESSAGE (LOAD at line N)": the place and the message, as dev
// mode answers and shows it.
std::string ReportPlacedText(const TReport& report);
// "FILE:LINE" of the report, "FILE" without a line, "" without a file.
std::string ReportPlace(const TReport& report);

// The script line being executed, given to script errors and to
// application errors raised while it runs. Line 0 means no line.
void SetScriptLocation(const std::string& file, int line);
void ClearScriptLocation();
// "file:line" of the current script line, or "" when there is none.
std::string ScriptLocationText();
// The current script line; 0 when there is none.
int ScriptLocationLine();
// The current script file; "" when there is none.
const std::string& ScriptLocationFile();

// The lines of the script that name files (an effect's A, B and C lines),
// while the code that reads those files runs at the LOAD line: a report
// about one of them (made inside a TFileReportScope for its name) is placed
// at the line naming it, with the LOAD line as its related line. An empty
// list (the default) places every report at the current line.
void SetNamedFileLines(std::vector<std::pair<std::string, int>> lines);
// Reports made while it lives are about the file `name`.
class TFileReportScope {
public:
    explicit TFileReportScope(const std::string& name);
    ~TFileReportScope();
    TFileReportScope(const TFileReportScope&) = delete;
    TFileReportScope& operator=(const TFileReportScope&) = delete;
};

// Hands `report` to the sink; counts script errors and warnings.
void Report(const TReport& report);

// A message that is not about a script line, under the system's caption.
void ReportMessage(const std::string& caption, const std::string& text);

// A script error at the current script line. The system's text (the box) is
// "Corvala Demosystem\nError in demoscript. Demo will now crash\nDescription: "
// followed by the description. It stops nothing by itself; callers set
// DemoQuit where playback must not go on.
void ShowScriptError(const std::string& description);

// A problem found while checking a script (pre-flight), at the current
// script line: "FILE:LINE: warning: MESSAGE" on stderr. Not an error.
void ReportWarning(const std::string& message);

// Number of script errors reported since the start (or the last reset).
int ScriptErrorCount();
// Number of warnings reported since the start (or the last reset).
int ScriptWarningCount();
void ResetScriptErrorCount();
// Puts the error count back to an earlier value: dev mode takes back the
// errors of a reload it refused, which the playing demo never had.
void RestoreScriptErrorCount(int count);

// The default sink writes one line per script error ("FILE:LINE: error:
// MESSAGE") without the system's text after it (the pre-flight check).
void SetOneLineReports(bool on);

// Boxes are off unless the entry point decides the run is interactive.
void SetInteractiveReports(bool on);
bool InteractiveReports();

// The one sink. Empty: the default one (stderr and boxes).
using TReportSink = std::function<void(const TReport& report)>;
void SetReportSink(TReportSink sink);
void SetReportSink(std::nullptr_t);
// A sink of formatted text, for tests that look at what a user reads:
// caption "FILE:LINE" (or "Corvala Demosystem") and the box text for script
// errors, "warning" and the line for warnings, the caption and message for
// the others.
using TReportTextSink = std::function<void(const std::string& caption, const std::string& text)>;
void SetReportSink(TReportTextSink sink);
// The sink set now (empty when reports go to the default), to restore it.
TReportSink CurrentReportSink();
// Writes a report as the default sink does.
void PrintReport(const TReport& report);

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
