// Song import: a MOD and a MIDI file written byte by byte come out as note
// grids with exact channels, rows, notes, instruments and volumes, across a
// tempo change; damaged MIDI files fail with the offset.
#include <gtest/gtest.h>

#include "media/midi_file.h"
#include "media/module_song.h"
#include "media/song_import.h"
#include "song_builders.h"

#include <libopenmpt/libopenmpt.hpp>

using songs::TModCell;

namespace {

// Internal note numbers of the ProTracker periods used (1 = C-0).
constexpr int C1 = 49, D1 = 51, E1 = 53, C2 = 61;

// Pattern 0 at speed 6, tempo 125 (a row is 0.12 s: BPM 125), pattern 1 at
// speed 2 (0.04 s a row, three module rows to an engine row).
std::vector<uint8_t> TestMod() {
    auto p0 = songs::EmptyPattern(), p1 = songs::EmptyPattern();
    p0[0][0] = {songs::PeriodC1, 1};
    p0[4][0] = {songs::PeriodD1, 1};
    p0[8][0] = {songs::PeriodE1, 2};             // sample 2: default volume 20
    p0[12][0] = {songs::PeriodC1, 1, 0xC, 0x10}; // set volume 16
    p0[2][1] = {songs::PeriodC2, 2, 0xC, 0x40};  // set volume 64
    p0[0][3] = {0, 0, 0xF, 6};
    p1[0][3] = {0, 0, 0xF, 2};
    p1[0][0] = {songs::PeriodC1, 1}; // engine row 64
    p1[1][0] = {songs::PeriodD1, 1}; // 64.33: falls on row 64 too
    p1[6][0] = {songs::PeriodE1, 1}; // 66
    p1[12][0] = {songs::PeriodC1};   // 68, sample 1 still playing
    return songs::Mod({p0, p1});
}

std::vector<std::pair<int, int>> Notes(const TNoteGrid& grid, size_t channel) {
    std::vector<std::pair<int, int>> notes;
    for (int32_t r = 0; r < grid.Rows; ++r)
        if (grid.At(channel, r)) notes.push_back({r, grid.At(channel, r)});
    return notes;
}

using Cells = std::vector<std::pair<int, int>>;

} // namespace

TEST(ModuleImport, NotesLandOnTheRowsOfTheirTrueTimes) {
    TImportResult r;
    std::string error;
    // The speed changes: the suggested tempo is the song's average beat,
    // 128 rows in 10.24 s; at its first row's tempo, given here, the notes
    // land on the rows of their true times.
    TImportOptions options;
    options.Bpm = 125;
    ASSERT_TRUE(ImportSong(TestMod(), options, r, error)) << error;
    EXPECT_DOUBLE_EQ(r.SongBpm, 187.5);
    EXPECT_TRUE(r.TempoChanges);
    EXPECT_EQ(r.Bpm, 125.0f);
    EXPECT_EQ(r.SongRows, 128);
    EXPECT_NEAR(r.Seconds, 10.24, 0.001);
    ASSERT_EQ(r.Grid.Channels.size(), 4u);
    EXPECT_EQ(r.Grid.Rows, 86); // ceil(10.24 s at 8.33 rows a second)
    EXPECT_EQ(Notes(r.Grid, 0), (Cells{{0, C1}, {4, D1}, {8, E1}, {12, C1}, {64, C1}, {66, E1}, {68, C1}}));
    EXPECT_EQ(Notes(r.Grid, 1), (Cells{{2, C2}}));
    EXPECT_TRUE(Notes(r.Grid, 2).empty());
    EXPECT_TRUE(Notes(r.Grid, 3).empty());
    EXPECT_EQ(r.NotesWritten, 8);
    // The second note on row 64 is counted, and twice the tempo parts them.
    EXPECT_EQ(r.Collisions, 1);
    EXPECT_EQ(r.ApartBpm, 375.0);
    ASSERT_EQ(r.Warnings.size(), 2u);
    EXPECT_NE(r.Warnings[0].find("order 1, pattern 1, row 0 (to speed 2, tempo 125"), std::string::npos)
        << r.Warnings[0];
    // 128 rows in 10.24 s: 4-row beats average 187.5 BPM.
    EXPECT_NE(r.Warnings[0].find("averaged over the song a beat of 4 rows is 187.5 BPM"), std::string::npos)
        << r.Warnings[0];
    EXPECT_NE(r.Warnings[1].find("1 notes fell on a row"), std::string::npos) << r.Warnings[1];
    EXPECT_NE(r.Warnings[1].find("at BPM 375 (2 times the song's)"), std::string::npos) << r.Warnings[1];
}

