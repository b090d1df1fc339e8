// Dev mode's transport on a clock the test turns by hand, with music that
// only records what it is told: no window, no demo.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <utility>

#include "app/dev_transport.h"

namespace {

struct TMusicState {
    float Position = 0; // what Seconds() answers; seeks move it
    bool Paused = false;
    float Speed = 0;
};

class TRecordedMusic final : public TDevMusic {
public:
    explicit TRecordedMusic(TMusicState& musicState) : state(musicState) {}
    float Seconds() override { return state.Position; }
    void Seek(float seconds) override { state.Position = seconds; }
    void Pause(bool paused) override { state.Paused = paused; }
    void SetSpeed(float factor) override { state.Speed = factor; }

private:
    TMusicState& state;
};

// One frame through the time hook: the time and frame time it gives.
std::pair<float, float> Frame(TDevTransport& transport, float demoTime, float frameDelta = 0.1f) {
    transport.AdjustTime(demoTime, frameDelta);
    return {demoTime, frameDelta};
}

} // namespace

TEST(DevTransport, TheClockRunsAtTheSpeedHoldsWhilePausedAndStepsOneFrame) {
    double steady = 100;
    TDevTransport transport([&] { return steady; });
    transport.Attach(5, 2, 60, nullptr);                        // the script's SPEED 2
    EXPECT_EQ(Frame(transport, 0), std::make_pair(5.0f, 0.0f)); // a new production: FrameTime 0
    steady += 1;
    EXPECT_EQ(Frame(transport, 0, 0.5f), std::make_pair(7.0f, 0.5f));
    // A new speed goes on from the time reached, scaling time and FrameTime.
    transport.SetSpeed(0.5f);
    steady += 2;
    EXPECT_EQ(Frame(transport, 0, 0.5f), std::make_pair(9.0f, 0.25f));

    transport.SetPaused(true);
    steady += 10;
    for (int i = 0; i < 2; ++i) EXPECT_EQ(Frame(transport, 0), std::make_pair(9.0f, 0.0f));
    // A step advances one frame at 60 per second, at both speeds.
    transport.Step();
    const auto [stepped, stepDelta] = Frame(transport, 0);
    EXPECT_FLOAT_EQ(stepped, 9 + 2 * 0.5f / 60);
    EXPECT_FLOAT_EQ(stepDelta, 0.5f / 60);
    EXPECT_EQ(Frame(transport, 0).first, stepped); // one step, one frame

    // Playing again starts from the held time, not from the clock's.
    transport.SetPaused(false);
    steady += 1;
    EXPECT_EQ(Frame(transport, 0), std::make_pair(stepped + 1, 0.0f));
    EXPECT_GT(Frame(transport, 0).second, 0.0f);
}

TEST(DevTransport, TheLoopJumpKeepsItsOvershootAndSeeksStopAtTheEnds) {
    double steady = 0;
    TMusicState music;
    TDevTransport transport([&] { return steady; });
    transport.Attach(0, 1, 60, std::make_unique<TRecordedMusic>(music));
    EXPECT_FALSE(transport.SetLoop(3, 3));
    EXPECT_FALSE(transport.SetLoop(2, std::nanf("")));
    ASSERT_TRUE(transport.SetLoop(2, 3));
    Frame(transport, 0);
    // Past the loop's end by 0.25 (and by 2.25): back at 2.25, the music
    // with it, and the jump is no frame time.
    for (float time : {3.25f, 5.25f}) {
        EXPECT_EQ(Frame(transport, time), std::make_pair(2.25f, 0.0f)) << time;
        EXPECT_EQ(music.Position, 2.25f);
    }
    EXPECT_EQ(Frame(transport, 2.35f), std::make_pair(2.35f, 0.1f));

    transport.ClearLoop();
    for (auto [target, reached] : {std::pair{-1.0f, 0.0f}, {std::nanf(""), 0.0f}, {99.0f, 60.0f}}) {
        transport.Seek(target);
        EXPECT_EQ(music.Position, reached) << target;
        EXPECT_EQ(Frame(transport, reached).second, 0.0f) << target;
    }
    EXPECT_TRUE(transport.AtEnd(60));

    // Paused, a seek moves the held time only; playing resumes the music there.
    transport.SetPaused(true);
    EXPECT_TRUE(music.Paused);
    transport.Seek(10);
    EXPECT_EQ(music.Position, 60.0f);
    EXPECT_EQ(transport.Now(), 10.0f);
    transport.SetPaused(false);
    EXPECT_FALSE(music.Paused);
    EXPECT_EQ(music.Position, 10.0f);
}

TEST(DevTransport, TheEndHoldsItsPictureAndANewProductionTakesOverTheState) {
    double steady = 0;
    TMusicState first, second;
    TDevTransport transport([&] { return steady; });
    transport.Attach(0, 1, 20, std::make_unique<TRecordedMusic>(first));
    transport.SetSpeed(1.5f);
    EXPECT_EQ(first.Speed, 1.5f);
    first.Position = 20.02f;
    transport.HoldAtEnd(20.01f); // the last frame's time, not the music's
    EXPECT_TRUE(transport.Paused());
    EXPECT_TRUE(first.Paused);
    EXPECT_EQ(transport.Now(), 20.01f);
    EXPECT_TRUE(transport.AtEnd(0));

    // A reload's production at SPEED 2: its music paused at the held time,
    // playing at the speed times SPEED.
    transport.Attach(transport.Shown(), 2, 30, std::make_unique<TRecordedMusic>(second));
    EXPECT_EQ(second.Position, 20.01f);
    EXPECT_TRUE(second.Paused);
    EXPECT_EQ(second.Speed, 3.0f);
    EXPECT_FALSE(transport.AtEnd(0));
    transport.StepSpeed(1);
    EXPECT_EQ(transport.Speed(), 2.0f);
    transport.StepSpeed(5);
    EXPECT_EQ(transport.Speed(), 2.0f);
    EXPECT_EQ(second.Speed, 4.0f);
}
