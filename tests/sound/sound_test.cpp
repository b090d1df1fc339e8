#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <set>
#include <thread>

#include "base/report.h"
#include "media/sound.h"
#include "sound_files.h"

using namespace soundtest;

namespace {

// The real-time test runs on OpenAL Soft's null backend unless the caller
// chose a backend. Must happen before the first ALC call of the program.
const bool nullBackend = setenv("ALSOFT_DRIVERS", "null", 0) == 0;

// Every test starts from a closed output with reports collected.
class SoundTest : public ::testing::Test {
protected:
    void SetUp() override {
        ShutdownSound();
        SetReportSink([this](const std::string&, const std::string& text) { reports.push_back(text); });
    }
    void TearDown() override {
        ShutdownSound();
        SetReportSink(nullptr);
    }
    std::string Tone(const std::string& name, double seconds, int rate = 44100, int channels = 2) {
        const std::string path = dir.File(name);
        EXPECT_TRUE(WriteSoundFile(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, rate, channels,
                                   int64_t(std::llround(seconds * rate))));
        return path;
    }
    void Render(int frames) {
        std::vector<int16_t> mix;
        ASSERT_TRUE(RenderCaptureAudio(frames, mix));
    }
    bool Reported(const std::string& part) const {
        for (const std::string& r : reports)
            if (r.find(part) != std::string::npos) return true;
        return false;
    }

    TScratchDir dir{"play"};
    std::vector<std::string> reports;
};

class CaptureTest : public SoundTest {
protected:
    void SetUp() override {
        SoundTest::SetUp();
        ASSERT_TRUE(BeginAudioCapture(44100));
    }
};

} // namespace

TEST_F(CaptureTest, IndexRulesAndLoadFailures) {
    const std::string good = Tone("good.wav", 0.1);
    const std::string text = dir.File("notes.wav");
    WriteBytes(text, "not a sound\n");
    EXPECT_EQ(LoadSample(good), 0);
    EXPECT_EQ(LoadSample(text), -1);
    EXPECT_NE(LastSoundError().find(text), std::string::npos) << LastSoundError();
    EXPECT_TRUE(Reported(text));
    EXPECT_EQ(LoadSample(dir.File("missing.ogg")), -1);
    EXPECT_TRUE(Reported("missing.ogg"));
    EXPECT_EQ(LoadSample(good), 1); // the failures used no index
    EXPECT_EQ(SampleCount(), 2);
    EXPECT_EQ(PlaySample(-1, 100, 0), 0u);
    EXPECT_EQ(PlaySample(2, 100, 0), 0u);
    EXPECT_EQ(ChannelSeconds(12345), 0.0f);
}

TEST_F(CaptureTest, The129thSampleIsRefused) {
    const std::string tiny = Tone("tiny.wav", 0.001, 44100, 1);
    for (int i = 0; i < MaxSamples; ++i) ASSERT_EQ(LoadSample(tiny), i);
    EXPECT_EQ(LoadSample(tiny), -1);
    EXPECT_NE(LastSoundError().find("full"), std::string::npos) << LastSoundError();
    EXPECT_EQ(SampleCount(), MaxSamples);
}

// Dev mode frees a replaced music: its channels stop, and the next load
// takes the freed index instead of growing the full table.
TEST_F(CaptureTest, AFreedSampleStopsItsChannelsAndIsTakenAgain) {
    const std::string tiny = Tone("tiny.wav", 0.5, 44100, 1);
    for (int i = 0; i < MaxSamples; ++i) ASSERT_EQ(LoadSample(tiny), i);
    const uint32_t channel = PlaySample(5, 100, 0);
    const uint32_t other = PlaySample(6, 100, 0);
    ASSERT_NE(channel, 0u);
    FreeSample(5);
    FreeSample(-1);
    FreeSample(MaxSamples);
    EXPECT_EQ(ChannelFrequency(channel), 0u) << "the freed sample's channel still plays";
    EXPECT_EQ(ChannelFrequency(other), 44100u);
    EXPECT_EQ(SampleSeconds(5), 0.0);
    EXPECT_EQ(PlaySample(5, 100, 0), 0u);
    Render(441);
    EXPECT_EQ(LoadSample(tiny), 5);
    EXPECT_DOUBLE_EQ(SampleSeconds(5), 0.5);
    EXPECT_EQ(LoadSample(tiny), -1);
}

