#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "media/sound_clock.h"

namespace {

// A mixer that advances its value by one period's worth every period, each
// mix a little late (scheduling), now and then much later (a busy machine;
// the mixer then catches up at once), polled by a frame loop whose frames
// also jitter. Returns the largest distance, in seconds of value, between the
// straightened clock and the mixer's ideal line, after a settling time.
struct TMixerRun {
    double Rate = 1.0;
    double PollInterval = 1.0 / 60;
    double PollJitter = 0.002;
    double MixJitter = 0.0003;
    double LateChance = 0.05; // of a mix being up to LateBy late
    double LateBy = 0.010;
    double ClockError = 0; // the mixer's clock against the steady clock
    double Seconds = 10.0;
    double Settle = 0.0;
    bool StartOnAStep = true; // the clock was reset right at a mix
};

double MaxDeviation(const TMixerRun& run, unsigned seed = 1) {
    constexpr double Period = 1024.0 / 44100.0;
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    // Mix k is due at k * Period (mixer time) and leaves the value at the end
    // of the block it mixed: (k + 1) * Period * Rate.
    std::vector<double> mixTimes;
    for (double k = 0; k * Period < run.Seconds + 1; ++k) {
        double late = run.MixJitter * unit(random);
        if (unit(random) < run.LateChance) late += run.LateBy * unit(random);
        const double t = k * Period / (1 + run.ClockError) + late;
        mixTimes.push_back(mixTimes.empty() ? t : std::max(t, mixTimes.back()));
    }
    const auto steppedAt = [&](double t) {
        const auto mixed = std::upper_bound(mixTimes.begin(), mixTimes.end(), t) - mixTimes.begin();
        return double(mixed) * Period * run.Rate;
    };
    const auto ideal = [&](double t) { return (t * (1 + run.ClockError) + Period) * run.Rate; };
    TStepClock clock;
    clock.SetMaxLead(0.1);
    clock.SetPeriod(Period);
    double t = mixTimes[3] + (run.StartOnAStep ? 0.0 : 0.02);
    clock.Reset(steppedAt(t), t, run.Rate); // the nominal rate: drift is for the clock to find
    double worst = 0;
    while (t < run.Seconds) {
        t += run.PollInterval + run.PollJitter * (unit(random) - 0.5);
        const double position = clock.Update(steppedAt(t), t);
        if (t > run.Settle) worst = std::max(worst, std::fabs(position - ideal(t)));
    }
    return worst;
}

} // namespace

TEST(StepClock, StraightUnderFrameRatePollingAndLateMixes) {
    for (double rate : {1.0, 0.5, 2.0}) {
        TMixerRun run;
        run.Rate = rate;
        for (unsigned seed = 1; seed <= 5; ++seed) {
            EXPECT_LT(MaxDeviation(run, seed), 0.001 * rate) << "rate " << rate << " seed " << seed;
            run.LateChance = 0;
            EXPECT_LT(MaxDeviation(run, seed), 0.0004 * rate) << "rate " << rate << " seed " << seed;
            run.LateChance = 0.05;
        }
    }
}

TEST(StepClock, FollowsAMixerClockThatDrifts) {
    for (double drift : {-50e-6, 100e-6}) {
        TMixerRun run;
        run.ClockError = drift;
        run.LateChance = 0.01;
        run.Seconds = 60;
        for (unsigned seed = 1; seed <= 3; ++seed)
            EXPECT_LT(MaxDeviation(run, seed), 0.001) << "drift " << drift << " seed " << seed;
    }
}

TEST(StepClock, LocksOntoTheMixerWhenStartedOutOfPhase) {
    TMixerRun run;
    run.StartOnAStep = false; // starts 20 ms behind
    run.Settle = 3.0;
    for (unsigned seed = 1; seed <= 5; ++seed) EXPECT_LT(MaxDeviation(run, seed), 0.001) << "seed " << seed;
}

TEST(StepClock, StraightUnderFastPolling) {
    TMixerRun run;
    run.PollInterval = 0.0005;
    run.PollJitter = 0.0002;
    run.Seconds = 3;
    EXPECT_LT(MaxDeviation(run), 0.0005);
    run.Rate = 2.0;
    EXPECT_LT(MaxDeviation(run), 0.001);
}

TEST(StepClock, NeverBackwardsAndBoundedWhenTheMixerStalls) {
    TStepClock clock;
    clock.SetMaxLead(0.1);
    clock.Reset(0.0, 0.0);
    double last = 0;
    double t = 0;
    double stepped = 0;
    for (int frame = 0; frame < 600; ++frame) {
        t += 0.004;
        if (t < 1.0 && std::fmod(t, 0.023) < 0.004) stepped += 0.023; // steps stop at 1 s
        if (frame == 300) stepped -= 0.5;                             // a stray value behind the line
        const double position = clock.Update(stepped, t);
        EXPECT_GE(position, last) << "t " << t;
        last = position;
    }
    // Steps stopped near 1 s; the line ran on for at most MaxLead.
    EXPECT_LT(last, 1.0 + 0.023 + 0.1 + 1e-9);
}

TEST(StepClock, RateChangeContinuesFromTheCurrentPosition) {
    TStepClock clock;
    clock.Reset(1.0, 10.0, 1.0);
    const double before = clock.Update(1.0, 10.01);
    clock.SetRate(2.0, 10.01);
    EXPECT_NEAR(clock.Update(1.0, 10.01), before, 1e-12);
    EXPECT_NEAR(clock.Update(1.0, 10.02), before + 0.02, 1e-12);
    EXPECT_NEAR(clock.Rate(), 2.0, 0);
}

TEST(LatencyFilter, FindsTheMeanOfAJitteryReportAndBendsTheClockLittle) {
    // A sound server's report: 40 ms, a sawtooth of one 23 ms mix on top
    // (polls land anywhere within it), and now and then a timing update
    // 5 ms off.
    std::mt19937 random(3);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const auto report = [&](double base) { return base + 0.023 * unit(random) + (unit(random) < 0.05 ? 0.005 : 0); };
    TLatencyFilter filter;
    double t = 10.0, last = filter.Update(report(0.040), t);
    double worstSettled = 0;
    while (t < 20.0) {
        t += 1.0 / 60;
        const double value = filter.Update(report(0.040), t);
        if (t > 11.0) {
            EXPECT_LE(std::fabs(value - last), TLatencyFilter::MaxSlew / 60 + 1e-12);
        }
        if (t > 15.0) worstSettled = std::max(worstSettled, std::fabs(value - 0.05175));
        last = value;
    }
    EXPECT_LT(worstSettled, 0.0015);
    // The server grows its buffer by 20 ms: far off, so followed at the
    // fast slew, then settled again.
    const double grownAt = t;
    double caughtUp = 0;
    while (t < 30.0) {
        t += 1.0 / 60;
        const double value = filter.Update(report(0.060), t);
        EXPECT_LE(value - last, TLatencyFilter::FastSlew / 60 + 1e-12);
        if (caughtUp == 0 && value > 0.0715 - 0.0015) caughtUp = t - grownAt;
        last = value;
    }
    EXPECT_GT(caughtUp, 0.0);
    EXPECT_LT(caughtUp, 3.0);
    EXPECT_NEAR(last, 0.07175, 0.0015);
    filter.Reset();
    EXPECT_EQ(filter.Value(), 0.0);
    EXPECT_EQ(filter.Update(0.1, 31.0), 0.1); // a reset filter takes the first report as it is
}
