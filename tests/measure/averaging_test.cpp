// Averages and peak hold of powers against values known by construction:
// arithmetic means of chosen sets, the exponential's 1 - 1/e after one time
// constant, a peak's fall at its rate.
#include "measure/averaging.h"
#include "measure/peakhold.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace {
using measure::Averaging;
using measure::PowerAverager;

constexpr double Interval = 441.0 / 44100.0; // one slice: 10 ms

// The same power in every bin.
std::vector<double> Flat(int size, double power)
{
    return std::vector<double>(size, power);
}

TEST(PowerAverage, OffShowsTheLastSetAndCountsThem)
{
    PowerAverager average(3, Interval);
    EXPECT_EQ(average.Power(), Flat(3, 0.0)) << "zeros before the first set";
    const double a[] = {1, 2, 3}, b[] = {7, 0, 5};
    average.Add(a);
    average.Add(b);
    EXPECT_EQ(average.Power(), (std::vector<double>{7, 0, 5}));
    EXPECT_EQ(average.Count(), 2);
    average.Reset();
    EXPECT_EQ(average.Count(), 0);
    EXPECT_EQ(average.Power(), Flat(3, 0.0));
}

// Sets 1, 2, 3, ... in every bin: the mean of the last N of k sets is
// k - (N - 1) / 2, of all k while k < N.
TEST(PowerAverage, LinearIsTheMeanOfTheLastNSets)
{
    for (Averaging mode : {Averaging::Linear10, Averaging::Linear50, Averaging::Linear100, Averaging::Linear500}) {
        const int n = measure::AveragingLength(mode);
        PowerAverager average(4, Interval, mode);
        for (int k = 1; k <= 3 * n + 7; ++k) {
            const std::vector<double> set = Flat(4, k);
            average.Add(set.data());
            const double held = std::min(k, n);
            const double expected = k - (held - 1) / 2.0;
            ASSERT_NEAR(average.Power()[2], expected, 1e-9 * expected) << measure::AveragingName(mode) << " " << k;
        }
        EXPECT_EQ(average.Count(), 3 * n + 7);
    }
}

// A loud passage followed by quiet: a round of the history after the loud
// sets have left it, the average is the quiet power itself, not what the
// rounding of the running sum left behind (1e9 taken away from a sum leaves
// errors near 1e-7, a hundred times the quiet power of -140 dBFS).
TEST(PowerAverage, LinearForgetsALoudPassageCompletely)
{
    PowerAverager average(1, Interval, Averaging::Linear10);
    const double loud = 1e9, quiet = 1e-3;
    for (int k = 0; k < 13; ++k)
        average.Add(&loud);
    for (int k = 0; k < 20; ++k)
        average.Add(&quiet);
    EXPECT_NEAR(average.Power()[0], quiet, quiet * 1e-6);
}

TEST(PowerAverage, InfiniteIsTheMeanOfEverySetSinceTheReset)
{
    PowerAverager average(2, Interval, Averaging::Infinite);
    double sum = 0;
    for (int k = 1; k <= 1234; ++k) {
        const double power[] = {double(k % 17), 5.0};
        sum += k % 17;
        average.Add(power);
    }
    EXPECT_EQ(average.Count(), 1234);
    EXPECT_NEAR(average.Power()[0], sum / 1234, 1e-12);
    EXPECT_NEAR(average.Power()[1], 5.0, 1e-12);
    average.Reset();
    const double once[] = {3, 4};
    average.Add(once);
    EXPECT_EQ(average.Count(), 1);
    EXPECT_EQ(average.Power(), (std::vector<double>{3, 4}));
}

