// Tracker files from plain recordings: tempo, beat grid and onsets found
// with aubio in the music decoded by the engine's own decoder.
#pragma once

#include "media/note_grid.h"

#include <cstdint>
#include <string>
#include <vector>

// Tracker channels written by detection; every onset is note byte 1.
enum TDetectChannel { DetectAll = 0, DetectLow = 1, DetectMid = 2, DetectHigh = 3, DetectBeats = 4, DetectChannels = 5 };

struct TDetectResult {
    TNoteGrid Grid;
    double Seconds = 0;
    double DetectedBpm = 0;  // found tempo (0 when --bpm was given)
    double Confidence = 0;   // share of onsets on the beat grid, 0 (none) to 1 (all)
    float Bpm = 0;           // the grid's BPM (given, or the found one as written in a script)
    double FirstBeat = 0;    // seconds
    int64_t Onsets = 0, Low = 0, Mid = 0, High = 0, Beats = 0;
    // Onset times in seconds per channel 0-3, before they go to rows.
    std::vector<double> Times[4];
    std::vector<std::string> Warnings;
};

// Mono samples at `sampleRate` in, grid out. `bpm` 0 finds the tempo.
bool DetectRhythm(const std::vector<float>& mono, int sampleRate, double bpm, TDetectResult& result, std::string& error);
// Decodes the file (WAV, OGG, FLAC, MP3, a module) and detects.
bool DetectMusicFile(const std::string& fileName, double bpm, TDetectResult& result, std::string& error);
