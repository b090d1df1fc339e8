// Tiny songs written byte by byte for the import tests and the fuzz seeds: a
// 4-channel MOD and a Standard MIDI File.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace songs {

// One MOD cell: ProTracker period (0 = none), sample (0 = none), effect, parameter.
struct TModCell {
    int Period = 0, Sample = 0, Effect = 0, Param = 0;
};

// Periods of ProTracker octave 1 (C-1 = 856 ... B-1 = 453); octave 2 halves them.
constexpr int PeriodC1 = 856, PeriodD1 = 762, PeriodE1 = 678, PeriodC2 = 428;

// A 4-channel "M.K." module (or "6CHN", "8CHN" with `channels`) of
// `patterns` patterns played in order. Sample
// 1 has default volume 64, sample 2 volume 20; both are short loops of a
// square wave. cells[pattern][row][channel].
inline std::vector<uint8_t> Mod(const std::vector<std::vector<std::vector<TModCell>>>& cells, int channels = 4) {
    std::vector<uint8_t> out(20, 0);
    const char* title = "corvala test";
    for (int i = 0; title[i]; ++i) out[size_t(i)] = uint8_t(title[i]);
    const int sampleWords = 32;
    for (int s = 0; s < 31; ++s) {
        std::vector<uint8_t> header(30, 0);
        if (s < 2) {
            header[22] = 0;
            header[23] = sampleWords;      // length in words
            header[25] = s == 0 ? 64 : 20; // default volume
            header[26] = 0;
            header[27] = 0; // loop start
            header[28] = 0;
            header[29] = sampleWords; // loop length
        } else {
            header[29] = 1;
        }
        out.insert(out.end(), header.begin(), header.end());
    }
    out.push_back(uint8_t(cells.size()));
    out.push_back(127);
    for (int o = 0; o < 128; ++o) out.push_back(uint8_t(o < int(cells.size()) ? o : 0));
    const std::string tag = channels == 4 ? "M.K." : std::to_string(channels) + "CHN";
    for (char c : tag) out.push_back(uint8_t(c));
    for (const auto& pattern : cells)
        for (int row = 0; row < 64; ++row)
            for (int ch = 0; ch < channels; ++ch) {
                TModCell cell;
                if (row < int(pattern.size()) && ch < int(pattern[size_t(row)].size()))
                    cell = pattern[size_t(row)][size_t(ch)];
                out.push_back(uint8_t((cell.Sample & 0xF0) | ((cell.Period >> 8) & 0x0F)));
                out.push_back(uint8_t(cell.Period & 0xFF));
                out.push_back(uint8_t(((cell.Sample & 0x0F) << 4) | (cell.Effect & 0x0F)));
                out.push_back(uint8_t(cell.Param));
            }
    for (int s = 0; s < 2; ++s)
        for (int i = 0; i < sampleWords * 2; ++i) out.push_back(uint8_t(i % 16 < 8 ? 100 : 156));
    return out;
}

// An empty pattern grid: 64 rows of 4 empty cells.
inline std::vector<std::vector<TModCell>> EmptyPattern() {
    return std::vector<std::vector<TModCell>>(64, std::vector<TModCell>(4));
}

// Two patterns with a note of sample 1 on channel 1 every 4 rows: the first
// at speed 3 (0.06 s a row at tempo 125), the second at speed 6 (0.12 s).
// 128 rows in 11.52 s: on average a 4-row beat is 0.36 s, 166.667 BPM.
inline std::vector<uint8_t> SpeedChangeMod() {
    std::vector<std::vector<std::vector<TModCell>>> cells(2, EmptyPattern());
    for (int p = 0; p < 2; ++p)
        for (int row = 0; row < 64; row += 4) cells[size_t(p)][size_t(row)][0] = {PeriodC1, 1, 0, 0};
    cells[0][0][1] = {0, 0, 0xF, 3};
    cells[1][0][1] = {0, 0, 0xF, 6};
    return Mod(cells);
}

// MIDI building: a track chunk from raw event bytes (delta times included).
inline void VarLen(std::vector<uint8_t>& out, uint32_t value) {
    uint8_t bytes[4];
    int n = 0;
    do {
        bytes[n++] = uint8_t(value & 0x7F);
        value >>= 7;
    } while (value && n < 4);
    while (n-- > 0) out.push_back(uint8_t(bytes[n] | (n > 0 ? 0x80 : 0)));
}

inline std::vector<uint8_t> Chunk(const char* id, const std::vector<uint8_t>& body) {
    std::vector<uint8_t> out(id, id + 4);
    const uint32_t n = uint32_t(body.size());
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(uint8_t(n >> shift));
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

inline std::vector<uint8_t> MidiFile(int format, int division, const std::vector<std::vector<uint8_t>>& tracks) {
    std::vector<uint8_t> header = {
        0, uint8_t(format), 0, uint8_t(tracks.size()), uint8_t(division >> 8), uint8_t(division & 0xFF)};
    std::vector<uint8_t> out = Chunk("MThd", header);
    for (const auto& t : tracks) {
        const auto chunk = Chunk("MTrk", t);
        out.insert(out.end(), chunk.begin(), chunk.end());
    }
    return out;
}

// Helpers appending one event with its delta time.
inline void Event(std::vector<uint8_t>& track, uint32_t delta, std::vector<uint8_t> bytes) {
    VarLen(track, delta);
    track.insert(track.end(), bytes.begin(), bytes.end());
}
inline void Tempo(std::vector<uint8_t>& track, uint32_t delta, uint32_t microsPerQuarter) {
    Event(
        track, delta,
        {0xFF, 0x51, 0x03, uint8_t(microsPerQuarter >> 16), uint8_t(microsPerQuarter >> 8), uint8_t(microsPerQuarter)});
}
inline void EndOfTrack(std::vector<uint8_t>& track) { Event(track, 0, {0xFF, 0x2F, 0x00}); }

// The test song at 480 ticks a quarter: 120 BPM, 240 BPM from tick 1920
// (2.0 s). Channel 1 (program 5): a note at 0, at tick 960 (1.0 s), a
// C-major chord (60 64 67) at tick 1920, a note at tick 2400 (2.25 s);
// channel 10 (drums): note 36 at 0 and 1920, note 42 at 2160 (2.125 s).
// Uses running status and note-on with velocity 0 as note-off.
inline std::vector<uint8_t> TestMidi() {
    std::vector<uint8_t> tempo;
    Tempo(tempo, 0, 500000);
    Tempo(tempo, 1920, 250000);
    EndOfTrack(tempo);
    std::vector<uint8_t> melody;
    Event(melody, 0, {0xC0, 5});
    Event(melody, 0, {0x90, 48, 100});
    Event(melody, 240, {48, 0});  // running status, velocity 0 = off
    Event(melody, 720, {50, 90}); // tick 960
    Event(melody, 480, {0x80, 50, 0});
    Event(melody, 480, {0x90, 60, 80}); // tick 1920: chord
    Event(melody, 0, {64, 81});
    Event(melody, 0, {67, 82});
    Event(melody, 240, {60, 0});
    Event(melody, 0, {64, 0});
    Event(melody, 0, {67, 0});
    Event(melody, 240, {72, 30}); // tick 2400, quiet
    Event(melody, 120, {72, 0});
    EndOfTrack(melody);
    std::vector<uint8_t> drums;
    Event(drums, 0, {0x99, 36, 127});
    Event(drums, 1920, {36, 120});
    Event(drums, 240, {42, 70});
    Event(drums, 10, {0x89, 42, 0});
    EndOfTrack(drums);
    return MidiFile(1, 480, {tempo, melody, drums});
}

} // namespace songs
