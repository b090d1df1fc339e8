// The notes of the production's music: one table that both the synthesizer
// and the tracker file are made from, so every note byte sits on the row at
// which the listener hears the note.
//
// Timing: Bpm beats per minute, 4 rows to a beat, row r starts at
// r * 60 / (4 * Bpm) seconds. At 125 BPM a row is 0.12 s, exactly 5292
// frames at 44.1 kHz, so every note starts on a whole frame.
#pragma once

#include <cstdint>
#include <vector>

namespace gen {

// Tracker channels and the note bytes on them.
namespace song {
constexpr int KickChannel = 0;  // note 36 on every kick
constexpr int SnareChannel = 1; // note 38 on every snare hit (rolls included)
constexpr int HatChannel = 2;   // note 42 closed hat, 46 open hat
constexpr int BassChannel = 3;  // the bass note (MIDI number)
constexpr int LeadChannel = 4;  // the lead melody note (MIDI number)
constexpr int ArpChannel = 5;   // the arpeggio note (MIDI number)
constexpr int ChordChannel = 6; // the chord's root (MIDI number) at each chord change
constexpr int CrashChannel = 7; // note 49 on every crash cymbal (section starts)
constexpr int ChannelCount = 8;

constexpr uint8_t KickNote = 36, SnareNote = 38, ClosedHatNote = 42, OpenHatNote = 46, CrashNote = 49;

constexpr double Bpm = 125.0;
constexpr int SampleRate = 44100;
constexpr int FramesPerRow = 5292; // SampleRate * 60 / (4 * Bpm)
constexpr int RowsPerPattern = 64;
// Nine patterns of four bars, then one bar on the final chord.
constexpr int RowCount = 9 * 64 + 16;
} // namespace song

enum class TVoice : uint8_t { Kick, Snare, ClosedHat, OpenHat, Crash, Bass, Lead, Arp, Pad };

// One note. Channel is the tracker channel that carries it, or -1 for the
// voices of a chord that only sound (the chord channel carries the root).
struct TNoteEvent {
    int Row = 0;
    int LengthRows = 1;
    TVoice Voice = TVoice::Kick;
    uint8_t Note = 0;      // MIDI note number (drums: their fixed byte)
    float Velocity = 1.0f; // 0 .. 1
    int Channel = -1;
};

struct TSong {
    std::vector<TNoteEvent> Events; // sorted by row
    int Rows = 0;
    int Channels = 0;
};

// The production's music.
TSong MakeSong();

// The tracker file: channel count, row count (little-endian 32-bit), then
// each channel's note bytes, row 0 first. Rows without a note hold 0.
std::vector<uint8_t> TrackerBytes(const TSong& song);

// Rows of `channel` that hold `note`, in order.
std::vector<int> NoteRows(const TSong& song, int channel, uint8_t note);

} // namespace gen
