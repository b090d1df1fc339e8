// Dev mode's transport: the demo time a dev session shows, with pause, a
// speed, a loop range, seeks and single steps. Without music the time runs on
// a steady clock from an anchor; with music the music's position is the time,
// and the transport seeks, pauses and speeds the music to keep it there.
// Times are seconds of demo time unless said otherwise. It knows no window,
// no GL and no demo object: the clock is a function, the music an interface.
#pragma once

#include <functional>
#include <memory>

// The speeds + and - step through.
inline constexpr float DevSpeeds[] = {0.25f, 0.5f, 1.0f, 1.5f, 2.0f};

// The music the transport keeps in step with the picture. Its position is
// demo time.
class TDevMusic {
public:
    virtual ~TDevMusic() = default;
    virtual float Seconds() = 0;
    virtual void Seek(float seconds) = 0;
    virtual void Pause(bool paused) = 0;
    // Plays at `factor` times its own rate (tempo and pitch together).
    virtual void SetSpeed(float factor) = 0;
};

class TDevTransport {
public:
    // `steadySeconds` reads a steady clock, in seconds from any origin.
    explicit TDevTransport(std::function<double()> steadySeconds);

    // Takes over a production, showing `now`: pause, speed and loop carry
    // on. `scriptSpeed` is the script's SPEED (times real time), `end` where
    // the production ends; `music` is null when it has none.
    void Attach(float now, float scriptSpeed, float end, std::unique_ptr<TDevMusic> music);

    // The time now: the held time while paused, else the music's position
    // or the clock's.
    float Now();
    // The held time while paused, else the time of the last frame or seek.
    float Shown() const { return paused ? heldTime : lastTime; }
    float End() const { return end; }
    // The time shown has reached the end: the held time while paused, else
    // `frameTime`, the time of the picture on screen.
    bool AtEnd(float frameTime) const { return (paused ? heldTime : frameTime) >= end; }

    // Seek and the loop jump give the next frame FrameTime 0. Seeks stop at
    // 0 and at the end.
    void Seek(float seconds);
    void SetPaused(bool pause);
    bool Paused() const { return paused; }
    // Pauses, and the next frame advances by one frame at 60 per second.
    void Step();
    bool Stepping() const { return stepFrames > 0; }
    // The production ended at `frameTime`: holds that picture, paused.
    void HoldAtEnd(float frameTime);
    // Times the script's SPEED.
    void SetSpeed(float factor);
    float Speed() const { return speed; }
    // Moves `steps` along DevSpeeds from the one nearest the speed, stopping
    // at either end.
    void StepSpeed(int steps);
    // False when `to` does not lie after `from`.
    bool SetLoop(float from, float to);
    void ClearLoop() { loopSet = false; }
    bool Looping() const { return loopSet; }
    float LoopFrom() const { return loopFrom; }
    float LoopTo() const { return loopTo; }

    // The frame's time hook: holds the time while paused, wraps the loop,
    // scales the frame time by the speed and keeps jumps out of it.
    // `demoTime` comes in as the demo's clock or music time.
    void AdjustTime(float& demoTime, float& frameDelta);

private:
    float ClockSeconds() const;
    void Anchor(float demoTime);

    std::function<double()> steadySeconds;
    std::unique_ptr<TDevMusic> music; // null without music
    float scriptSpeed = 1;
    float end = 0;

    bool paused = false;
    float heldTime = 0;    // the time while paused
    float lastTime = 0;    // the time of the last frame (or the last seek)
    float speed = 1;       // times the script's SPEED
    bool jumped = true;    // the next frame gets FrameTime 0
    int stepFrames = 0;    // frames to advance while paused
    float anchorTime = 0;  // without music: demo time at anchorReal
    double anchorReal = 0; // steady seconds
    bool loopSet = false;
    float loopFrom = 0, loopTo = 0;
};
