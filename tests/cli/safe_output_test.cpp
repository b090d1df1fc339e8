// Outputs of the engine never land on the production's own files, and a
// failed video or capture leaves the earlier output as it was.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "support/file_limit.h"
#include "support/run_engine.h"
#include "support/temp_dir.h"
#include "support/tone.h"

namespace {

namespace fs = std::filesystem;

std::string Bytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A 2-second production of 80 x 60 with its data (tracker, music) in data/.
void WriteProduction(const testutil::TempDir& dir, bool music, const std::string& script = "demo.cvl") {
    dir.Write("data/beat.trk", testutil::TrackerBytes(1, 40, std::vector<uint8_t>(40, 0)));
    if (music) {
        ASSERT_TRUE(testutil::WriteToneWav(dir.File("data/tone.wav"), 3));
    }
    dir.Write(script, std::string("DATADIR data\nRESOLUTIONX 80\nRESOLUTIONY 60\nINIT\nTRACKER beat.trk\nBPM 150\n") +
                          (music ? "LOADMUSIC tone.wav\n" : "") +
                          "LOAD plaincolor 0\nE 255\nBAR all\nMOUNT 0\nLENGTH 0 2\nEFFECT 0\n");
}

// Runs the engine with `ffmpeg` on the PATH being a shell script of `body`.
testutil::RunResult RunWithFakeFFmpeg(const testutil::TempDir& dir, const std::string& body,
                                      const std::string& arguments) {
    const std::string fake = dir.Write("bin/ffmpeg", "#!/bin/sh\n" + body + "\n");
    fs::permissions(fake, fs::perms::owner_all);
    const std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
    setenv("PATH", (dir.File("bin") + ":" + path).c_str(), 1);
    const testutil::RunResult result = testutil::RunEngine(arguments, dir.Path().string());
    setenv("PATH", path.c_str(), 1);
    return result;
}

mode_t SpecialFileKindOf(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 ? (info.st_mode & S_IFMT) : 0;
}

} // namespace

// The typos that meant "a video of this script" or named the music.
TEST(OutputOntoInput, VideoAndReportNamingAnInputAreRefusedBeforeAnyWork) {
    testutil::TempDir dir;
    // karmont.cvl is the script played when none is named.
    WriteProduction(dir, true, "karmont.cvl");
    const std::string script = Bytes(dir.File("karmont.cvl")), music = Bytes(dir.File("data/tone.wav"));
    fs::create_symlink("data/tone.wav", dir.File("tone-link.wav"));
    for (const char* args :
         {"--video karmont.cvl", "--video ./data/../karmont.cvl karmont.cvl", "--video data/tone.wav --frames 3",
          "--video tone-link.wav --frames 3", "--capture out --video data/beat.trk --frames 3",
          "--rehearse --report karmont.cvl", "--rehearse --report data/beat.trk"}) {
        const auto result = testutil::RunEngine(args, dir.Path().string());
        EXPECT_EQ(result.ExitCode, 2) << args << "\n" << result.Output;
        EXPECT_NE(result.Output.find("refusing to write the "), std::string::npos) << args << "\n" << result.Output;
        EXPECT_NE(result.Output.find("choose another name"), std::string::npos) << result.Output;
    }
    EXPECT_EQ(Bytes(dir.File("karmont.cvl")), script);
    EXPECT_EQ(Bytes(dir.File("data/tone.wav")), music);
    EXPECT_EQ(Bytes(dir.File("data/beat.trk")).size(), 48u);
    EXPECT_FALSE(fs::exists(dir.File("out/frame_000000.png")));

    // A rehearsal that cannot play keeps the earlier report.
    dir.Write("report.json", "{\"earlier\": true}\n");
    dir.Write("broken.cvl", "INIT\n");
    const auto failed = testutil::RunEngine("--rehearse --report report.json broken.cvl", dir.Path().string());
    EXPECT_EQ(failed.ExitCode, 1) << failed.Output;
    EXPECT_EQ(Bytes(dir.File("report.json")), "{\"earlier\": true}\n");
}

TEST(OutputOntoInput, CaptureRefusesFramesOfAnEarlierRunUnlessOverwrite) {
    testutil::TempDir dir;
    WriteProduction(dir, false);
    ASSERT_EQ(testutil::RunEngine("--capture out --fps 10 --frames 5 demo.cvl", dir.Path().string()).ExitCode, 0);
    const std::string frame = Bytes(dir.File("out/frame_000004.png"));
    auto result = testutil::RunEngine("--capture out --fps 10 --frames 3 demo.cvl", dir.Path().string());
    EXPECT_EQ(result.ExitCode, 2) << result.Output;
    EXPECT_NE(result.Output.find("holds 5 frames of an earlier capture"), std::string::npos) << result.Output;
    EXPECT_NE(result.Output.find("--overwrite"), std::string::npos) << result.Output;
    EXPECT_EQ(Bytes(dir.File("out/frame_000004.png")), frame);

    // Replaced, the stale frames of the longer run do not stay mixed in.
    result = testutil::RunEngine("--capture out --overwrite --fps 10 --frames 3 demo.cvl", dir.Path().string());
    EXPECT_EQ(result.ExitCode, 0) << result.Output;
    EXPECT_TRUE(fs::exists(dir.File("out/frame_000002.png")));
    EXPECT_FALSE(fs::exists(dir.File("out/frame_000003.png")));
    EXPECT_EQ(testutil::RunEngine("--overwrite demo.cvl", dir.Path().string()).ExitCode, 2);
}

