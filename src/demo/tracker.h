// The tracker: a grid of note bytes (one per channel and row, 4 rows to a
// beat) and a tempo; converts demo time to rows and back, and computes the
// note envelopes that drive effect inputs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class TDemoTracker {
public:
    // Reads a tracker file: channel count N and row count M (signed 32-bit,
    // little-endian), then N x M note bytes, channel-major. Bytes missing at
    // the end stay 0. A missing file raises the application error; a header
    // that is short, negative or beyond the limits is a script error, and
    // the function returns false.
    bool LoadTrack(const std::string& fileName);
    // Same from bytes in memory; `name` is used in messages.
    bool LoadTrackData(const std::string& name, const std::vector<uint8_t>& data);

    // trunc(t * 4 / 60 * BPM), in extended precision; a positive time at or
    // past RowTime(r) (a row's start as a float) lies in row r or later, so
    // RowAt(RowTime(r)) == r for every row.
    int32_t RowAt(float seconds) const;
    // (60 / BPM) * (row / 4).
    float RowTime(int32_t row) const;
    // Sum of triangle envelopes of half-width fadeTime around each row of
    // `channel` holding `note`, looked for from RowAt(fadeTime) rows back to
    // RowAt(leadTime) rows ahead of the current row. Row 0 never counts.
    // Allocates nothing. A channel the tracker does not have reports
    // "Error reading demotrack " once per channel and gives 0.
    float InputValue(int32_t channel, uint8_t note, float fadeTime, float leadTime, float time) const;

    int32_t ChannelCount() const { return int32_t(Channels.size()); }
    // Rows of channel 0 as the file declares them (0 without channels).
    int32_t RowCount() const { return Channels.empty() ? 0 : Rows; }
    // Note byte at (channel, row); 0 where the file had no data.
    uint8_t Note(int32_t channel, int32_t row) const;

    // Channels[c] holds the bytes the file supplied for channel c; rows past
    // its end (up to Rows) read as 0, so a short file costs no memory.
    std::vector<std::vector<uint8_t>> Channels;
    int32_t Rows = 0;
    float BPM = 0;

private:
    mutable std::vector<int32_t> reportedChannels;
};
