// The tracker tool's two heavy steps: importing the XM song of the shared
// test data (milliseconds per import), and detecting onsets and tempo in one
// minute of the bundled production's music (target: under 2 s, 30 times
// faster than real time; the "x real time" counter prints the ratio).
#include <benchmark/benchmark.h>

#include "detect.h"
#include "gen/music.h"
#include "gen/song.h"
#include "media/note_grid.h"
#include "media/song_import.h"

#include <filesystem>

namespace {

void ImportXm(benchmark::State& state) {
    const std::string path = std::string(CORVALA_SHARED_TESTDATA) + "/music/rili-jeu1.xm";
    std::vector<uint8_t> data;
    std::string error;
    if (!ReadWholeFile(path, 64 << 20, data, error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    for (auto _ : state) {
        TImportResult result;
        if (!ImportSong(data, {}, result, error)) state.SkipWithError(error.c_str());
        benchmark::DoNotOptimize(result.Grid.Rows);
    }
}
BENCHMARK(ImportXm)->Unit(benchmark::kMillisecond);

void DetectOneMinute(benchmark::State& state) {
    const std::vector<float> stereo = gen::RenderMusic(gen::MakeSong());
    const size_t frames = std::min(stereo.size() / 2, size_t(60 * gen::song::SampleRate));
    std::vector<float> mono(frames);
    for (size_t i = 0; i < frames; ++i) mono[i] = 0.5f * (stereo[2 * i] + stereo[2 * i + 1]);
    const double seconds = double(frames) / gen::song::SampleRate;
    for (auto _ : state) {
        TDetectResult result;
        std::string error;
        if (!DetectRhythm(mono, gen::song::SampleRate, 0, result, error)) state.SkipWithError(error.c_str());
        benchmark::DoNotOptimize(result.Grid.Rows);
    }
    state.counters["music s"] = seconds;
    state.counters["x real time"] =
        benchmark::Counter(seconds * double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(DetectOneMinute)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace
