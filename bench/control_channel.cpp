// Dev mode's control channel under a flood: 200,000 empty lines. Prints the
// time per line taken and answered by the channel alone, and, through the
// engine in dev mode (offscreen), the time per line from start to the last
// answer and the engine's peak resident memory with the flood and over as
// long a run with only "quit" (their difference is what the flood costs). Frames go on meanwhile:
// each runs lines for a few milliseconds at most. The backlog read at once
// is bounded by the channel's read size, so memory stays flat whatever the
// flood.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
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
    // Peak resident memory (KiB) of the engine reading what the shell
    // command `input` prints, measured in a child process of its own so that
    // earlier runs do not count.
    auto run = [&](const std::string& input, long& answers) {
        const std::string command = "cd '" + dir.string() + "' && " + input +
                                    " | SDL_VIDEODRIVER=offscreen ALSOFT_DRIVERS=null '" + CORVALA_BINARY +
                                    "' --dev demo.cvl 2>/dev/null | wc -l";
        int fds[2];
        if (pipe(fds) != 0) return -1L;
        const pid_t child = fork();
        if (child == 0) {
            close(fds[0]);
            FILE* engine = popen(command.c_str(), "r");
            long lines = -1;
            if (!engine || std::fscanf(engine, "%ld", &lines) != 1) lines = -1;
            if (engine) pclose(engine);
            rusage usage{};
            getrusage(RUSAGE_CHILDREN, &usage);
            const long result[2] = {lines, usage.ru_maxrss};
            if (write(fds[1], result, sizeof result) != sizeof result) _exit(1);
            _exit(0);
        }
        close(fds[1]);
        long result[2] = {-1, -1};
        if (read(fds[0], result, sizeof result) != sizeof result) result[0] = -1;
        close(fds[0]);
        waitpid(child, nullptr, 0);
        answers = result[0];
        return result[1];
    };
    long answers = 0, quietAnswers = 0, peakKiB = 0;
    double seconds = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        peakKiB = run("cat flood.txt", answers);
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (answers < 0) state.SkipWithError("the engine did not run");
    }
    // The same time in dev mode with one line only.
    const double perRun = seconds / double(state.iterations());
    const long quietKiB = run("(sleep " + std::to_string(perRun) + "; echo quit)", quietAnswers);
    // Every line answered, quit included; the time includes the engine's start.
    state.counters["answers"] = double(answers);
    state.counters["us_per_line"] = seconds * 1e6 / (double(Lines) * double(state.iterations()));
    state.counters["peak_MiB"] = double(peakKiB) / 1024;
    state.counters["peak_MiB_quit_only"] = double(quietKiB) / 1024;
    state.counters["flood_MiB"] = double(peakKiB - quietKiB) / 1024;
    fs::remove_all(dir);
}
BENCHMARK(BM_DevModeDrains200kEmptyLines)->Unit(benchmark::kMillisecond)->Iterations(1);
#endif

} // namespace
