// The music clock on a real sound server: a private PulseAudio daemon with a
// null sink (real buffering and timing, no sound card) plays a click track
// through OpenAL Soft's pulse backend while parec records the sink's
// monitor. The moment the clock reaches each click (where a flash would
// show) is compared with the moment the click reached the sink. Skipped
// where pulseaudio or parec is missing or the daemon does not start.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "base/report.h"
#include "media/sound.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Must happen before the first ALC call of the program.
const bool pulseBackend = setenv("ALSOFT_DRIVERS", "pulse", 1) == 0;

constexpr int Rate = 44100;
constexpr double FirstClick = 1.0;  // seconds into the music
constexpr double ClickEvery = 0.25; // seconds
constexpr int Clicks = 24;
constexpr double MusicSeconds = 9.0;

double Seconds(Clock::time_point t) {
    static const Clock::time_point origin = Clock::now();
    return std::chrono::duration<double>(t - origin).count();
}

bool OnPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::string list = path != nullptr ? path : "";
    for (size_t start = 0; start <= list.size();) {
        const size_t end = std::min(list.find(':', start), list.size());
        std::error_code ec;
        if (fs::is_regular_file(fs::path(list.substr(start, end - start)) / program, ec)) return true;
        start = end + 1;
    }
    return false;
}

// A child process; stopped and reaped at the end of the scope. Spawned before
// any thread of the test starts (the child only calls exec after fork).
class TChild {
public:
    TChild(std::vector<std::string> argv, bool readStdout) {
        int pipeEnds[2] = {-1, -1};
        if (readStdout && pipe(pipeEnds) != 0) return;
        std::vector<char*> args;
        for (std::string& arg : argv) args.push_back(arg.data());
        args.push_back(nullptr);
        pid = fork();
        if (pid == 0) {
            if (readStdout) dup2(pipeEnds[1], STDOUT_FILENO);
            const int devNull = open("/dev/null", O_WRONLY);
            if (devNull >= 0) dup2(devNull, STDERR_FILENO);
            if (!readStdout && devNull >= 0) dup2(devNull, STDOUT_FILENO);
            execvp(args[0], args.data());
            _exit(127);
        }
        if (readStdout) {
            close(pipeEnds[1]);
            out = pipeEnds[0];
        }
    }
    ~TChild() {
        Stop(SIGTERM);
        if (out >= 0) close(out);
    }
    void Stop(int signal) {
        if (pid <= 0) return;
        kill(pid, signal);
        waitpid(pid, nullptr, 0);
        pid = -1;
    }
    bool Running() const { return pid > 0 && waitpid(pid, nullptr, WNOHANG) == 0; }
    int Out() const { return out; }

private:
    pid_t pid = -1;
    int out = -1;
};

// 16-bit stereo: silence with a 1 ms full-scale square burst at every click.
std::vector<int16_t> ClickTrack() {
    std::vector<int16_t> samples(size_t(MusicSeconds * Rate) * 2, 0);
    for (int k = 0; k < Clicks; ++k) {
        const size_t at = size_t(std::llround((FirstClick + k * ClickEvery) * Rate));
        for (size_t i = 0; i < Rate / 1000; ++i) samples[2 * (at + i)] = samples[2 * (at + i) + 1] = 24000;
    }
    return samples;
}

// What parec delivered: mono samples, and for every read the steady time
// and how many frames had arrived by then.
struct TRecording {
    std::vector<int16_t> Samples;
    std::vector<std::pair<double, size_t>> Reads;
};

// Steady time of recorded frame 0. A frame is delivered no earlier than it
// reached the sink, so each read bounds it from above; the lowest bound
// drops the time lost to scheduling.
double RecordingStart(const TRecording& recording) {
    double start = 1e30;
    for (const auto& [time, frames] : recording.Reads) start = std::min(start, time - double(frames) / Rate);
    return start;
}

// Frame indices where a click starts: a loud sample after 0.1 s of quiet.
std::vector<size_t> ClickOnsets(const std::vector<int16_t>& samples) {
    std::vector<size_t> onsets;
    size_t quiet = 0;
    for (size_t i = 0; i < samples.size(); ++i) {
        if (std::abs(int(samples[i])) > 8000) {
            if (quiet >= size_t(Rate / 10)) onsets.push_back(i);
            quiet = 0;
        } else {
            ++quiet;
        }
    }
    return onsets;
}

} // namespace

