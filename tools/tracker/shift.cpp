#include "shift.h"

TShiftResult ShiftGrid(const TNoteGrid& grid, int64_t rows) {
    TShiftResult result;
    result.Grid.Resize(int32_t(grid.Channels.size()), grid.Rows);
    for (size_t c = 0; c < grid.Channels.size(); ++c) {
        for (int32_t r = 0; r < grid.Rows; ++r) {
            const uint8_t note = grid.At(c, r);
            if (note == 0) continue;
            const int64_t to = int64_t(r) + rows;
            if (to < 0) {
                ++result.BeforeStart;
            } else if (to >= grid.Rows) {
                ++result.PastEnd;
            } else {
                result.Grid.Channels[c][size_t(to)] = note;
                ++result.Moved;
            }
        }
    }
    return result;
}
