// Pausing, seeking while paused and switching speeds back and forth, on the
// capture output, whose positions follow the rendered frames exactly.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "base/report.h"
#include "media/sound.h"
#include "sound_files.h"

using namespace soundtest;

namespace {

class PauseTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("ALSOFT_DRIVERS", "null", 0);
        ShutdownSound();
        SetReportSink([this](const std::string&, const std::string& text) { reports.push_back(text); });
        ASSERT_TRUE(BeginAudioCapture(44100));
        const std::string path = dir.File("music.wav");
        ASSERT_TRUE(WriteSoundFile(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 2, 2 * 44100));
        channel = PlaySample(LoadSample(path), 100, 0);
        ASSERT_NE(channel, 0u);
    }
    void TearDown() override {
        ShutdownSound();
        SetReportSink(nullptr);
    }
    void Render(int frames) {
        std::vector<int16_t> mix;
        ASSERT_TRUE(RenderCaptureAudio(frames, mix));
    }

    TScratchDir dir{"pause"};
    std::vector<std::string> reports;
    uint32_t channel = 0;
};

} // namespace

TEST_F(PauseTest, APausedChannelHoldsAndResumesWhereItWasSet) {
    Render(4410);
    SetChannelPaused(channel, true);
    EXPECT_TRUE(ChannelPaused(channel));
    Render(4410);
    EXPECT_FLOAT_EQ(ChannelSeconds(channel), 0.1f);

    // A seek while paused waits for the resume.
    SetChannelSeconds(channel, 1.5f);
    Render(4410);
    EXPECT_FLOAT_EQ(ChannelSeconds(channel), 1.5f);
    SetChannelPaused(channel, false);
    Render(4410);
    EXPECT_FLOAT_EQ(ChannelSeconds(channel), 1.6f);

    // A channel that ran to its end plays again from a seek made while paused,
    // and only once it is resumed.
    Render(44100);
    EXPECT_FLOAT_EQ(ChannelSeconds(channel), 2.0f);
    SetChannelPaused(channel, true);
    SetChannelSeconds(channel, 0.5f);
    Render(4410);
    EXPECT_FLOAT_EQ(ChannelSeconds(channel), 0.5f);
    SetChannelPaused(channel, false);
    Render(4410);
    EXPECT_FLOAT_EQ(ChannelSeconds(channel), 0.6f);
}

TEST_F(PauseTest, SpeedsDoNotCompound) {
    SetChannelSpeed(channel, 2.0f);
    EXPECT_EQ(ChannelFrequency(channel), 88200u);
    SetChannelSpeed(channel, 0.25f);
    EXPECT_EQ(ChannelFrequency(channel), 11025u);
    Render(4410);
    EXPECT_FLOAT_EQ(ChannelSeconds(channel), 0.025f);
    SetChannelSpeed(channel, 1.0f);
    EXPECT_EQ(ChannelFrequency(channel), 44100u);
    SetChannelSpeed(channel, 0.0f); // refused: it would stop the clock
    EXPECT_EQ(ChannelFrequency(channel), 44100u);
    EXPECT_FALSE(reports.empty());
}

// On a real-time output the position right after a
// resume or a seek is the time asked for, not that time plus how long the
// source sat paused, and it never runs ahead of the music afterwards. The
// fault shows on backends that stop the device clock while nothing plays
// (PulseAudio: run with ALSOFT_DRIVERS=pulse); the null backend must pass too.
TEST(PauseRealTime, ResumeAndSeekStartWhereAsked) {
    setenv("ALSOFT_DRIVERS", "null", 0);
    ShutdownSound();
    TScratchDir dir("pause_rt");
    const std::string path = dir.File("music.wav");
    ASSERT_TRUE(WriteSoundFile(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 2, 4 * 44100));
    InitSound(nullptr);
    const uint32_t channel = PlaySample(LoadSample(path), 100, 0);
    ASSERT_NE(channel, 0u);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    SetChannelPaused(channel, true);
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    for (float target : {1.0f, 2.5f}) {
        SetChannelSeconds(channel, target);
        SetChannelPaused(channel, false);
        const auto resumed = std::chrono::steady_clock::now();
        EXPECT_NEAR(ChannelSeconds(channel), target, 0.05) << target;
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        const double real = std::chrono::duration<double>(std::chrono::steady_clock::now() - resumed).count();
        // A mixer runs up to a few periods ahead of real time; the fault
        // was a lead of the whole pause (clamped at a quarter second).
        EXPECT_LE(ChannelSeconds(channel), target + real + 0.1) << target;
        SetChannelPaused(channel, true);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    ShutdownSound();
}
