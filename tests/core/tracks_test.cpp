// Keyed tracks: evaluation at fractional rows and the text file.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "demo/tracks.h"
#include "support/temp_dir.h"

namespace {

TTrack Track(std::vector<TTrackKey> keys) {
    TTrack track;
    track.Name = "t";
    for (const TTrackKey& key : keys) track.SetKey(key);
    return track;
}

} // namespace

TEST(Tracks, TheFourInterpolationsFollowTheirFormulas) {
    EXPECT_EQ(Track({}).ValueAt(12.5), 0.0f);
    for (TKeyType type : {TKeyType::Step, TKeyType::Linear, TKeyType::Smooth, TKeyType::Ramp}) {
        // 2 at row 8, shaped towards 6 at row 16, then held.
        const TTrack track = Track({{8, 2.0f, type}, {16, 6.0f, TKeyType::Linear}});
        EXPECT_EQ(track.ValueAt(0), 2.0f) << "before the first key";
        EXPECT_EQ(track.ValueAt(7.99), 2.0f);
        EXPECT_EQ(track.ValueAt(16), 6.0f);
        EXPECT_EQ(track.ValueAt(1e6), 6.0f) << "after the last key";
        for (double row : {8.0, 9.5, 12.25, 15.999}) {
            const double t = (row - 8) / 8;
            double shaped = t;
            if (type == TKeyType::Step) shaped = 0;
            if (type == TKeyType::Smooth) shaped = t * t * (3 - 2 * t);
            if (type == TKeyType::Ramp) shaped = t * t;
            EXPECT_NEAR(track.ValueAt(row), 2 + 4 * shaped, 1e-5) << KeyTypeName(type) << " at " << row;
        }
    }
    // Keys stay sorted and one per row; deleting a key joins its neighbours.
    TTrack track = Track({{16, 1, TKeyType::Linear}, {0, 0, TKeyType::Linear}, {8, 9, TKeyType::Linear}});
    track.SetKey({8, 5, TKeyType::Linear});
    ASSERT_EQ(track.Keys.size(), 3u);
    EXPECT_EQ(track.Keys[1].Value, 5.0f);
    EXPECT_TRUE(track.DeleteKey(8));
    EXPECT_FALSE(track.DeleteKey(8));
    EXPECT_NEAR(track.ValueAt(4), 0.25f, 1e-6);
}

TEST(Tracks, NamesPositionsAndTheRowOfATime) {
    int32_t slot = 0, field = 0;
    std::string error;
    EXPECT_TRUE(ParseTrackName("3.VX", slot, field, error));
    EXPECT_EQ(slot, 3);
    EXPECT_STREQ(TrackFieldNames[field], "VX");
    EXPECT_TRUE(ParseTrackName("cam:rot.y", slot, field, error));
    EXPECT_EQ(slot, -1);
    EXPECT_EQ(TrackUniformName("cam:rot.y"), "cam_rot_y");
    for (const char* bad : {"", "3.x", "3.A", "3", "9999.X", "a b", "a#", "3x"})
        EXPECT_FALSE(ParseTrackName(bad, slot, field, error)) << bad;
    int32_t row = 0;
    EXPECT_TRUE(ParseKeyPosition("1:0:2", row, error));
    EXPECT_EQ(row, 72);
    for (const char* bad : {"12.5", "1:x", "-1:0", "1:0:0:0:0"}) EXPECT_FALSE(ParseKeyPosition(bad, row, error)) << bad;
    float value = 0;
    for (const char* bad : {"nan", "inf", "-inf", "1e39", "0x10", "1.5f", ""})
        EXPECT_FALSE(ParseKeyValue(bad, value, error)) << bad;
    // The whole part of the row is the timeline's row (150 BPM: 0.1 s a row;
    // 125 BPM: 0.48f lies a hair below row 4's start and still plays row 4).
    TDemoTracker tracker;
    tracker.BPM = 150;
    EXPECT_NEAR(TrackRowAt(2.55f, tracker), 25.5, 1e-4);
    tracker.BPM = 125;
    for (float seconds : {0.48f, 0.96f, 1.2f, 3.3f, 7.2f, 61.44f})
        EXPECT_EQ(std::floor(TrackRowAt(seconds, tracker)), tracker.RowAt(seconds)) << seconds;
}

