#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <atomic>
#include <chrono>
#include <fstream>
#include <thread>
#include <iterator>
#include <string>
#include <vector>

#include "app/frame_writer.h"
#include "assets/png.h"
#include "base/sha256.h"
#include "support/run_engine.h"
#include "support/temp_dir.h"
#include "support/tone.h"

namespace {

namespace fs = std::filesystem;

// 80 x 60 window, 150 BPM (a row lasts 0.1 s, one frame at 10 fps). A red
// 10 x 10 square drifts right at 100 units per second; a blue flash pulses
// on the note at row 20 (2.0 s) with a 50 ms decay.
const char* const Script = "RESOLUTIONX 80\nRESOLUTIONY 60\nINIT\nTRACKER beat.trk\nBPM 150\nCLEARCOLOR 0 0 0 255\n"
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

void WriteTone(const std::string& path, int seconds = 3) {
    ASSERT_TRUE(testutil::WriteToneWav(path, seconds, 8000)) << path;
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

// The square and flash over a 64 x 64 colour ramp stretched on the window.
void WriteRampFolder(const testutil::TempDir& dir) {
    std::vector<uint8_t> notes(40, 0);
    notes[20] = 36;
    dir.Write("data/beat.trk", testutil::TrackerBytes(1, 40, notes));
    std::string tga = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 64, 0, 64, 0, 24, 0};
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) tga += {char(x * y), char(y * 4), char(x * 4)}; // B, G, R
    dir.Write("data/ramp.tga", tga);
    dir.Write("demo.cvl", std::string("DATADIR data\n") +
                              "RESOLUTIONX 80\nRESOLUTIONY 60\nINIT\nTRACKER beat.trk\nBPM 150\n"
                              "CLEARCOLOR 0 0 0 255\n"
                              "LOAD plaincolor 0\nE 255\nF 0\nG 0\nW 10\nH 10\nVX 100\n"
                              "LOAD flash 1\nE 0\nF 0\nG 255\n"
                              "LOAD plaintexture 2\nA ramp.tga\n"
                              "BAR ramp\nMOUNT 0\nLENGTH 0 2\nEFFECT 2\n"
                              "BAR square\nMOUNT 0\nLENGTH 0 2\nEFFECT 0\n"
                              "BAR flash\nMOUNT 0\nLENGTH 0 2\nEFFECT 1\nINPUT 0 0 36 50 0\n");
}

std::string PixelHash(const fs::path& frame) {
    TPicture picture;
    std::string error;
    if (!ReadPNG(frame.string(), picture, error)) return error;
    return Sha256Hex(picture.Pixels.data(), picture.Pixels.size());
}

// Output of a shell command (empty when it cannot run).
std::string CommandOutput(const std::string& command) {
    std::string output;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[256];
        while (std::fgets(buffer, sizeof buffer, pipe)) output += buffer;
        pclose(pipe);
    }
    return output;
}

