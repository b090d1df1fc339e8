// Precision of the music clock: plays a sample in real time and samples
// ChannelSeconds from a frame loop, then fits a straight line through
// (steady time, position) and reports the largest distance from it in
// milliseconds of music time. Targets: 1 ms at pitch 1, 2 ms at 0.5 and 2.0.
// Also prints the output latency the device reports (the clock is the heard
// position: the mix less that latency, so it starts moving that much after
// the music starts; the fit begins there).
//
// Runs on OpenAL Soft's null backend unless ALSOFT_DRIVERS says otherwise.
// CORVALA_CLOCK_SECONDS sets the playback time per case (default 10 s).
#include <benchmark/benchmark.h>

#include "media/sound.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>
#include <vector>

namespace {

const bool nullBackend = setenv("ALSOFT_DRIVERS", "null", 0) == 0;

double PlaySeconds() {
    const char* text = std::getenv("CORVALA_CLOCK_SECONDS");
    const double seconds = text != nullptr ? std::atof(text) : 10.0;
    return std::clamp(std::isfinite(seconds) ? seconds : 10.0, 0.5, 600.0);
}

// One music sample long enough for the fastest case, made once.
int MusicSample() {
    static const int index = [] {
        InitSound(nullptr);
        constexpr int Rate = 44100;
        const int64_t frames = int64_t((2.0 * PlaySeconds() + 2.0) * Rate);
        std::vector<int16_t> samples(size_t(frames) * 2);
        for (int64_t i = 0; i < frames; ++i) {
            const auto v = int16_t(std::lrint(3000 * std::sin(2 * M_PI * 220.0 * double(i) / Rate)));
            samples[size_t(2 * i)] = v;
            samples[size_t(2 * i + 1)] = v;
        }
        const std::string path = (std::filesystem::temp_directory_path() / "corvala_sound_clock.wav").string();
        WriteWav16(path, Rate, samples);
        const int loaded = LoadSample(path);
        std::filesystem::remove(path);
        return loaded;
    }();
    return index;
}

struct TLineFit {
    double MaxDeviation = 0; // seconds of music time
    double RmsDeviation = 0;
    double Slope = 0; // music seconds per second
};

TLineFit FitLine(const std::vector<double>& t, const std::vector<double>& p) {
    const double n = double(t.size());
    double st = 0, sp = 0, stt = 0, stp = 0;
    for (size_t i = 0; i < t.size(); ++i) {
        st += t[i];
        sp += p[i];
        stt += t[i] * t[i];
        stp += t[i] * p[i];
    }
    TLineFit fit;
    fit.Slope = (n * stp - st * sp) / (n * stt - st * st);
    const double intercept = (sp - fit.Slope * st) / n;
    double sumSquares = 0;
    for (size_t i = 0; i < t.size(); ++i) {
        const double d = p[i] - (intercept + fit.Slope * t[i]);
        fit.MaxDeviation = std::max(fit.MaxDeviation, std::fabs(d));
        sumSquares += d * d;
    }
    fit.RmsDeviation = std::sqrt(sumSquares / n);
    return fit;
}

// Arguments: pitch in percent, frame loop rate in frames per second.
void BM_MusicClockPrecision(benchmark::State& state) {
    const double pitch = double(state.range(0)) / 100.0;
    const double frameRate = double(state.range(1));
    const double target = pitch == 1.0 ? 0.001 : 0.002;
    const int sample = MusicSample();
    if (sample < 0) {
        state.SkipWithError("the test music did not load");
        return;
    }
    using Clock = std::chrono::steady_clock;
    TLineFit fit;
    for (auto _ : state) {
        const uint32_t channel = PlaySample(sample, 100, 0);
        SetChannelSeconds(channel, 0.0f);
        ScaleChannelFrequency(channel, float(pitch));
        std::vector<double> times, positions;
        const Clock::time_point start = Clock::now();
        const auto frame = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / frameRate));
        Clock::time_point next = start;
        const double seconds = PlaySeconds();
        int preempted = 0;
        for (;;) {
            // A reading whose call was interrupted (the thread lost its CPU
            // between the two clock reads) says nothing about the clock.
            const Clock::time_point before = Clock::now();
            const double position = ChannelSeconds(channel);
            const Clock::time_point after = Clock::now();
            const double t = std::chrono::duration<double>(before - start).count();
            if (t >= seconds) break;
            // The clock is the heard position: it holds at the start until
            // the first sound has come through the output latency, and the
            // line is fitted from there.
            if (position > 0 && after - before < std::chrono::microseconds(200)) {
                times.push_back(t + 0.5 * std::chrono::duration<double>(after - before).count());
                positions.push_back(position);
            } else {
                ++preempted;
            }
            next += frame;
            std::this_thread::sleep_until(next);
        }
        state.counters["preempted"] = preempted;
        SetChannelSeconds(channel, 1e9f); // ends the channel
        fit = FitLine(times, positions);
        state.counters["polls"] = double(times.size());
    }
    state.counters["max_dev_ms"] = fit.MaxDeviation * 1000;
    state.counters["rms_dev_ms"] = fit.RmsDeviation * 1000;
    state.counters["rate_error_ppm"] = (fit.Slope / pitch - 1) * 1e6;
    state.counters["latency_ms"] = OutputLatencySeconds() * 1000;
    std::printf("music clock, pitch %.2f, %3.0f polls/s, %.1f s on %s: max deviation %.3f ms (target %.0f ms, %s), "
                "rms %.3f ms, rate error %+.0f ppm, reported output latency %.1f ms\n",
                pitch, frameRate, PlaySeconds(), SoundOutputName().c_str(), fit.MaxDeviation * 1000, target * 1000,
                fit.MaxDeviation <= target ? "met" : "MISSED", fit.RmsDeviation * 1000, (fit.Slope / pitch - 1) * 1e6,
                OutputLatencySeconds() * 1000);
    std::fflush(stdout);
}

BENCHMARK(BM_MusicClockPrecision)
    ->ArgNames({"pitch_pct", "fps"})
    ->Args({100, 60})
    ->Args({50, 60})
    ->Args({200, 60})
    ->Args({100, 1000})
    ->Args({50, 1000})
    ->Args({200, 1000})
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

} // namespace
