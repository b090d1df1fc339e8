#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/run_engine.h"
#include "support/temp_dir.h"

using testutil::RunEngine;

namespace {

// A folder with a 2-channel, 64-row tracker (note 36 on row 4 of channel 1)
// and a picture-free script head.
struct CheckFolder {
    CheckFolder() {
        std::vector<uint8_t> grid(128, 0);
        grid[64 + 4] = 36;
        dir.Write("beat.trk", testutil::TrackerBytes(2, 64, grid));
    }
    testutil::RunResult Check(const std::string& script) {
        dir.Write("demo.cvl", script);
        return RunEngine("--check demo.cvl", dir.Path().string());
    }
    testutil::TempDir dir;
};

const std::string Head = "TRACKER beat.trk\nBPM 125\nLOAD template 0\n";

} // namespace

TEST(CommandLine, ArgumentErrorsExitWithTwo) {
    testutil::TempDir dir;
    for (const char* args : {"--bogus", "--capture", "--fps 0 --capture out", "--capture out --fps", "--frames 3",
                             "--report r.json", "--rehearse --report", "--capture out --frames 1e30", "--inspect",
                             "a.cvl b.cvl", "--capture out --frames 2 --until 1"}) {
        const auto result = RunEngine(args, dir.Path().string());
        EXPECT_EQ(result.ExitCode, 2) << args << "\n" << result.Output;
        EXPECT_NE(result.Output.find("corvala: "), std::string::npos) << args;
    }
    const auto help = RunEngine("--help", dir.Path().string());
    EXPECT_EQ(help.ExitCode, 0);
    EXPECT_NE(help.Output.find("--capture DIR"), std::string::npos);
    EXPECT_EQ(RunEngine("--version", dir.Path().string()).Output, "corvala 0.1\n");
}

TEST(CommandLine, MissingDefaultScriptIsAnApplicationError) {
    testutil::TempDir dir;
    const auto result = RunEngine("", dir.Path().string());
    EXPECT_EQ(result.ExitCode, 1);
    EXPECT_NE(result.Output.find("Application Error: Cannot open file karmont.cvl"), std::string::npos)
        << result.Output;
}

TEST(PreflightCheck, CleanScriptSaysOnlyItsSummary) {
    CheckFolder folder;
    const auto result = folder.Check(Head + "BAR one\nMOUNT 0\nLENGTH 0 1\nEFFECT 0\nINPUT 0 1 36 250 0\n");
    EXPECT_EQ(result.ExitCode, 0);
    EXPECT_EQ(result.Output, "demo.cvl: ok: 1 effect, 1 bar, 7.8 s at 125 BPM\n");
}

TEST(PreflightCheck, EachProblemGetsItsLine) {
    struct Case {
        std::string body;     // follows Head (lines 1 to 3)
        std::string expected; // one line of the report
        int exitCode;
    };
    const std::vector<Case> cases = {
        {"BAR\nMOUNT 0\nLENGTH 1\nEFFECT 7\n", "demo.cvl:7: error: The bar plays effect slot 7", 1},
        {"BAR b\nMOUNT 0\nLENGTH 1\nEFFECT 0\nINPUT 2 5 36 250 0\n",
         "demo.cvl:8: error: The bar 'b': INPUT 2 listens to channel 5, but the tracker has 2 channels", 1},
        {"BAR\nMOUNT 3\nLENGTH 1\nEFFECT 0\n", "demo.cvl:4: warning: The bar starts at row 192", 0},
        {"LOAD fancy 1\n", "demo.cvl:4: error: No such effect in demo: fancy", 1},
        {"RESOLUTIONX 64x\n", "demo.cvl:4: error: '64x' is not a valid integer value", 1},
        {"LOADMUSIC Song.OGG\n", "demo.cvl:4: error: The music file Song.OGG is missing, but song.ogg exists", 1},
        {"LOADMUSIC none.ogg\n", "demo.cvl:4: error: The music file none.ogg is missing", 1},
        {"LOADMUSIC song.ogg\n", "demo.cvl:4: error: The music file song.ogg cannot be decoded", 1},
        {"LOADINGSCREEN pic.jpg\nINIT\n", "demo.cvl:4: error:", 1},
        {"DATADIR data // comment\n", "demo.cvl:4: error: DATADIR 'data ' cannot be entered", 1},
    };
    for (const Case& c : cases) {
        CheckFolder folder;
        folder.dir.Write("song.ogg", "not really music");
        folder.dir.Write("pic.jpg", "not really a picture");
        const auto result = folder.Check(Head + c.body);
        EXPECT_EQ(result.ExitCode, c.exitCode) << c.body << result.Output;
        EXPECT_NE(result.Output.find(c.expected), std::string::npos) << c.body << "\n---\n" << result.Output;
    }
    // Without a tempo the check reports it and goes on with the rest.
    CheckFolder folder;
    const auto result = folder.Check("TRACKER beat.trk\nX 5\n");
    EXPECT_EQ(result.ExitCode, 1);
    EXPECT_NE(result.Output.find("demo.cvl:2: error: Parameter command X needs a LOAD line"), std::string::npos)
        << result.Output;
    EXPECT_NE(result.Output.find("BPM is not set"), std::string::npos) << result.Output;
}
