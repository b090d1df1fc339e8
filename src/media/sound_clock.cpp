#include "media/sound_clock.h"

#include <algorithm>
#include <cmath>

void TStepClock::Reset(double stepped, double now, double newRate) {
    anchorValue = stepped;
    anchorTime = now;
    rate = newRate;
    floor = stepped;
    stalled = false;
}

void TStepClock::SetRate(double newRate, double now) {
    anchorValue = std::max(anchorValue + std::max(now - anchorTime, 0.0) * rate, floor);
    anchorTime = now;
    rate = newRate;
}

double TStepClock::Update(double stepped, double now) {
    const double elapsed = std::max(now - anchorTime, 0.0) * rate;
    double line = anchorValue + elapsed;
    // The mixer moved again after a stall: its new value says where it is,
    // so the line starts over there instead of settling back slowly from
    // the lead it ran up meanwhile.
    if (stalled && stepped > stalledAt) {
        line = std::min(line, stepped);
        stalled = false;
    }
    const double periodAhead = stepped + period * rate;
    if (line > periodAhead) line = std::max(line - elapsed * PullBack, periodAhead);
    const double leadLimit = stepped + std::max(maxLead, period) * rate;
    if (line >= leadLimit && rate > 0) {
        stalled = true;
        stalledAt = stepped;
    }
    line = std::clamp(line, stepped, leadLimit);
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
    const double slewRate = std::fabs(average - value) > FarOff ? FastSlew
                            : now - firstTime < Warmup          ? WarmupSlew
                                                                : MaxSlew;
    const double slew = slewRate * elapsed;
    value = std::clamp(average, value - slew, value + slew);
    return value;
}