// A +20 dB step after the average has settled: one time constant later the
// average has come 1 - 1/e of the way to the new power (within 10 %).
TEST(PowerAverage, ExponentialAnswersAStepByOneMinusOneOverEAfterItsTimeConstant)
{
    for (Averaging mode :
         {Averaging::Exponential125ms, Averaging::Exponential1s, Averaging::Exponential4s, Averaging::Exponential10s}) {
        const double tau = measure::AveragingTimeConstant(mode);
        const int settle = static_cast<int>(std::lround(10 * tau / Interval));
        const int oneTau = static_cast<int>(std::lround(tau / Interval));
        PowerAverager average(1, Interval, mode);
        const double before = 1.0, after = 100.0;
        for (int k = 0; k < settle; ++k)
            average.Add(&before);
        EXPECT_NEAR(average.Power()[0], before, 1e-9);
        for (int k = 0; k < oneTau; ++k)
            average.Add(&after);
        const double reached = (average.Power()[0] - before) / (after - before);
        EXPECT_NEAR(reached, 1.0 - 1.0 / std::exp(1.0), 0.1 * (1.0 - 1.0 / std::exp(1.0)))
            << measure::AveragingName(mode);
    }
}

TEST(PowerAverage, ExponentialStartsFromTheSignalAfterAReset)
{
    PowerAverager average(1, Interval, Averaging::Exponential10s);
    const double power = 42.0;
    average.Add(&power);
    EXPECT_EQ(average.Power()[0], power) << "not 1 % of it";
}

TEST(PowerAverage, ChangingTheModeStartsAgain)
{
    PowerAverager average(1, Interval, Averaging::Infinite);
    const double power = 8.0;
    average.Add(&power);
    average.SetMode(Averaging::Linear10);
    EXPECT_EQ(average.Mode(), Averaging::Linear10);
    EXPECT_EQ(average.Count(), 0);
    EXPECT_EQ(average.Power()[0], 0.0);
}

TEST(PowerAverage, UnusablePowersCountAsZero)
{
    for (Averaging mode : {Averaging::Off, Averaging::Exponential1s, Averaging::Linear10, Averaging::Infinite}) {
        PowerAverager average(3, Interval, mode);
        const double good[] = {4, 4, 4};
        const double bad[] = {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(), -4};
        average.Add(good);
        average.Add(bad);
        for (int k = 0; k < 20; ++k)
            average.Add(good);
        for (double p : average.Power())
            EXPECT_TRUE(std::isfinite(p) && p >= 0) << measure::AveragingName(mode);
    }
}

TEST(PowerAverage, NamesOfTheChoices)
{
    EXPECT_STREQ(measure::AveragingName(Averaging::Off), "Off");
    EXPECT_STREQ(measure::AveragingName(Averaging::Exponential125ms), "Fast (0.125 s)");
    EXPECT_STREQ(measure::AveragingName(Averaging::Infinite), "Infinite");
}

// ---- peak hold ---------------------------------------------------------------

TEST(PeakHold, KeepsTheHighestPowerPerBinUntilReset)
{
    measure::PeakHold hold(3);
    const double a[] = {1, 9, 3}, b[] = {5, 2, std::numeric_limits<double>::quiet_NaN()};
    hold.Add(a, Interval);
    hold.Add(b, Interval);
    EXPECT_EQ(hold.Power(), (std::vector<double>{5, 9, 3}));
    hold.Reset();
    EXPECT_EQ(hold.Power(), (std::vector<double>{0, 0, 0}));
}

// A held peak with nothing above it falls at the chosen rate: after two
// seconds of silence at 10 dB/s it lies 20 dB (a factor of 100) lower.
TEST(PeakHold, DecayLowersAHeldPeakAtItsRate)
{
    for (double rate : measure::PeakDecayChoices) {
        measure::PeakHold hold(1, rate);
        const double peak = 1e6, silence = 0.0;
        hold.Add(&peak, Interval);
        for (int k = 0; k < 200; ++k)
            hold.Add(&silence, Interval);
        const double fallDb = 10.0 * std::log10(peak / hold.Power()[0]);
        EXPECT_NEAR(fallDb, 2.0 * rate, 0.1 * 2.0 * rate + 1e-9) << rate << " dB/s";
    }
}

TEST(PeakHold, ANegativeOrNaNDecayHolds)
{
    measure::PeakHold hold(1, -5.0);
    hold.SetDecay(std::numeric_limits<double>::quiet_NaN());
    const double peak = 7.0, silence = 0.0;
    hold.Add(&peak, Interval);
    hold.Add(&silence, 10.0);
    EXPECT_EQ(hold.Power()[0], peak);
}

} // namespace
