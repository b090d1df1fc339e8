// Tracker files from plain recordings: tempo, beat grid and onsets found
// with aubio in the music decoded by the engine's own decoder.
#pragma once

#include "media/note_grid.h"

#include <cstdint>
#include <string>
#include <vector>

// Tracker channels written by detection; every onset is note byte 1.
enum TDetectChannel {
    DetectAll = 0,
    DetectLow = 1,
    DetectMid = 2,
    DetectHigh = 3,
    DetectBeats = 4,
    DetectChannels = 5
};

struct TDetectResult {
    TNoteGrid Grid;
    double Seconds = 0;
    double DetectedBpm = 0; // found tempo (0 when --bpm was given)
    // Share of onsets within a tenth of a row of the grid's rows (at the
    // sub-row phase that fits them best), 0 to 1; onsets at random times
    // score a fifth. Below a third, Warnings says so.
    double Confidence = 0;
    double RowOffset = 0; // seconds the onsets sit after the rows' starts, on average (within half a row)
    float Bpm = 0;        // the grid's BPM (given, or the found one as written in a script)
    // Channel 4: a beat every 4 rows from FirstBeatRow, a bar every 16 from FirstBarRow.
    int64_t FirstBeatRow = 0, FirstBarRow = 0;
    double FirstBeat = 0; // seconds: FirstBeatRow's start
    int64_t Onsets = 0, Low = 0, Mid = 0, High = 0, Beats = 0;
    // Onset times in seconds per channel 0-3, before they go to rows.
    std::vector<double> Times[4];
    std::vector<std::string> Warnings;
};

// Mono samples at `sampleRate` in, grid out. `bpm` 0 finds the tempo.
bool DetectRhythm(const std::vector<float>& mono, int sampleRate, double bpm, TDetectResult& result,
                  std::string& error);
// Decodes the file (WAV, OGG, FLAC, MP3, a module) and detects.
bool DetectMusicFile(const std::string& fileName, double bpm, TDetectResult& result, std::string& error);
