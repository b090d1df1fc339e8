// Straightens a position that a mixer advances in steps. The mixer moves a
// play offset (or its own sample clock) once per mixing period, about 23 ms;
// reading that value each frame makes motion judder. TStepClock turns the
// steps into a line: the value at the last step, plus the steady-clock time
// since, times the rate.
//
// A mixer may run late (its thread was not scheduled, the machine is busy)
// but never early: a value it reports was due no later than the moment it is
// seen. So every observation is a lower bound for the line, and the line is
// carried forward from the highest of them; late steps cannot bend it. On a
// clock that is right, the line is never more than one mixing period past
// the last observed value; where it is, either that mix is late or the
// device clock runs slower than the steady clock, and the line settles back
// by PullBack of the elapsed time until it is within the period again. A
// mixer that stalls holds the line at the lead limit; when it moves again the
// line starts over from its new value (results hold until it catches up). Pure
// arithmetic: no audio calls, every time is passed in (seconds on one steady
// clock).
#pragma once

class TStepClock {
public:
    // How fast the line settles back while it is more than a period past
    // the last observed value, as a fraction of the elapsed value: enough to
    // follow a sound card whose clock is 50 ppm slow to within half a
    // millisecond, little enough that late mixes barely move the line.
    static constexpr double PullBack = 0.002;

    // Starts a new line at `stepped` (the value just observed) at time `now`,
    // advancing `rate` per second. Clears the no-running-backwards floor.
    void Reset(double stepped, double now, double rate = 1.0);
    // Continues from the current estimate at a new rate (a rate change must
    // not make the position jump).
    void SetRate(double rate, double now);
    // The longest the line may run past the last observed value, in seconds
    // of time: a stalled mixer must not let the estimate run away.
    void SetMaxLead(double seconds) { maxLead = seconds; }
    // The mixer's period in seconds of time (one step's worth).
    void SetPeriod(double seconds) { period = seconds; }
    // Observes the stepped value at `now`; returns the straightened position,
    // never below an earlier result since the last Reset.
    double Update(double stepped, double now);

    double Rate() const { return rate; }

private:
    double anchorValue = 0; // the line's value at anchorTime
    double anchorTime = 0;  // seconds
    double rate = 1;        // value units per second
    double floor = 0;       // the last result (results never go below it)
    double maxLead = 0.1;   // seconds
    double period = 0.025;  // seconds
    bool stalled = false;   // the line reached maxLead past stalledAt
    double stalledAt = 0;
};

// Smooths the output latency of a real device, measured against the
// straightened mixer clock: how far the sound being heard now lags the
// mixer's line, in seconds of time. A sound server reports it with jitter
// (timing updates arrive now and then, buffers refill in bursts). The result
// follows an exponential average of the reports (time constant Smoothing)
// and moves no faster than MaxSlew seconds per second once settled (Warmup
// after the first report), so subtracting it bends the music clock's rate by
// at most that fraction. Further off than FarOff (a sound server that
// started late, a buffer resized) it follows at FastSlew, so the picture is
// not out of step for long. Pure arithmetic, like TStepClock.
class TLatencyFilter {
public:
    static constexpr double Smoothing = 0.5; // seconds
    static constexpr double MaxSlew = 0.005; // seconds per second, once settled
    static constexpr double Warmup = 1.0;    // seconds of faster following
    static constexpr double WarmupSlew = 0.05;
    static constexpr double FarOff = 0.010; // seconds
    static constexpr double FastSlew = 0.1;

    // Forgets every report; the next one is taken as it is.
    void Reset() { started = false; }
    // Takes a report (seconds) at `now` (steady seconds); returns the
    // smoothed latency.
    double Update(double reported, double now);
    double Value() const { return started ? value : 0.0; }

private:
    bool started = false;
    double average = 0; // exponential average of the reports
    double value = 0;   // the smoothed latency
    double firstTime = 0;
    double lastTime = 0;
};
