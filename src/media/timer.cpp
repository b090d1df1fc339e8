#include "media/timer.h"

#include <chrono>

namespace {

int64_t SteadyNanoseconds() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

TETimer::TETimer(TClockSource clockSource) : clock(clockSource ? clockSource : SteadyNanoseconds) {
    origin = clock();
}

int64_t TETimer::Ticks() const { return clock() - origin; }

float TETimer::Seconds(int64_t ticks) { return float(static_cast<long double>(ticks) * 1e-9L); }

float TETimer::Now() const { return Seconds(Ticks()); }

float TETimer::Elapsed() {
    const float result = Seconds(Ticks() - resetTicks);
    FrameDelta = Seconds(Ticks() - frameStartTicks);
    frameStartTicks = Ticks();
    ++FrameCount;
    if (Ticks() - fpsStartTicks > 1000000000) {
        Fps = FrameCount;
        FrameCount = 0;
        fpsStartTicks = Ticks();
    }
    return result;
}

void TETimer::Reset() {
    resetTicks = Ticks();
    frameStartTicks = resetTicks;
    FrameCount = 0;
    fpsStartTicks = Ticks();
}
