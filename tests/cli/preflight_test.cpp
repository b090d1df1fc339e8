// The pre-flight check names the line to fix for each kind of mistake and
// ends with one summary line; a run treats every picture that fails alike.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "assets/png.h"
#include "assets/writer3ds.h"
#include "support/run_engine.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

// A 2 x 2 uncompressed 24-bit BMP, all pixels one colour.
std::vector<uint8_t> SolidBmp() {
    std::vector<uint8_t> b(54 + 16, 0);
    auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) b[at + size_t(i)] = uint8_t(v >> (8 * i));
    };
    b[0] = 'B';
    b[1] = 'M';
    put32(2, uint32_t(b.size()));
    put32(10, 54);
    put32(14, 40);
    put32(18, 2);
    put32(22, 2);
    b[26] = 1;
    b[28] = 24;
    for (size_t row = 0; row < 2; ++row)
        for (size_t x = 0; x < 6; ++x) b[54 + row * 8 + x] = 0x40;
    return b;
}

// A folder with a 2-channel, 64-row tracker (125 BPM: 0.12 s a row) and a
// picture pic.bmp.
struct Folder {
    Folder() {
        dir.Write("beat.trk", testutil::TrackerBytes(2, 64, std::vector<uint8_t>(128, 0)));
        dir.Write("pic.bmp", SolidBmp());
    }
    testutil::RunResult Check(const std::string& body) {
        dir.Write("demo.cvl", "TRACKER beat.trk\nBPM 125\n" + body);
        return testutil::RunEngine("--check demo.cvl", dir.Path().string());
    }
    testutil::TempDir dir;
};

// Plays slot `slot` for the whole tracker.
std::string Bar(int slot) { return "BAR\nMOUNT 0\nLENGTH 1\nEFFECT " + std::to_string(slot) + "\n"; }

size_t Occurrences(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

} // namespace

