// Onset and tempo detection on audio synthesized here with hits at known
// times, and on the bundled production's music against its own tracker.
#include <gtest/gtest.h>

#include "detect.h"
#include "media/song_import.h"
#include "gen/music.h"
#include "gen/song.h"

#include <cmath>
#include <random>

namespace {

constexpr int Rate = 44100;

// Adds a decaying hit at `at` seconds. Kick: a sine falling from 120 to 45
// Hz; snare: noise band-passed around 1 kHz; hat: differentiated noise
// (mostly highs).
enum class THit { Kick, Snare, Hat };

void AddHit(std::vector<float>& audio, double at, THit hit, std::mt19937& random) {
    std::normal_distribution<float> noise(0.f, 1.f);
    const size_t start = size_t(at * Rate);
    const double length = hit == THit::Kick ? 0.25 : hit == THit::Snare ? 0.15 : 0.05;
    double phase = 0, prev = 0;
    // The snare's band: three resonant band-pass sections at 1 kHz, Q 0.7.
    const double w = 2 * M_PI * 1000 / Rate, alpha = std::sin(w) / (2 * 0.7), a0 = 1 + alpha;
    const double b0 = alpha / a0, a1 = -2 * std::cos(w) / a0, a2 = (1 - alpha) / a0;
    double x[3][2] = {}, y[3][2] = {};
    for (size_t i = 0; i < size_t(length * Rate) && start + i < audio.size(); ++i) {
        const double t = double(i) / Rate;
        double v = 0;
        if (hit == THit::Kick) {
            phase += 2 * M_PI * (45 + 75 * std::exp(-t * 30)) / Rate;
            v = 0.9 * std::sin(phase) * std::exp(-t * 12);
        } else {
            const double n = noise(random);
            if (hit == THit::Snare) {
                double in = n;
                for (int k = 0; k < 3; ++k) {
                    const double out = b0 * in - b0 * x[k][1] - a1 * y[k][0] - a2 * y[k][1];
                    x[k][1] = x[k][0];
                    x[k][0] = in;
                    y[k][1] = y[k][0];
                    y[k][0] = out;
                    in = out;
                }
                v = 1.5 * in * std::exp(-t * 25);
            } else {
                v = 0.25 * (n - prev) * std::exp(-t * 80); // a difference: mostly highs
                prev = n;
            }
        }
        audio[start + i] += float(v);
    }
}

// For each true time, is an onset within `tolerance`; and how many onsets
// match no true time.
struct TMatch {
    int Missed = 0, Extra = 0;
};

TMatch Match(const std::vector<double>& found, const std::vector<double>& truth, double tolerance) {
    TMatch m;
    for (double t : truth)
        if (std::none_of(found.begin(), found.end(), [&](double f) { return std::fabs(f - t) <= tolerance; })) ++m.Missed;
    for (double f : found)
        if (std::none_of(truth.begin(), truth.end(), [&](double t) { return std::fabs(f - t) <= tolerance; })) ++m.Extra;
    return m;
}

} // namespace

TEST(Detect, DrumHitsAndTempoOfASynthesizedLoop) {
    const double bpm = 128, beat = 60 / bpm;
    const int beats = 64;
    std::vector<float> audio(size_t((beats * beat + 1) * Rate), 0.f);
    std::mt19937 random(3);
    std::vector<double> kicks, snares, hats, all;
    for (int b = 0; b < beats; ++b) {
        const double t = 0.5 + b * beat;
        kicks.push_back(t);
        if (b % 2 == 1) snares.push_back(t);
        hats.push_back(t + beat / 2);
    }
    for (double t : kicks) AddHit(audio, t, THit::Kick, random);
    for (double t : snares) AddHit(audio, t, THit::Snare, random);
    for (double t : hats) AddHit(audio, t, THit::Hat, random);
    all = kicks;
    all.insert(all.end(), hats.begin(), hats.end());

    TDetectResult r;
    std::string error;
    ASSERT_TRUE(DetectRhythm(audio, Rate, 0, r, error)) << error;
    EXPECT_NEAR(r.DetectedBpm, bpm, bpm * 0.01);
    const double row = 15 / double(r.Bpm);
    const struct {
        int Channel;
        const std::vector<double>& Truth;
    } channels[] = {{DetectAll, all}, {DetectLow, kicks}, {DetectMid, snares}, {DetectHigh, hats}};
    for (const auto& c : channels) {
        const TMatch m = Match(r.Times[c.Channel], c.Truth, row);
        EXPECT_EQ(m.Missed, 0) << "channel " << c.Channel;
        EXPECT_LE(m.Extra, int(c.Truth.size() * 5 / 100)) << "channel " << c.Channel << ": " << r.Times[c.Channel].size();
    }
    // The beat grid: a beat on each kick's row, bars marked every fourth.
    ASSERT_EQ(r.Grid.Channels.size(), size_t(DetectChannels));
    int beatsOnKicks = 0;
    for (double t : kicks) {
        const int64_t k = NearestRow(t, r.Bpm);
        for (int64_t d = -1; d <= 1; ++d)
            if (k + d >= 0 && k + d < r.Grid.Rows && r.Grid.At(DetectBeats, int32_t(k + d))) {
                ++beatsOnKicks;
                break;
            }
    }
    EXPECT_GE(beatsOnKicks, beats - 4);
    int bars = 0;
    for (int32_t i = 0; i < r.Grid.Rows; ++i) bars += r.Grid.At(DetectBeats, i) == 2;
    EXPECT_NEAR(bars, int(r.Beats + 3) / 4, 1);

    // A given tempo is used as it is.
    ASSERT_TRUE(DetectRhythm(audio, Rate, 64, r, error)) << error;
    EXPECT_EQ(r.Bpm, 64.0f);
    EXPECT_EQ(r.DetectedBpm, 0);
    EXPECT_FALSE(DetectRhythm(std::vector<float>(100), Rate, 0, r, error));
}

TEST(Detect, FindsTheKicksOfTheBundledProduction) {
    const gen::TSong song = gen::MakeSong();
    const std::vector<float> stereo = gen::RenderMusic(song);
    std::vector<float> mono(stereo.size() / 2);
    for (size_t i = 0; i < mono.size(); ++i) mono[i] = 0.5f * (stereo[2 * i] + stereo[2 * i + 1]);
    TDetectResult r;
    std::string error;
    ASSERT_TRUE(DetectRhythm(mono, gen::song::SampleRate, 0, r, error)) << error;
    EXPECT_NEAR(r.DetectedBpm, gen::song::Bpm, gen::song::Bpm * 0.01);
    std::vector<double> kicks;
    const double row = 60.0 / (4 * gen::song::Bpm);
    for (const gen::TNoteEvent& e : song.Events)
        if (e.Channel == gen::song::KickChannel) kicks.push_back(e.Row * row);
    ASSERT_FALSE(kicks.empty());
    const TMatch m = Match(r.Times[DetectLow], kicks, row);
    EXPECT_LE(m.Missed, int(kicks.size() / 50)) << "of " << kicks.size() << " kicks; low onsets " << r.Times[DetectLow].size() << " all " << r.Times[DetectAll].size() << " first " << (r.Times[DetectLow].empty() ? -1 : r.Times[DetectLow][0]) << " kick0 " << kicks[0] << " kick1 " << kicks[1];
}