// ffmpeg that ends well without writing, ffmpeg killed, a full disk: the
// earlier video stays byte for byte, and the failure is told.
TEST(OutputOntoInput, AFailedVideoLeavesTheEarlierOneAsItWas) {
    testutil::TempDir dir;
    WriteProduction(dir, false);
    dir.Write("demo.mp4", "the earlier video");
    auto result = RunWithFakeFFmpeg(dir, "cat >/dev/null; exit 0", "--video demo.mp4 --fps 10 --frames 3 demo.cvl");
    EXPECT_EQ(result.ExitCode, 1) << result.Output;
    EXPECT_NE(result.Output.find("ffmpeg ended without writing the video " + dir.File("demo.mp4")), std::string::npos)
        << result.Output;
    EXPECT_EQ(result.Output.find("video written"), std::string::npos) << result.Output;
    EXPECT_EQ(Bytes(dir.File("demo.mp4")), "the earlier video");

    result = RunWithFakeFFmpeg(dir, "cat >/dev/null; kill -9 $$", "--video demo.mp4 --fps 10 --frames 3 demo.cvl");
    EXPECT_EQ(result.ExitCode, 1) << result.Output;
    EXPECT_NE(result.Output.find("ffmpeg was killed by signal 9"), std::string::npos) << result.Output;
    EXPECT_EQ(Bytes(dir.File("demo.mp4")), "the earlier video");

    if (std::system("command -v ffmpeg >/dev/null 2>&1") == 0) {
        testutil::FileSizeLimit fullDisk(200);
        result = testutil::RunEngine("--video demo.mp4 --fps 10 --frames 20 demo.cvl", dir.Path().string());
        EXPECT_EQ(result.ExitCode, 1) << result.Output;
    }
    EXPECT_EQ(Bytes(dir.File("demo.mp4")), "the earlier video");
    // A video cannot go to a pipe or a device; the FIFO stays a FIFO.
    ASSERT_EQ(mkfifo(dir.File("pipe.mp4").c_str(), 0600), 0);
    result = RunWithFakeFFmpeg(dir, "cat >/dev/null; exit 0", "--video pipe.mp4 --fps 10 --frames 3 demo.cvl");
    EXPECT_EQ(result.ExitCode, 2) << result.Output;
    EXPECT_NE(result.Output.find("pipe.mp4: it is a FIFO (named pipe), and an MP4 video must be written to a file"),
              std::string::npos)
        << result.Output;
    EXPECT_EQ(SpecialFileKindOf(dir.File("pipe.mp4")), S_IFIFO);
    fs::remove(dir.File("pipe.mp4"));
    int files = 0;
    for (const auto& entry : fs::directory_iterator(dir.Path())) files += entry.is_regular_file();
    EXPECT_EQ(files, 2) << "a temporary video stayed behind"; // demo.cvl, demo.mp4
}

// An ffmpeg that quits without reading the frames, or that writes pages of
// errors before it reads them: the capture ends with its message, not by
// SIGPIPE and not in a wait on each other; what is passed on is bounded.
TEST(OutputOntoInput, AnFFmpegThatQuitsOrTalksMuchIsReportedNotFatal) {
    testutil::TempDir dir;
    WriteProduction(dir, false);
    auto result =
        RunWithFakeFFmpeg(dir, "echo 'Unknown encoder' >&2; exit 1", "--video demo.mp4 --fps 10 --frames 40 demo.cvl");
    EXPECT_EQ(result.ExitCode, 1) << result.Output;
    EXPECT_NE(result.Output.find("ffmpeg stopped while encoding " + dir.File("demo.mp4")), std::string::npos)
        << result.Output;
    EXPECT_NE(result.Output.find("Unknown encoder"), std::string::npos) << result.Output;

    result = RunWithFakeFFmpeg(dir, "yes 'frame error' | head -n 300000 >&2; cat >/dev/null; exit 0",
                               "--video demo.mp4 --fps 10 --frames 40 demo.cvl");
    EXPECT_EQ(result.ExitCode, 1);
    EXPECT_NE(result.Output.find("ffmpeg failed to make " + dir.File("demo.mp4") + ": frame error"), std::string::npos);
    EXPECT_LT(result.Output.size(), size_t(2) << 20); // 3.6 MB written, the first MiB passed on
    EXPECT_FALSE(fs::exists(dir.File("demo.mp4")));
}

TEST(SpecialFiles, AFifoAsScriptOrPictureIsRefusedNotWaitedOn) {
    testutil::TempDir dir;
    WriteProduction(dir, false);
    ASSERT_EQ(mkfifo(dir.File("fifo.cvl").c_str(), 0600), 0);
    ASSERT_EQ(mkfifo(dir.File("data/pipe.tga").c_str(), 0600), 0);
    auto result = testutil::RunEngine("--check fifo.cvl", dir.Path().string());
    EXPECT_NE(result.ExitCode, 0);
    EXPECT_NE(result.Output.find("fifo.cvl: it is a FIFO"), std::string::npos) << result.Output;

    dir.Write("picture.cvl", "DATADIR data\nRESOLUTIONX 80\nRESOLUTIONY 60\nINIT\nTRACKER beat.trk\nBPM 150\n"
                             "LOAD plaintexture 0\nA pipe.tga\nBAR all\nMOUNT 0\nLENGTH 0 2\nEFFECT 0\n");
    for (const char* args : {"--check picture.cvl", "--capture out --fps 10 --frames 2 picture.cvl"}) {
        result = testutil::RunEngine(args, dir.Path().string());
        EXPECT_EQ(result.ExitCode, 1) << args << "\n" << result.Output;
        EXPECT_NE(result.Output.find("pipe.tga: is a FIFO (named pipe), not a file"), std::string::npos)
            << args << "\n"
            << result.Output;
    }
}
