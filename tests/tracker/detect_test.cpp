// Onset and tempo detection on audio synthesized here with hits at known
// times, the beat grid's phase on recordings whose hits sit on known rows,
// and the bundled production's music against its own tracker.
#include <gtest/gtest.h>

#include "detect.h"
#include "media/song_import.h"
#include "support/temp_dir.h"
#include "support/tone.h"
#include "tool.h"
#include "gen/music.h"
#include "gen/song.h"

#include <cmath>
#include <filesystem>
#include <random>
#include <sstream>

namespace {

constexpr int Rate = 44100;

// Adds a decaying hit at `at` seconds, scaled by `gain`. Kick: a sine falling from 120 to 45
// Hz; snare: noise band-passed around 1 kHz; hat: differentiated noise
// (mostly highs).
enum class THit { Kick, Snare, Hat };

void AddHit(std::vector<float>& audio, double at, THit hit, std::mt19937& random, double gain = 1) {
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
        audio[start + i] += float(gain * v);
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
        if (std::none_of(found.begin(), found.end(), [&](double f) { return std::fabs(f - t) <= tolerance; }))
            ++m.Missed;
    for (double f : found)
        if (std::none_of(truth.begin(), truth.end(), [&](double t) { return std::fabs(f - t) <= tolerance; }))
            ++m.Extra;
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
        EXPECT_LE(m.Extra, int(c.Truth.size() * 5 / 100))
            << "channel " << c.Channel << ": " << r.Times[c.Channel].size();
    }
    // The beat grid: a beat on each kick's own row (not the one before the
    // off-beat hats), bars marked every fourth.
    ASSERT_EQ(r.Grid.Channels.size(), size_t(DetectChannels));
    int beatsOnKicks = 0;
    for (double t : kicks) {
        const int64_t k = NearestRow(t, r.Bpm);
        beatsOnKicks += k < r.Grid.Rows && r.Grid.At(DetectBeats, int32_t(k)) != 0;
    }
    EXPECT_GE(beatsOnKicks, beats - 1);
    int bars = 0;
    for (int32_t i = 0; i < r.Grid.Rows; ++i) bars += r.Grid.At(DetectBeats, i) == 2;
    EXPECT_NEAR(bars, int(r.Beats + 3) / 4, 1);

    // A given tempo is used as it is.
    ASSERT_TRUE(DetectRhythm(audio, Rate, 64, r, error)) << error;
    EXPECT_EQ(r.Bpm, 64.0f);
    EXPECT_EQ(r.DetectedBpm, 0);
    EXPECT_FALSE(DetectRhythm(std::vector<float>(100), Rate, 0, r, error));
}

namespace {

// A drum loop on known rows: `lead` rows of silence (a fraction puts the
// hits between rows), then bars of 16 rows from bar row `from` (8: the
// music starts on the bar's second half): kicks on rows 0 and 8 (the
// second at `secondKick`), snares on 4 and 12, quieter hats on the
// off-beats 2, 6, 10 and 14.
struct TLoop {
    double Bpm, Lead;
    int From;
    double SecondKick;
};

std::vector<float> MakeLoop(const TLoop& loop, int bars, std::vector<double>& kicks) {
    const double row = 15 / loop.Bpm;
    std::vector<float> audio(size_t(((loop.Lead + 16 * bars + 8) * row) * Rate), 0.f);
    std::mt19937 random(11);
    for (int i = loop.From; i < 16 * bars; ++i) {
        const double t = (loop.Lead + i - loop.From) * row;
        const int inBar = i % 16;
        if (inBar % 8 == 0) {
            AddHit(audio, t, THit::Kick, random, inBar == 0 ? 1 : loop.SecondKick);
            kicks.push_back(t);
        }
        if (inBar % 8 == 4) AddHit(audio, t, THit::Snare, random, 0.6);
        if (inBar % 4 == 2) AddHit(audio, t, THit::Hat, random, 0.5);
    }
    return audio;
}

} // namespace

