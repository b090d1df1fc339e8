// The tracker tool: text form round trip and its errors, the pattern view,
// the printed import report, and real songs against libopenmpt's own
// pattern data.
#include <gtest/gtest.h>

#include "grid_text.h"
#include "media/midi_file.h"
#include "media/note_grid.h"
#include "media/song_import.h"
#include "media/sound_decode.h"
#include "song_builders.h"
#include "support/file_limit.h"
#include "support/temp_dir.h"
#include "support/tone.h"
#include "tool.h"

#include <libopenmpt/libopenmpt.hpp>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <numeric>
#include <random>
#include <set>
#include <sstream>

namespace {

struct TToolRun {
    int Code;
    std::string Out, Err;
};

TToolRun Tool(const std::vector<std::string>& args) {
    std::ostringstream out, err;
    const int code = RunTrackerTool(args, out, err);
    return {code, out.str(), err.str()};
}

TNoteGrid RandomGrid(int channels, int rows, unsigned seed) {
    std::mt19937 random(seed);
    TNoteGrid grid;
    grid.Resize(channels, rows);
    for (auto& channel : grid.Channels)
        for (auto& note : channel) note = random() % 3 == 0 ? uint8_t(random()) : 0;
    return grid;
}

} // namespace

TEST(TrackerText, RoundTripIsExactThroughTheTool) {
    testutil::TempDir dir;
    const TNoteGrid grid = RandomGrid(5, 100, 7);
    const std::vector<uint8_t> bytes = EncodeTrackerFile(grid);
    dir.Write("in.trk", bytes);
    const TToolRun text = Tool({"text", dir.File("in.trk")});
    ASSERT_EQ(text.Code, 0) << text.Err;
    dir.Write("grid.txt", text.Out);
    const TToolRun build = Tool({"build", dir.File("grid.txt"), "-o", dir.File("out.trk")});
    ASSERT_EQ(build.Code, 0) << build.Err;
    std::ifstream file(dir.File("out.trk"), std::ios::binary);
    const std::vector<uint8_t> back((std::istreambuf_iterator<char>(file)), {});
    EXPECT_EQ(back, bytes);
    // Empty grids and grids without channels survive too.
    for (const TNoteGrid& g : {RandomGrid(0, 10, 1), RandomGrid(3, 0, 1), TNoteGrid{}}) {
        TNoteGrid again;
        std::string error;
        ASSERT_TRUE(GridFromText("t", GridToText(g), again, error)) << error;
        EXPECT_EQ(EncodeTrackerFile(again), EncodeTrackerFile(g));
    }
}

TEST(TrackerText, BadLinesNameTheirLine) {
    const std::string head = "corvala tracker text 1\nchannels 2\nrows 8\n";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", "t:0: the file is empty"},
        {"hello\n", "t:1: the first line must read"},
        {"corvala tracker text 1\n0 1 2\n", "t:2: \"channels N\" and \"rows M\" must come before"},
        {head + "0 1\n", "t:4: row 0 has 1 notes for 2 channels"},
        {head + "8 1 2\n", "t:4: row 8 is past the last row (7)"},
        {head + "3 1 2\n# c\n3 1 2\n", "t:6: row 3 comes after row 3"},
        {head + "1 256 ..\n", "t:4: \"256\" (channel 0) is not a note"},
        {head + "x 1 2\n", "t:4: \"x\" is not a row number"},
        {"corvala tracker text 1\nchannels 4096\nrows 2147483647\n",
         "t:3: 4096 channels of 2147483647 rows is more than"},
        {"corvala tracker text 1\nchannels 5000\n", "t:2: channels needs one number from 0 to 4096"},
        {"corvala tracker text 1\nchannels 1\n", "t:2: the file ends before"},
    };
    for (const auto& [text, expected] : cases) {
        TNoteGrid grid;
        std::string error;
        EXPECT_FALSE(GridFromText("t", text, grid, error)) << text;
        EXPECT_EQ(error.substr(0, expected.size()), expected) << error;
    }
}

