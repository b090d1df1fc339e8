#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "assets/png.h"
#include "support/run_engine.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

// 80 x 60 window, 150 BPM (a row lasts 0.1 s, one frame at 10 fps). A red
// 10 x 10 square drifts right at 100 units per second; a blue flash pulses
// on the note at row 20 (2.0 s) with a 50 ms decay.
const char* const Script =
    "RESOLUTIONX 80\nRESOLUTIONY 60\nINIT\nTRACKER beat.trk\nBPM 150\nCLEARCOLOR 0 0 0 255\n"
    "LOAD plaincolor 0\nE 255\nF 0\nG 0\nW 10\nH 10\nVX 100\n"
    "LOAD flash 1\nE 0\nF 0\nG 255\n"
    "BAR square\nMOUNT 0\nLENGTH 0 2\nEFFECT 0\n"
    "BAR flash\nMOUNT 0\nLENGTH 0 2\nEFFECT 1\nINPUT 0 0 36 50 0\n";

void WriteFolder(const testutil::TempDir& dir, const std::string& extra) {
    std::vector<uint8_t> notes(40, 0);
    notes[20] = 36;
    // The data sits in a folder of its own: the relative output folder must
    // still land beside the script.
    dir.Write("data/beat.trk", testutil::TrackerBytes(1, 40, notes));
    dir.Write("demo.cvl", "DATADIR data\n" + std::string(Script) + extra);
}

// A quiet 440 Hz tone, 44.1 kHz stereo.
void WriteTone(const std::string& path, int seconds = 3) {
    SF_INFO info{};
    info.samplerate = 44100;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr);
    std::vector<short> samples(size_t(44100 * seconds * 2));
    for (size_t i = 0; i < samples.size(); i += 2)
        samples[i] = samples[i + 1] = short(8000 * std::sin(2 * M_PI * 440 * double(i / 2) / 44100));
    sf_write_short(file, samples.data(), sf_count_t(samples.size()));
    sf_close(file);
}

// 0xRRGGBB of pixel (x, y), y counted from the bottom.
uint32_t Pixel(const fs::path& frame, int x, int y) {
    TPicture picture;
    std::string error;
    if (!ReadPNG(frame.string(), picture, error)) {
        ADD_FAILURE() << error;
        return 0;
    }
    const size_t at = (size_t(y) * size_t(picture.Width) + size_t(x)) * size_t(picture.Channels);
    return uint32_t(picture.Pixels[at]) << 16 | uint32_t(picture.Pixels[at + 1]) << 8 | picture.Pixels[at + 2];
}

std::string Bytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

} // namespace

TEST(Capture, FramesShowTheTimelineAtFixedSteps) {
    testutil::TempDir dir;
    WriteFolder(dir, "");
    const auto result = testutil::RunEngine("--capture out --fps 10 --frames 25 demo.cvl", dir.Path().string());
    ASSERT_EQ(result.ExitCode, 0) << result.Output;
    const fs::path out = dir.Path() / "out";
    EXPECT_TRUE(fs::exists(out / "frame_000024.png"));
    EXPECT_FALSE(fs::exists(out / "frame_000025.png"));
    EXPECT_FALSE(fs::exists(out / "audio.wav"));
    // Frame 3: the square has drifted to x 30..40.
    EXPECT_EQ(Pixel(out / "frame_000003.png", 35, 5), 0xFF0000u);
    EXPECT_EQ(Pixel(out / "frame_000003.png", 25, 5), 0x000000u);
    // The flash shows on the note's frame only.
    EXPECT_EQ(Pixel(out / "frame_000020.png", 70, 50), 0x0000FFu);
    EXPECT_EQ(Pixel(out / "frame_000019.png", 70, 50), 0x000000u);
    EXPECT_EQ(Pixel(out / "frame_000021.png", 70, 50), 0x000000u);
}

TEST(Capture, MusicClockFollowsRenderedAudioAndRunsAreIdentical) {
    testutil::TempDir dir;
    WriteFolder(dir, "LOADMUSIC tone.wav\n");
    WriteTone(dir.File("data/tone.wav"));
    for (const char* out : {"one", "two"}) {
        const auto result = testutil::RunEngine(std::string("--capture ") + out + " --fps 10 --frames 22 demo.cvl",
                                                dir.Path().string());
        ASSERT_EQ(result.ExitCode, 0) << result.Output;
    }
    const fs::path one = dir.Path() / "one", two = dir.Path() / "two";
    // 22 frames at 10 fps: 2.2 s of 44.1 kHz 16-bit stereo after the header.
    EXPECT_EQ(fs::file_size(one / "audio.wav"), 44u + 22u * 4410u * 4u);
    EXPECT_EQ(Pixel(one / "frame_000020.png", 70, 50), 0x0000FFu);
    EXPECT_EQ(Pixel(one / "frame_000019.png", 70, 50), 0x000000u);
    const std::string audio = Bytes(one / "audio.wav");
    bool loud = false;
    for (size_t i = 44 + 4 * 4410; i + 1 < audio.size() && !loud; i += 2)
        loud = std::abs(int16_t(uint8_t(audio[i]) | uint8_t(audio[i + 1]) << 8)) > 4000;
    EXPECT_TRUE(loud) << "the captured audio is silent";
    for (const char* name : {"frame_000000.png", "frame_000007.png", "frame_000020.png", "audio.wav"})
        EXPECT_EQ(Bytes(one / name), Bytes(two / name)) << name;
}

TEST(Capture, EndsWithTheMusicWhenItIsShorterThanTheTracker) {
    testutil::TempDir dir;
    WriteFolder(dir, "LOADMUSIC tone.wav\n");
    WriteTone(dir.File("data/tone.wav"), 1);
    const auto result = testutil::RunEngine("--capture out --fps 10 demo.cvl", dir.Path().string());
    ASSERT_EQ(result.ExitCode, 0) << result.Output;
    // The frame at 1.0 s is the last: the music's end stops the demo.
    EXPECT_TRUE(fs::exists(dir.Path() / "out" / "frame_000010.png"));
    EXPECT_FALSE(fs::exists(dir.Path() / "out" / "frame_000011.png"));
}
