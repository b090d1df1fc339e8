// The engine takes songs: TRACKER imports a module or MIDI file at the
// script's BPM, LOADMUSIC plays a module, and the pre-flight check ties
// tempo, inputs and lengths to the song.
#include <gtest/gtest.h>

#include "media/sound_decode.h"
#include "song_builders.h"
#include "support/run_engine.h"
#include "support/temp_dir.h"

namespace {

// Channel 0 plays C-1 (note 49) on rows 0, 16, 32, 48; channel 1 plays
// C-2 (61) on row 8. 64 rows at speed 6, tempo 125: 7.68 s.
std::vector<uint8_t> BeatMod() {
    auto p = songs::EmptyPattern();
    for (int row = 0; row < 64; row += 16) p[size_t(row)][0] = {songs::PeriodC1, 1};
    p[8][1] = {songs::PeriodC2, 2};
    return songs::Mod({p});
}

const std::string Bar = "LOAD template 0\nBAR b\nMOUNT 0\nLENGTH 0 1\nEFFECT 0\n";

} // namespace

TEST(EngineSongs, CheckWarnsAboutTempoInputsAndLength) {
    testutil::TempDir dir;
    dir.Write("song.mod", BeatMod());
    dir.Write("song.mid", songs::TestMidi());
    // A module as tracker and music, at another BPM than its own.
    dir.Write("demo.cvl",
              "TRACKER song.mod\nBPM 120\nLOADMUSIC song.mod\n" + Bar + "INPUT 0 0 49 250 0\nINPUT 1 1 36 250 0\n");
    auto result = testutil::RunEngine("--check demo.cvl", dir.Path().string());
    EXPECT_EQ(result.ExitCode, 0) << result.Output;
    EXPECT_NE(result.Output.find("warning: BPM 120 differs from the song's own tempo, 125 BPM (song.mod)"),
              std::string::npos)
        << result.Output;
    EXPECT_NE(
        result.Output.find(
            "demo.cvl:10: warning: INPUT 1 listens for note 36 on channel 1, which never plays it; it plays 61\n"),
        std::string::npos)
        << result.Output;
    EXPECT_EQ(result.Output.find("INPUT 0"), std::string::npos) << result.Output;
    EXPECT_EQ(result.Output.find("differ by more than a bar"), std::string::npos) << result.Output;

    // At its own tempo the imported song says nothing; a tracker file four
    // times as long as the music is flagged.
    dir.Write("demo.cvl", "TRACKER song.mod\nBPM 125\nLOADMUSIC song.mod\n" + Bar + "INPUT 0 0 49 250 0\n");
    result = testutil::RunEngine("--check demo.cvl", dir.Path().string());
    EXPECT_EQ(result.ExitCode, 0);
    EXPECT_EQ(result.Output.find("warning"), std::string::npos) << result.Output;
    dir.Write("long.trk", testutil::TrackerBytes(1, 256, std::vector<uint8_t>(256, 49)));
    dir.Write("demo.cvl", "TRACKER long.trk\nBPM 125\nLOADMUSIC song.mod\n" + Bar + "INPUT 0 0 49 250 0\n");
    result = testutil::RunEngine("--check demo.cvl", dir.Path().string());
    EXPECT_NE(
        result.Output.find("warning: the tracker lasts 30.72 s at BPM 125 (256 rows) and the music 7.68 s: they differ "
                           "by more than a bar (1.92 s)"),
        std::string::npos)
        << result.Output;

    // A MIDI file as tracker; a song that cannot be read names itself.
    dir.Write("demo.cvl", "TRACKER song.mid\nBPM 120\n" + Bar + "INPUT 0 3 42 250 0\n");
    result = testutil::RunEngine("--check demo.cvl", dir.Path().string());
    EXPECT_EQ(result.ExitCode, 0) << result.Output;
    EXPECT_EQ(result.Output.find("INPUT"), std::string::npos) << result.Output;
    auto broken = songs::TestMidi();
    broken.resize(40);
    dir.Write("broken.mid", broken);
    dir.Write("demo.cvl", "TRACKER broken.mid\nBPM 120\n" + Bar);
    result = testutil::RunEngine("--check demo.cvl", dir.Path().string());
    EXPECT_EQ(result.ExitCode, 1);
    EXPECT_NE(result.Output.find("demo.cvl:2: error: Tracker file broken.mid cannot be imported: offset"),
              std::string::npos)
        << result.Output;
}

