// Moving every note of a note grid by whole rows against the music: for a
// grid made a row early or late, or a recording that starts with silence.
#pragma once

#include "media/note_grid.h"

#include <cstdint>

struct TShiftResult {
    TNoteGrid Grid;          // same channels and rows as the input
    int64_t Moved = 0;       // notes that stay in the grid
    int64_t BeforeStart = 0; // notes that would move before row 0 (left out)
    int64_t PastEnd = 0;     // notes that would move past the last row (left out)
};

// Row r's notes go to row r + rows (rows < 0: earlier). The grid keeps its
// size, as it spans the music: notes moved out of it are left out and
// counted.
TShiftResult ShiftGrid(const TNoteGrid& grid, int64_t rows);
