// Positions on the demo's time line as a user types them: seconds ("12.5")
// or a tracker position "P:B[:b[:r]]" counted as MOUNT counts (pattern 64
// rows, bar 16, beat 4, row 1; "2:1" is row 144).
#pragma once

#include <cstdint>
#include <string>

class TDemoTracker;

struct TDemoPosition {
    bool IsRow = false; // true: Row holds a tracker row; false: Seconds
    double Seconds = 0;
    int32_t Row = 0;
};

// Parses `text`; false with a message in `error` for anything else (empty,
// negative, a fifth part, a row past the largest the engine counts).
bool ParseDemoPosition(const std::string& text, TDemoPosition& position, std::string& error);

// Demo time of the position: seconds as given, a row at the tracker's tempo.
// A row gives the earliest 32-bit time whose RowAt is that row, so a seek to
// a bar's start plays that bar and not the row before it.
float PositionSeconds(const TDemoPosition& position, const TDemoTracker& tracker);

// The earliest 32-bit time at or after the row's nominal start that the
// tracker converts back to `row` (or past it, for rows of zero length).
float RowStartSeconds(const TDemoTracker& tracker, int32_t row);

// "P:B:b:r" of a row (what ParseDemoPosition reads back), and the HUD's
// "P :: B :: b :: r" form that MOUNT lines are written in.
std::string RowPositionText(int32_t row);
std::string RowStampText(int32_t row);