TEST_F(CaptureTest, PositionAdvancesAtPitchTimesRenderedTime) {
    const int sample = LoadSample(Tone("music.wav", 3.0));
    ASSERT_EQ(sample, 0);
    EXPECT_DOUBLE_EQ(SampleSeconds(sample), 3.0);
    const uint32_t channel = PlaySample(sample, 100, 0);
    ASSERT_NE(channel, 0u);
    EXPECT_EQ(ChannelSeconds(channel), 0.0f);
    EXPECT_EQ(ChannelFrequency(channel), 44100u);
    Render(4410);
    EXPECT_FLOAT_EQ(ChannelSeconds(channel), 0.1f);

    ScaleChannelFrequency(channel, 0.5f);
    EXPECT_EQ(ChannelFrequency(channel), 22050u);
    Render(4410);
    EXPECT_FLOAT_EQ(ChannelSeconds(channel), 0.15f);
    ScaleChannelFrequency(channel, 1.0f);
    EXPECT_EQ(ChannelFrequency(channel), 22050u);

    ScaleChannelFrequency(channel, 4.0f);
    EXPECT_EQ(ChannelFrequency(channel), 88200u);
    for (int block = 0; block < 10; ++block) Render(441);
    EXPECT_FLOAT_EQ(ChannelSeconds(channel), 0.35f);

    ScaleChannelFrequency(channel, -1.0f); // refused, nothing changes
    EXPECT_EQ(ChannelFrequency(channel), 88200u);
    EXPECT_TRUE(Reported("refused"));
    ScaleChannelFrequency(channel, 1e9f); // held at the mixer's highest pitch
    EXPECT_EQ(ChannelFrequency(channel), 441000u);
    ScaleChannelFrequency(channel, 0.0f); // stands (nearly) still, no failure
    EXPECT_EQ(ChannelFrequency(channel), 0u);
    Render(4410);
    EXPECT_NEAR(ChannelSeconds(channel), 0.35, 1e-4);
}

TEST_F(CaptureTest, FrequencyRoundsHalvesToEven) {
    const int odd = LoadSample(Tone("odd.wav", 0.05, 22051, 1));   // x 0.5 = 11025.5
    const int odd2 = LoadSample(Tone("odd2.wav", 0.05, 22053, 1)); // x 0.5 = 11026.5
    const uint32_t a = PlaySample(odd, 100, 0);
    const uint32_t b = PlaySample(odd2, 100, 0);
    ScaleChannelFrequency(a, 0.5f);
    ScaleChannelFrequency(b, 0.5f);
    EXPECT_EQ(ChannelFrequency(a), 11026u);
    EXPECT_EQ(ChannelFrequency(b), 11026u);
}

TEST_F(CaptureTest, SeekingAndTheEnd) {
    const int sample = LoadSample(Tone("music.wav", 2.0));
    const uint32_t channel = PlaySample(sample, 100, 0);
    Render(4410);
    SetChannelSeconds(channel, 1.25f);
    EXPECT_FLOAT_EQ(ChannelSeconds(channel), 1.25f);
    Render(441);
    EXPECT_FLOAT_EQ(ChannelSeconds(channel), 1.26f);
    SetChannelSeconds(channel, 0.0f);
    EXPECT_EQ(ChannelSeconds(channel), 0.0f);

    // Past the end: the position stops at the sample's length and stays.
    SetChannelSeconds(channel, 1.9f);
    for (int block = 0; block < 10; ++block) Render(1024);
    EXPECT_FLOAT_EQ(ChannelSeconds(channel), 2.0f);
    Render(1024);
    EXPECT_FLOAT_EQ(ChannelSeconds(channel), 2.0f);
    // An ended channel plays again from a seek.
    SetChannelSeconds(channel, 0.5f);
    EXPECT_FLOAT_EQ(ChannelSeconds(channel), 0.5f);
    Render(4410);
    EXPECT_FLOAT_EQ(ChannelSeconds(channel), 0.6f);
    // Seeking beyond the end ends it; a negative time means the start.
    SetChannelSeconds(channel, 60.0f);
    EXPECT_FLOAT_EQ(ChannelSeconds(channel), 2.0f);
    SetChannelSeconds(channel, -3.0f);
    EXPECT_EQ(ChannelSeconds(channel), 0.0f);
}

