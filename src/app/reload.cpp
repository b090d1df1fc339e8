#include "app/reload.h"

#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <set>

#include "base/files.h"
#include "base/report.h"
#include "effects/effect_files.h"
#include "media/sound.h"
#include "render/material.h"

namespace {

namespace fs = std::filesystem;

// Switches the input-file observer off when the build ends, also by an
// exception.
struct TObserverScope {
    explicit TObserverScope(TInputFileObserver observer) { SetInputFileObserver(std::move(observer)); }
    ~TObserverScope() { SetInputFileObserver(nullptr); }
};

// A bar that would play a slot holding no effect stops playback at its first
// frame; a rebuilt demo is refused for it before it replaces a good one.
std::string UnplayableBar(const TCDemo& demo) {
    for (const TScriptBar& bar : demo.Bars) {
        if (bar.LengthRows <= 0) continue;
        const int32_t slot = bar.EffectSlot;
        if (slot >= 0 && size_t(slot) < demo.Effects.size() && demo.Effects[size_t(slot)]) continue;
        return demo.ScriptFile + ":" + std::to_string(bar.ScriptLine) +
               ": Effect not installed: " + std::to_string(slot);
    }
    return {};
}

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

TDevReloader::TDevReloader(const std::string& script, const TDemoOptions& options)
    : script(script), options(options) {
    std::error_code ec;
    folder = fs::current_path(ec).string();
    BeginTextureRebuild(nullptr);
    BeginModelRebuild(nullptr);
    TStamps noted;
    try {
        demo = Build(options, noted);
    } catch (...) {
        EndTextureRebuild(false);
        EndModelRebuild(false);
        throw;
    }
    EndTextureRebuild(true);
    EndModelRebuild(true);
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

    // Reports of the new build are collected, not shown: the first error is
    // the answer, warnings still go to stderr.
    std::string failure;
    const TReportSink previousSink = CurrentReportSink();
    SetReportSink([&failure, this](const std::string& caption, const std::string& text) {
        if (caption == "warning") {
            std::fprintf(stderr, "%s\n", text.c_str());
            return;
        }
        if (!failure.empty()) return;
        const size_t at = text.find("Description: ");
        const std::string description = at == std::string::npos ? text : text.substr(at + 13);
        const std::string where = ScriptLocationText();
        failure = (where.empty() ? script : where) + ": " + description;
    });
    const bool quitBefore = DemoQuit;
    const int errorsBefore = ScriptErrorCount();
    BeginTextureRebuild(isChanged);
    BeginModelRebuild(isChanged);
    TStamps noted;
    std::unique_ptr<TCDemo> fresh;
    try {
        fresh = Build(buildOptions, noted);
    } catch (const std::exception& raised) {
        // Application errors carry "file:line: " already.
        if (failure.empty()) failure = raised.what();
    }
    ClearScriptLocation();
    SetReportSink(previousSink);
    if (fresh && failure.empty()) failure = UnplayableBar(*fresh);
    if (fresh && failure.empty() && DemoQuit) failure = script + ": the demo stopped while it loaded";

    if (!failure.empty()) {
        if (fresh && fresh->MusicLoaded && fresh->MusicSample != demo->MusicSample) FreeSample(fresh->MusicSample);
        fresh.reset();
        EndTextureRebuild(false);
        EndModelRebuild(false);
        DemoQuit = quitBefore;
        RestoreScriptErrorCount(errorsBefore);
        fs::current_path(playingFolder, ec);
        // Watch what either build read, as it is now: the next save that
        // changes any of it tries again.
        watched.clear();
        for (const auto& entry : loaded) watched[entry.first] = StampOf(entry.first);
        for (const auto& entry : noted) watched[entry.first] = entry.second;
        error = failure;
        return false;
    }

    const bool musicKept = fresh->MusicLoaded && demo->MusicLoaded && fresh->MusicSample == demo->MusicSample;
    const int replacedSample = demo->MusicLoaded && !musicKept ? demo->MusicSample : -1;
    musicReplaced = fresh->MusicLoaded && !musicKept;
    demo = std::move(fresh); // the old demo and its effects go here
    if (replacedSample >= 0) FreeSample(replacedSample);
    EndTextureRebuild(true);
    EndModelRebuild(true);
    loaded = watched = noted;
    error.clear();
    return true;
}
