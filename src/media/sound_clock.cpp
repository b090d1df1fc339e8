#include "media/sound_clock.h"

#include <algorithm>
#include <cmath>

void TStepClock::Reset(double stepped, double now, double newRate) {
    anchorValue = stepped;
    anchorTime = now;
    rate = newRate;
    floor = stepped;
}

void TStepClock::SetRate(double newRate, double now) {
    anchorValue = std::max(anchorValue + std::max(now - anchorTime, 0.0) * rate, floor);
    anchorTime = now;
    rate = newRate;
}

double TStepClock::Update(double stepped, double now) {
    const double elapsed = std::max(now - anchorTime, 0.0) * rate;
    double line = anchorValue + elapsed;
    const double periodAhead = stepped + period * rate;
    if (line > periodAhead) line = std::max(line - elapsed * PullBack, periodAhead);
    line = std::clamp(line, stepped, stepped + std::max(maxLead, period) * rate);
    anchorValue = line;
    anchorTime = now;
    floor = std::max(floor, line);
    return floor;
}

double TLatencyFilter::Update(double reported, double now) {
    if (!started) {
        started = true;
        average = value = reported;
        firstTime = lastTime = now;
        return value;
    }
    const double elapsed = std::max(now - lastTime, 0.0);
    lastTime = std::max(lastTime, now);
    average += (reported - average) * (1 - std::exp(-elapsed / Smoothing));
    const double slew = (now - firstTime < Warmup ? WarmupSlew : MaxSlew) * elapsed;
    value = std::clamp(average, value - slew, value + slew);
    return value;
}
