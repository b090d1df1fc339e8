#include "app/check.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

#include "base/report.h"
#include "demo/demo.h"

namespace {

std::string Count(int n, const char* word) { return std::to_string(n) + " " + word + (n == 1 ? "" : "s"); }

// The big parties' limit for a demo's running time, in seconds.
constexpr double PartyLengthLimit = 8 * 60;

void WarnPartyLength(const TCDemo& demo) {
    if (!demo.Tracker || !(demo.Tracker->BPM > 0)) return;
    const double seconds = PlaySeconds(demo);
    if (seconds <= PartyLengthLimit) return;
    char text[160];
    std::snprintf(text, sizeof text, "the production runs %d:%04.1f, longer than the 8 minutes the big parties allow",
                  int(seconds / 60), seconds - 60 * std::floor(seconds / 60));
    ReportWarning(text);
}

// Reports are collected and printed in line order when the check is done,
// so that the list reads from the top of the script down however the
// checks ran (timeline and effect files are checked after the script).
class TLineOrderedReports {
public:
    TLineOrderedReports() {
        SetReportSink([this](const TReport& report) { reports.push_back(report); });
    }
    ~TLineOrderedReports() {
        SetReportSink(nullptr);
        std::stable_sort(reports.begin(), reports.end(),
                         [](const TReport& a, const TReport& b) { return a.Line < b.Line; });
        for (const TReport& report : reports) std::fprintf(stderr, "%s\n", ReportLineText(report).c_str());
        std::fflush(stderr);
    }

private:
    std::vector<TReport> reports;
};

} // namespace

double PlaySeconds(const TCDemo& demo) {
    double seconds = demo.Tracker->RowTime(demo.Tracker->RowCount() + 1);
    if (demo.MusicSeconds > 0) seconds = std::min(seconds, demo.MusicSeconds);
    if (demo.EndTime > 0) seconds = std::min(seconds, double(demo.EndTime));
    return seconds;
}

int RunCheck(const std::string& script, const TCheckPassed& passed) {
    SetOneLineReports(true);
    const int errorsBefore = ScriptErrorCount();
    const int warningsBefore = ScriptWarningCount();
    std::unique_ptr<TCDemo> demo;
    int applicationErrors = 0;
    {
        TLineOrderedReports ordered;
        try {
            TDemoOptions options;
            options.CheckOnly = true;
            demo = std::make_unique<TCDemo>(script, options);
            WarnPartyLength(*demo);
        } catch (const EApplicationError& error) {
            // A script that cannot be read at all still gets its summary.
            ReportMessage("Application Error", error.what());
            applicationErrors = 1;
        }
    }
    const int errors = ScriptErrorCount() - errorsBefore + applicationErrors;
    const int warnings = ScriptWarningCount() - warningsBefore;
    std::string summary = script + ": ";
    if (errors > 0 || !demo) {
        summary += Count(errors, "error") + ", " + Count(warnings, "warning");
    } else {
        const auto effects = std::count_if(demo->Effects.begin(), demo->Effects.end(),
                                           [](const auto& effect) { return effect != nullptr; });
        char timing[64];
        std::snprintf(timing, sizeof timing, "%.1f s at %g BPM", PlaySeconds(*demo), double(demo->Tracker->BPM));
        summary += "ok: " + Count(int(effects), "effect") + ", " + Count(int(demo->Bars.size()), "bar") + ", " + timing;
        if (warnings > 0) summary += " (" + Count(warnings, "warning") + ")";
    }
    std::fflush(stderr);
    std::printf("%s\n", summary.c_str());
    std::fflush(stdout);
    if (errors == 0 && demo && passed) passed(*demo);
    return errors > 0 ? 1 : 0;
}