TEST(Tracks, TheTextFileRoundTripsAndNamesItsErrorsByLine) {
    const std::string text = "# a comment\n"
                             "track 3.X   # slot 3\n"
                             "0:0       0.0   linear\n"
                             "0:2       1.5   smooth\n"
                             "1:0:2     -2    step\n"
                             "track glow\n"
                             "0:0  0.1  ramp\n"
                             "4:0  1\n"
                             "track empty\n";
    TTracks tracks;
    tracks.Files.push_back({});
    std::vector<TTracksProblem> problems;
    ASSERT_TRUE(ReadTracksText(text, 0, tracks, problems));
    EXPECT_TRUE(problems.empty());
    ASSERT_EQ(tracks.Tracks.size(), 3u);
    EXPECT_EQ(tracks.Tracks[0].Keys[2].Row, 72);
    EXPECT_EQ(tracks.Tracks[1].Keys[1].Type, TKeyType::Step);
    EXPECT_EQ(tracks.Tracks[1].Keys[0].Value, 0.1f);

    // The canonical text reads back to the same keys and is a fixed point.
    const std::string canonical = WriteTracksText(tracks, 0);
    TTracks again;
    again.Files.push_back({});
    ASSERT_TRUE(ReadTracksText(canonical, 0, again, problems)) << canonical;
    ASSERT_EQ(again.Tracks.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(again.Tracks[i].Name, tracks.Tracks[i].Name);
        ASSERT_EQ(again.Tracks[i].Keys.size(), tracks.Tracks[i].Keys.size());
        for (size_t k = 0; k < tracks.Tracks[i].Keys.size(); ++k) {
            EXPECT_EQ(again.Tracks[i].Keys[k].Row, tracks.Tracks[i].Keys[k].Row);
            EXPECT_EQ(again.Tracks[i].Keys[k].Value, tracks.Tracks[i].Keys[k].Value);
            EXPECT_EQ(again.Tracks[i].Keys[k].Type, tracks.Tracks[i].Keys[k].Type);
        }
    }
    EXPECT_EQ(WriteTracksText(again, 0), canonical);

    TTracks broken;
    broken.Files.push_back({});
    problems.clear();
    EXPECT_FALSE(ReadTracksText("0:0 1\ntrack a\n0:0 1\n0:0 2\n0:1 nan\n0:2 1 cubic\ntrack a\ntrack 3.Q\n0:0 1\n"
                                "2.5 1\ntrack b c\n",
                                0, broken, problems));
    std::vector<std::pair<int32_t, bool>> lines;
    for (const TTracksProblem& p : problems) lines.push_back({p.Line, p.Error});
    const std::vector<std::pair<int32_t, bool>> expected = {{1, true}, {4, false}, {5, true},  {6, true},
                                                            {7, true}, {8, true},  {10, true}, {11, true}};
    EXPECT_EQ(lines, expected);
    EXPECT_EQ(broken.Tracks[0].Keys[0].Value, 2.0f) << "the later key on a row wins";
}

TEST(Tracks, SavingKeepsThePreviousVersion) {
    testutil::TempDir dir;
    const std::string path = dir.Write("demo.tracks", "track a\n0:0 1 # old\n");
    TTracks tracks;
    tracks.Files.push_back({"demo.tracks", path, {}});
    tracks.Tracks.push_back(Track({{4, 2.5f, TKeyType::Ramp}}));
    tracks.Edited = true;
    std::string error;
    ASSERT_TRUE(SaveTracks(tracks, error)) << error;
    EXPECT_FALSE(tracks.Edited);
    std::string saved, previous;
    ASSERT_TRUE(ReadTracksFile(path, saved, error));
    ASSERT_TRUE(ReadTracksFile(path + "~", previous, error));
    EXPECT_EQ(previous, "track a\n0:0 1 # old\n");
    EXPECT_EQ(saved, tracks.Files[0].Text);
    EXPECT_NE(saved.find("0:0:1:0     2.5           ramp\n"), std::string::npos) << saved;
    // No temporary file is left beside them.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 2);
}