TEST(PreflightMistakes, EachIsReportedAtTheLineToFix) {
    struct Case {
        std::string body; // from line 3 on
        std::vector<std::string> expected;
        int exitCode;
    };
    const std::vector<Case> cases = {
        // A misspelt LOAD: its parameter lines change the effect above it.
        {"LOAD plaincolor 0\nLAOD plaintexture 1\nA pic.bmp\nW 10\n" + Bar(0),
         {"demo.cvl:4: warning: unknown command 'LAOD' (did you mean LOAD?)",
          "demo.cvl:5: warning: parameter A changes the plaincolor in slot 0 (LOAD at line 3), because "
          "line 4 above it loads nothing"},
         0},
        // A misspelt EFFECT: the bar plays slot 0, which is empty here.
        {"LOAD plaincolor 1\nBAR b\nMOUNT 0\nLENGTH 1\nEFECT 1\n",
         {"demo.cvl:7: warning: unknown command 'EFECT' (did you mean EFFECT?)",
          "demo.cvl:4: warning: The bar 'b' has no EFFECT line; it plays slot 0",
          "demo.cvl:4: error: The bar 'b' plays effect slot 0, which holds no effect",
          "demo.cvl:3: warning: No bar plays the plaincolor in slot 1"},
         1},
        {"LOAD plaincolor 1\n" + Bar(1) + Bar(2),
         {"demo.cvl:11: error: The bar plays effect slot 2, which holds no effect"},
         1},
        {"LOAD plaintexture 0\nA nothere.bmp\n" + Bar(0),
         {"demo.cvl:4: error: The picture file nothere.bmp is missing (looked in ", "(LOAD at line 3)"},
         1},
        {"LOAD plaintexture 0\nA pic.bmp\nB nothere.jpg\n" + Bar(0),
         {"demo.cvl:5: error: The alpha picture file nothere.jpg is missing (looked in ", "(LOAD at line 3)"},
         1},
        {"LOAD plaintexture 0\n" + Bar(0),
         {"demo.cvl:3: error: Effect plaintexture needs a file name in parameter A"},
         1},
        {"LOAD plaincolor 0\n" + Bar(0) + "INPUT 3 40 36 250 0\n",
         {"demo.cvl:8: error: The bar: INPUT 3 listens to channel 40, but the tracker has 2 channels"},
         1},
        // Parameter lines go to the highest slot, not to the LOAD above them.
        {"LOAD plaincolor 2\nLOAD flash 1\nE 10\nF 10\n" + Bar(1) + Bar(2),
         {"demo.cvl:5: warning: parameter E changes the plaincolor in slot 2 (LOAD at line 3), not the "
          "flash that line 4 loads into slot 1"},
         0},
        {"LOAD plaincolor 0\nLOAD flash 0\n" + Bar(0),
         {"demo.cvl:4: warning: Slot 0 already holds the plaincolor loaded at line 3; this LOAD replaces it"},
         0},
        {"LOAD plaincolor 0\nBAR\nMOUNT 0\nLENGTH 0\nEFFECT 0\n",
         {"demo.cvl:4: warning: The bar has a LENGTH of 0 rows and never plays"},
         0},
        {"LOAD plaincolor 0\nFROB 1\nload flash 1\n" + Bar(0),
         {"demo.cvl:4: warning: unknown command 'FROB'; the line is ignored",
          "demo.cvl:5: warning: unknown command 'load' (did you mean LOAD?)"},
         0},
    };
    for (const Case& c : cases) {
        Folder folder;
        const auto result = folder.Check(c.body);
        EXPECT_EQ(result.ExitCode, c.exitCode) << c.body << result.Output;
        for (const std::string& line : c.expected)
            EXPECT_NE(result.Output.find(line), std::string::npos) << c.body << "\n---\n" << result.Output;
    }
    // Reports come in line order, although the timeline and the effects'
    // files are checked after the whole script was read.
    {
        Folder folder;
        const auto result = folder.Check("LOAD plaincolor 1\nBAR b\nMOUNT 0\nLENGTH 1\nEFECT 1\n");
        const size_t line3 = result.Output.find("demo.cvl:3:");
        const size_t line4 = result.Output.find("demo.cvl:4:");
        const size_t line7 = result.Output.find("demo.cvl:7:");
        EXPECT_TRUE(line3 < line4 && line4 < line7 && line7 != std::string::npos) << result.Output;
    }
    // The parameter warning is given once for the lines after one LOAD.
    Folder folder;
    const auto result = folder.Check("LOAD plaincolor 2\nLOAD flash 1\nE 10\nF 10\n" + Bar(1) + Bar(2));
    EXPECT_EQ(Occurrences(result.Output, "warning: parameter"), 1u) << result.Output;
}

// Positions are 32-bit rows: a MOUNT or LENGTH past them is an error at its
// line instead of the row it wraps to, and so is a bar that ends before row
// 0; the run stops on them as the pre-flight reports them.
TEST(PreflightMistakes, PositionsPastTheRowRangeOrBeforeRowZeroAreErrors) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"BAR\nMOUNT 67108864\nLENGTH 1\nEFFECT 0\n",
         "demo.cvl:5: error: MOUNT 67108864 is row 4294967296, past the last row a timeline counts (2147483647)"},
        {"BAR\nMOUNT 0\nLENGTH 0 134217728\nEFFECT 0\n",
         "demo.cvl:6: error: LENGTH 0 134217728 is row 2147483648, past the last row"},
        {"BAR b\nLENGTH 0 1\nMOUNT -1\nEFFECT 0\n",
         "demo.cvl:6: error: The bar 'b' starts at row -64 and ends at row -48, before row 0: it never plays"},
    };
    for (const auto& [bar, expected] : cases) {
        Folder folder;
        auto result = folder.Check("LOAD plaincolor 0\n" + bar);
        EXPECT_EQ(result.ExitCode, 1) << bar << result.Output;
        EXPECT_NE(result.Output.find(expected), std::string::npos) << bar << "\n---\n" << result.Output;
        result = testutil::RunEngine("--capture out --overwrite --frames 1 demo.cvl", folder.dir.Path().string());
        EXPECT_EQ(result.ExitCode, 1) << bar << result.Output;
        EXPECT_NE(result.Output.find(expected), std::string::npos) << bar << "\n---\n" << result.Output;
    }
    // Starting before row 0 and reaching into the tracker is fine.
    Folder folder;
    EXPECT_EQ(folder.Check("LOAD plaincolor 0\nBAR\nMOUNT -1\nLENGTH 2\nEFFECT 0\n").ExitCode, 0);
}

