#include "base/report.h"

#include <SDL.h>

#include <cstdio>

namespace {

std::string scriptFile;
int scriptLine = 0;
int scriptErrors = 0;
int scriptWarnings = 0;
bool interactive = false;
bool oneLine = false;
TReportSink sink;
std::vector<std::pair<std::string, int>> namedFileLines;
std::vector<std::string> filesInScope; // innermost last

const char* const ScriptErrorPrefix = "Corvala Demosystem\nError in demoscript. Demo will now crash\nDescription: ";

// The report at the current script line, or at the line naming the file
// being read.
TReport Located(TReportKind kind, const std::string& message) {
    TReport report;
    report.Kind = kind;
    report.File = scriptFile;
    report.Line = scriptLine;
    report.Message = message;
    if (filesInScope.empty() || scriptFile.empty()) return report;
    for (const auto& [name, line] : namedFileLines) {
        if (name != filesInScope.back() || line <= 0 || line == scriptLine) continue;
        report.RelatedLine = scriptLine;
        report.Line = line;
        break;
    }
    return report;
}

std::string KindWord(TReportKind kind) {
    switch (kind) {
    case TReportKind::Error:
        return "error";
    case TReportKind::Warning:
        return "warning";
    case TReportKind::Note:
        return "note";
    }
    return "error";
}

std::string RelatedText(const TReport& report) {
    return report.RelatedLine > 0 ? " (LOAD at line " + std::to_string(report.RelatedLine) + ")" : "";
}

} // namespace

std::string ReportPlace(const TReport& report) {
    if (report.File.empty()) return {};
    if (report.Line <= 0) return report.File;
    return report.File + ":" + std::to_string(report.Line);
}

std::string ReportLineText(const TReport& report) {
    if (!report.Caption.empty()) return report.Caption + ": " + report.Message;
    const std::string place = ReportPlace(report);
    return (place.empty() ? "" : place + ": ") + KindWord(report.Kind) + ": " + report.Message + RelatedText(report);
}

std::string ReportPlacedText(const TReport& report) {
    const std::string place = ReportPlace(report);
    return (place.empty() ? "" : place + ": ") + report.Message + RelatedText(report);
}

std::string ReportBoxText(const TReport& report) {
    if (report.ScriptError()) return ScriptErrorPrefix + report.Message + RelatedText(report);
    if (report.Caption.empty()) return ReportLineText(report);
    return report.Message;
}

void SetScriptLocation(const std::string& file, int line) {
    scriptFile = file;
    scriptLine = line;
}

void ClearScriptLocation() {
    scriptFile.clear();
    scriptLine = 0;
}

std::string ScriptLocationText() {
    if (scriptFile.empty()) return {};
    if (scriptLine <= 0) return scriptFile;
    return scriptFile + ":" + std::to_string(scriptLine);
}

const std::string& ScriptLocationFile() { return scriptFile; }

int ScriptLocationLine() { return scriptFile.empty() ? 0 : scriptLine; }

void SetNamedFileLines(std::vector<std::pair<std::string, int>> lines) { namedFileLines = std::move(lines); }

TFileReportScope::TFileReportScope(const std::string& name) { filesInScope.push_back(name); }
TFileReportScope::~TFileReportScope() { filesInScope.pop_back(); }

void PrintReport(const TReport& report) {
    if (!report.Caption.empty()) {
        std::fprintf(stderr, "%s: %s\n", report.Caption.c_str(), report.Message.c_str());
        std::fflush(stderr);
        if (interactive)
            SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, report.Caption.c_str(), report.Message.c_str(), nullptr);
        return;
    }
    std::fprintf(stderr, "%s\n", ReportLineText(report).c_str());
    if (!report.ScriptError()) {
        std::fflush(stderr);
        return;
    }
    std::string text = ReportBoxText(report);
    if (!oneLine) std::fprintf(stderr, "%s\n", text.c_str());
    std::fflush(stderr);
    if (interactive) {
        const std::string where = ReportPlace(report);
        if (!where.empty()) text += "\n(" + where + ")";
        SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, "Corvala Demosystem", text.c_str(), nullptr);
    }
}

void Report(const TReport& report) {
    if (report.ScriptError()) ++scriptErrors;
    if (report.Kind == TReportKind::Warning) ++scriptWarnings;
    if (sink)
        sink(report);
    else
        PrintReport(report);
}

void ReportMessage(const std::string& caption, const std::string& text) {
    TReport report = Located(TReportKind::Error, text);
    report.Caption = caption.empty() ? "Error" : caption;
    Report(report);
}

void ShowScriptError(const std::string& description) { Report(Located(TReportKind::Error, description)); }

void ReportWarning(const std::string& message) { Report(Located(TReportKind::Warning, message)); }

int ScriptErrorCount() { return scriptErrors; }
int ScriptWarningCount() { return scriptWarnings; }
void ResetScriptErrorCount() {
    scriptErrors = 0;
    scriptWarnings = 0;
}
void RestoreScriptErrorCount(int count) { scriptErrors = count; }

void SetOneLineReports(bool on) { oneLine = on; }

void SetInteractiveReports(bool on) { interactive = on; }
bool InteractiveReports() { return interactive; }

void SetReportSink(TReportSink newSink) { sink = std::move(newSink); }
void SetReportSink(std::nullptr_t) { sink = nullptr; }

void SetReportSink(TReportTextSink textSink) {
    if (!textSink) {
        sink = nullptr;
        return;
    }
    sink = [textSink = std::move(textSink)](const TReport& report) {
        if (!report.Caption.empty()) {
            textSink(report.Caption, report.Message);
        } else if (report.ScriptError()) {
            const std::string place = ReportPlace(report);
            textSink(place.empty() ? "Corvala Demosystem" : place, ReportBoxText(report));
        } else {
            textSink(KindWord(report.Kind),
                     report.File.empty() ? report.Message + RelatedText(report) : ReportLineText(report));
        }
    };
}

TReportSink CurrentReportSink() { return sink; }

EApplicationError::EApplicationError(const std::string& message, const std::string& bare)
    : std::runtime_error(message), bareMessage(bare) {}

void RaiseApplicationError(const std::string& message) {
    const std::string where = ScriptLocationText();
    throw EApplicationError(where.empty() ? message : where + ": " + message, message);
}
