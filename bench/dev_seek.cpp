// Dev mode: how long from a seek to the first frame that shows the new time,
// against an ordinary frame of the same demo, measured in one run. A seek is
// meant to cost no more than a frame: seek_over_frame near 1, and every
// first frame after a seek at its target (first_frame_at_target 1).
//
// Builds a small production in a scratch folder (five overlay effects and a
// 20-second tone as music) and plays it in-process through SDL's offscreen
// driver unless SDL_VIDEODRIVER says otherwise.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

#include "app/dev.h"
#include "effects/effect.h"
#include "media/sound.h"
#include "render/gl.h"

namespace {

namespace fs = std::filesystem;

const bool offscreen = setenv("SDL_VIDEODRIVER", "offscreen", 0) == 0;

void WriteProduction(const fs::path& dir) {
    fs::create_directories(dir);
    // 320 rows at 120 BPM: 40 seconds of timeline.
    std::ofstream tracker(dir / "beat.trk", std::ios::binary);
    const int32_t header[2] = {1, 320};
    tracker.write(reinterpret_cast<const char*>(header), sizeof header);
    for (int row = 0; row < 320; ++row) tracker.put(row % 4 == 0 ? char(36) : char(0));
    tracker.close();
    std::vector<int16_t> tone(size_t(44100) * 20 * 2);
    for (size_t i = 0; i < tone.size(); i += 2)
        tone[i] = tone[i + 1] = int16_t(4000 * std::sin(2 * M_PI * 220 * double(i / 2) / 44100));
    WriteWav16((dir / "music.wav").string(), 44100, tone);
    std::ofstream script(dir / "bench.cvl");
    script << "RESOLUTIONX 640\nRESOLUTIONY 480\nINIT\nLOADMUSIC music.wav\nTRACKER beat.trk\nBPM 120\n";
    for (int slot = 0; slot < 4; ++slot)
        script << "LOAD plaincolor " << slot << "\nE " << 60 * slot << "\nW 200\nH 150\nX " << 100 * slot
               << "\nVX 30\n";
    script << "LOAD flash 4\nE 255\n";
    for (int slot = 0; slot < 5; ++slot)
        script << "BAR b" << slot << "\nMOUNT 0\nLENGTH 5\nEFFECT " << slot << "\nINPUT 0 0 36 200 0\n";
}

double Seconds(std::chrono::steady_clock::time_point from) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
}

void BM_SeekToFirstFrame(benchmark::State& state) {
    (void)offscreen;
    const fs::path dir = fs::temp_directory_path() / ("corvala_bench_dev_" + std::to_string(getpid()));
    WriteProduction(dir);
    const fs::path previous = fs::current_path();
    fs::current_path(dir);
    {
        TDevOptions options;
        options.Script = "bench.cvl";
        options.ScriptFolder = options.LaunchFolder = dir.string();
        options.ControlChannel = false;
        TDevSession session(options);
        if (!session.Started()) {
            state.SkipWithError("the bench production did not start");
        } else {
            double frameSeconds = 0, seekSeconds = 0;
            int64_t rounds = 0, atTarget = 0;
            for (auto _ : state) {
                auto start = std::chrono::steady_clock::now();
                session.Demo().RenderFrame();
                glFinish();
                frameSeconds += Seconds(start);

                const float target = rounds % 2 == 0 ? 12.0f : 3.0f;
                start = std::chrono::steady_clock::now();
                session.Seek(target);
                session.Demo().RenderFrame();
                glFinish();
                seekSeconds += Seconds(start);
                // The frame right after the seek shows the target (within
                // the time that frame itself took).
                if (std::fabs(session.Demo().DemoTime - target) < 0.05f) ++atTarget;
                ++rounds;
            }
            if (rounds > 0) {
                state.counters["frame_ms"] = frameSeconds / double(rounds) * 1000;
                state.counters["seek_to_frame_ms"] = seekSeconds / double(rounds) * 1000;
                state.counters["seek_over_frame"] = seekSeconds / frameSeconds;
                state.counters["first_frame_at_target"] = double(atTarget) / double(rounds);
            }
        }
    }
    fs::current_path(previous);
    std::error_code ec;
    fs::remove_all(dir, ec);
}
BENCHMARK(BM_SeekToFirstFrame)->Unit(benchmark::kMillisecond)->Iterations(200);

} // namespace