TEST_F(CaptureTest, AFourthPlayTakesOverTheOnePlayingLongest) {
    const int sample = LoadSample(Tone("hit.wav", 1.0));
    const int other = LoadSample(Tone("other.wav", 1.0));
    const uint32_t otherChannel = PlaySample(other, 100, 0);
    uint32_t channels[3];
    for (uint32_t& channel : channels) {
        channel = PlaySample(sample, 100, 0);
        Render(441);
    }
    const uint32_t fourth = PlaySample(sample, 50, 0);
    ASSERT_NE(fourth, 0u);
    EXPECT_EQ(ChannelFrequency(channels[0]), 0u); // taken over: names nothing now
    EXPECT_EQ(ChannelSeconds(channels[0]), 0.0f);
    Render(441);
    EXPECT_FLOAT_EQ(ChannelSeconds(channels[1]), 0.03f);
    EXPECT_FLOAT_EQ(ChannelSeconds(channels[2]), 0.02f);
    EXPECT_FLOAT_EQ(ChannelSeconds(fourth), 0.01f);
    EXPECT_FLOAT_EQ(ChannelSeconds(otherChannel), 0.04f);
    const std::set<uint32_t> handles{channels[0], channels[1], channels[2], fourth, otherChannel};
    EXPECT_EQ(handles.size(), 5u); // a new play never reuses a handle
}

TEST_F(CaptureTest, RenderedMixIsDeterministicAndWritesAsWav) {
    const int sample = LoadSample(Tone("music.wav", 1.0));
    std::vector<int16_t> first, second;
    ASSERT_TRUE(RenderCaptureAudio(1000, first)); // nothing plays yet: silence (with dither)
    EXPECT_EQ(first.size(), 2000u);
    for (int16_t v : first) ASSERT_LE(std::abs(v), 1);
    const uint32_t channel = PlaySample(sample, 100, 0);
    ScaleChannelFrequency(channel, 0.5f);
    for (int block = 0; block < 8; ++block) ASSERT_TRUE(RenderCaptureAudio(735, first));

    ShutdownSound();
    ASSERT_TRUE(BeginAudioCapture(44100));
    ASSERT_TRUE(RenderCaptureAudio(1000, second));
    const uint32_t again = PlaySample(LoadSample(Tone("music.wav", 1.0)), 100, 0);
    ScaleChannelFrequency(again, 0.5f);
    for (int block = 0; block < 8; ++block) ASSERT_TRUE(RenderCaptureAudio(735, second));
    ASSERT_EQ(first.size(), size_t((1000 + 8 * 735) * 2));
    EXPECT_EQ(first, second);
    int loud = 0;
    for (int16_t v : first) loud += std::abs(v) > 1000;
    EXPECT_GT(loud, 1000);

    const std::string out = dir.File("capture.wav");
    ASSERT_TRUE(WriteWav16(out, 44100, first));
    SF_INFO info{};
    SNDFILE* file = sf_open(out.c_str(), SFM_READ, &info);
    ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
    EXPECT_EQ(info.samplerate, 44100);
    EXPECT_EQ(info.channels, 2);
    ASSERT_EQ(info.frames, 1000 + 8 * 735);
    std::vector<int16_t> back(first.size());
    EXPECT_EQ(sf_readf_short(file, back.data(), info.frames), info.frames);
    sf_close(file);
    EXPECT_EQ(back, first);
    EXPECT_FALSE(WriteWav16(dir.File("no/such/folder.wav"), 44100, first));
    EXPECT_FALSE(WriteWav16(dir.File("odd.wav"), 44100, std::vector<int16_t>(3)));
}

TEST_F(SoundTest, CaptureOnlyBeforeOtherOutput) {
    std::vector<int16_t> mix;
    EXPECT_FALSE(RenderCaptureAudio(100, mix)); // no capture: silence, still 100 frames
    EXPECT_EQ(mix, std::vector<int16_t>(200, 0));
    EXPECT_FALSE(BeginAudioCapture(1000));
    ASSERT_TRUE(BeginAudioCapture(48000));
    EXPECT_TRUE(AudioCaptureActive());
    EXPECT_TRUE(InitSound(nullptr)); // keeps the capture output
    EXPECT_TRUE(AudioCaptureActive());
    EXPECT_FALSE(BeginAudioCapture(44100));
    // A 44.1 kHz sample on a 48 kHz mix still advances by its own seconds.
    const uint32_t channel = PlaySample(LoadSample(Tone("music.wav", 1.0)), 100, 0);
    Render(4800);
    EXPECT_NEAR(ChannelSeconds(channel), 0.1, 1.0 / 44100);
}

