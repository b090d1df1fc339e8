// Dev mode's tracks commands in-process: values follow keys set live, saving
// writes the file, a reload keeps unsaved keys, a broken edit keeps the last
// good tracks.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <sstream>
#include <thread>

#include "app/dev.h"
#include "app/dev_tracks.h"
#include "support/temp_dir.h"

namespace {

const bool offscreen = setenv("SDL_VIDEODRIVER", "offscreen", 0) == 0;

std::vector<std::string> Words(const std::string& line) {
    std::istringstream stream(line);
    std::vector<std::string> words;
    for (std::string word; stream >> word;) words.push_back(word);
    return words;
}

std::string Command(TDevSession& session, const std::string& line) {
    std::string answer;
    if (!ExecuteTracksCommand(session.Demo(), Words(line), answer)) return "(not a tracks command)";
    return answer;
}

} // namespace

TEST(DevTracks, CommandsSetReadAndSaveKeys) {
    (void)offscreen;
    testutil::TempDir dir;
    dir.Write("beat.trk", testutil::TrackerBytes(1, 100, std::vector<uint8_t>(100, 0)));
    dir.Write("demo.cvl", "RESOLUTIONX 32\nRESOLUTIONY 24\nINIT\nTRACKER beat.trk\nBPM 150\nTRACKS demo.tracks\n"
                          "LOAD plaincolor 0\nBAR all\nMOUNT 0\nLENGTH 1 2\nEFFECT 0\n");
    const std::string file = dir.Write("demo.tracks", "track 0.X\n0:0 10\n");
    testutil::ScopedCwd cwd(dir.Path());
    TDevOptions options;
    options.Script = "demo.cvl";
    options.ScriptFolder = options.LaunchFolder = dir.Path().string();
    options.ControlChannel = false;
    TDevSession session(options);
    ASSERT_TRUE(session.Started());
    session.SetPaused(true);
    session.Seek(1.05f); // row 10.5
    session.Frame();

    EXPECT_EQ(Command(session, "value 0.X"), "ok 10");
    EXPECT_EQ(session.Demo().Effects[0]->X, 10.0f);
    EXPECT_EQ(Command(session, "key 0.X 0:1 20 linear"), "ok 0.X 0:1:0:0 20 linear");
    EXPECT_EQ(Command(session, "key 0.X 0:0:0:0 0 linear"), "ok 0.X 0:0:0:0 0 linear");
    EXPECT_EQ(Command(session, "key glow 0:1 3"), "ok glow 0:1:0:0 3 step");
    session.Frame();
    const std::string value = Command(session, "value 0.X");
    EXPECT_NEAR(std::atof(value.c_str() + 3), 13.125, 1e-4) << value; // 20 * 10.5 / 16
    EXPECT_EQ(value, "ok " + KeyValueText(session.Demo().Effects[0]->X));
    EXPECT_EQ(Command(session, "keys 0.X"), "ok 2 keys: 0:0:0:0 0 linear; 0:1:0:0 20 linear");
    EXPECT_EQ(Command(session, "unkey 0.X 0:1"), "ok 1 key: 0:0:0:0 0 linear");
    EXPECT_EQ(Command(session, "unkey 0.X 0:1"), "error: track 0.X has no key at 0:1:0:0");
    EXPECT_EQ(Command(session, "key 0.X 0:1 20 linear"), "ok 0.X 0:1:0:0 20 linear");
    EXPECT_EQ(Command(session, "tracks"), "ok 2 tracks: 0.X glow");
    for (const char* bad : {"value nothing", "value 3.Q", "key 0.X 1.5 2", "key 0.X 0:1 nan", "key 0.X 0:1 1 cubic",
                            "keys", "tracks load"})
        EXPECT_EQ(Command(session, bad).rfind("error: ", 0), 0u) << bad;
    EXPECT_EQ(Command(session, "seek 0"), "(not a tracks command)");

    // A reload (the script touched) keeps keys that were not saved.
    dir.Write("demo.cvl", "RESOLUTIONX 32\nRESOLUTIONY 24\nINIT\nTRACKER beat.trk\nBPM 150\nTRACKS demo.tracks\n"
                          "LOAD plaincolor 0\nBAR all again\nMOUNT 0\nLENGTH 1 2\nEFFECT 0\n");
    std::string error;
    ASSERT_TRUE(session.Reload(error)) << error;
    session.Frame();
    EXPECT_EQ(Command(session, "value 0.X"), value);

    EXPECT_EQ(Command(session, "tracks save"), "ok saved demo.tracks");
    std::string saved, previous;
    ASSERT_TRUE(ReadTracksFile(file, saved, error));
    ASSERT_TRUE(ReadTracksFile(file + "~", previous, error));
    EXPECT_EQ(previous, "track 0.X\n0:0 10\n");
    EXPECT_NE(saved.find("track glow\n0:1:0:0     3             step\n"), std::string::npos) << saved;

    // An edit in a text editor reloads the tracks; a broken one keeps the
    // last good tracks and names its line.
    dir.Write("demo.tracks", "track 0.X\n0:0 7\n");
    for (int i = 0; i < 50 && Command(session, "value 0.X") != "ok 7"; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        session.Frame();
    }
    EXPECT_EQ(Command(session, "value 0.X"), "ok 7");
    dir.Write("demo.tracks", "track 0.X\n0:0 nan\n");
    EXPECT_FALSE(session.Reload(error));
    EXPECT_EQ(error.rfind("demo.tracks:2: ", 0), 0u) << error;
    session.Frame();
    EXPECT_EQ(Command(session, "value 0.X"), "ok 7");
    const std::vector<std::string> hud = TrackHudLines(session.Demo());
    ASSERT_EQ(hud.size(), 1u);
    EXPECT_EQ(hud[0], "slot 0: X 7");
}