TEST(ModuleImport, OptionsPickInstrumentsVolumesChannelsAndTempo) {
    TImportResult r;
    std::string error;
    // At the first row's tempo (the suggestion is the average beat, 187.5).
    TImportOptions instruments;
    instruments.Bpm = 125;
    instruments.Instruments = true;
    ASSERT_TRUE(ImportSong(TestMod(), instruments, r, error)) << error;
    EXPECT_EQ(Notes(r.Grid, 0), (Cells{{0, 1}, {4, 1}, {8, 2}, {12, 1}, {64, 1}, {66, 1}, {68, 1}}));
    EXPECT_EQ(Notes(r.Grid, 1), (Cells{{2, 2}}));

    // Volume column or set-volume effect first, else the sample's default.
    TImportOptions loud;
    loud.Bpm = 125;
    loud.MinVolume = 32;
    ASSERT_TRUE(ImportSong(TestMod(), loud, r, error)) << error;
    EXPECT_EQ(Notes(r.Grid, 0), (Cells{{0, C1}, {4, D1}, {64, C1}, {66, E1}, {68, C1}}));
    EXPECT_EQ(Notes(r.Grid, 1), (Cells{{2, C2}}));
    EXPECT_EQ(r.NotesQuiet, 2);

    TImportOptions second;
    second.Bpm = 125;
    second.Channels = {2};
    ASSERT_TRUE(ImportSong(TestMod(), second, r, error)) << error;
    ASSERT_EQ(r.Grid.Channels.size(), 1u);
    EXPECT_EQ(Notes(r.Grid, 0), (Cells{{2, C2}}));
    second.Channels = {5};
    EXPECT_FALSE(ImportSong(TestMod(), second, r, error));
    EXPECT_NE(error.find("no channel 5 (it has 4)"), std::string::npos) << error;

    // At twice the BPM every module row of pattern 0 takes two engine rows.
    TImportOptions fast;
    fast.Bpm = 250;
    ASSERT_TRUE(ImportSong(TestMod(), fast, r, error)) << error;
    EXPECT_EQ(r.Collisions, 0);
    EXPECT_EQ(Notes(r.Grid, 0),
              (Cells{{0, C1}, {8, D1}, {16, E1}, {24, C1}, {128, C1}, {129, D1}, {132, E1}, {136, C1}}));

    // Two module rows to the song's beat: the suggested BPM doubles.
    TImportOptions half;
    half.RowsPerBeat = 2;
    ASSERT_TRUE(ImportSong(TestMod(), half, r, error)) << error;
    EXPECT_DOUBLE_EQ(r.SongBpm, 375.0);
}

TEST(MidiImport, TempoMapChordsAndDrumsGiveChannelsAndRows) {
    TMidiSong song;
    std::string error;
    ASSERT_TRUE(ReadMidiSong(songs::TestMidi(), song, error)) << error;
    ASSERT_EQ(song.Notes.size(), 9u);
    EXPECT_DOUBLE_EQ(song.Notes[2].Seconds, 1.0);      // tick 960 at 120 BPM
    EXPECT_DOUBLE_EQ(song.Notes.back().Seconds, 2.25); // tick 2400: 480 ticks at 240 BPM after 2.0 s
    ASSERT_EQ(song.TempoChanges.size(), 1u);
    EXPECT_DOUBLE_EQ(song.TempoChanges[0].Seconds, 2.0);

    TImportResult r;
    ASSERT_TRUE(ImportSong(songs::TestMidi(), {}, r, error)) << error;
    EXPECT_DOUBLE_EQ(r.SongBpm, 120.0);
    // Channel 1 plays a three-note chord: three tracker channels; drums one.
    ASSERT_EQ(r.Grid.Channels.size(), 4u);
    EXPECT_EQ(Notes(r.Grid, 0), (Cells{{0, 48}, {8, 50}, {16, 60}, {18, 72}}));
    EXPECT_EQ(Notes(r.Grid, 1), (Cells{{16, 64}}));
    EXPECT_EQ(Notes(r.Grid, 2), (Cells{{16, 67}}));
    EXPECT_EQ(Notes(r.Grid, 3), (Cells{{0, 36}, {16, 36}, {17, 42}}));
    ASSERT_EQ(r.ChannelMap.size(), 2u);
    EXPECT_EQ(r.ChannelMap[0], "tracker channels 0-2: MIDI channel 1 (program 5)");
    EXPECT_EQ(r.ChannelMap[1], "tracker channel 3: MIDI channel 10 (drums)");
    EXPECT_NE(r.Warnings.at(0).find("tick 1920 (2 s, to 240 BPM"), std::string::npos) << r.Warnings[0];

    TImportOptions loud;
    loud.MinVolume = 50; // leaves out the quiet note of velocity 30
    ASSERT_TRUE(ImportSong(songs::TestMidi(), loud, r, error)) << error;
    EXPECT_EQ(Notes(r.Grid, 0), (Cells{{0, 48}, {8, 50}, {16, 60}}));

    TImportOptions tracks;
    tracks.Tracks = true;
    tracks.Channels = {3};
    ASSERT_TRUE(ImportSong(songs::TestMidi(), tracks, r, error)) << error;
    ASSERT_EQ(r.Grid.Channels.size(), 1u);
    EXPECT_EQ(r.ChannelMap.at(0), "tracker channel 0: track 3 (MIDI channel 10, drums)");
}

