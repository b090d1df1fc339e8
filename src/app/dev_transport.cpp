#include "app/dev_transport.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <utility>

namespace {

// A step while paused advances the demo by one frame at this rate.
constexpr float StepSeconds = 1.0f / 60;

} // namespace

TDevTransport::TDevTransport(std::function<double()> steadyClock) : steadySeconds(std::move(steadyClock)) {}

void TDevTransport::Attach(float now, float productionSpeed, float productionEnd, std::unique_ptr<TDevMusic> played) {
    music = std::move(played);
    scriptSpeed = productionSpeed;
    end = productionEnd;
    if (music) {
        if (scriptSpeed > 0) music->SetSpeed(scriptSpeed * speed);
        music->Seek(now);
        music->Pause(paused);
    }
    if (paused) heldTime = now;
    Anchor(now);
    lastTime = now;
    jumped = true;
}

float TDevTransport::ClockSeconds() const {
    const long double rate = static_cast<long double>(scriptSpeed) * speed;
    return float(anchorTime + (steadySeconds() - anchorReal) * rate);
}

void TDevTransport::Anchor(float demoTime) {
    anchorTime = demoTime;
    anchorReal = steadySeconds();
}

float TDevTransport::Now() {
    if (paused) return heldTime;
    if (music) return music->Seconds();
    return ClockSeconds();
}

void TDevTransport::Seek(float seconds) {
    if (!(seconds >= 0)) seconds = 0;
    seconds = std::min(seconds, end);
    if (paused) {
        heldTime = seconds;
    } else {
        if (music) music->Seek(seconds);
        Anchor(seconds);
    }
    lastTime = seconds;
    jumped = true;
}

void TDevTransport::SetPaused(bool pause) {
    if (pause == paused) return;
    if (pause) {
        heldTime = Now();
        paused = true;
        if (music) music->Pause(true);
    } else {
        paused = false;
        // The music resumes exactly where the picture holds.
        if (music) {
            music->Seek(heldTime);
            music->Pause(false);
        }
        Anchor(heldTime);
    }
    jumped = true;
}

void TDevTransport::Step() {
    SetPaused(true);
    ++stepFrames;
}

void TDevTransport::HoldAtEnd(float frameTime) {
    if (paused) return;
    SetPaused(true);
    heldTime = frameTime;
}

void TDevTransport::SetSpeed(float factor) {
    if (!paused && !music) Anchor(ClockSeconds());
    speed = factor;
    if (music && scriptSpeed > 0) music->SetSpeed(scriptSpeed * speed);
}

void TDevTransport::StepSpeed(int steps) {
    const int count = int(std::size(DevSpeeds));
    int index = 0;
    for (int i = 0; i < count; ++i)
        if (std::fabs(DevSpeeds[i] - speed) < std::fabs(DevSpeeds[index] - speed)) index = i;
    SetSpeed(DevSpeeds[std::clamp(index + steps, 0, count - 1)]);
}

bool TDevTransport::SetLoop(float from, float to) {
    if (!(to > from)) return false;
    loopSet = true;
    loopFrom = from;
    loopTo = to;
    return true;
}

void TDevTransport::AdjustTime(float& demoTime, float& frameDelta) {
    if (paused) {
        if (stepFrames > 0) {
            --stepFrames;
            heldTime = float(heldTime + static_cast<long double>(StepSeconds) * scriptSpeed * speed);
            heldTime = std::min(heldTime, end);
            frameDelta = float(static_cast<long double>(StepSeconds) * speed);
        } else {
            frameDelta = 0;
        }
        demoTime = heldTime;
    } else {
        if (!music) demoTime = ClockSeconds();
        if (loopSet && demoTime >= loopTo) {
            // Keep the overshoot, so the beat runs on evenly across the jump.
            const long double length = static_cast<long double>(loopTo) - loopFrom;
            const long double over = std::fmod(static_cast<long double>(demoTime) - loopTo, length);
            demoTime = float(loopFrom + over);
            if (music) music->Seek(demoTime);
            Anchor(demoTime);
            jumped = true;
        }
        frameDelta = float(static_cast<long double>(frameDelta) * speed);
    }
    if (jumped) frameDelta = 0;
    jumped = false;
    lastTime = demoTime;
}
