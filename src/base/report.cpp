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

const char* const ScriptErrorPrefix =
    "Corvala Demosystem\nError in demoscript. Demo will now crash\nDescription: ";

} // namespace

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

void ReportMessage(const std::string& caption, const std::string& text) {
    if (sink) {
        sink(caption, text);
        return;
    }
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    std::fflush(stderr);
    if (interactive) SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, caption.c_str(), text.c_str(), nullptr);
}

void ShowScriptError(const std::string& description) {
    ++scriptErrors;
    std::string text = ScriptErrorPrefix + description;
    const std::string where = ScriptLocationText();
    if (sink) {
        sink(where.empty() ? "Corvala Demosystem" : where, text);
        return;
    }
    if (!where.empty())
        std::fprintf(stderr, "%s: error: %s\n", where.c_str(), description.c_str());
    else
        std::fprintf(stderr, "error: %s\n", description.c_str());
    if (!oneLine) std::fprintf(stderr, "%s\n", text.c_str());
    std::fflush(stderr);
    if (interactive) {
        if (!where.empty()) text += "\n(" + where + ")";
        SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, "Corvala Demosystem", text.c_str(), nullptr);
    }
}

void ReportWarning(const std::string& message) {
    ++scriptWarnings;
    const std::string where = ScriptLocationText();
    if (sink) {
        sink("warning", where.empty() ? message : where + ": warning: " + message);
        return;
    }
    std::fprintf(stderr, "%s%swarning: %s\n", where.c_str(), where.empty() ? "" : ": ", message.c_str());
    std::fflush(stderr);
}

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
TReportSink CurrentReportSink() { return sink; }

EApplicationError::EApplicationError(const std::string& message, const std::string& bare)
    : std::runtime_error(message), bareMessage(bare) {}

void RaiseApplicationError(const std::string& message) {
    const std::string where = ScriptLocationText();
    throw EApplicationError(where.empty() ? message : where + ": " + message, message);
}
