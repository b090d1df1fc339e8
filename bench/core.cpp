// The per-frame tracker work and script reading.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "demo/demo.h"
#include "demo/tracker.h"

namespace {

// A 16-channel, 4096-row grid with a drum-like pattern on every channel.
TDemoTracker MakeTracker() {
    TDemoTracker tracker;
    tracker.Rows = 4096;
    tracker.BPM = 125;
    for (int c = 0; c < 16; ++c) {
        std::vector<uint8_t> notes(4096, 0);
        for (int r = 0; r < 4096; ++r)
            if (r % (2 + c % 4) == 0) notes[size_t(r)] = uint8_t(36 + c % 3);
        tracker.Channels.push_back(std::move(notes));
    }
    return tracker;
}

// One bar's ten inputs (fade 250 ms, lead 100 ms) per iteration, as a frame
// computes them; the figure is per InputValue call.
void BM_InputValueBar(benchmark::State& state) {
    const TDemoTracker tracker = MakeTracker();
    float time = 10.0f;
    for (auto _ : state) {
        float sum = 0;
        for (int i = 0; i < 10; ++i) sum += tracker.InputValue(i, uint8_t(36 + i % 3), 0.25f, 0.1f, time);
        benchmark::DoNotOptimize(sum);
        time += 0.016f;
        if (time > 100) time = 10;
    }
    state.SetItemsProcessed(state.iterations() * 10);
}
BENCHMARK(BM_InputValueBar);

// Reading and executing a script of timeline lines; the figure is lines per
// second (items).
void BM_ReadScript(benchmark::State& state) {
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / "corvala-bench-script";
    std::filesystem::create_directories(dir);
    {
        std::ofstream tracker(dir / "t.trk", std::ios::binary);
        const char header[8] = {1, 0, 0, 0, 64, 0, 0, 0};
        tracker.write(header, 8);
        tracker << std::string(64, '\0');
    }
    std::string script = "REGISTER %K% 0 36\nTRACKER t.trk\nBPM 125\nLOAD template 0\n";
    int lines = 4;
    for (int bar = 0; bar < 2000; ++bar) {
        script += "BAR part " + std::to_string(bar) + " // a comment\nMOUNT 0 " + std::to_string(bar % 4) +
                  "\nLENGTH 0 1\nEFFECT 0\nINPUT 0 %K% 250 100\n";
        lines += 5;
    }
    std::ofstream(dir / "bench.cvl") << script;
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(dir);
    for (auto _ : state) {
        TCDemo demo("bench.cvl");
        benchmark::DoNotOptimize(demo.Bars.data());
    }
    std::filesystem::current_path(previous);
    std::filesystem::remove_all(dir);
    state.SetItemsProcessed(state.iterations() * lines);
}
BENCHMARK(BM_ReadScript)->Unit(benchmark::kMillisecond);

} // namespace
