// Standard MIDI File reader (formats 0 and 1): the notes with their start
// times in seconds, the tempo map applied. Trusts nothing in the file: every
// read is bounded by the file and by its chunk, counts are capped, and a
// damaged file fails with a reason naming the byte offset.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct TMidiNote {
    double Seconds = 0; // start time
    int64_t Tick = 0;   // start in ticks from the file's start
    int Track = 0;      // track chunk, from 0
    int Channel = 0;    // MIDI channel, 0 to 15 (9 = drums)
    int Key = 0;        // note number, 0 to 127
    int Velocity = 0;   // 1 to 127
    int Program = 0;    // program of the channel when the note starts, 0 to 127
};

struct TMidiSong {
    int Format = 0;
    int TrackCount = 0;
    // Notes sorted by time, then track, then their order in the file.
    std::vector<TMidiNote> Notes;
    // Tempo at tick 0 in microseconds per quarter note (500000 = 120 BPM
    // when the file sets none); 0 for files timed in SMPTE frames.
    int64_t FirstTempo = 500000;
    // Tempo changes after tick 0 (their tick and seconds).
    struct TTempoChange {
        int64_t Tick = 0;
        double Seconds = 0;
        int64_t MicrosPerQuarter = 0;
    };
    std::vector<TTempoChange> TempoChanges;
    int TicksPerQuarter = 0; // 0 for SMPTE timing
    double Seconds = 0;      // the last event's time (end of the last track)
};

// True when the bytes start with a MIDI header chunk ("MThd").
bool IsMidiData(const std::vector<uint8_t>& data);
// Reads the whole file. On failure `error` reads "offset N: reason".
bool ReadMidiSong(const std::vector<uint8_t>& data, TMidiSong& song, std::string& error);