TEST(PreflightMistakes, EmptyAndCommentLinesStaySilent) {
    Folder folder;
    const auto result = folder.Check("\n   \n// LAOD nothing\nLOAD plaintexture 0 // a comment\nA pic.bmp\n" + Bar(0) +
                                     "ENDTIME 500\n");
    EXPECT_EQ(result.ExitCode, 0);
    // The end time ends the demo before the tracker does.
    EXPECT_EQ(result.Output, "demo.cvl: ok: 1 effect, 1 bar, 5.0 s at 125 BPM\n");
}

TEST(PreflightMistakes, SummaryCountsErrorsAndWarnings) {
    Folder folder;
    const auto result = folder.Check("LOAD plaintexture 0\nA nothere.bmp\n" + Bar(0) +
                                     "INPUT 0 9 36 250 0\nBAR\nMOUNT 0\nLENGTH 0\nEFFECT 0\n");
    EXPECT_EQ(result.ExitCode, 1);
    const std::string last = "demo.cvl: 2 errors, 1 warning\n";
    ASSERT_GE(result.Output.size(), last.size()) << result.Output;
    EXPECT_EQ(result.Output.substr(result.Output.size() - last.size()), last) << result.Output;

    const auto missing = testutil::RunEngine("--check none.cvl", folder.dir.Path().string());
    EXPECT_EQ(missing.ExitCode, 1);
    EXPECT_NE(missing.Output.find("none.cvl: 1 error, 0 warnings\n"), std::string::npos) << missing.Output;
}

