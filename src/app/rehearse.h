// Rehearsal (`corvala --rehearse`): plays the whole production in real time
// as on the compo machine, with vertical sync off, and reports the time each
// bar's own effect spent per frame (render/draw_timer.h), the frame times of
// the whole run, and the five costliest bars with the moment of their worst
// frame, as text and optionally as JSON. The first frame, which carries the
// start-up, is told apart and counted in neither.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct TRehearseOptions {
    std::string Script;     // the script to run, already resolved
    std::string ReportFile; // also write the report here as JSON (empty: no)
};

// A frame misses 60 Hz above this many milliseconds, 30 Hz above the other.
constexpr double SixtyHzFrameMs = 16.7;
constexpr double ThirtyHzFrameMs = 33.3;

// Figures of one set of frames. Percentiles are nearest-rank: the median of
// n frames is the ceil(n / 2)-th shortest, the 99th percentile the
// ceil(0.99 n)-th. All zero for no frames.
struct TFrameFigures {
    int64_t Frames = 0;
    double MedianMs = 0;
    double P99Ms = 0;
    double WorstMs = 0;
    int64_t Over60Hz = 0; // frames over SixtyHzFrameMs
    int64_t Over30Hz = 0; // frames over ThirtyHzFrameMs
};
TFrameFigures SummariseFrames(std::vector<double> frameMs);
// A set of frames holds 60 Hz when its 99th percentile is within
// SixtyHzFrameMs (one frame in a hundred may hitch). No frames hold.
bool HoldsSixtyHz(const TFrameFigures& figures);

struct TBarFigures {
    std::string Label;
    int32_t Line = 0;      // script line of the BAR command
    TFrameFigures Figures; // its effect's own time per frame
    // When its worst frame was drawn: demo time and tracker row (-1: never).
    double WorstAtSeconds = 0;
    int32_t WorstAtRow = -1;
};

struct TRehearsalReport {
    std::string Script;
    std::vector<TBarFigures> Bars; // in script order
    TFrameFigures Whole;
    double FirstFrameMs = 0;  // from the start of the rehearsal to the end of the first frame
    double PlayedSeconds = 0; // real time from the first frame to the last
    float LastDemoTime = 0;   // demo time of the last frame, seconds
    bool Completed = false;   // ended by itself (not Escape or a closed window)
    bool VerticalSyncOff = false;
    std::string Video; // "display" or "offscreen (no display)"
    std::string GLRenderer;
    std::string GLVersion;
    std::string BarTiming; // how the bars' times were taken
    std::string SoundOutput;
    double OutputLatencyMs = 0;
};

// One line: "all bars hold 60 Hz", or how many bars do not and the worst,
// or a note that nothing played.
std::string RehearsalVerdict(const TRehearsalReport& report);
// The five bars with the highest 99th percentile, one line each with the
// time and position of their worst frame ("" when no bar played).
std::string WorstBarsText(const TRehearsalReport& report);
// (SoftwareRenderer, in render/draw_timer.h, tells a renderer that draws on
// the CPU, whose figures say nothing about a party machine's graphics card.)
std::string RehearsalText(const TRehearsalReport& report);
std::string RehearsalJson(const TRehearsalReport& report);

// Runs the rehearsal in the current directory; prints the report on stdout
// and returns the process exit code.
int RunRehearse(const TRehearseOptions& options);
