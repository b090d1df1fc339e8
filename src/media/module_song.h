// Tracker modules (MOD, XM, S3M, IT and every other format libopenmpt reads):
// the notes of a song in play order with their true start times, and the
// song rendered to PCM for playback.
#pragma once

#include "media/sound_decode.h"

#include <cstdint>
#include <string>
#include <vector>

struct TModuleNote {
    double Seconds = 0; // start of the row the note is on
    int Channel = 0;    // module channel, from 0
    int Note = 0;       // 1 = C-0 ... 120 = B-9
    int Instrument = 0; // instrument (or sample) playing it, from 1; 0 when none was set yet
    int Volume = 64;    // volume column, else the set-volume effect, else the sample's default; 0 to 64
    int Order = 0;
    int Pattern = 0;
    int Row = 0;
};

struct TModuleSong {
    std::string Type; // libopenmpt's short format name ("mod", "xm", ...)
    int Channels = 0;
    std::vector<TModuleNote> Notes; // in play order
    double FirstRowSeconds = 0;     // duration of the song's first row
    int FirstSpeed = 0, FirstTempo = 0;
    double Seconds = 0;     // length, played through once
    int64_t RowsPlayed = 0; // module rows played through once
    // The first row whose speed or tempo differs from the first row's, and
    // how many rows start a different speed or tempo from the row before.
    int TempoChanges = 0;
    // Names of the instruments (or, without instruments, the samples) that
    // note numbers' Instrument counts from 1 index: InstrumentNames[i - 1].
    std::vector<std::string> InstrumentNames;
    int ChangeOrder = 0, ChangePattern = 0, ChangeRow = 0;
    int ChangeSpeed = 0, ChangeTempo = 0;
    // Where the pattern data of a file cut short ends ("pattern 3 from row
    // 17 on"); "" for a whole file. The cells past the end read as empty.
    std::string CutShort;
};

// True when libopenmpt recognises the bytes as a module.
bool IsModuleData(const std::vector<uint8_t>& data);
// Same for a file, from its first bytes; false when it cannot be read.
bool IsModuleFile(const std::string& fileName);
// Reads a module file and renders it once through at 44.1 kHz stereo, as
// music is played (DecodeSoundFile takes modules through this).
bool DecodeModuleFile(const std::string& fileName, TDecodedSound& sound, std::string& error);
// Plays the song through once (no loop, channels muted) to time every row.
// The tempo to write in a script for the song, `rowsPerBeat` module rows to
// a beat: its first row's when the tempo never changes, else its average
// beat over the whole song (rows played over seconds), which keeps its bars
// on the engine's bars on average.
double SuggestedModuleBpm(const TModuleSong& song, int rowsPerBeat);
bool ReadModuleSong(const std::vector<uint8_t>& data, TModuleSong& song, std::string& error);
// Renders the song once through, no loop, at `sampleRate`, 16-bit stereo.
bool RenderModule(const std::vector<uint8_t>& data, int sampleRate, TDecodedSound& sound, std::string& error);
// Default volume (0 to 64) of the sample that `instrument` plays for `note`
// in the module's own header; 64 where the format or file does not say.
// Reads the bytes with bounds; a damaged header gives 64.
class TSampleVolumes {
public:
    explicit TSampleVolumes(const std::vector<uint8_t>& data, const std::string& type, int samples);
    int Volume(int instrument, int note) const;

private:
    // Per instrument (index from 1): sample volume per note 1..120, or one
    // entry for every note.
    std::vector<std::vector<uint8_t>> table;
};