bool HaveFFmpeg() {
    return std::system("command -v ffmpeg >/dev/null 2>&1 && command -v ffprobe >/dev/null 2>&1") == 0;
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

// The decoded frames are those the engine wrote before the writer threads
// and the fast PNG setting: SHA-256 of the RGB pixels (bottom row first).
// (Taken again when a picture's default rectangle became the whole 80 x 60
// window instead of 800 x 600, of which the window showed a corner.)
TEST(Capture, FramesKeepThePixelsOfEarlierCaptures) {
    testutil::TempDir dir;
    WriteRampFolder(dir);
    const auto result = testutil::RunEngine("--capture out --fps 10 --frames 25 demo.cvl", dir.Path().string());
    ASSERT_EQ(result.ExitCode, 0) << result.Output;
    const fs::path out = dir.Path() / "out";
    EXPECT_EQ(PixelHash(out / "frame_000000.png"), "1aac05796d5171bee6470b57c15190ff0d891dca24a6701f3fe13edd5622a8b2");
    EXPECT_EQ(PixelHash(out / "frame_000003.png"), "3fca6b8232e56dd16515a3284013f093714b288d218efc778d16a586d6f094d7");
    EXPECT_EQ(PixelHash(out / "frame_000020.png"), "0adca9b4c8bace7e8abd2a1280a4e12c282bc8155adced3ac3353d673203e229");
    int frames = 0;
    for (const auto& entry : fs::directory_iterator(out)) frames += entry.path().extension() == ".png";
    EXPECT_EQ(frames, 25);
}

TEST(Capture, VideoStartsAtFrameZeroWithSoundAndLeavesNothingElse) {
    if (!HaveFFmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
    testutil::TempDir dir;
    WriteFolder(dir, "LOADMUSIC tone.wav\n");
    WriteTone(dir.File("data/tone.wav"));
    const auto result = testutil::RunEngine("--video film/demo.mp4 --fps 10 --frames 22 demo.cvl", dir.Path().string());
    ASSERT_EQ(result.ExitCode, 0) << result.Output;
    EXPECT_NE(result.Output.find("video written to " + (dir.Path() / "film" / "demo.mp4").string()), std::string::npos)
        << result.Output;
    // Only the video: no frames, no sound file, no temporary parts.
    std::vector<std::string> left;
    for (const auto& entry : fs::recursive_directory_iterator(dir.Path() / "film"))
        left.push_back(entry.path().filename());
    EXPECT_EQ(left, std::vector<std::string>{"demo.mp4"});

    const std::string video = testutil::Quote((dir.Path() / "film" / "demo.mp4").string());
    const std::string streams = CommandOutput("ffprobe -v error -show_entries stream=codec_name,width,height,nb_frames "
                                              "-of csv=p=0 " +
                                              video);
    EXPECT_NE(streams.find("h264,80,60,22"), std::string::npos) << streams;
    EXPECT_NE(streams.find("aac"), std::string::npos) << streams;
    const double duration = std::atof(CommandOutput("ffprobe -v error -select_streams v:0 -show_entries "
                                                    "stream=duration -of csv=p=0 " +
                                                    video)
                                          .c_str());
    EXPECT_NEAR(duration, 2.2, 0.05);
    const std::string first = CommandOutput("ffprobe -v error -select_streams v:0 -show_frames -read_intervals %+#1 "
                                            "-show_entries frame=best_effort_timestamp_time -of csv=p=0 " +
                                            video);
    EXPECT_EQ(std::atof(first.c_str()), 0.0) << first;

    // Frame 0 upright: the red square sits at the bottom left (x 0..10 of
    // 80, y 0..10 of 60 from the bottom), frame 20 carries the blue flash.
    const std::string still = (dir.Path() / "still.png").string();
    for (int frame : {0, 20}) {
        const std::string extract = "ffmpeg -v error -y -i " + video + " -vf 'select=eq(n\\," + std::to_string(frame) +
                                    ")' -frames:v 1 " + testutil::Quote(still);
        ASSERT_EQ(std::system(extract.c_str()), 0);
        TPicture picture;
        std::string error;
        ASSERT_TRUE(ReadPNG(still, picture, error)) << error;
        auto at = [&](int x, int y, int c) { return int(picture.Pixels[picture.Offset(x, y) + size_t(c)]); };
        if (frame == 0) {
            EXPECT_GT(at(5, 5, 0), 180);
            EXPECT_LT(at(5, 54, 0), 60);
        } else {
            EXPECT_GT(at(70, 50, 2), 180);
        }
    }
}

TEST(Capture, VideoOfAnOddSizedWindowGetsEvenSides) {
    if (!HaveFFmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
    testutil::TempDir dir;
    std::vector<uint8_t> notes(40, 0);
    dir.Write("beat.trk", testutil::TrackerBytes(1, 40, notes));
    dir.Write("demo.cvl", "RESOLUTIONX 81\nRESOLUTIONY 61\nINIT\nTRACKER beat.trk\nBPM 150\n"
                          "LOAD plaincolor 0\nBAR all\nMOUNT 0\nLENGTH 0 2\nEFFECT 0\n");
    const auto result = testutil::RunEngine("--video odd.mp4 --fps 10 --frames 3 demo.cvl", dir.Path().string());
    ASSERT_EQ(result.ExitCode, 0) << result.Output;
    const std::string streams = CommandOutput("ffprobe -v error -show_entries stream=codec_name,width,height,nb_frames "
                                              "-of csv=p=0 " +
                                              testutil::Quote((dir.Path() / "odd.mp4").string()));
    EXPECT_NE(streams.find("h264,82,62,3"), std::string::npos) << streams;
}

TEST(Capture, VideoAndFramesFailEarlyWithAMessage) {
    testutil::TempDir dir;
    WriteFolder(dir, "");
    dir.Write("taken", "a file, not a folder");
    // The video's folder cannot be made.
    auto result = testutil::RunEngine("--video taken/demo.mp4 --fps 10 --frames 3 demo.cvl", dir.Path().string());
    EXPECT_EQ(result.ExitCode, 1);
    EXPECT_NE(result.Output.find("Cannot write the video " + (dir.Path() / "taken" / "demo.mp4").string()),
              std::string::npos)
        << result.Output;

    // Without ffmpeg on the PATH nothing is rendered.
    const std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
    setenv("PATH", dir.Path().c_str(), 1);
    result = testutil::RunEngine("--capture out --video demo.mp4 --fps 10 --frames 3 demo.cvl", dir.Path().string());
    setenv("PATH", path.c_str(), 1);
    EXPECT_EQ(result.ExitCode, 1);
    EXPECT_NE(result.Output.find("ffmpeg is not installed"), std::string::npos) << result.Output;
    EXPECT_FALSE(fs::exists(dir.Path() / "out" / "frame_000000.png"));
}

TEST(FrameWriter, WriteFailureNamesTheFileAndStopsThePushes) {
    testutil::TempDir dir;
    TFrameWriterSettings settings;
    settings.PNGDir = (dir.Path() / "missing").string();
    TFrameWriter writer(settings);
    TCapturedFrame frame{0, 2, 2, std::vector<uint8_t>(16, 200)};
    bool accepted = true;
    // The queues hold a few frames; a failed writer refuses the rest.
    for (int k = 0; k < 100 && accepted; ++k) {
        frame.Index = k;
        accepted = writer.Push(frame);
    }
    EXPECT_FALSE(writer.Finish());
    EXPECT_NE(writer.Error().find(settings.PNGDir + "/frame_0000"), std::string::npos) << writer.Error();
    EXPECT_EQ(writer.PNGWritten(), 0);
}

TEST(FrameWriter, QueueWaitsWhileFullAndDrainsAfterClose) {
    TBoundedQueue<int> queue(2);
    ASSERT_TRUE(queue.Push(1));
    ASSERT_TRUE(queue.Push(2));
    std::atomic<bool> pushed{false};
    std::thread producer([&] {
        queue.Push(3);
        pushed = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(pushed); // full: the third waits
    int item = 0;
    ASSERT_TRUE(queue.Pop(item));
    EXPECT_EQ(item, 1);
    producer.join();
    EXPECT_TRUE(pushed);
    queue.Close();
    EXPECT_FALSE(queue.Push(4));
    ASSERT_TRUE(queue.Pop(item));
    EXPECT_EQ(item, 2);
    ASSERT_TRUE(queue.Pop(item));
    EXPECT_EQ(item, 3);
    EXPECT_FALSE(queue.Pop(item));
}

// A flash on every row with a 1 ms decay: a frame whose time is a row's
// start shows the flash at full strength, at every frame rate and tempo
// (frame k is k / fps seconds, row r starts at r x 15 / BPM seconds).
TEST(Capture, EveryFrameOnARowStartFlashesAtFullStrength) {
    for (const int bpm : {120, 125, 150}) {
        for (const int fps : {25, 30, 50, 60}) {
            testutil::TempDir dir;
            std::vector<uint8_t> notes(64, 36);
            dir.Write("beat.trk", testutil::TrackerBytes(1, 64, notes));
            const bool music = bpm == 125 && fps == 25;
            if (music) WriteTone(dir.File("tone.wav"));
            dir.Write("demo.cvl", "RESOLUTIONX 16\nRESOLUTIONY 16\nINIT\nTRACKER beat.trk\nBPM " + std::to_string(bpm) +
                                      "\nCLEARCOLOR 0 0 0 255\n" + (music ? "LOADMUSIC tone.wav\n" : "") +
                                      "LOAD flash 0\nE 255\nF 255\nG 255\n"
                                      "BAR flash\nMOUNT 0\nLENGTH 1 0\nEFFECT 0\nINPUT 0 0 36 1 0\n");
            const int frames = fps * 3;
            const auto result = testutil::RunEngine("--capture out --fps " + std::to_string(fps) + " --frames " +
                                                        std::to_string(frames) + " demo.cvl",
                                                    dir.Path().string());
            ASSERT_EQ(result.ExitCode, 0) << result.Output;
            int onRows = 0;
            for (int k = 1; k < frames; ++k) {
                if (k * bpm % (15 * fps) != 0) continue; // no row starts on this frame
                ++onRows;
                char name[32];
                std::snprintf(name, sizeof name, "frame_%06d.png", k);
                EXPECT_EQ(Pixel(dir.Path() / "out" / name, 8, 8), 0xFFFFFFu)
                    << bpm << " BPM, " << fps << " fps, frame " << k << ", row " << k * bpm / (15 * fps);
            }
            EXPECT_GT(onRows, 1) << bpm << " BPM, " << fps << " fps";
        }
    }
}

// The party profile: H.264 Main 4.1 at 1920x1080 and 30 frames a second,
// at least 6 Mbit/s, AAC stereo 192 kbit/s; the 4:3 production is centred
// with black bars, the 60-frame default left as it is.
TEST(Capture, PartyProfileVideoIsWhatStreamsAskFor) {
    if (!HaveFFmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
    testutil::TempDir dir;
    WriteFolder(dir, "LOADMUSIC tone.wav\nCLEARCOLOR 0 255 0 255\n");
    WriteTone(dir.File("data/tone.wav"));
    EXPECT_EQ(testutil::RunEngine("--video-profile party demo.cvl", dir.Path().string()).ExitCode, 2);
    EXPECT_EQ(
        testutil::RunEngine("--video a.mp4 --video-profile party --fps 25 demo.cvl", dir.Path().string()).ExitCode, 2);
    const auto result =
        testutil::RunEngine("--video party.mp4 --video-profile party --frames 15 demo.cvl", dir.Path().string());
    ASSERT_EQ(result.ExitCode, 0) << result.Output;
    const std::string video = testutil::Quote(dir.File("party.mp4"));
    const std::string streams = CommandOutput(
        "ffprobe -v error -show_entries stream=codec_name,profile,level,width,height,r_frame_rate,bit_rate,channels "
        "-of compact=p=0 " +
        video);
    EXPECT_NE(streams.find("codec_name=h264|profile=Main|width=1920|height=1080|level=41|r_frame_rate=30/1"),
              std::string::npos)
        << streams;
    EXPECT_NE(streams.find("codec_name=aac|profile=LC|channels=2"), std::string::npos) << streams;
    const size_t rate = streams.find("bit_rate=");
    ASSERT_NE(rate, std::string::npos) << streams;
    EXPECT_GE(std::atol(streams.c_str() + rate + 9), 6000000L) << streams;

    // The picture's left edge at x = 240 (1440 wide on 1920): black before it.
    const std::string probe = testutil::Quote(dir.File("frame.png"));
    CommandOutput("ffmpeg -v error -y -i " + video + " -frames:v 1 " + probe);
    TPicture frame;
    std::string error;
    ASSERT_TRUE(ReadPNG(dir.File("frame.png"), frame, error)) << error;
    ASSERT_EQ(frame.Width, 1920);
    const uint8_t* bar = &frame.Pixels[frame.Offset(100, 540)];
    EXPECT_LT(bar[0] + bar[1] + bar[2], 30);
    EXPECT_GT(frame.Pixels[frame.Offset(960, 540) + 1], 200);
}