TEST(PulseAudio, MusicClockMatchesWhatReachesTheSinkAndSurvivesTheServer) {
    ASSERT_TRUE(pulseBackend);
    if (!OnPath("pulseaudio") || !OnPath("parec"))
        GTEST_SKIP() << "pulseaudio or parec is not installed (Debian: pulseaudio, pulseaudio-utils)";
    testutil::TempDir dir;
    const std::string socket = dir.File("native");
    setenv("XDG_RUNTIME_DIR", dir.Path().c_str(), 1);
    setenv("HOME", dir.Path().c_str(), 1);
    TChild daemon({"pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--system=false",
                   "--use-pid-file=false", "--disable-shm=true", "-L",
                   "module-null-sink sink_name=corvala rate=44100 channels=2", "-L",
                   "module-native-protocol-unix socket=" + socket + " auth-anonymous=1"},
                  false);
    for (int wait = 0; wait < 100 && !fs::exists(socket) && daemon.Running(); ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (!fs::exists(socket)) GTEST_SKIP() << "the PulseAudio daemon did not start";
    setenv("PULSE_SERVER", ("unix:" + socket).c_str(), 1);

    // The recorder asks for 2 ms fragments, which also keeps the null sink
    // rendering in small blocks, close to its clock.
    TChild recorder({"parec", "--device=corvala.monitor", "--rate=44100", "--channels=1", "--format=s16le",
                     "--latency-msec=2", "--raw"},
                    true);
    ASSERT_GE(recorder.Out(), 0);
    TRecording recording;
    std::atomic<bool> recordingDone{false};
    std::thread reader([&] {
        std::vector<int16_t> block(512);
        for (;;) {
            const ssize_t got = read(recorder.Out(), block.data(), block.size() * sizeof(int16_t));
            if (got <= 0) break;
            const double now = Seconds(Clock::now());
            recording.Samples.insert(recording.Samples.end(), block.begin(), block.begin() + got / 2);
            recording.Reads.emplace_back(now, recording.Samples.size());
        }
        recordingDone = true;
    });

    std::vector<std::string> reports;
    SetReportSink([&](const std::string&, const std::string& text) { reports.push_back(text); });
    const std::string music = dir.File("clicks.wav");
    ASSERT_TRUE(WriteWav16(music, Rate, ClickTrack()));
    InitSound(nullptr);
    if (SoundOutputName().rfind("loopback", 0) == 0) {
        recorder.Stop(SIGTERM);
        reader.join();
        SetReportSink(nullptr);
        GTEST_SKIP() << "OpenAL Soft's pulse backend did not open the server";
    }
    const int sample = LoadSample(music);
    ASSERT_EQ(sample, 0);
    const uint32_t channel = PlaySample(sample, 100, 0);

    // Poll the clock like a fast frame loop until a while after the last click.
    // The server sends its first timing a moment after the stream starts
    // (seconds on a busy machine); until then no latency is known, and the
    // clicks before that are left out.
    std::vector<std::pair<double, double>> polls; // steady time, music position
    const double lastClick = FirstClick + (Clicks - 1) * ClickEvery;
    double latency = 0;
    double measuredFrom = -1; // music time from which the latency was known
    while (polls.empty() || polls.back().second < lastClick + 0.5) {
        const double before = Seconds(Clock::now());
        const double position = ChannelSeconds(channel);
        const double after = Seconds(Clock::now());
        if (after - before < 0.0002) polls.emplace_back(0.5 * (before + after), position);
        latency = OutputLatencySeconds();
        if (measuredFrom < 0 && latency > 0.005) measuredFrom = position;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ASSERT_LT(polls.size(), 100000u) << "the clock does not advance";
    }

    // The server goes away mid-demo: the clock goes on from where it was.
    // It runs on at real time: no jump to the end, however long a busy
    // machine took between the two readings.
    const double lossAt = Seconds(Clock::now());
    const float atLoss = ChannelSeconds(channel);
    daemon.Stop(SIGKILL);
    recorder.Stop(SIGTERM);
    reader.join();
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    const float afterLoss = ChannelSeconds(channel);
    const double between = Seconds(Clock::now()) - lossAt;
    EXPECT_GT(afterLoss, atLoss + 0.4f);
    EXPECT_LT(afterLoss, atLoss + float(between) + 0.25f);
    EXPECT_EQ(std::count_if(reports.begin(), reports.end(),
                            [](const std::string& r) { return r.find("stopped") != std::string::npos; }),
              1)
        << "reports: " << ::testing::PrintToString(reports);
    SetReportSink(nullptr);
    ShutdownSound();

    const std::vector<size_t> onsets = ClickOnsets(recording.Samples);
    ASSERT_EQ(onsets.size(), size_t(Clicks)) << recording.Samples.size() << " frames recorded";
    const double start = RecordingStart(recording);
    double sum = 0, worst = 0;
    int measured = 0;
    for (int k = 0; k < Clicks; ++k) {
        const double click = FirstClick + k * ClickEvery;
        if (measuredFrom < 0 || click < measuredFrom + 0.25) continue;
        // The moment the clock reached the click, between two polls.
        const auto after = std::find_if(polls.begin(), polls.end(), [&](const auto& p) { return p.second >= click; });
        ASSERT_TRUE(after != polls.begin() && after != polls.end());
        const auto before = after - 1;
        const double shown = before->first + (click - before->second) / (after->second - before->second) *
                                                 (after->first - before->first);
        const double heard = start + double(onsets[size_t(k)]) / Rate;
        sum += heard - shown;
        ++measured;
        worst = std::max(worst, std::fabs(heard - shown));
    }
    ASSERT_GE(measured, 8) << "the server's timing came late: from music time " << measuredFrom;
    const double mean = sum / measured;
    std::printf("pulse: reported output latency %.1f ms (known from music time %.2f s); offset of what reached "
                "the sink from the music clock: mean %+.2f ms, worst %.2f ms over %d clicks\n",
                latency * 1000, measuredFrom, mean * 1000, worst * 1000, measured);
    RecordProperty("latency_ms", std::to_string(latency * 1000));
    RecordProperty("residual_mean_ms", std::to_string(mean * 1000));
    EXPECT_LT(std::fabs(mean), 0.005);
    EXPECT_LT(worst, 0.010);
}