TEST_F(SoundTest, RealTimeOutputPlaysAndAdvances) {
    ASSERT_TRUE(nullBackend);
    InitSound(nullptr); // the null backend, or the paced loopback device without one
    EXPECT_FALSE(SoundOutputName().empty());
    const uint32_t channel = PlaySample(LoadSample(Tone("music.wav", 2.0)), 100, 0);
    ASSERT_NE(channel, 0u);
    const auto start = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    float last = ChannelSeconds(channel);
    const double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GT(last, 0.1f);
    EXPECT_LT(last, waited + 0.15);
    for (int poll = 0; poll < 50; ++poll) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        const float now = ChannelSeconds(channel);
        EXPECT_GE(now, last);
        last = now;
    }
    ScaleChannelFrequency(channel, 2.0f);
    const float before = ChannelSeconds(channel);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_GT(ChannelSeconds(channel) - before, 0.12f);
}

TEST_F(CaptureTest, HeardPositionLagsTheMixByTheLatencyAtThePitch) {
    SimulateOutputLatency(0.05);
    EXPECT_DOUBLE_EQ(OutputLatencySeconds(), 0.05);
    const uint32_t channel = PlaySample(LoadSample(Tone("music.wav", 2.0)), 100, 0);
    EXPECT_EQ(ChannelSeconds(channel), 0.0f); // nothing heard yet: held at the start
    Render(4410);
    EXPECT_FLOAT_EQ(ChannelSeconds(channel), 0.05f);
    // At twice the pitch the same latency holds twice the music: the heard
    // position would step back to 0.0, and stays at 0.05 instead.
    ScaleChannelFrequency(channel, 2.0f);
    EXPECT_FLOAT_EQ(ChannelSeconds(channel), 0.05f);
    Render(4410);
    EXPECT_FLOAT_EQ(ChannelSeconds(channel), 0.2f); // mixed 0.3, less 0.05 x 2
    SimulateOutputLatency(0);
    EXPECT_FLOAT_EQ(ChannelSeconds(channel), 0.3f);
}

TEST_F(CaptureTest, MonoPlaysAsLoudAsStereoInBothSpeakersAndPans) {
    // The same signal as a mono file and as a stereo file with both
    // channels alike.
    constexpr int Frames = 44100 / 2;
    const std::vector<int16_t> mono = MakeSignal(Frames, 1, 44100);
    std::vector<int16_t> stereo;
    for (int16_t v : mono) stereo.insert(stereo.end(), {v, v});
    const auto write = [&](const std::string& name, int channels, const std::vector<int16_t>& samples) {
        SF_INFO info{};
        info.samplerate = 44100;
        info.channels = channels;
        info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
        SNDFILE* file = sf_open(dir.File(name).c_str(), SFM_WRITE, &info);
        EXPECT_NE(file, nullptr);
        sf_writef_short(file, samples.data(), Frames);
        sf_close(file);
        return dir.File(name);
    };
    const int monoSample = LoadSample(write("mono.wav", 1, mono));
    const int stereoSample = LoadSample(write("stereo.wav", 2, stereo));
    const auto levels = [&](int sample, int pan) { // RMS of left and right
        const uint32_t channel = PlaySample(sample, 100, pan);
        std::vector<int16_t> mix;
        RenderCaptureAudio(Frames / 2, mix);
        SetChannelSeconds(channel, 1e9f);
        double sums[2] = {0, 0};
        for (size_t i = 0; i < mix.size(); ++i) sums[i % 2] += double(mix[i]) * mix[i];
        return std::array<double, 2>{std::sqrt(sums[0] / (Frames / 2)), std::sqrt(sums[1] / (Frames / 2))};
    };
    const auto fromStereo = levels(stereoSample, 0);
    const auto fromMono = levels(monoSample, 0);
    EXPECT_GT(fromStereo[0], 5000.0);
    for (int side = 0; side < 2; ++side)
        EXPECT_NEAR(20 * std::log10(fromMono[side] / fromStereo[side]), 0.0, 0.1) << "channel " << side;
    const auto right = levels(monoSample, 100);
    EXPECT_LT(right[0], right[1] / 10);
    const auto left = levels(monoSample, -100);
    EXPECT_LT(left[1], left[0] / 10);
}