TEST(TrackerShow, PatternViewWithPositions) {
    testutil::TempDir dir;
    TNoteGrid grid;
    grid.Resize(2, 80);
    grid.Channels[0][65] = 36;
    grid.Channels[1][66] = 255;
    dir.Write("g.trk", EncodeTrackerFile(grid));
    const TToolRun run = Tool({"show", dir.File("g.trk"), "--from", "1:0:0:1", "--rows", "2"});
    ASSERT_EQ(run.Code, 0) << run.Err;
    EXPECT_EQ(run.Out,
              dir.File("g.trk") + ": 2 channels, 80 rows\nposition    0   1\n1:0:0:1    36  ..\n1:0:0:2    .. 255\n");
    int64_t row = 0;
    EXPECT_TRUE(ParsePosition("2:3:1:2", row));
    EXPECT_EQ(row, 2 * 64 + 3 * 16 + 4 + 2);
    // The engine's short forms, as --start takes them.
    EXPECT_TRUE(ParsePosition("2:3", row));
    EXPECT_EQ(row, 2 * 64 + 3 * 16);
    EXPECT_TRUE(ParsePosition("1:0:1", row));
    EXPECT_EQ(row, 64 + 4);
    for (const char* bad : {"1:0:0:0:", "1:0:0:0:0", "-1", "a:0:0:0", "2.5:0"})
        EXPECT_FALSE(ParsePosition(bad, row)) << bad;

    // Damaged files and bad arguments: a message naming the file, no crash.
    dir.Write("short.trk", std::vector<uint8_t>{2, 0, 0, 0, 9, 0, 0, 0, 1});
    TToolRun bad = Tool({"show", dir.File("short.trk")});
    EXPECT_EQ(bad.Code, 1);
    EXPECT_NE(bad.Err.find("short.trk: offset 9: the file ends inside the grid"), std::string::npos) << bad.Err;
    bad = Tool({"show", dir.File("g.trk"), "--rows", "0"});
    EXPECT_EQ(bad.Code, 2);
    bad = Tool({"import", dir.File("g.trk"), "-o", dir.File("x.trk")});
    EXPECT_EQ(bad.Code, 1);
    EXPECT_NE(bad.Err.find("neither a tracker module"), std::string::npos) << bad.Err;
    EXPECT_EQ(Tool({"bogus"}).Code, 2);
    EXPECT_EQ(Tool({"--help"}).Code, 0);
}

// shift moves every note by whole rows, either way; the grid keeps its size
// and the notes that leave it are counted.
TEST(TrackerShift, MovesEveryNoteAndCountsThoseThatLeave) {
    testutil::TempDir dir;
    const TNoteGrid grid = RandomGrid(3, 40, 5);
    const std::string in = dir.Write("in.trk", EncodeTrackerFile(grid));
    auto notesIn = [&](int32_t from, int32_t to) {
        int64_t n = 0;
        for (const auto& channel : grid.Channels)
            for (int32_t r = from; r < to; ++r) n += channel[size_t(r)] != 0;
        return n;
    };
    for (const int rows : {3, -5, 0, 40, -41}) {
        SCOPED_TRACE(rows);
        const TToolRun run = Tool({"shift", in, std::to_string(rows), "-o", dir.File("out.trk")});
        ASSERT_EQ(run.Code, 0) << run.Err;
        TNoteGrid out;
        std::vector<uint8_t> data;
        std::string error;
        ASSERT_TRUE(ReadWholeFile(dir.File("out.trk"), 1 << 20, data, error) &&
                    DecodeTrackerFile("out.trk", data, out, error))
            << error;
        ASSERT_EQ(out.Channels.size(), grid.Channels.size());
        ASSERT_EQ(out.Rows, grid.Rows);
        for (size_t c = 0; c < grid.Channels.size(); ++c)
            for (int32_t r = 0; r < grid.Rows; ++r) {
                const int32_t from = r - rows;
                EXPECT_EQ(out.At(c, r), from >= 0 && from < grid.Rows ? grid.At(c, from) : 0) << c << ":" << r;
            }
        const int64_t before = rows < 0 ? notesIn(0, std::min(-rows, grid.Rows)) : 0;
        const int64_t after = rows > 0 ? notesIn(std::max(grid.Rows - rows, 0), grid.Rows) : 0;
        if (before == 0 && after == 0) {
            EXPECT_EQ(run.Err, "");
        } else {
            auto notes = [](int64_t n) { return std::to_string(n) + (n == 1 ? " note" : " notes"); };
            const std::string want = (before > 0 ? notes(before) + " moved before row 0" : "") +
                                     (before > 0 && after > 0 ? " and " : "") +
                                     (after > 0 ? notes(after) + " moved past the last row (39)" : "");
            EXPECT_NE(run.Err.find("warning: left out " + want + "\n"), std::string::npos) << run.Err;
        }
    }
    for (const char* bad : {"1.5", "x", "", "2147483648", "--3"}) {
        const TToolRun run = Tool({"shift", in, bad, "-o", dir.File("bad.trk")});
        EXPECT_EQ(run.Code, 2) << bad;
    }
    EXPECT_EQ(Tool({"shift", dir.File("none.trk"), "1", "-o", dir.File("bad.trk")}).Code, 1);
    EXPECT_FALSE(std::filesystem::exists(dir.File("bad.trk")));
}

