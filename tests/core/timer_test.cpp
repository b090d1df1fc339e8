#include <gtest/gtest.h>

#include "media/timer.h"

namespace {

int64_t fakeNow = 0;
int64_t FakeClock() { return fakeNow; }

} // namespace

TEST(Timer, ElapsedDeltaAndFps) {
    fakeNow = 5'000'000'000'000'000; // two months of uptime in nanoseconds
    TETimer timer(TClockSource{FakeClock, 1000000000});
    timer.Reset();
    EXPECT_EQ(timer.Elapsed(), 0.0f);
    EXPECT_EQ(timer.FrameDelta, 0.0f);
    fakeNow += 20'000'000;
    EXPECT_FLOAT_EQ(timer.Elapsed(), 0.02f);
    EXPECT_FLOAT_EQ(timer.FrameDelta, 0.02f); // full resolution despite the uptime
    EXPECT_EQ(timer.Fps, 0);
    for (int i = 0; i < 60; ++i) {
        fakeNow += 17'000'000;
        timer.Elapsed();
    }
    EXPECT_GT(timer.Fps, 55);
    EXPECT_LT(timer.FrameCount, 5);
}