// libopenmpt reads the missing end of a module as empty cells and says
// nothing: an import that lost every note is an error, one that lost some
// warns with where the data ends and the count read; a whole file says
// nothing. A MIDI file cut anywhere fails, never imports fewer notes.
TEST(ModuleImport, AFileCutShortIsNamedNotReadAsSilence) {
    const std::vector<uint8_t> whole = TestMod();
    const size_t patternData = 1084; // header, sample headers, order list, tag
    TImportResult r;
    std::string error;
    ASSERT_TRUE(ImportSong(whole, {}, r, error)) << error;
    EXPECT_EQ(r.CutShort, "");
    const int64_t allNotes = r.NotesWritten;

    const std::vector<uint8_t> headerOnly(whole.begin(), whole.begin() + patternData);
    EXPECT_FALSE(ImportSong(headerOnly, {}, r, error));
    EXPECT_EQ(error, "the file is cut short (pattern 0 from row 0 on lies past its end) and no notes are left");

    // Into pattern 1, after its row 3: the notes of pattern 0 and two of 1.
    const std::vector<uint8_t> cut(whole.begin(), whole.begin() + patternData + 1024 + 3 * 16 + 5);
    ASSERT_TRUE(ImportSong(cut, {}, r, error)) << error;
    EXPECT_EQ(r.CutShort, "the file is cut short: pattern 1 from row 3 on lies past its end, so the notes there are "
                          "missing; 7 notes were read");
    ASSERT_FALSE(r.Warnings.empty());
    EXPECT_EQ(r.Warnings.front(), r.CutShort);
    EXPECT_LT(r.NotesWritten, allNotes);

    // A whole module without a note is no tracker either.
    EXPECT_FALSE(ImportSong(songs::Mod({songs::EmptyPattern()}), {}, r, error));
    EXPECT_EQ(error, "the module holds no notes");

    const std::vector<uint8_t> midi = songs::TestMidi();
    for (size_t size = 14; size < midi.size(); ++size) {
        EXPECT_FALSE(ImportSong({midi.begin(), midi.begin() + std::ptrdiff_t(size)}, {}, r, error)) << size;
        EXPECT_EQ(error.rfind("offset ", 0), 0u) << size << ": " << error;
    }
}

TEST(MidiImport, DamagedFilesFailWithTheOffset) {
    const std::vector<uint8_t> good = songs::TestMidi();
    struct Case {
        std::vector<uint8_t> bytes;
        std::string expected;
    };
    std::vector<Case> cases;
    cases.push_back({{good.begin(), good.begin() + 30}, "runs past the end"});
    cases.push_back({songs::MidiFile(2, 480, {}), "offset 8: MIDI format 2"});
    cases.push_back({songs::MidiFile(1, 0, {}), "offset 12: a time division of 0"});
    cases.push_back({songs::MidiFile(0, 96, {{0x00, 0x40, 0x40}}), "offset 23: a data byte without a status byte"});
    cases.push_back({songs::MidiFile(0, 96, {{0xFF, 0xFF, 0xFF, 0xFF, 0x7F}}), "offset 22: a variable-length number"});
    cases.push_back({songs::MidiFile(0, 96, {{0x00, 0x90, 0x40}}), "offset 25: the chunk ends inside a channel event"});
    cases.push_back({songs::MidiFile(0, 96, {{0x00, 0xFF, 0x51, 0x03, 0, 0, 0}}), "a tempo of 0"});
    auto missingTrack = songs::MidiFile(1, 96, {});
    missingTrack[11] = 2;
    cases.push_back({missingTrack, "the file ends after 0 of its 2 tracks"});
    for (const Case& c : cases) {
        TMidiSong song;
        std::string error;
        EXPECT_FALSE(ReadMidiSong(c.bytes, song, error)) << c.expected;
        EXPECT_NE(error.find(c.expected), std::string::npos) << error;
    }
    TImportResult r;
    std::string error;
    EXPECT_FALSE(ImportSong(std::vector<uint8_t>(2000, 7), {}, r, error));
    EXPECT_EQ(error, "neither a tracker module libopenmpt reads nor a Standard MIDI File");
}

TEST(ModuleMusic, RendersOnceThroughAtCdRate) {
    TDecodedSound sound;
    std::string error;
    ASSERT_TRUE(RenderModule(TestMod(), 44100, sound, error)) << error;
    EXPECT_EQ(sound.Channels, 2);
    EXPECT_EQ(sound.SampleRate, 44100);
    EXPECT_NEAR(sound.Seconds(), 10.24, 0.01);
    int16_t peak = 0;
    for (int16_t s : sound.Samples) peak = std::max<int16_t>(peak, int16_t(std::abs(s)));
    EXPECT_GT(peak, 1000);
}
