// The heard-position clock: where a channel is as heard now. A real device
// reports offsets that move once per mixing period; Position extrapolates
// them with the steady clock (see TStepClock) and subtracts the output
// latency (see TLatencyFilter). The loopback modes mix in the sound module,
// so their offsets are exact at every call.
#include "media/sound.h"

#include "base/report.h"
#include "media/sound_state.h"

#include <algorithm>
#include <cmath>
#include <thread>

using namespace sound_detail;

namespace {

// The output latency the device reports now, in seconds (0 where it
// reports none).
double ReportedLatency(const TSoundState& s) {
    if (s.Output != TOutput::Device || s.GetInteger64v == nullptr) return 0;
    ALCint64SOFT nanoseconds = 0;
    s.GetInteger64v(s.Device.get(), ALC_DEVICE_LATENCY_SOFT, 1, &nanoseconds);
    return nanoseconds > 0 ? double(nanoseconds) * 1e-9 : 0.0;
}

// Reads the device clock, then the steady clock: in this order a reading
// is a lower bound for the line even when the thread is interrupted between
// the two.
double UpdateDeviceLine(TSoundState& s) {
    const double clock = DeviceClockSeconds(s);
    return s.DeviceLine.Update(clock, SteadySeconds());
}

// How far the sound being heard now lags the device line, smoothed, in
// seconds of time; 0 where the output reports no latency. The device reports
// its latency together with the device clock of its last mix. A backend that
// measures it (a sound server) reports it falling between mixes as the
// buffered sound plays out, so the lag behind the line is that latency plus
// the time since the mix. One that only estimates it from its buffer size
// reports the same value until the next mix, and that value is already the
// distance from the line, which runs through the mixes.
double HeardLag(TSoundState& s, double deviceNow) {
    if (s.Output != TOutput::Device) {
        return s.SimulatedLatency > 0 ? s.Latency.Update(s.SimulatedLatency, SteadySeconds()) : 0.0;
    }
    if (s.GetInteger64v == nullptr) return 0;
    ALCint64SOFT clockAndLatency[2] = {0, 0};
    s.GetInteger64v(s.Device.get(), ALC_DEVICE_CLOCK_LATENCY_SOFT, 2, clockAndLatency);
    if (clockAndLatency[1] <= 0) return s.Latency.Value();
    if (!s.LatencyMeasured && clockAndLatency[0] == s.LatencyClock && clockAndLatency[1] != s.LatencyAtClock) {
        // The first true measurement (a sound server gives one once its
        // timing information arrives; until then its report is a fixed
        // figure): earlier reports tell nothing about it.
        s.LatencyMeasured = true;
        s.Latency.Reset();
    }
    s.LatencyClock = clockAndLatency[0];
    s.LatencyAtClock = clockAndLatency[1];
    const double sinceMix =
        s.LatencyMeasured ? std::clamp(deviceNow - double(clockAndLatency[0]) * 1e-9, 0.0, s.MaxLead) : 0.0;
    return s.Latency.Update(double(clockAndLatency[1]) * 1e-9 + sinceMix, SteadySeconds());
}

} // namespace

