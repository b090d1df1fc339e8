// The tracker tool's text forms of a note grid: the plain-text form that
// `text` writes and `build` reads back (exactly), and the pattern view of
// `show`.
#pragma once

#include "media/note_grid.h"

#include <cstdint>
#include <string>

// "P:B:b:r" (pattern, bar, beat, row: 64, 16, 4 and 1 rows) of a row.
std::string PositionText(int64_t row);
// Reads a position as the engine's --start does, "P:B[:b[:r]]" counted as
// MOUNT counts (64, 16, 4 and 1 rows), or a plain row number. False when it
// is neither.
bool ParsePosition(const std::string& text, int64_t& row);

// The text form: a header line, "channels N", "rows M", then one line per
// row that holds a note: the row number and every channel's note byte
// ("..": 0). Rows not listed hold no notes.
std::string GridToText(const TNoteGrid& grid);
// Reads the text form back. A line it cannot read fails with
// "NAME:LINE: reason"; sizes are held to the engine's tracker limits.
bool GridFromText(const std::string& name, const std::string& text, TNoteGrid& grid, std::string& error);

// The pattern view: `count` rows from `from`, one line each with the row's
// position and a column per channel.
std::string ShowGrid(const TNoteGrid& grid, int64_t from, int64_t count);
