#include "song.h"

#include <algorithm>

namespace gen {

namespace {

struct TChord {
    uint8_t Root;   // the chord channel's byte
    uint8_t Bass;   // bass root
    uint8_t Pad[3]; // pad voicing
    uint8_t Arp[4]; // arpeggio tones, low to high
};

// A minor: Am - F - C - G, one chord per bar.
const TChord Chords[4] = {
    {57, 33, {57, 60, 64}, {69, 72, 76, 81}},
    {53, 29, {57, 60, 65}, {65, 69, 72, 77}},
    {60, 36, {55, 60, 64}, {67, 72, 76, 79}},
    {55, 31, {55, 59, 62}, {67, 71, 74, 79}},
};

struct TMelodyNote {
    int Row; // within the pattern
    uint8_t Note;
    int Length;
};

// Two four-bar phrases; B answers A and comes to rest on A4.
const TMelodyNote MelodyA[] = {
    {0, 76, 3},  {3, 69, 3},  {6, 72, 2},  {8, 76, 3},  {11, 74, 2}, {13, 72, 3}, {16, 77, 3}, {19, 76, 3},
    {22, 72, 2}, {24, 69, 4}, {28, 72, 2}, {30, 74, 2}, {32, 76, 3}, {35, 79, 3}, {38, 76, 2}, {40, 74, 2},
    {42, 72, 2}, {44, 74, 2}, {46, 76, 2}, {48, 74, 6}, {54, 71, 2}, {56, 67, 4}, {60, 71, 2}, {62, 74, 2},
};
const TMelodyNote MelodyB[] = {
    {0, 72, 3},  {3, 76, 3},  {6, 81, 2},  {8, 79, 3},  {11, 76, 5}, {16, 77, 3}, {19, 76, 3},
    {22, 74, 2}, {24, 72, 4}, {28, 69, 2}, {30, 72, 2}, {32, 79, 3}, {35, 76, 3}, {38, 72, 2},
    {40, 76, 3}, {43, 79, 5}, {48, 79, 3}, {51, 74, 3}, {54, 71, 2}, {56, 69, 8},
};

// What plays in one pattern.
struct TSection {
    bool Kick, Snare, Hats, OpenHats, Bass, LongBass, Pad, Arp16;
    int Melody;      // 0 none, 1 A, 2 B
    float LeadLevel; // lead velocity
    bool Roll;       // snare roll in the last bar
    bool Crash;      // crash on the first row
    int KickBars;    // bars with kick and bass (4 = all)
};

const TSection Sections[9] = {
    // Kick Snare Hats Open Bass Long Pad Arp16 Mel Lead Roll Crash Bars
    {false, false, false, false, false, false, true, false, 0, 0.0f, true, false, 4}, // intro
    {true, false, true, false, true, false, true, false, 0, 0.0f, false, true, 4},    // groove
    {true, true, true, false, true, false, true, true, 1, 0.85f, false, true, 4},     // theme
    {true, true, true, false, true, false, true, true, 2, 0.85f, false, false, 4},    // answer
    {false, false, false, false, false, true, true, false, 1, 0.6f, true, true, 4},   // breakdown
    {true, true, true, true, true, false, true, true, 1, 1.0f, false, true, 4},       // drop
    {true, true, true, true, true, false, true, true, 2, 1.0f, false, false, 4},      // drop, answer
    {true, true, true, true, true, false, true, true, 1, 1.0f, false, true, 4},       // last theme
    {true, false, true, false, true, false, true, false, 2, 0.7f, false, true, 2},    // outro
};

void Add(TSong& song, int row, int length, TVoice voice, uint8_t note, float velocity, int channel) {
    TNoteEvent e;
    e.Row = row;
    e.LengthRows = length;
    e.Voice = voice;
    e.Note = note;
    e.Velocity = velocity;
    e.Channel = channel;
    song.Events.push_back(e);
}

void AddPattern(TSong& song, int pattern, const TSection& s) {
    using namespace song;
    const int base = pattern * RowsPerPattern;
    if (s.Crash) Add(song, base, 16, TVoice::Crash, CrashNote, 0.8f, CrashChannel);
    for (int bar = 0; bar < 4; ++bar) {
        const TChord& chord = Chords[bar];
        const int b = base + bar * 16;
        const bool groove = bar < s.KickBars;
        if (s.Pad) {
            Add(song, b, 16, TVoice::Pad, chord.Root, 0.8f, ChordChannel);
            for (uint8_t note : chord.Pad) Add(song, b, 16, TVoice::Pad, note, 0.8f, -1);
        }
        for (int r = 0; r < 16; ++r) {
            const int row = b + r;
            if (s.Kick && groove && r % 4 == 0) Add(song, row, 2, TVoice::Kick, KickNote, 1.0f, KickChannel);
            if (s.Snare && (r == 4 || r == 12)) Add(song, row, 2, TVoice::Snare, SnareNote, 0.9f, SnareChannel);
            if (s.Hats && groove) {
                if (r % 4 == 2)
                    Add(song, row, 1, s.OpenHats ? TVoice::OpenHat : TVoice::ClosedHat,
                        s.OpenHats ? OpenHatNote : ClosedHatNote, 0.7f, HatChannel);
                else if (s.Snare && r % 2 == 1)
                    Add(song, row, 1, TVoice::ClosedHat, ClosedHatNote, 0.35f, HatChannel);
            }
            if (s.Bass && groove) {
                const int offsets[16] = {-1, -1, 0, -1, -1, -1, 0, -1, -1, -1, 12, -1, -1, -1, 0, 7};
                if (offsets[r] >= 0)
                    Add(song, row, r == 15 ? 1 : 2, TVoice::Bass, uint8_t(chord.Bass + offsets[r]),
                        r == 15 ? 0.7f : 0.9f, BassChannel);
            }
            // Arpeggio: eighths while the music is sparse, sixteenths when it is full.
            if (s.Arp16 || r % 2 == 0) {
                const int order[16] = {0, 1, 2, 3, 2, 1, 2, 3, 0, 2, 1, 3, 2, 3, 1, 2};
                const float accent = r % 4 == 0 ? 0.8f : 0.55f;
                Add(song, row, 1, TVoice::Arp, chord.Arp[order[r]], accent, ArpChannel);
            }
        }
        if (s.LongBass) Add(song, b, 16, TVoice::Bass, chord.Bass, 0.8f, BassChannel);
    }
    if (s.Roll) {
        const int rows[] = {0, 4, 8, 10, 12, 13, 14, 15};
        for (int i = 0; i < 8; ++i)
            Add(song, base + 48 + rows[i], 1, TVoice::Snare, SnareNote, 0.35f + 0.09f * float(i), SnareChannel);
    }
    if (s.Melody) {
        const TMelodyNote* begin = s.Melody == 1 ? std::begin(MelodyA) : std::begin(MelodyB);
        const TMelodyNote* end = s.Melody == 1 ? std::end(MelodyA) : std::end(MelodyB);
        for (const TMelodyNote* n = begin; n != end; ++n)
            Add(song, base + n->Row, n->Length, TVoice::Lead, n->Note, s.LeadLevel, LeadChannel);
    }
}

} // namespace

TSong MakeSong() {
    using namespace song;
    TSong result;
    result.Rows = RowCount;
    result.Channels = ChannelCount;
    for (int p = 0; p < 9; ++p) AddPattern(result, p, Sections[p]);
    // The final bar: one A minor chord under a last kick and crash.
    const int end = 9 * RowsPerPattern;
    Add(result, end, 2, TVoice::Kick, KickNote, 1.0f, KickChannel);
    Add(result, end, 16, TVoice::Crash, CrashNote, 0.9f, CrashChannel);
    Add(result, end, 16, TVoice::Pad, Chords[0].Root, 0.8f, ChordChannel);
    for (uint8_t note : Chords[0].Pad) Add(result, end, 16, TVoice::Pad, note, 0.8f, -1);
    Add(result, end, 16, TVoice::Bass, Chords[0].Bass, 0.8f, BassChannel);
    Add(result, end, 16, TVoice::Lead, 69, 0.8f, LeadChannel);
    std::stable_sort(result.Events.begin(), result.Events.end(),
                     [](const TNoteEvent& a, const TNoteEvent& b) { return a.Row < b.Row; });
    return result;
}

std::vector<uint8_t> TrackerBytes(const TSong& s) {
    const size_t rows = size_t(s.Rows);
    std::vector<uint8_t> bytes(8 + size_t(s.Channels) * rows, 0);
    auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) bytes[at + size_t(i)] = uint8_t(v >> (8 * i));
    };
    put32(0, uint32_t(s.Channels));
    put32(4, uint32_t(s.Rows));
    for (const TNoteEvent& e : s.Events) {
        if (e.Channel < 0 || e.Channel >= s.Channels || e.Row < 0 || e.Row >= s.Rows) continue;
        bytes[8 + size_t(e.Channel) * rows + size_t(e.Row)] = e.Note;
    }
    return bytes;
}

std::vector<int> NoteRows(const TSong& s, int channel, uint8_t note) {
    std::vector<int> rows;
    for (const TNoteEvent& e : s.Events)
        if (e.Channel == channel && e.Note == note) rows.push_back(e.Row);
    return rows;
}

} // namespace gen
