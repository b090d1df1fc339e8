// A plain grid of note bytes, one per channel and row (4 rows to a beat), as
// the tracker file stores it, with that file's reader and writer. Shared by
// the song import and the tracker tool; the demo's tracker keeps its own
// reader with script-error reports.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct TNoteGrid {
    // Channels[c][r]: note byte of row r of channel c; 0 = no note. Every
    // channel holds exactly Rows bytes.
    std::vector<std::vector<uint8_t>> Channels;
    int32_t Rows = 0;

    // Makes `channels` channels of `rows` zero bytes.
    void Resize(int32_t channels, int32_t rows);
    uint8_t At(size_t channel, int32_t row) const { return Channels[channel][size_t(row)]; }
};

// Tracker file bytes: channel count and row count (signed 32-bit,
// little-endian), then every channel's note bytes in turn.
std::vector<uint8_t> EncodeTrackerFile(const TNoteGrid& grid);
// Reads tracker file bytes strictly: a short header, negative counts, counts
// beyond the engine's limits, a grid cut short or bytes after it fail with a
// reason naming the byte offset. `name` starts the message.
bool DecodeTrackerFile(const std::string& name, const std::vector<uint8_t>& data, TNoteGrid& grid, std::string& error);

// Reads a whole file of at most `maxBytes` bytes. Fails, with a message
// naming the file, when it cannot be opened, is a folder, or is larger.
bool ReadWholeFile(const std::string& name, int64_t maxBytes, std::vector<uint8_t>& data, std::string& error);
