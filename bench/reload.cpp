// Dev-mode reload of the bundled production with only the script changed:
// the time from Reload to the first new frame finished by the GL driver
// (glFinish), against the 100 ms a demo maker should wait at most; the
// reload alone; and one frame of the same demo, which the first needs too. The data is generated once into a
// temporary folder; the window opens through SDL's offscreen driver and the
// music plays on OpenAL Soft's null backend unless the environment says
// otherwise.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "app/reload.h"
#include "gen/production.h"
#include "media/sound.h"
#include "render/gl.h"

namespace {

namespace fs = std::filesystem;

const bool headless = setenv("SDL_VIDEODRIVER", "offscreen", 0) == 0 && setenv("ALSOFT_DRIVERS", "null", 0) == 0;

constexpr double TargetSeconds = 0.100;
// A moment of the cylinder field, the heaviest section to draw.
constexpr float ShownSeconds = 40.0f;

struct TProduction {
    fs::path Folder;
    std::string Script; // the script's text as shipped
    std::unique_ptr<TDevReloader> Reloader;
};

// The production, generated and started once; null when that failed.
TProduction* Production() {
    static std::unique_ptr<TProduction> production = [] {
        (void)headless;
        auto made = std::make_unique<TProduction>();
        made->Folder = fs::temp_directory_path() / ("corvala_bench_reload_" + std::to_string(getpid()));
        std::string error;
        if (!gen::GenerateProduction((made->Folder / "data").string(), error)) return std::unique_ptr<TProduction>();
        std::ifstream in(fs::path(CORVALA_SOURCE_DIR) / "examples/karmont/karmont.cvl", std::ios::binary);
        made->Script.assign(std::istreambuf_iterator<char>(in), {});
        std::ofstream(made->Folder / "karmont.cvl", std::ios::binary) << made->Script;
        fs::copy_file(fs::path(CORVALA_SOURCE_DIR) / "examples/karmont/karmont.tracks",
                      made->Folder / "karmont.tracks");
        fs::copy(fs::path(CORVALA_SOURCE_DIR) / "examples/karmont/shaders", made->Folder / "shaders");
        fs::current_path(made->Folder);
        made->Reloader = std::make_unique<TDevReloader>("karmont.cvl");
        if (DemoQuit) return std::unique_ptr<TProduction>();
        std::atexit([] {
            std::error_code ec;
            fs::remove_all(fs::temp_directory_path() / ("corvala_bench_reload_" + std::to_string(getpid())), ec);
        });
        return made;
    }();
    return production.get();
}

void DrawFrame(TCDemo& demo) {
    SetChannelSeconds(demo.MusicChannel, ShownSeconds);
    demo.RenderFrame();
    glFinish();
}

// Writes the script with one value changed, as a demo maker's save would:
// the kick flash's red.
void SaveEdit(const TProduction& production, int edit) {
    std::string script = production.Script;
    const size_t at = script.find("\nE 70\n");
    if (at != std::string::npos) script.replace(at, 6, "\nE " + std::to_string(70 + edit % 2) + "\n");
    std::ofstream(production.Folder / "karmont.cvl", std::ios::binary) << script;
}

// Reload and, with `draw`, the first frame after it; the counter is the
// wall time per iteration against the 100 ms target.
void RunReloads(benchmark::State& state, bool draw) {
    TProduction* production = Production();
    if (!production) return state.SkipWithError("the production did not start");
    TDevReloader& reloader = *production->Reloader;
    DrawFrame(reloader.Demo());
    int edit = 0;
    double seconds = 0;
    for (auto _ : state) {
        state.PauseTiming();
        SaveEdit(*production, ++edit);
        state.ResumeTiming();
        const auto start = std::chrono::steady_clock::now();
        if (!reloader.Reload()) return state.SkipWithError(reloader.Error().c_str());
        if (draw) DrawFrame(reloader.Demo());
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    state.counters["of_100ms"] = seconds / double(state.iterations()) / TargetSeconds;
}

void BM_ReloadScriptOnly(benchmark::State& state) { RunReloads(state, true); }
BENCHMARK(BM_ReloadScriptOnly)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same without the frame: what the reload itself costs.
void BM_ReloadWithoutFrame(benchmark::State& state) { RunReloads(state, false); }
BENCHMARK(BM_ReloadWithoutFrame)->Unit(benchmark::kMillisecond)->UseRealTime();

// Resident memory over reloads, paused in the cylinder field: each
// iteration saves an edit, reloads and draws five frames as dev mode does,
// without a glFinish of its own (a headless driver whose frames are never
// waited for grows here too). The counters are
// the growth per reload in KiB (flat is near 0; a GL object remade every
// reload shows here as driver memory) and the resident size at the end.
long ResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    return 0;
}

void BM_ResidentOverReloads(benchmark::State& state) {
    TProduction* production = Production();
    if (!production) return state.SkipWithError("the production did not start");
    TDevReloader& reloader = *production->Reloader;
    // Twenty reloads first: allocator pools and driver caches settle.
    for (int warm = 0; warm < 20; ++warm) {
        SaveEdit(*production, warm);
        if (!reloader.Reload()) return state.SkipWithError(reloader.Error().c_str());
        DrawFrame(reloader.Demo());
    }
    const long before = ResidentKiB();
    int edit = 0;
    for (auto _ : state) {
        SaveEdit(*production, ++edit);
        if (!reloader.Reload()) return state.SkipWithError(reloader.Error().c_str());
        for (int frame = 0; frame < 5; ++frame) {
            SetChannelSeconds(reloader.Demo().MusicChannel, ShownSeconds);
            reloader.Demo().RenderFrame();
        }
    }
    const long after = ResidentKiB();
    state.counters["KiB_per_reload"] = double(after - before) / double(state.iterations());
    state.counters["resident_MiB"] = double(after) / 1024.0;
}
BENCHMARK(BM_ResidentOverReloads)->Iterations(200)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_FrameOfTheSameDemo(benchmark::State& state) {
    TProduction* production = Production();
    if (!production) return state.SkipWithError("the production did not start");
    for (auto _ : state) DrawFrame(production->Reloader->Demo());
}
BENCHMARK(BM_FrameOfTheSameDemo)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
