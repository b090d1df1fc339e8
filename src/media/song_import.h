// Turns a song (a tracker module or a Standard MIDI File, told apart by
// content) into a note grid at the engine's 4 rows to a beat: each note goes
// to the row nearest to its true start time at the chosen BPM.
#pragma once

#include "media/note_grid.h"

#include <cstdint>
#include <string>
#include <vector>

struct TImportOptions {
    double Bpm = 0;            // 0: the song's own tempo at its first row
    int RowsPerBeat = 4;       // module rows that make one beat of the song
    bool Instruments = false;  // modules: note byte = instrument number
    int MinVolume = 0;         // notes quieter than this are left out (module 0-64, MIDI velocity)
    std::vector<int> Channels; // module or MIDI channels (or tracks) to keep, from 1; empty = all
    bool Tracks = false;       // MIDI: group notes by track instead of by channel
};

struct TImportResult {
    TNoteGrid Grid;
    std::string Kind;          // "module (xm)", "MIDI file (format 1)"
    double SongBpm = 0;        // the tempo suggested for the script: the song's own at its start, exactly,
                               // or, for a module whose tempo changes, its average beat
    bool TempoChanges = false; // SongBpm is an average: the module's tempo changes
    float Bpm = 0;             // the BPM the grid is made for (the one to write in the script)
    double Seconds = 0;        // the song's length
    int64_t SongRows = 0;      // module rows played (MIDI: engine rows at the song's tempo)
    int64_t NotesWritten = 0;
    int64_t NotesQuiet = 0;              // left out by the volume limit
    int64_t Collisions = 0;              // left out: their row already held a note of that channel
    double ApartBpm = 0;                 // a multiple of the song's BPM keeping them apart; 0 when none found
    std::vector<std::string> ChannelMap; // which tracker channels hold what
    std::vector<std::string> Warnings;
    // A module cut short that still held notes: where its data ends and how
    // many notes were read (also the first of Warnings); "" for a whole file.
    std::string CutShort;
};

// Reads the song from bytes; `error` says why it cannot ("offset N: ..."
// for MIDI files).
bool ImportSong(const std::vector<uint8_t>& data, const TImportOptions& options, TImportResult& result,
                std::string& error);
// True when the bytes are a song ImportSong takes rather than a tracker file.
bool IsSongData(const std::vector<uint8_t>& data);
// Same for a file, from its first bytes; false when it cannot be read.
bool IsSongFile(const std::string& fileName);
// Reads and imports a song file; `error` names no file.
bool ImportSongFile(const std::string& fileName, const TImportOptions& options, TImportResult& result,
                    std::string& error);
// The engine row nearest to `seconds` at `bpm` (halves to even).
int64_t NearestRow(double seconds, float bpm);
// A BPM rounded to what a script line carries (3 decimals).
float ScriptBpm(double bpm);

// `value` with at most `decimals` decimals, trailing zeros (and a bare
// point) dropped: "202.5", "125". For tempos and times in messages.
std::string DecimalText(double value, int decimals);
