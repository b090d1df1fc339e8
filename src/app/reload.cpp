#include "app/reload.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <set>

#include "base/files.h"
#include "base/rebuild_cache.h"
#include "base/report.h"
#include "media/sound.h"

namespace {

namespace fs = std::filesystem;

// Switches the input-file observer off when the build ends, also by an
// exception.
struct TObserverScope {
    explicit TObserverScope(TInputFileObserver observer) { SetInputFileObserver(std::move(observer)); }
    ~TObserverScope() { SetInputFileObserver(nullptr); }
};

// Collects the reports of one build as data; each still reaches the sink
// that was set before (stderr) unless `quiet`.
class TBuildReports {
public:
    explicit TBuildReports(bool quiet) : previous(CurrentReportSink()) {
        SetReportSink([this, quiet](const TReport& report) {
            All.push_back(report);
            if (quiet && report.Kind == TReportKind::Error) return;
            if (previous)
                previous(report);
            else
                PrintReport(report);
        });
    }
    ~TBuildReports() { SetReportSink(previous); }
    TBuildReports(const TBuildReports&) = delete;
    TBuildReports& operator=(const TBuildReports&) = delete;

    const TReport* FirstError() const {
        for (const TReport& report : All)
            if (report.Kind == TReportKind::Error) return &report;
        return nullptr;
    }
    // The reports in line order (a build checks the timeline after the
    // script's lines).
    std::vector<TReport> InLineOrder() const {
        std::vector<TReport> sorted = All;
        std::stable_sort(sorted.begin(), sorted.end(),
                         [](const TReport& a, const TReport& b) { return a.Line < b.Line; });
        return sorted;
    }
    std::vector<TReport> All;

private:
    TReportSink previous;
};

} // namespace

TFileStamp StampOf(const std::string& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) return {};
    TFileStamp stamp;
    stamp.Exists = true;
    stamp.ModifiedNs = int64_t(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    stamp.Size = uintmax_t(info.st_size);
    return stamp;
}

TDevReloader::TDevReloader(const std::string& scriptFile, const TDemoOptions& demoOptions)
    : script(scriptFile), options(demoOptions) {
    options.Checked = true;
    std::error_code ec;
    folder = fs::current_path(ec).string();
    BeginRebuild(nullptr);
    TStamps noted;
    TBuildReports built(false);
    try {
        demo = Build(options, noted);
    } catch (...) {
        EndRebuild(false);
        throw;
    }
    reports = built.InLineOrder();
    EndRebuild(true);
    loaded = watched = noted;
    lastPoll = std::chrono::steady_clock::now();
}

TDevReloader::~TDevReloader() = default;

std::unique_ptr<TCDemo> TDevReloader::Build(const TDemoOptions& buildOptions, TStamps& noted) {
    TObserverScope observe([&noted](const std::string& name) {
        const std::string path = AbsoluteFileName(name);
        noted[path] = StampOf(path);
    });
    std::error_code ec;
    fs::current_path(folder, ec);
    return std::make_unique<TCDemo>(script, buildOptions);
}

bool TDevReloader::FilesChanged() {
    if (changeSeen) return true;
    const auto now = std::chrono::steady_clock::now();
    if (now - lastPoll < PollInterval) return false;
    lastPoll = now;
    for (const auto& [path, stamp] : watched) {
        if (StampOf(path) == stamp) continue;
        changeSeen = true;
        break;
    }
    return changeSeen;
}

std::vector<std::string> TDevReloader::WatchedFiles() const {
    std::vector<std::string> names;
    for (const auto& entry : watched) names.push_back(entry.first);
    return names;
}

bool TDevReloader::Reload() {
    changeSeen = false;
    lastPoll = std::chrono::steady_clock::now();
    std::error_code ec;
    const fs::path playingFolder = fs::current_path(ec);

    // Files read for the playing demo that changed since: they load again.
    std::set<std::string> changed;
    for (const auto& [path, stamp] : loaded)
        if (StampOf(path) != stamp) changed.insert(path);
    const auto isChanged = [&changed](const std::string& path) { return changed.count(path) > 0; };

    TDemoHandover handover;
    handover.Window = demo->Window;
    handover.MusicFile = demo->MusicFile;
    handover.MusicSample = demo->MusicLoaded && !isChanged(demo->MusicFile) ? demo->MusicSample : -1;
    handover.MusicChannel = demo->MusicChannel;
    handover.DemoTime = demo->DemoTime;
    TDemoOptions buildOptions = options;
    buildOptions.Handover = handover;

    // Reports of the new build are collected: the first error is the
    // answer, warnings still go to stderr.
    const bool quitBefore = DemoQuit;
    const int errorsBefore = ScriptErrorCount();
    BeginRebuild(isChanged);
    TStamps noted;
    std::unique_ptr<TCDemo> fresh;
    std::optional<TReport> failure;
    std::vector<TReport> freshReports;
    {
        TBuildReports built(true);
        try {
            fresh = Build(buildOptions, noted);
        } catch (const EApplicationError& raised) {
            TReport report;
            report.File = ScriptLocationFile().empty() ? script : ScriptLocationFile();
            report.Line = ScriptLocationLine();
            report.Message = raised.Bare();
            failure = report;
        } catch (const std::exception& raised) {
            TReport report;
            report.File = script;
            report.Message = raised.what();
            failure = report;
        }
        ClearScriptLocation();
        if (!failure && built.FirstError()) failure = *built.FirstError();
        freshReports = built.InLineOrder();
    }
    if (fresh && !failure && DemoQuit) {
        TReport report;
        report.File = script;
        report.Message = "the demo stopped while it loaded";
        failure = report;
    }

    if (failure) {
        if (fresh && fresh->MusicLoaded && fresh->MusicSample != demo->MusicSample) FreeSample(fresh->MusicSample);
        fresh.reset();
        EndRebuild(false);
        DemoQuit = quitBefore;
        RestoreScriptErrorCount(errorsBefore);
        fs::current_path(playingFolder, ec);
        // Watch what either build read, as it is now: the next save that
        // changes any of it tries again.
        watched.clear();
        for (const auto& entry : loaded) watched[entry.first] = StampOf(entry.first);
        for (const auto& entry : noted) watched[entry.first] = entry.second;
        refusal = failure;
        refusalCause.reset();
        for (const TReport& report : freshReports) {
            if (report.Kind != TReportKind::Warning || report.Line > failure->Line) continue;
            const bool known = std::any_of(reports.begin(), reports.end(), [&](const TReport& playing) {
                return playing.Kind == TReportKind::Warning && playing.Message == report.Message;
            });
            if (known) continue;
            refusalCause = report;
            break;
        }
        return false;
    }

    const bool musicKept = fresh->MusicLoaded && demo->MusicLoaded && fresh->MusicSample == demo->MusicSample;
    const int replacedSample = demo->MusicLoaded && !musicKept ? demo->MusicSample : -1;
    musicReplaced = fresh->MusicLoaded && !musicKept;
    demo = std::move(fresh); // the old demo and its effects go here
    if (replacedSample >= 0) FreeSample(replacedSample);
    EndRebuild(true);
    loaded = watched = noted;
    refusal.reset();
    refusalCause.reset();
    reports = std::move(freshReports);
    return true;
}

std::string TDevReloader::Error() const { return refusal ? ReportPlacedText(*refusal) : std::string(); }