// A run: every picture that fails is reported once at the line naming it
// (with its LOAD line) or the LOADINGSCREEN line, with its folder, drawn untextured, the demo plays on, and
// the exit code is 1 at the end.
TEST(FilePolicy, FailedPicturesAreReportedDrawnUntexturedAndExitOne) {
    testutil::TempDir dir;
    dir.Write("beat.trk", testutil::TrackerBytes(1, 40, std::vector<uint8_t>(40, 0)));
    dir.Write("pic.bmp", SolidBmp());
    dir.Write("broken.jpg", std::string("not a picture"));
    TMesh3DS tri;
    tri.Name = "tri";
    tri.Vertices = {{-10, 0, 0}, {10, 0, 0}, {0, 10, 0}};
    tri.Faces = {{0, 1, 2, 7}};
    dir.Write("tri.3ds", Write3DSModel({tri}));
    dir.Write("demo.cvl",
              "RESOLUTIONX 80\nRESOLUTIONY 60\nLOADINGSCREEN noscreen.jpg\nINIT\nDRAWLOADING 0\n"
              "TRACKER beat.trk\nBPM 150\nCLEARCOLOR 0 0 0 255\n"
              "LOAD particles 0\nA nospark.tga\nE 5\n"          // line 9
              "LOAD object 1\nA tri.3ds\nB broken.jpg\n"        // line 12
              "LOAD plaintexture 2\nA pic.bmp\nB noalpha.jpg\n" // line 15
              "LOAD plaintexture 3\nA nothere.bmp\n"            // line 18
              "BAR\nMOUNT 0\nLENGTH 2\nEFFECT 0\nBAR\nMOUNT 0\nLENGTH 2\nEFFECT 1\n"
              "BAR\nMOUNT 0\nLENGTH 2\nEFFECT 2\nBAR\nMOUNT 0\nLENGTH 2\nEFFECT 3\n");
    const auto result = testutil::RunEngine("--capture out --fps 10 --frames 3 demo.cvl", dir.Path().string());
    EXPECT_EQ(result.ExitCode, 1) << result.Output;
    const std::string folder = dir.Path().string();
    const std::vector<std::string> expected = {
        "demo.cvl:3: error: The picture file noscreen.jpg is missing (looked in " + folder + ")",
        "demo.cvl:10: error: The picture file nospark.tga is missing (looked in " + folder + ") (LOAD at line 9)",
        "demo.cvl:14: error: ",
        "demo.cvl:17: error: The alpha picture file noalpha.jpg is missing (looked in " + folder +
            ") (LOAD at line 15)",
        "demo.cvl:19: error: The picture file nothere.bmp is missing (looked in " + folder + ") (LOAD at line 18)",
    };
    for (const std::string& line : expected)
        EXPECT_EQ(Occurrences(result.Output, line), 1u) << line << "\n" << result.Output;
    EXPECT_NE(result.Output.find("broken.jpg"), std::string::npos) << result.Output;
    // The demo played all three frames; the last picture, untextured, is a
    // white rectangle over the whole window.
    ASSERT_TRUE(fs::exists(dir.Path() / "out" / "frame_000002.png")) << result.Output;
    TPicture frame;
    std::string error;
    ASSERT_TRUE(ReadPNG((dir.Path() / "out" / "frame_000002.png").string(), frame, error)) << error;
    const size_t at = (size_t(30) * size_t(frame.Width) + 40) * size_t(frame.Channels);
    EXPECT_EQ(frame.Pixels[at], 255);
    EXPECT_EQ(frame.Pixels[at + 1], 255);
    EXPECT_EQ(frame.Pixels[at + 2], 255);
}

// A model cut short: the pre-flight says why it holds no mesh, as the run does.
TEST(FilePolicy, AModelCutShortIsNamedAlikeInCheckAndRun) {
    Folder folder;
    TMesh3DS tri;
    tri.Name = "tri";
    tri.Vertices = {{-10, 0, 0}, {10, 0, 0}, {0, 10, 0}};
    tri.Faces = {{0, 1, 2, 7}};
    const std::vector<uint8_t> model = Write3DSModel({tri});
    folder.dir.Write("tri.3ds", std::vector<uint8_t>(model.begin(), model.begin() + std::ptrdiff_t(model.size() / 2)));
    const auto check = folder.Check("RESOLUTIONX 80\nRESOLUTIONY 60\nINIT\nLOAD object 0\nA tri.3ds\n" + Bar(0));
    const auto run = testutil::RunEngine("--capture out --frames 1 demo.cvl", folder.dir.Path().string());
    for (const auto* result : {&check, &run}) {
        EXPECT_EQ(result->ExitCode, 1) << result->Output;
        EXPECT_NE(result->Output.find("demo.cvl:7: warning: tri.3ds: offset 0: main chunk of " +
                                      std::to_string(model.size()) + " bytes reaches past the end of the file at " +
                                      std::to_string(model.size() / 2) + "; the file is cut short (LOAD at line 6)"),
                  std::string::npos)
            << result->Output;
        EXPECT_NE(result->Output.find("demo.cvl:7: error: The model file tri.3ds holds 0 meshes"), std::string::npos)
            << result->Output;
    }
}

