// Tracks in the editors' files: the XML project and the players' .track
// files round trip every key; malformed input is named with its place.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <sstream>

#include "support/temp_dir.h"
#include "tool.h"
#include "tracks_files.h"

namespace {

const char* const TracksText = "track 0.X\n0:0 0 linear\n0:2 40.25 smooth\n1:0:0:3 -1e-07 ramp\n"
                               "track cam:rot.y\n0:1 3.1415927\n0:1:1 16777217 step\ntrack empty\n";

int Tool(const std::vector<std::string>& args, std::string* errors = nullptr) {
    std::ostringstream out, err;
    const int code = RunTrackerTool(args, out, err);
    if (errors) *errors = err.str();
    return code;
}

std::string Read(const std::string& path) {
    std::string text, error;
    EXPECT_TRUE(ReadTracksFile(path, text, error)) << error;
    return text;
}

} // namespace

TEST(TracksFiles, EditorProjectAndTrackFilesRoundTripEveryKey) {
    testutil::TempDir dir;
    const std::string tracks = dir.Write("a.tracks", TracksText);
    ASSERT_EQ(Tool({"tracks", "export", tracks, "-o", dir.File("a.rocket")}), 0);
    ASSERT_EQ(Tool({"tracks", "import", dir.File("a.rocket"), "-o", dir.File("b.tracks")}), 0);
    ASSERT_EQ(Tool({"tracks", "export", tracks, "--track-dir", dir.File("players")}), 0);
    EXPECT_TRUE(std::filesystem::exists(dir.File("players/sync_cam-3Arot.y.track")));
    ASSERT_EQ(Tool({"tracks", "import", "--track-dir", dir.File("players"), "-o", dir.File("c.tracks")}), 0);

    // The canonical text of the original, read back from either form.
    TTracks original;
    original.Files.push_back({});
    std::vector<TTracksProblem> problems;
    ASSERT_TRUE(ReadTracksText(TracksText, 0, original, problems));
    EXPECT_EQ(Read(dir.File("b.tracks")), WriteTracksText(original, 0));
    EXPECT_EQ(Read(dir.File("c.tracks")), WriteTracksText(original, 0));

    // The player's bytes: count, then row, value, type, little-endian.
    const std::vector<uint8_t> bytes = EncodeTrackFile(original.Tracks[1]);
    ASSERT_EQ(bytes.size(), 4u + 2 * 9);
    const float pi = 3.1415927f;
    uint8_t piBytes[4];
    std::memcpy(piBytes, &pi, 4);
    const std::vector<uint8_t> first = {2, 0, 0, 0, 16, 0, 0, 0, piBytes[0], piBytes[1], piBytes[2], piBytes[3], 0};
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 13), first);

    // Outputs never land on inputs.
    std::string errors;
    EXPECT_EQ(Tool({"tracks", "export", tracks, "-o", tracks}, &errors), 2);
    EXPECT_EQ(Read(tracks), TracksText) << errors;
}

TEST(TracksFiles, MalformedInputIsNamedWithItsPlace) {
    testutil::TempDir dir;
    TTracks tracks;
    std::string error;
    const std::pair<const char*, const char*> projects[] = {
        {"<sync>\n<tracks>\n<track name=\"a b\"/>", "p:3: 'a b' is not a track name"},
        {"<sync><tracks>\n<track name=\"a\"><key row=\"-1\" value=\"1\"/>", "p:2: key row '-1'"},
        {"<sync><track name=\"a\">\n\n<key row=\"1\" value=\"nan\"/>", "p:3: 'nan' is not a value"},
        {"<sync><track name=\"a\"><key row=\"1\" value=\"1\" interpolation=\"4\"/>", "p:1: interpolation '4'"},
        {"<sync>\n<key row=\"1\" value=\"1\"/>", "p:2: a <key> outside a <track>"},
        {"<sync><track name=\"a\">\n<key row=\"1\" value=\"1\"", "p:2: the <key> tag is malformed"},
        {"<tracks/>", "p: not an editor project"}};
    for (const auto& [text, expected] : projects) {
        TTracks into;
        EXPECT_FALSE(ReadEditorProject("p", text, into, error)) << text;
        EXPECT_EQ(error.rfind(expected, 0), 0u) << error;
    }
    // Attributes the editors add, comments and other elements are skipped.
    ASSERT_TRUE(ReadEditorProject("p",
                                  "<?xml version='1.0'?><!-- x --><sync rows='8' rowsPerBeat='4'><bookmarks/>"
                                  "<tracks><group name='g'><track name='g:a' folded='1' color='ff0000'>"
                                  "<key row='2' value='1.5' interpolation='3'/></track></group></tracks></sync>",
                                  tracks, error))
        << error;
    ASSERT_EQ(tracks.Tracks.size(), 1u);
    EXPECT_EQ(tracks.Tracks[0].Keys[0].Type, TKeyType::Ramp);

    TTrack track;
    const std::vector<std::vector<uint8_t>> broken = {{1, 0, 0},                                  // no count
                                                      {2, 0, 0, 0, 1, 0, 0, 0, 0, 0, 128, 63, 0}, // count past the keys
                                                      {0xFF, 0xFF, 0xFF, 0x7F}, // a count nothing backs
                                                      {1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 128, 63, 9},   // interpolation 9
                                                      {1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 128, 127, 0}}; // infinity
    for (const std::vector<uint8_t>& data : broken) EXPECT_FALSE(DecodeTrackFile("t", data, track, error));
    std::string name;
    EXPECT_TRUE(TrackNameFromFile("sync", "sync_cam-3Arot.y.track", name));
    EXPECT_EQ(name, "cam:rot.y");
    EXPECT_EQ(TrackFileName("sync", "a b#"), "sync_a-20b-23.track");
    EXPECT_FALSE(TrackNameFromFile("sync", "sync_a-2.track", name));
}
