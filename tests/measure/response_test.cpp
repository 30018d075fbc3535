#include "measure/response.h"
#include "measure/sweep.h"

#include "common/biquads.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <numbers>
#include <random>
#include <vector>

namespace {

using namespace measure;

SweepParameters ShortSweep()
{
    SweepParameters p;
    p.seconds = 2;
    p.silenceSeconds = 0.5;
    p.levelDbfs = -6;
    return p;
}

// A stereo recording whose channels hold the sweep delayed by whole samples
// and scaled, over a little noise, as a loopback would bring it back.
std::vector<int16_t> Recording(const ExponentialSweep& sweep, int leftDelay, double leftGain, int rightDelay,
                               double rightGain, int extra = 22050)
{
    const std::vector<double> x = sweep.Samples();
    const std::size_t frames = x.size() + static_cast<std::size_t>(extra);
    std::vector<int16_t> stereo(2 * frames, 0);
    std::mt19937 noise(7);
    std::normal_distribution<double> hiss(0.0, 1.0);
    for (std::size_t n = 0; n < frames; ++n) {
        auto at = [&](int delay, double gain) {
            const long long i = static_cast<long long>(n) - delay;
            const double v = (i >= 0 && i < static_cast<long long>(x.size())) ? gain * x[static_cast<std::size_t>(i)]
                                                                              : 0;
            return static_cast<int16_t>(std::clamp<long>(std::lround(v + hiss(noise)), -32768, 32767));
        };
        stereo[2 * n] = at(leftDelay, leftGain);
        stereo[2 * n + 1] = at(rightDelay, rightGain);
    }
    return stereo;
}

double GainDb(double gain)
{
    return 20 * std::log10(gain);
}

void ExpectFlat(const ResponseMeasurement& m, double expectedDb, double toleranceDb)
{
    for (const ResponsePoint& p : m.points)
        if (p.hz >= 20 && p.hz <= 20000) {
            ASSERT_NEAR(p.magnitudeDb, expectedDb, toleranceDb) << p.hz << " Hz";
        }
}

TEST(ResponseMeasurement, GeneratedReferenceReadsTheChannelsGainAndDelay)
{
    const ExponentialSweep sweep(ShortSweep());
    const auto recording = Recording(sweep, 777, 0.5, 300, 0.25);

    const ResponseOutcome left = AnalyseResponse(sweep, recording, ResponseReference::Generated, 0);
    ASSERT_TRUE(left.measurement) << left.error;
    EXPECT_NEAR(left.measurement->delaySamples, 777, 0.05);
    EXPECT_NEAR(left.measurement->delayMs, 777 / 44.1, 0.002);
    EXPECT_FALSE(left.measurement->clipped);
    EXPECT_TRUE(left.measurement->coherence.empty());
    ExpectFlat(*left.measurement, GainDb(0.5), 0.01);
    ASSERT_EQ(left.measurement->points.size(), LogFrequencyGrid().size());

    // The known offset of the recording is taken off the delay.
    const ResponseOutcome right = AnalyseResponse(sweep, recording, ResponseReference::Generated, 1, 250.0);
    ASSERT_TRUE(right.measurement) << right.error;
    EXPECT_NEAR(right.measurement->delaySamples, 50, 0.05);
    ExpectFlat(*right.measurement, GainDb(0.25), 0.01);
    // The peak follows the gain: the right channel is 6 dB below the left.
    EXPECT_NEAR(left.measurement->peakDb - right.measurement->peakDb, GainDb(2.0), 0.01);
}

TEST(ResponseMeasurement, RecordedReferenceGivesTheRatioOfTheChannelsAndTheirCoherence)
{
    const ExponentialSweep sweep(ShortSweep());
    // The left channel carries the reference (the card's own path, 100
    // samples), the right the device under test behind it (150 samples, -12 dB).
    const auto recording = Recording(sweep, 100, 1.0, 250, 0.25);

    const ResponseOutcome outcome = AnalyseResponse(sweep, recording, ResponseReference::Left, 0);
    ASSERT_TRUE(outcome.measurement) << outcome.error;
    EXPECT_NEAR(outcome.measurement->delaySamples, 150, 0.05);
    ExpectFlat(*outcome.measurement, GainDb(0.25), 0.01);
    ASSERT_EQ(outcome.measurement->coherence.size(), outcome.measurement->points.size());
    for (std::size_t i = 0; i < outcome.measurement->points.size(); ++i)
        if (outcome.measurement->points[i].hz >= 100 && outcome.measurement->points[i].hz <= 15000) {
            ASSERT_GT(outcome.measurement->coherence[i], 0.95) << outcome.measurement->points[i].hz;
        }

    // The other way round the ratio inverts.
    const ResponseOutcome inverse = AnalyseResponse(sweep, recording, ResponseReference::Right, 0);
    ASSERT_TRUE(inverse.measurement) << inverse.error;
    EXPECT_NEAR(inverse.measurement->delaySamples, -150, 0.05);
    ExpectFlat(*inverse.measurement, GainDb(4.0), 0.01);
}

// The played (16-bit) sweep through the filters, on the left channel of a
// 16-bit recording, against their analytic response.
TEST(ResponseMeasurement, KnownFiltersReadTheirAnalyticMagnitudeAndPhase)
{
    SweepParameters parameters = ShortSweep();
    parameters.levelDbfs = -12; // the peaking filter's +6 dB stays below full scale
    const ExponentialSweep sweep(parameters);
    const std::vector<int16_t> played = sweep.Samples16();
    std::vector<double> x(played.begin(), played.end());
    x.resize(x.size() + 22050, 0.0);
    for (const testsupport::Biquad& filter :
         {testsupport::PeakingBiquad(1000, 1, 6, 44100), testsupport::LowPassBiquad(5000, std::sqrt(0.5), 44100)}) {
        const std::vector<double> y = filter.Run(x);
        std::vector<int16_t> stereo(2 * y.size(), 0);
        for (std::size_t n = 0; n < y.size(); ++n)
            stereo[2 * n] = static_cast<int16_t>(std::lround(y[n]));
        const ResponseOutcome outcome = AnalyseResponse(sweep, stereo, ResponseReference::Generated, 0);
        ASSERT_TRUE(outcome.measurement) << outcome.error;
        EXPECT_NEAR(outcome.measurement->delaySamples, 0, 2.0); // a biquad's peak lies within its first two samples
        for (const ResponsePoint& p : outcome.measurement->points) {
            if (p.hz < 30 || p.hz > 15000)
                continue;
            const std::complex<double> h = filter.At(p.hz, 44100);
            // The phase is read against the found peak's delay: put it back.
            const double phase = std::arg(
                h * std::polar(1.0, 2 * std::numbers::pi * p.hz * outcome.measurement->delaySamples / 44100));
            ASSERT_NEAR(p.magnitudeDb, 20 * std::log10(std::abs(h)), 0.05) << p.hz << " Hz";
            ASSERT_NEAR(std::remainder(p.phaseDegrees - phase * 180 / std::numbers::pi, 360.0), 0, 1.0)
                << p.hz << " Hz";
        }
    }
}

TEST(ResponseMeasurement, NoSweepAndClippingAreReported)
{
    const ExponentialSweep sweep(ShortSweep());
    const auto silent = Recording(sweep, 0, 0.0, 0, 0.0);
    const ResponseOutcome none = AnalyseResponse(sweep, silent, ResponseReference::Generated, 0);
    EXPECT_FALSE(none.measurement);
    EXPECT_NE(none.error.find("No sweep found in the recording"), std::string::npos) << none.error;

    const auto loud = Recording(sweep, 10, 2.2, 10, 1.0); // -6 dBFS raised 6.8 dB: clipped
    const ResponseOutcome outcome = AnalyseResponse(sweep, loud, ResponseReference::Generated, 0);
    ASSERT_TRUE(outcome.measurement) << outcome.error;
    EXPECT_TRUE(outcome.measurement->clipped);

    const ResponseOutcome shortOne = AnalyseResponse(sweep, std::vector<int16_t>(1000, 0), ResponseReference::Generated,
                                                     0);
    EXPECT_FALSE(shortOne.measurement);
    EXPECT_FALSE(shortOne.error.empty());
}

TEST(ResponseCoherence, IsOneForALinearPathAndFallsWithUnrelatedNoise)
{
    std::mt19937 source(3);
    std::normal_distribution<double> white(0.0, 1.0);
    const std::size_t n = 1 << 19;
    std::vector<double> x(n), y(n), z(n);
    for (std::size_t i = 0; i < n; ++i) {
        x[i] = white(source);
        z[i] = white(source);
        y[i] = 0.5 * x[i] + (i >= 3 ? 0.2 * x[i - 3] : 0.0);
    }
    // x + z with equal powers: coherence 1/2 at every frequency (by construction).
    std::vector<double> half(n);
    for (std::size_t i = 0; i < n; ++i)
        half[i] = x[i] + z[i];
    const std::vector<double> hz = {100, 1000, 5000, 15000};
    for (double c : Coherence(x, y, 44100, hz, 4096))
        EXPECT_NEAR(c, 1.0, 1e-4);
    for (double c : Coherence(x, half, 44100, hz, 4096))
        EXPECT_NEAR(c, 0.5, 0.1);
}

} // namespace

