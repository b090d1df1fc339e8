#include "grid_text.h"

#include "base/limits.h"
#include "demo/position.h"

#include <charconv>
#include <cstdio>
#include <sstream>
#include <vector>

namespace {

constexpr const char* Header = "corvala tracker text 1";

bool ParseCount(const std::string& text, int64_t limit, int64_t& value) {
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end && value >= 0 && value <= limit;
}

std::vector<std::string> Words(const std::string& line) {
    std::vector<std::string> words;
    std::istringstream in(line);
    std::string word;
    while (in >> word) words.push_back(word);
    return words;
}

std::string NoteText(uint8_t note) {
    if (note == 0) return "..";
    return std::to_string(note);
}

} // namespace

std::string PositionText(int64_t row) {
    return std::to_string(row / 64) + ":" + std::to_string(row / 16 % 4) + ":" + std::to_string(row / 4 % 4) + ":" +
           std::to_string(row % 4);
}

bool ParsePosition(const std::string& text, int64_t& row) {
    const int64_t maxRow = limits::MaxTrackerCells;
    if (text.find(':') == std::string::npos) return ParseCount(text, maxRow, row);
    // The engine's form, as --start and dev mode read it: "2:3" is row 176.
    TDemoPosition position;
    std::string error;
    if (!ParseDemoPosition(text, position, error) || !position.IsRow || position.Row > maxRow) return false;
    row = position.Row;
    return true;
}

std::string GridToText(const TNoteGrid& grid) {
    std::string out = std::string(Header) + "\nchannels " + std::to_string(grid.Channels.size()) + "\nrows " +
                      std::to_string(grid.Rows) + "\n";
    for (int32_t r = 0; r < grid.Rows; ++r) {
        bool any = false;
        for (const auto& channel : grid.Channels) any = any || channel[size_t(r)] != 0;
        if (!any) continue;
        out += std::to_string(r);
        for (const auto& channel : grid.Channels) out += " " + NoteText(channel[size_t(r)]);
        out += "\n";
    }
    return out;
}

bool GridFromText(const std::string& name, const std::string& text, TNoteGrid& grid, std::string& error) {
    grid = TNoteGrid{};
    std::istringstream in(text);
    std::string line;
    int lineNumber = 0;
    int64_t channels = -1, rows = -1, lastRow = -1;
    bool sawHeader = false;
    auto fail = [&](const std::string& reason) {
        error = name + ":" + std::to_string(lineNumber) + ": " + reason;
        grid = TNoteGrid{};
        return false;
    };
    while (std::getline(in, line)) {
        ++lineNumber;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const std::vector<std::string> words = Words(line);
        if (words.empty() || words[0][0] == '#') continue;
        if (!sawHeader) {
            if (line != Header) return fail("the first line must read \"" + std::string(Header) + "\"");
            sawHeader = true;
            continue;
        }
        if (words[0] == "channels" || words[0] == "rows") {
            const bool isChannels = words[0] == "channels";
            int64_t& target = isChannels ? channels : rows;
            const int64_t limit = isChannels ? limits::MaxTrackerChannels : INT32_MAX;
            if (target >= 0) return fail(words[0] + " given twice");
            if (words.size() != 2 || !ParseCount(words[1], limit, target))
                return fail(words[0] + " needs one number from 0 to " + std::to_string(limit));
            if (channels >= 0 && rows >= 0) {
                if (channels * rows > limits::MaxTrackerCells)
                    return fail(std::to_string(channels) + " channels of " + std::to_string(rows) +
                                " rows is more than the engine accepts (" + std::to_string(limits::MaxTrackerCells) +
                                " notes)");
                grid.Resize(int32_t(channels), int32_t(rows));
            }
            continue;
        }
        if (channels < 0 || rows < 0) return fail("\"channels N\" and \"rows M\" must come before the first row");
        int64_t row = 0;
        if (!ParseCount(words[0], INT32_MAX, row)) return fail("\"" + words[0] + "\" is not a row number");
        if (row >= rows)
            return fail("row " + std::to_string(row) + " is past the last row (" + std::to_string(rows - 1) + ")");
        if (row <= lastRow)
            return fail("row " + std::to_string(row) + " comes after row " + std::to_string(lastRow) + "; rows go up");
        if (int64_t(words.size()) - 1 != channels)
            return fail("row " + std::to_string(row) + " has " + std::to_string(words.size() - 1) + " notes for " +
                        std::to_string(channels) + " channels");
        for (size_t c = 0; c < size_t(channels); ++c) {
            const std::string& word = words[c + 1];
            int64_t note = 0;
            if (word != ".." && !ParseCount(word, 255, note))
                return fail("\"" + word + "\" (channel " + std::to_string(c) + ") is not a note from 0 to 255 or ..");
            grid.Channels[c][size_t(row)] = uint8_t(note);
        }
        lastRow = row;
    }
    if (!sawHeader) return fail("the file is empty");
    if (channels < 0 || rows < 0) return fail("the file ends before \"channels N\" and \"rows M\"");
    return true;
}

std::string ShowGrid(const TNoteGrid& grid, int64_t from, int64_t count) {
    std::string out = "position ";
    for (size_t c = 0; c < grid.Channels.size(); ++c) {
        char column[32];
        std::snprintf(column, sizeof column, " %3zu", c);
        out += column;
    }
    out += "\n";
    const int64_t last = std::min<int64_t>(grid.Rows, from + count);
    for (int64_t r = std::max<int64_t>(from, 0); r < last; ++r) {
        char position[32];
        std::snprintf(position, sizeof position, "%-9s", PositionText(r).c_str());
        out += position;
        for (const auto& channel : grid.Channels) {
            char cell[16];
            std::snprintf(cell, sizeof cell, " %3s", NoteText(channel[size_t(r)]).c_str());
            out += cell;
        }
        // A line between bars keeps the view readable.
        out += "\n";
        if (r % 16 == 15 && r + 1 < last) out += "\n";
    }
    return out;
}
