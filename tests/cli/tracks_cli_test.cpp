// Keyed tracks as a user meets them: a field that moves in captured frames,
// and the pre-flight's reports at the tracks file's lines.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "assets/png.h"
#include "support/run_engine.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

// 80 x 60, 150 BPM (0.1 s a row): a red 10 x 10 square in slot 0, whose X
// a track moves from 0 at row 0 to 40 at row 32 (linear), then holds.
const char* const Script = "RESOLUTIONX 80\nRESOLUTIONY 60\nINIT\nTRACKER beat.trk\nBPM 150\nCLEARCOLOR 0 0 0 255\n"
                           "TRACKS demo.tracks\n"
                           "LOAD plaincolor 0\nE 255\nF 0\nG 0\nW 10\nH 10\n"
                           "LOAD particles 1\n" // never played: only the pre-flight looks at it
                           "BAR square\nMOUNT 0\nLENGTH 1\nEFFECT 0\n";

// The left edge of the red square in a frame (-1 when none), a row from the
// bottom.
int SquareLeft(const fs::path& frame) {
    TPicture picture;
    std::string error;
    if (!ReadPNG(frame.string(), picture, error)) {
        ADD_FAILURE() << error;
        return -1;
    }
    const int y = 4; // pictures hold their bottom row first
    for (int x = 0; x < picture.Width; ++x)
        if (picture.Pixels[(size_t(y) * size_t(picture.Width) + size_t(x)) * size_t(picture.Channels)] > 128) return x;
    return -1;
}

} // namespace

TEST(TracksRun, ALinearTrackMovesAFieldInCapturedFrames) {
    testutil::TempDir dir;
    dir.Write("beat.trk", testutil::TrackerBytes(1, 64, std::vector<uint8_t>(64, 0)));
    dir.Write("demo.cvl", Script);
    dir.Write("demo.tracks", "track 0.X\n0:0 0 linear\n0:2 40\n");
    const testutil::RunResult run = testutil::RunEngine("--capture out --fps 10 --frames 40 demo.cvl", dir.Path());
    ASSERT_EQ(run.ExitCode, 0) << run.Output;
    // Frame k shows row k: X = 40 * k / 32, with the fraction of the row.
    for (int k : {0, 8, 12, 24, 32, 39}) {
        char name[32];
        std::snprintf(name, sizeof name, "frame_%06d.png", k);
        const int left = SquareLeft(dir.Path() / "out" / name);
        EXPECT_GE(left, 0) << name;
        EXPECT_NEAR(left, std::min(40.0, 40.0 * k / 32), 1.0) << name;
    }
}

TEST(TracksRun, ThePreflightNamesEachProblemAtItsLine) {
    testutil::TempDir dir;
    dir.Write("beat.trk", testutil::TrackerBytes(1, 64, std::vector<uint8_t>(64, 0)));
    dir.Write("demo.cvl", Script);
    dir.Write("demo.tracks",
              "track 0.X\n0:0 0 linear\n0:0 5\n2:0 1\n"      // lines 1-4
              "track 1.S\n0:0 1\ntrack 7.Y\n0:0 1\n"         // lines 5-8
              "track glow\n0:1 inf\n0:2 1 bouncy\n0:x 1\n"); // lines 9-12
    const testutil::RunResult check = testutil::RunEngine("--check demo.cvl", dir.Path());
    EXPECT_EQ(check.ExitCode, 1) << check.Output;
    for (const char* expected :
         {"demo.tracks:3: warning: track 0.X has a second key on row 0:0:0:0",
          "demo.tracks:4: warning: track 0.X: 1 key lies past the tracker's end",
          "demo.tracks:5: warning: track 1.S: the particles in slot 1 (LOAD at line 14) reads S only once at load",
          "demo.tracks:7: warning: track 7.Y: slot 7 holds no effect",
          "demo.tracks:9: warning: named track glow: nothing reads it", "demo.tracks:10: error: 'inf' is not a value",
          "demo.tracks:11: error: 'bouncy' is not an interpolation",
          "demo.tracks:12: error: '0:x' is not a key position",
          "demo.cvl:3: warning: the resolution 80x60 is none of those parties show", "demo.cvl: 3 errors, 8 warnings"})
        EXPECT_NE(check.Output.find(expected), std::string::npos) << expected << "\n" << check.Output;

    // A run plays on after a malformed key and says so with the exit code.
    const testutil::RunResult run = testutil::RunEngine("--capture out --fps 10 --frames 2 demo.cvl", dir.Path());
    EXPECT_EQ(run.ExitCode, 1);
    EXPECT_TRUE(fs::exists(dir.Path() / "out" / "frame_000001.png")) << run.Output;
}
