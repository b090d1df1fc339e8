#include "media/timer.h"

#include <chrono>

namespace {

int64_t SteadyNanoseconds() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

TETimer::TETimer(TClockSource clockSource) : clock(clockSource) {
    if (!clock.Now || clock.TicksPerSecond <= 0) clock = TClockSource{SteadyNanoseconds, 1000000000};
    SecondsPerTick = float(1.0L / clock.TicksPerSecond);
    origin = clock.Now();
}

int64_t TETimer::Ticks() const { return clock.Now() - origin; }

float TETimer::Seconds(int64_t ticks) const { return float(static_cast<long double>(ticks) / clock.TicksPerSecond); }

float TETimer::Now() const { return Seconds(Ticks()); }

float TETimer::Elapsed() {
    const int64_t elapsedTicks = Ticks() - resetTicks;
    lastElapsed = static_cast<long double>(elapsedTicks) / clock.TicksPerSecond;
    const float result = float(lastElapsed);
    FrameDelta = Seconds(Ticks() - frameStartTicks);
    frameStartTicks = Ticks();
    ++FrameCount;
    if (Ticks() - fpsStartTicks > clock.TicksPerSecond) {
        Fps = FrameCount;
        FrameCount = 0;
        fpsStartTicks = Ticks();
    }
    return result;
}

void TETimer::Reset() {
    resetTicks = Ticks();
    lastElapsed = 0;
    frameStartTicks = resetTicks;
    FrameCount = 0;
    fpsStartTicks = Ticks();
}