TEST(FilePolicy, MusicThatFailsPlaysOnTheTimerAndExitsOne) {
    testutil::TempDir dir;
    dir.Write("beat.trk", testutil::TrackerBytes(1, 40, std::vector<uint8_t>(40, 0)));
    dir.Write("song.ogg", std::string("not really music"));
    dir.Write("demo.cvl", "RESOLUTIONX 80\nRESOLUTIONY 60\nINIT\nLOADMUSIC song.ogg\nTRACKER beat.trk\n"
                          "BPM 150\nLOAD plaincolor 0\nBAR\nMOUNT 0\nLENGTH 1\nEFFECT 0\n");
    const auto result = testutil::RunEngine("--capture out --fps 10 --frames 2 demo.cvl", dir.Path().string());
    EXPECT_EQ(result.ExitCode, 1) << result.Output;
    EXPECT_NE(result.Output.find("demo.cvl:4: error: Music file song.ogg did not load"), std::string::npos)
        << result.Output;
    EXPECT_TRUE(fs::exists(dir.Path() / "out" / "frame_000001.png")) << result.Output;
}

// A run or capture that reaches an input on a channel the tracker lacks
// names the INPUT line and the bar, with the system's own text.
TEST(FilePolicy, MissingChannelInARunIsReportedAtItsInputLine) {
    Folder folder;
    folder.dir.Write("demo.cvl", "RESOLUTIONX 32\nRESOLUTIONY 24\nINIT\nTRACKER beat.trk\nBPM 125\n"
                                 "LOAD plaincolor 0\nBAR kicks\nMOUNT 0\nLENGTH 1\nEFFECT 0\n"
                                 "INPUT 2 7 36 250 0\n"); // line 11
    const auto result = testutil::RunEngine("--capture out --frames 3 demo.cvl", folder.dir.Path().string());
    EXPECT_EQ(result.ExitCode, 1) << result.Output;
    EXPECT_EQ(Occurrences(result.Output, "demo.cvl:11: error: Error reading demotrack 7: the bar 'kicks' (line 7), "
                                         "INPUT 2 listens to channel 7, but the tracker has 2 channels\n"),
              1u)
        << result.Output;
    EXPECT_NE(result.Output.find("Error in demoscript. Demo will now crash\nDescription: Error reading demotrack 7"),
              std::string::npos)
        << result.Output;
}

// What the big parties show: 8 minutes at most, at one of four sizes. Both
// are warnings, the size's at the INIT line that opens the window.
TEST(PreflightParty, LengthAndResolutionOutsideWhatPartiesShowAreWarned) {
    Folder folder;
    const std::string size = "RESOLUTIONX 800\nRESOLUTIONY 600\nINIT\n";
    auto result = folder.Check(size + "LOAD plaincolor 0\n" + Bar(0));
    EXPECT_EQ(result.ExitCode, 0);
    EXPECT_NE(result.Output.find("demo.cvl:5: warning: the resolution 800x600 is none of those parties show "
                                 "(640x480, 1024x768, 1280x720, 1920x1080)"),
              std::string::npos)
        << result.Output;
    for (const char* shown : {"640\nRESOLUTIONY 480", "1280\nRESOLUTIONY 720", "1920\nRESOLUTIONY 1080"}) {
        result = folder.Check("RESOLUTIONX " + std::string(shown) + "\nINIT\nLOAD plaincolor 0\n" + Bar(0));
        EXPECT_EQ(result.Output.find("warning"), std::string::npos) << shown << "\n" << result.Output;
    }

    // 4001 rows at 0.12 s play 8:00.2; 3999 rows stay under the limit.
    for (int rows : {4001, 3998}) {
        folder.dir.Write("long.trk", testutil::TrackerBytes(2, rows, std::vector<uint8_t>(size_t(rows) * 2, 0)));
        folder.dir.Write("demo.cvl", "TRACKER long.trk\nBPM 125\nLOAD plaincolor 0\n" + Bar(0));
        result = testutil::RunEngine("--check demo.cvl", folder.dir.Path().string());
        EXPECT_EQ(result.ExitCode, 0);
        const bool warned = result.Output.find("warning: the production runs 8:00.") != std::string::npos &&
                            result.Output.find("longer than the 8 minutes") != std::string::npos;
        EXPECT_EQ(warned, rows == 4001) << result.Output;
    }
}