// A module cut short as the tracker: no notes left is an error in the
// pre-flight and the run; notes lost is a warning in both.
TEST(EngineSongs, AModuleCutShortIsNamedInCheckAndRun) {
    testutil::TempDir dir;
    const std::vector<uint8_t> song = BeatMod();
    dir.Write("header.mod", std::vector<uint8_t>(song.begin(), song.begin() + 1084));
    dir.Write("cut.mod", std::vector<uint8_t>(song.begin(), song.begin() + 1084 + 20 * 16));
    const std::string rest = "BPM 125\nRESOLUTIONX 80\nRESOLUTIONY 60\nINIT\n" + Bar;
    dir.Write("header.cvl", "TRACKER header.mod\n" + rest);
    dir.Write("cut.cvl", "TRACKER cut.mod\n" + rest);
    for (const char* args : {"--check header.cvl", "--capture out --frames 2 header.cvl"}) {
        const auto result = testutil::RunEngine(args, dir.Path().string());
        EXPECT_EQ(result.ExitCode, 1) << args;
        EXPECT_NE(result.Output.find("header.cvl:2: error: Tracker file header.mod cannot be imported: the file is cut "
                                     "short (pattern 0 from row 0 on lies past its end) and no notes are left"),
                  std::string::npos)
            << args << "\n"
            << result.Output;
        // Said once: the checks against its rows and channels stay silent.
        EXPECT_EQ(result.Output.find("tracker's end"), std::string::npos) << result.Output;
    }
    // A tracker file cut short likewise: its one error, not one per INPUT.
    const std::vector<uint8_t> grid = testutil::TrackerBytes(2, 64, std::vector<uint8_t>(128, 0));
    dir.Write("cut.trk", std::vector<uint8_t>(grid.begin(), grid.begin() + 100));
    dir.Write("trk.cvl", "TRACKER cut.trk\n" + rest + "INPUT 0 1 36 250 0\n");
    const auto trk = testutil::RunEngine("--check trk.cvl", dir.Path().string());
    EXPECT_NE(trk.Output.find("trk.cvl:1: error: Tracker file cut.trk is 100 bytes long, shorter than the 136 bytes"),
              std::string::npos)
        << trk.Output;
    EXPECT_NE(trk.Output.find("trk.cvl: 1 error,"), std::string::npos) << trk.Output;
    // As music: what a file cut short loses of the patterns and samples
    // plays as silence, here all of it.
    dir.Write("music.cvl", "TRACKER cut.mod\nLOADMUSIC cut.mod\n" + rest);
    for (const char* args : {"--check music.cvl", "--capture out3 --frames 2 music.cvl"}) {
        const auto result = testutil::RunEngine(args, dir.Path().string());
        EXPECT_EQ(result.ExitCode, 1) << args;
        EXPECT_NE(result.Output.find("cut.mod"), std::string::npos) << result.Output;
        EXPECT_NE(result.Output.find(": the file is cut short (pattern 0 from row 20 on lies past its end) and "
                                     "renders only silence"),
                  std::string::npos)
            << args << "\n"
            << result.Output;
    }
    for (const char* args : {"--check cut.cvl", "--capture out2 --frames 2 cut.cvl"}) {
        const auto result = testutil::RunEngine(args, dir.Path().string());
        EXPECT_EQ(result.ExitCode, 0) << args << "\n" << result.Output;
        EXPECT_NE(result.Output.find("cut.cvl:2: warning: Tracker file cut.mod: the file is cut short: pattern 0 from "
                                     "row 20 on lies past its end, so the notes there are missing; 3 notes were read"),
                  std::string::npos)
            << args << "\n"
            << result.Output;
    }
}

TEST(EngineSongs, ModuleMusicDecodesLikeAnyMusicFile) {
    testutil::TempDir dir;
    TDecodedSound sound;
    std::string error;
    ASSERT_TRUE(DecodeSoundFile(dir.Write("song.mod", BeatMod()), sound, error)) << error;
    EXPECT_EQ(sound.SampleRate, 44100);
    EXPECT_EQ(sound.Channels, 2);
    EXPECT_NEAR(sound.Seconds(), 7.68, 0.01);
}

// --check warns at the BPM line, and only where the script's BPM differs
// from the suggested tempo: a song whose speed changes is clean at its
// average beat.
TEST(EngineSongs, CheckIsCleanAtTheSuggestedTempoOfASongWhoseSpeedChanges) {
    testutil::TempDir dir;
    dir.Write("song.mod", songs::SpeedChangeMod());
    dir.Write("demo.cvl", "TRACKER song.mod\nBPM 125\nLOADMUSIC song.mod\n" + Bar);
    auto result = testutil::RunEngine("--check demo.cvl", dir.Path().string());
    EXPECT_NE(result.Output.find("demo.cvl:2: warning: BPM 125 differs from the song's own tempo, 166.667 BPM"),
              std::string::npos)
        << result.Output;
    dir.Write("demo.cvl", "TRACKER song.mod\nBPM 166.667\nLOADMUSIC song.mod\n" + Bar);
    result = testutil::RunEngine("--check demo.cvl", dir.Path().string());
    EXPECT_EQ(result.Output.find("differs"), std::string::npos) << result.Output;
}