TEST(TrackerImportTool, PrintsTheBpmAndTheChannelMap) {
    testutil::TempDir dir;
    dir.Write("song.mid", songs::TestMidi());
    const TToolRun run = Tool({"import", dir.File("song.mid"), "-o", dir.File("song.trk")});
    ASSERT_EQ(run.Code, 0) << run.Err;
    EXPECT_NE(run.Out.find("write in the script:  BPM 120   (exact)"), std::string::npos) << run.Out;
    EXPECT_NE(run.Out.find("tracker channels 0-2: MIDI channel 1 (program 5)"), std::string::npos) << run.Out;
    EXPECT_NE(run.Out.find("wrote " + dir.File("song.trk") + ": 4 channels, 19 rows, 9 notes"), std::string::npos)
        << run.Out;
    EXPECT_NE(run.Err.find("warning: the tempo changes at tick 1920"), std::string::npos) << run.Err;
}

namespace {

// Notes per channel as libopenmpt's pattern data holds them, walked in play
// order: position jumps and pattern breaks followed, the song ends where a
// row would play a second time.
std::vector<int64_t> PatternNoteCounts(const std::vector<uint8_t>& data, int64_t& rowsPlayed) {
    openmpt::module m(data);
    const std::string type = m.get_metadata("type");
    const bool itLike = type == "it" || type == "s3m";
    const char breakEffect = itLike ? 'C' : 'D';
    std::vector<int64_t> counts(size_t(m.get_num_channels()), 0);
    std::set<std::pair<int, int>> visited;
    int order = 0, row = 0;
    rowsPlayed = 0;
    while (order < m.get_num_orders()) {
        const int pattern = m.get_order_pattern(order);
        if (pattern < 0 || pattern >= m.get_num_patterns() || row >= m.get_pattern_num_rows(pattern)) {
            ++order;
            row = 0;
            continue;
        }
        if (!visited.insert({order, row}).second) break;
        ++rowsPlayed;
        int jumpOrder = -1, breakRow = -1;
        for (int c = 0; c < m.get_num_channels(); ++c) {
            const int note = m.get_pattern_row_channel_command(pattern, row, c, openmpt::module::command_note);
            if (note >= 1 && note <= 120) ++counts[size_t(c)];
            const std::string effect =
                m.format_pattern_row_channel_command(pattern, row, c, openmpt::module::command_effect);
            const int param = m.get_pattern_row_channel_command(pattern, row, c, openmpt::module::command_parameter);
            if (effect == "B") jumpOrder = param;
            if (effect == std::string(1, breakEffect)) breakRow = param;
        }
        if (jumpOrder >= 0 || breakRow >= 0) {
            order = jumpOrder >= 0 ? jumpOrder : order + 1;
            row = std::max(breakRow, 0);
        } else if (++row >= m.get_pattern_num_rows(pattern)) {
            ++order;
            row = 0;
        }
    }
    return counts;
}

} // namespace