namespace {

measure::ResponseMeasurement ShortImpulse(double offsetFrames, double delaySamples)
{
    measure::ResponseMeasurement m;
    m.impulse.startLag = 100; // peak at 101
    m.impulse.samples = {0.25, 1.0, -0.5};
    m.offsetFrames = offsetFrames;
    m.delaySamples = delaySamples;
    return m;
}

TEST(ResponseImpulseFile, FirstSampleIsAtZeroDelayUnlessThePeakComesBeforeIt)
{
    // The played frame 0 arrives at recording frame 90.4: the window starts
    // ten samples after zero delay and the peak lies at the delay.
    const std::vector<float> later = measure::ImpulseFromZeroDelay(ShortImpulse(90.4, 10.6));
    ASSERT_EQ(later.size(), 13u);
    EXPECT_EQ(later[9], 0.0f);
    EXPECT_EQ(later[10], 0.25f);
    EXPECT_EQ(later[11], 1.0f);
    // Arrival at frame 101 (the peak a hair before it, as a loopback reads):
    // what came before zero delay is left out.
    const std::vector<float> earlier = measure::ImpulseFromZeroDelay(ShortImpulse(101, -0.003));
    ASSERT_EQ(earlier.size(), 2u);
    EXPECT_EQ(earlier[0], 1.0f);
    EXPECT_EQ(earlier[1], -0.5f);
    // A peak before zero delay (a recorded reference arriving late): the
    // file starts with the window, the response whole.
    const std::vector<float> whole = measure::ImpulseFromZeroDelay(ShortImpulse(0, -20));
    ASSERT_EQ(whole.size(), 3u);
    EXPECT_EQ(whole[1], 1.0f);
}

} // namespace
