#include "media/note_grid.h"

#include "base/files.h"
#include "base/limits.h"

#include <filesystem>
#include <fstream>

void TNoteGrid::Resize(int32_t channels, int32_t rows) {
    Rows = rows;
    Channels.assign(size_t(channels), std::vector<uint8_t>(size_t(rows), 0));
}

namespace {

void PutInt32(std::vector<uint8_t>& out, int32_t value) {
    const uint32_t v = uint32_t(value);
    for (int shift = 0; shift < 32; shift += 8) out.push_back(uint8_t(v >> shift));
}

int32_t GetInt32(const std::vector<uint8_t>& data, size_t at) {
    return int32_t(uint32_t(data[at]) | uint32_t(data[at + 1]) << 8 | uint32_t(data[at + 2]) << 16 |
                   uint32_t(data[at + 3]) << 24);
}

} // namespace

std::vector<uint8_t> EncodeTrackerFile(const TNoteGrid& grid) {
    std::vector<uint8_t> out;
    out.reserve(8 + grid.Channels.size() * size_t(grid.Rows));
    PutInt32(out, int32_t(grid.Channels.size()));
    PutInt32(out, grid.Rows);
    for (const auto& channel : grid.Channels) out.insert(out.end(), channel.begin(), channel.end());
    return out;
}

bool DecodeTrackerFile(const std::string& name, const std::vector<uint8_t>& data, TNoteGrid& grid, std::string& error) {
    grid = TNoteGrid{};
    if (data.size() < 8) {
        error = name + ": " + std::to_string(data.size()) + " bytes, shorter than the 8-byte header of a tracker file";
        return false;
    }
    const int32_t channels = GetInt32(data, 0);
    const int32_t rows = GetInt32(data, 4);
    if (channels < 0 || rows < 0) {
        error = name + ": offset 0: negative count (" + std::to_string(channels) + " channels, " +
                std::to_string(rows) + " rows)";
        return false;
    }
    const int64_t cells = int64_t(channels) * rows;
    if (channels > limits::MaxTrackerChannels || cells > limits::MaxTrackerCells) {
        error = name + ": offset 0: " + std::to_string(channels) + " channels of " + std::to_string(rows) +
                " rows is more than the engine accepts (" + std::to_string(limits::MaxTrackerChannels) + " channels, " +
                std::to_string(limits::MaxTrackerCells) + " notes)";
        return false;
    }
    if (int64_t(data.size()) - 8 < cells) {
        error = name + ": offset " + std::to_string(data.size()) + ": the file ends inside the grid of " +
                std::to_string(channels) + " x " + std::to_string(rows) + " notes (" + std::to_string(8 + cells) +
                " bytes expected)";
        return false;
    }
    if (int64_t(data.size()) - 8 > cells) {
        error = name + ": offset " + std::to_string(8 + cells) + ": " +
                std::to_string(int64_t(data.size()) - 8 - cells) + " bytes after the note grid";
        return false;
    }
    grid.Resize(channels, rows);
    for (size_t c = 0; c < size_t(channels); ++c) {
        const auto begin = data.begin() + std::ptrdiff_t(8 + c * size_t(rows));
        std::copy(begin, begin + rows, grid.Channels[c].begin());
    }
    return true;
}

bool ReadWholeFile(const std::string& name, int64_t maxBytes, std::vector<uint8_t>& data, std::string& error) {
    data.clear();
    if (!CheckNotSpecialFile(name, error)) return false;
    std::ifstream file(name, std::ios::binary);
    if (!file) {
        error = name + ": cannot be opened";
        return false;
    }
    char buffer[65536];
    while (file) {
        file.read(buffer, sizeof buffer);
        const std::streamsize got = file.gcount();
        if (int64_t(data.size()) + got > maxBytes) {
            error = name + ": larger than " + std::to_string(maxBytes / (1024 * 1024)) + " MiB";
            data.clear();
            return false;
        }
        data.insert(data.end(), buffer, buffer + got);
    }
    if (file.bad()) {
        error = name + ": read error";
        return false;
    }
    return true;
}
