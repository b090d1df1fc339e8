// Dev mode's control channel under a flood: 200,000 empty lines. Prints the
// time per line taken and answered by the channel alone, and, through the
// engine in dev mode (offscreen), the time per line from start to the last
// answer. Frames go on meanwhile: each runs lines for a few milliseconds at
// most. The backlog read at once is bounded by the channel's read size, so
// memory stays flat whatever the flood.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/control_channel.h"

namespace {

namespace fs = std::filesystem;

constexpr int Lines = 200000;

fs::path Flood(const fs::path& dir, const std::string& tail) {
    fs::create_directories(dir);
    const fs::path file = dir / "flood.txt";
    std::ofstream out(file, std::ios::binary);
    out << std::string(Lines, '\n') << tail;
    return file;
}

void BM_ChannelTakesAndAnswers200kEmptyLines(benchmark::State& state) {
    const fs::path dir = fs::temp_directory_path() / ("corvala_bench_channel_" + std::to_string(getpid()));
    const fs::path flood = Flood(dir, "");
    int64_t taken = 0;
    double seconds = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const int input = open(flood.c_str(), O_RDONLY | O_CLOEXEC);
        const int output = open("/dev/null", O_WRONLY | O_CLOEXEC);
        TControlChannel channel(input, output);
        TControlChannel::TLine line;
        taken = 0;
        while (!channel.Closed())
            if (channel.Next(line)) {
                channel.Answer("error: empty command");
                ++taken;
            }
        close(input);
        close(output);
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    state.counters["lines"] = double(taken);
    state.counters["ns_per_line"] = seconds * 1e9 / (double(Lines) * double(state.iterations()));
    fs::remove_all(dir);
}
BENCHMARK(BM_ChannelTakesAndAnswers200kEmptyLines)->Unit(benchmark::kMillisecond);

#ifdef CORVALA_BINARY
// The whole engine: 200,000 empty lines then "quit" on standard input.
void BM_DevModeDrains200kEmptyLines(benchmark::State& state) {
    const fs::path dir = fs::temp_directory_path() / ("corvala_bench_devflood_" + std::to_string(getpid()));
    fs::create_directories(dir);
    {
        std::ofstream tracker(dir / "beat.trk", std::ios::binary);
        const int32_t header[2] = {1, 64};
        tracker.write(reinterpret_cast<const char*>(header), sizeof header);
        tracker << std::string(64, '\0');
        std::ofstream(dir / "demo.cvl") << "RESOLUTIONX 160\nRESOLUTIONY 120\nINIT\nTRACKER beat.trk\nBPM 120\n"
                                            "LOAD plaincolor 0\nE 255\nBAR all\nMOUNT 0\nLENGTH 0 4\nEFFECT 0\n";
    }
    const fs::path flood = Flood(dir, "quit\n");
    const std::string command = "cd '" + dir.string() + "' && SDL_VIDEODRIVER=offscreen ALSOFT_DRIVERS=null '" +
                                CORVALA_BINARY + "' --dev demo.cvl < flood.txt 2>/dev/null | wc -l";
    long answers = 0;
    double seconds = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        FILE* pipe = popen(command.c_str(), "r");
        if (!pipe || std::fscanf(pipe, "%ld", &answers) != 1) state.SkipWithError("the engine did not run");
        if (pipe) pclose(pipe);
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    // Every line answered, quit included; the time includes the engine's start.
    state.counters["answers"] = double(answers);
    state.counters["us_per_line"] = seconds * 1e6 / (double(Lines) * double(state.iterations()));
    fs::remove_all(dir);
}
BENCHMARK(BM_DevModeDrains200kEmptyLines)->Unit(benchmark::kMillisecond)->Iterations(1);
#endif

} // namespace