// Channel 4 marks the rows the hits fall on, from the first hit, with bars
// on the loud kicks (or, where both kicks are alike, from the first); the
// kicks of channel 1 flash within a frame plus half a row of when they are
// heard, at any frame rate.
TEST(Detect, BeatGridOnTheRowsOfTheHits) {
    const TLoop loops[] = {
        {125, 6, 0, 0.5}, {140, 3, 0, 1}, {100, 9.3, 0, 0.5}, {170, 13, 8, 0.5}, {150, 0, 0, 1},
    };
    for (const TLoop& loop : loops) {
        SCOPED_TRACE("BPM " + std::to_string(loop.Bpm) + ", lead " + std::to_string(loop.Lead));
        std::vector<double> kicks;
        const std::vector<float> audio = MakeLoop(loop, 12, kicks);
        TDetectResult r;
        std::string error;
        ASSERT_TRUE(DetectRhythm(audio, Rate, 0, r, error)) << error;
        EXPECT_NEAR(r.DetectedBpm, loop.Bpm, loop.Bpm * 0.001);
        EXPECT_GE(r.Confidence, 0.9);
        EXPECT_TRUE(r.Warnings.empty());
        const int64_t first = std::llround(loop.Lead), bar = first - loop.From;
        EXPECT_EQ(r.FirstBeatRow, first);
        std::string wrong;
        for (int32_t i = 0; i < r.Grid.Rows; ++i) {
            const int64_t d = i - first, b = i - bar;
            const uint8_t want = d < 0 || d % 4 != 0 ? 0 : b % 16 == 0 ? 2 : 1;
            if (r.Grid.At(DetectBeats, i) != want) wrong += " " + std::to_string(i);
        }
        EXPECT_EQ(wrong, "") << "rows of channel 4 not as the hits";

        const double row = 15 / double(r.Bpm);
        for (double fps : {25.0, 60.0}) {
            double worst = 0;
            for (double t : kicks) {
                const int64_t k = NearestRow(t, r.Bpm);
                ASSERT_EQ(r.Grid.At(DetectLow, int32_t(k)), 1) << "no kick at row " << k;
                const double flash = std::ceil(double(k) * row * fps - 1e-9) / fps;
                worst = std::max(worst, std::fabs(flash - t));
            }
            EXPECT_LE(worst, 1 / fps + row / 2) << fps << " frames a second";
        }
    }
}

// Below a third of the onsets on the rows the grid explains the music no
// better than chance: a warning says so and names --bpm.
TEST(Detect, WarnsWhenTheRowsMissTheOnsets) {
    std::vector<double> kicks;
    const std::vector<float> audio = MakeLoop({125, 4, 0, 1}, 12, kicks);
    TDetectResult r;
    std::string error;
    ASSERT_TRUE(DetectRhythm(audio, Rate, 125, r, error)) << error;
    EXPECT_TRUE(r.Warnings.empty());
    ASSERT_TRUE(DetectRhythm(audio, Rate, 125 * 1.13, r, error)) << error;
    EXPECT_LT(r.Confidence, 1.0 / 3);
    ASSERT_EQ(r.Warnings.size(), 1u);
    EXPECT_NE(r.Warnings[0].find("give the song's tempo with --bpm"), std::string::npos) << r.Warnings[0];
}

// The command on a recording file: where the beats and bars go, how many
// onsets the rows explain, and the warning for a tempo that fits no better
// than chance.
TEST(Detect, CommandReportsTheGridAndWarns) {
    testutil::TempDir dir;
    std::vector<double> kicks;
    ASSERT_TRUE(testutil::WriteSoundWav(dir.File("loop.wav"), MakeLoop({125, 6, 0, 0.5}, 12, kicks), Rate));
    auto run = [&](std::vector<std::string> args, std::string& out, std::string& err) {
        std::ostringstream o, e;
        const int code = RunTrackerTool(args, o, e);
        out = o.str();
        err = e.str();
        return code;
    };
    std::string out, err;
    ASSERT_EQ(run({"detect", dir.File("loop.wav"), "-o", dir.File("loop.trk")}, out, err), 0) << err;
    EXPECT_EQ(err, "");
    EXPECT_NE(out.find("  write in the script:  BPM 125\n"), std::string::npos) << out;
    EXPECT_NE(out.find("  beats (channel 4): 50 from row 6 (0.72 s), bars from row 6\n"), std::string::npos) << out;
    EXPECT_NE(out.find("  on the rows: 100% of the onsets"), std::string::npos) << out;
    ASSERT_EQ(run({"detect", dir.File("loop.wav"), "-o", dir.File("loop.trk"), "--bpm", "141.25"}, out, err), 0);
    EXPECT_NE(err.find("loop.wav: warning: only "), std::string::npos) << err;
    EXPECT_NE(err.find("give the song's tempo with --bpm N\n"), std::string::npos) << err;
}

// The amen loop: 16 beats at 140 BPM, hits on rows 0 and 2 of each beat.
TEST(Detect, AmenLoopBeatsOnItsHits) {
    const std::filesystem::path file =
        std::filesystem::path(CORVALA_SHARED_TESTDATA) / "audio" / "sonicpi-loop_amen_full.flac";
    if (!std::filesystem::exists(file)) GTEST_SKIP() << "no test recording at " << file;
    TDetectResult r;
    std::string error;
    ASSERT_TRUE(DetectMusicFile(file.string(), 0, r, error)) << error;
    EXPECT_NEAR(r.DetectedBpm, 140, 0.5);
    EXPECT_EQ(r.FirstBeatRow, 0);
    EXPECT_EQ(r.FirstBarRow, 0);
    EXPECT_TRUE(r.Warnings.empty());
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
    EXPECT_LE(m.Missed, int(kicks.size() / 50))
        << "of " << kicks.size() << " kicks; low onsets " << r.Times[DetectLow].size() << " all "
        << r.Times[DetectAll].size() << " first " << (r.Times[DetectLow].empty() ? -1 : r.Times[DetectLow][0])
        << " kick0 " << kicks[0] << " kick1 " << kicks[1];
}