namespace sound_detail {

// Starts the device line in phase with the mixer: watches the device clock
// for a few periods, so the line begins on the earliest-seen mixes instead
// of lagging until frame polls happen to land right after one.
void LockDeviceLine(TSoundState& s, double period) {
    const double clock = DeviceClockSeconds(s);
    const double start = SteadySeconds();
    s.DeviceLine.Reset(clock, start);
    while (SteadySeconds() < start + 4 * period) {
        std::this_thread::yield();
        UpdateDeviceLine(s);
    }
}

double Pitch(const TSoundState& s, const TChannel& channel) {
    return double(channel.Frequency) / s.Samples[size_t(channel.Sample)].SampleRate;
}

// The source's play offset in seconds, with the fraction between frames
// where the extension gives it.
double SourceOffset(const TSoundState& s, const TChannel& channel) {
    if (s.GetSourcedv != nullptr) {
        ALdouble seconds = 0;
        s.GetSourcedv(channel.Source.Get(), AL_SEC_OFFSET, &seconds);
        return seconds;
    }
    ALint frame = 0;
    alGetSourcei(channel.Source.Get(), AL_SAMPLE_OFFSET, &frame);
    return double(frame) / s.Samples[size_t(channel.Sample)].SampleRate;
}

double TimerPosition(const TSoundState& s, const TChannel& channel, double now) {
    return channel.TimerBase + std::max(now - channel.TimerStart, 0.0) * Pitch(s, channel);
}

// A real device that stopped (unplugged, the sound server gone) plays
// nothing more and its clock stands still. Every channel then goes on from
// its last position on the steady clock, so the demo plays on silently
// instead of jumping to the end of its music. Told once.
void CheckDeviceLost(TSoundState& s) {
    if (s.Output != TOutput::Device || s.Lost || !s.CanTellDisconnect) return;
    ALCint connected = ALC_TRUE;
    alcGetIntegerv(s.Device.get(), ALC_CONNECTED, 1, &connected);
    if (connected != ALC_FALSE) return;
    s.Lost = true;
    const double now = SteadySeconds();
    for (auto& entry : s.Channels) {
        TChannel& channel = entry.second;
        channel.OnTimer = true;
        channel.TimerBase = channel.Floor;
        channel.TimerStart = channel.FloorTime > 0 ? channel.FloorTime : now;
    }
    ReportWarning("the sound device (" + s.OutputName +
                  ") stopped; the demo goes on silently from where it was, timed by the system clock");
}

double Position(TSoundState& s, TChannel& channel) {
    const TSample& sample = s.Samples[size_t(channel.Sample)];
    CheckDeviceLost(s);
    if (!channel.Ended && !channel.OnTimer && SourceStopped(channel)) {
        // The mixer is done, but its last latency's worth is still on the
        // way to the speakers: that tail runs on the steady clock, so the
        // demo does not end before its music is heard to the end.
        const double lag = s.Output == TOutput::Device ? s.Latency.Value() * Pitch(s, channel) : 0.0;
        if (lag > 0 && !s.Lost && channel.Floor < sample.Seconds) {
            channel.OnTimer = true;
            channel.TimerBase = std::max(channel.Floor, sample.Seconds - lag);
            channel.TimerStart = SteadySeconds();
        } else {
            channel.Ended = true;
        }
    }
    double position = sample.Seconds;
    if (!channel.Ended && channel.OnTimer) {
        position = channel.Paused ? channel.TimerBase : TimerPosition(s, channel, SteadySeconds());
        if (position >= sample.Seconds) channel.Ended = true;
    } else if (!channel.Ended && channel.Paused) {
        position = channel.PausedAt; // held where it was heard, or seeked to
    } else if (!channel.Ended) {
        // What is heard now is what was mixed the output latency ago: that
        // many seconds of time, at the channel's pitch.
        if (s.Output == TOutput::Device && HasDeviceClock(s)) {
            // The offset as of the last mix and that mix's device time; the
            // straightened device clock says how long ago that was.
            ALdouble offsetAndClock[2] = {0, 0};
            s.GetSourcedv(channel.Source.Get(), AL_SEC_OFFSET_CLOCK_SOFT, offsetAndClock);
            const double deviceNow = UpdateDeviceLine(s);
            if (offsetAndClock[1] < channel.StartClock) {
                position = channel.StartOffset;
            } else {
                const double sinceMix = std::clamp(deviceNow - offsetAndClock[1], 0.0, s.MaxLead);
                position = offsetAndClock[0] + (sinceMix - HeardLag(s, deviceNow)) * Pitch(s, channel);
            }
        } else if (s.Output == TOutput::Device) {
            position = channel.OffsetLine.Update(SourceOffset(s, channel), SteadySeconds());
        } else {
            position = SourceOffset(s, channel); // mixed up to this moment
            if (s.SimulatedLatency > 0) position -= HeardLag(s, 0) * Pitch(s, channel);
        }
    }
    position = std::max(std::min(position, sample.Seconds), channel.Floor);
    channel.Floor = position;
    channel.FloorTime = SteadySeconds();
    return position;
}

// Readings of the mixes before now belong to the source before a seek or a
// resume to `offset` seconds.
void MarkStart(TSoundState& s, TChannel& channel, double offset) {
    if (s.Output != TOutput::Device || !HasDeviceClock(s)) return;
    // Some backends stop the device clock while nothing plays; the line,
    // carried on by the steady clock, then ran up to MaxLead past it and
    // would only settle back slowly. Restart it from the clock as it is.
    const double clock = DeviceClockSeconds(s);
    if (UpdateDeviceLine(s) - clock > s.Period) s.DeviceLine.Reset(clock, SteadySeconds());
    channel.StartClock = UpdateDeviceLine(s);
    channel.StartOffset = offset;
}

} // namespace sound_detail

double OutputLatencySeconds() {
    const TSoundState& s = State();
    if (s.Output != TOutput::Device) return s.SimulatedLatency;
    return s.Latency.Value() > 0 ? s.Latency.Value() : ReportedLatency(s);
}

void SimulateOutputLatency(double seconds) {
    TSoundState& s = State();
    s.SimulatedLatency = std::isfinite(seconds) ? std::max(seconds, 0.0) : 0.0;
    s.Latency.Reset();
}