TEST(RealSongs, ImportKeepsEveryNoteOfEveryChannel) {
    const std::filesystem::path folder = std::filesystem::path(CORVALA_SHARED_TESTDATA) / "music";
    if (!std::filesystem::exists(folder)) GTEST_SKIP() << "no songs in " << folder;
    int songsSeen = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        std::vector<uint8_t> data;
        std::string error;
        ASSERT_TRUE(ReadWholeFile(entry.path().string(), 64 << 20, data, error)) << error;
        if (!IsSongData(data)) continue;
        ++songsSeen;
        SCOPED_TRACE(entry.path().filename().string());
        // At 2000 BPM a row lasts 7.5 ms: no two notes of a channel meet.
        TImportOptions options;
        options.Bpm = 2000;
        TImportResult r;
        ASSERT_TRUE(ImportSong(data, options, r, error)) << error;
        EXPECT_EQ(r.Collisions, 0);
        std::vector<int64_t> imported;
        for (const auto& channel : r.Grid.Channels)
            imported.push_back(std::count_if(channel.begin(), channel.end(), [](uint8_t n) { return n != 0; }));
        if (IsMidiData(data)) {
            TMidiSong song;
            ASSERT_TRUE(ReadMidiSong(data, song, error)) << error;
            EXPECT_EQ(std::accumulate(imported.begin(), imported.end(), int64_t(0)), int64_t(song.Notes.size()));
            EXPECT_FALSE(r.ChannelMap.empty());
        } else {
            int64_t rows = 0;
            EXPECT_EQ(imported, PatternNoteCounts(data, rows));
            EXPECT_EQ(r.SongRows, rows);
        }
    }
    EXPECT_GE(songsSeen, 4);
}

// An output named like the input (the song, through a link, the text) is
// refused before anything is read; a full disk keeps the earlier tracker file.
TEST(TrackerTool, NeverWritesOverItsInputAndWritesWholeOrNotAtAll) {
    testutil::TempDir dir;
    const std::vector<uint8_t> midi = songs::TestMidi();
    const std::string song = dir.Write("song.mid", midi);
    std::filesystem::create_symlink(song, dir.File("link.mid"));
    const TNoteGrid grid = RandomGrid(4, 400, 3);
    const std::string text = dir.Write("grid.txt", GridToText(grid));
    auto bytes = [](const std::string& path) {
        std::ifstream file(path, std::ios::binary);
        return std::vector<uint8_t>((std::istreambuf_iterator<char>(file)), {});
    };
    for (const auto& args : std::vector<std::vector<std::string>>{{"import", song, "-o", song},
                                                                  {"import", dir.File("link.mid"), "-o", song},
                                                                  {"import", song, "-o", dir.File("link.mid")},
                                                                  {"detect", song, "-o", song},
                                                                  {"shift", song, "-o", song, "2"},
                                                                  {"shift", dir.File("link.mid"), "-o", song, "-1"},
                                                                  {"build", text, "-o", text}}) {
        const TToolRun run = Tool(args);
        EXPECT_EQ(run.Code, 2) << args[0] << " " << args[1];
        EXPECT_NE(run.Err.find("refusing to write the tracker file to " + args[3]), std::string::npos) << run.Err;
    }
    EXPECT_EQ(bytes(song), midi);
    const std::vector<uint8_t> textAfter = bytes(text);
    EXPECT_EQ(GridToText(grid), std::string(textAfter.begin(), textAfter.end()));

    const std::string trk = dir.Write("music.trk", EncodeTrackerFile(RandomGrid(1, 8, 1)));
    const std::vector<uint8_t> before = bytes(trk);
    {
        testutil::FileSizeLimit fullDisk(1024);
        const TToolRun run = Tool({"build", text, "-o", trk});
        EXPECT_EQ(run.Code, 1);
        EXPECT_NE(run.Err.find("cannot write " + trk + ": File too large"), std::string::npos) << run.Err;
    }
    EXPECT_EQ(bytes(trk), before);
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) names.push_back(entry.path().filename());
    EXPECT_EQ(names.size(), 4u) << "a partial file stayed behind";

    // Standard output as the tracker file (-o /dev/stdout, reached here by a
    // link of the test's own): the bytes go there alone, the report to err.
    std::fflush(stdout);
    const int savedStdout = ::dup(STDOUT_FILENO);
    const std::string piped = dir.Write("piped.trk", "");
    const int pipedFd = ::open(piped.c_str(), O_WRONLY);
    ::dup2(pipedFd, STDOUT_FILENO);
    std::filesystem::create_symlink("/proc/self/fd/1", dir.File("stdout"));
    const TToolRun toStdout = Tool({"build", text, "-o", dir.File("stdout")});
    ::dup2(savedStdout, STDOUT_FILENO);
    ::close(savedStdout);
    ::close(pipedFd);
    EXPECT_EQ(toStdout.Code, 0) << toStdout.Err;
    EXPECT_EQ(toStdout.Out, "");
    EXPECT_NE(toStdout.Err.find("wrote " + dir.File("stdout")), std::string::npos) << toStdout.Err;
    EXPECT_EQ(bytes(piped), EncodeTrackerFile(grid));
    EXPECT_TRUE(std::filesystem::is_symlink(dir.File("stdout")));

    // A FIFO as the song is refused, not waited on.
    ASSERT_EQ(mkfifo(dir.File("pipe.mid").c_str(), 0600), 0);
    const TToolRun fifo = Tool({"import", dir.File("pipe.mid"), "-o", dir.File("out.trk")});
    EXPECT_EQ(fifo.Code, 1);
    EXPECT_NE(fifo.Err.find("is a FIFO"), std::string::npos) << fifo.Err;
}

