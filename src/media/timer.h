// The demo's clock when no music drives it, and the real time between frames.
#pragma once

#include <cstdint>

// A clock source: a monotonic tick count and its ticks per second. The
// default reads std::chrono::steady_clock in nanoseconds; tests and the
// capture mode inject their own (the capture mode counts frames, so frame k
// reads exactly k / fps seconds).
struct TClockSource {
    int64_t (*Now)() = nullptr;
    int64_t TicksPerSecond = 1000000000;
};

class TETimer {
public:
    explicit TETimer(TClockSource clock = {});

    // Seconds since this timer was created, as a 32-bit float.
    float Now() const;
    // Seconds since the last Reset; also updates FrameDelta and Fps.
    float Elapsed();
    // The reading the last Elapsed call narrowed to float, unrounded: ticks
    // over ticks per second in extended precision, so a frame counter clock
    // gives frame k exactly k / fps however far the count has run.
    long double LastElapsed() const { return lastElapsed; }
    // Starts a new measurement.
    void Reset();

    // Readings are taken as 64-bit tick counts relative to the timer's
    // creation and subtracted before narrowing, so the clock keeps full
    // resolution however long the machine has been up.
    float SecondsPerTick = 1e-9f;
    bool HighResolution = true;
    float FrameDelta = 0;   // seconds between the previous two Elapsed calls
    int32_t FrameCount = 0; // Elapsed calls in the current counting second
    int32_t Fps = 0;        // Elapsed calls counted in the last completed second

private:
    int64_t Ticks() const;
    float Seconds(int64_t ticks) const;

    TClockSource clock;
    int64_t origin = 0;
    int64_t resetTicks = 0;
    int64_t frameStartTicks = 0;
    int64_t fpsStartTicks = 0;
    long double lastElapsed = 0;
};