// Music in the wrong form says what to do with it: a recording given to
// import points to detect, a MIDI file given as music says how to render it.
TEST(TrackerImportTool, RecordingsAndMidiMusicSayWhatToUseInstead) {
    testutil::TempDir dir;
    ASSERT_TRUE(testutil::WriteToneWav(dir.File("loop.wav"), 1));
    const TToolRun run = Tool({"import", dir.File("loop.wav"), "-o", dir.File("loop.trk")});
    EXPECT_EQ(run.Code, 1);
    EXPECT_NE(run.Err.find("a WAV recording holds sound, not notes: make its tracker file with corvala-tracker "
                           "detect " +
                           dir.File("loop.wav") + " -o " + dir.File("loop.trk")),
              std::string::npos)
        << run.Err;
    EXPECT_FALSE(std::filesystem::exists(dir.File("loop.trk")));

    dir.Write("song.mid", songs::TestMidi());
    TDecodedSound sound;
    std::string error;
    EXPECT_FALSE(DecodeSoundFile(dir.File("song.mid"), sound, error));
    EXPECT_NE(error.find("MIDI file, which holds notes but no sound. Render it to a WAV"), std::string::npos) << error;
    EXPECT_NE(error.find("corvala-tracker import"), std::string::npos) << error;
}

// A module whose speed changes: the suggested tempo is its average beat,
// not marked exact, and the channel lines name the samples they play.
TEST(TrackerImportTool, SuggestsTheAverageBeatOfASongWhoseSpeedChanges) {
    testutil::TempDir dir;
    dir.Write("song.mod", songs::SpeedChangeMod());
    const TToolRun run = Tool({"import", dir.File("song.mod"), "-o", dir.File("song.trk")});
    ASSERT_EQ(run.Code, 0) << run.Err;
    EXPECT_NE(run.Out.find("write in the script:  BPM 166.667   (the song's average beat: its tempo changes)"),
              std::string::npos)
        << run.Out;
    EXPECT_EQ(run.Out.find("(exact)"), std::string::npos) << run.Out;
    EXPECT_NE(run.Out.find("tracker channel 0 plays 1\n"), std::string::npos) << run.Out;
    EXPECT_NE(run.Err.find("(to speed 6, tempo 125; 1 change in all)"), std::string::npos) << run.Err;
}
