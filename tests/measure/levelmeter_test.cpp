// The channel level meter against signals whose readings are known by
// construction: sines of a given amplitude (a full-scale sine reads 0 dB),
// tone bursts whose time-weighted maxima follow from the exponential
// average's definition, and on-off sequences whose equivalent level is the
// energy average.
#include "measure/levelmeter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

namespace {
using measure::ChannelLevelMeter;
using measure::Weighting;

constexpr double Rate = 44100.0;
constexpr std::size_t Block = 4410; // a captured block, 100 ms

// Samples of a sine of `hz` at `dbfs` (peak amplitude 32767 * 10^(dB/20)),
// `seconds` long.
std::vector<int16_t> Sine(double hz, double dbfs, double seconds)
{
    const double amplitude = 32767.0 * std::pow(10.0, dbfs / 20.0);
    std::vector<int16_t> samples(static_cast<std::size_t>(std::llround(seconds * Rate)));
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<int16_t>(
            std::lround(amplitude * std::sin(2.0 * std::numbers::pi * hz * static_cast<double>(i) / Rate)));
    return samples;
}

std::vector<int16_t> Silence(double seconds)
{
    return std::vector<int16_t>(static_cast<std::size_t>(std::llround(seconds * Rate)), 0);
}

// Feeds `samples` in captured blocks, as the program does.
void Feed(ChannelLevelMeter& meter, const std::vector<int16_t>& samples)
{
    for (std::size_t start = 0; start < samples.size(); start += Block)
        meter.Process(samples.data() + start, std::min(Block, samples.size() - start));
}

TEST(LevelMeter, SinesReadTheirLevelInDbfs)
{
    for (double dbfs : {0.0, -20.0, -60.0}) {
        ChannelLevelMeter meter(Weighting::Z);
        // Eight time constants of Slow: its reading is settled to 0.002 dB.
        Feed(meter, Sine(1000.0, dbfs, 8.0));
        const auto& levels = meter.Levels();
        EXPECT_NEAR(levels.leqDb, dbfs, 0.01) << dbfs;
        EXPECT_NEAR(levels.fastDb, dbfs, 0.02) << dbfs;
        EXPECT_NEAR(levels.slowDb, dbfs, 0.02) << dbfs;
        // The peaks of a 1 kHz sine at 44.1 kHz fall within 0.02 dB of a
        // sample, give or take the rounding to whole sample values.
        const double rounding = 20.0 * std::log10(1.0 + 0.5 / (32767.0 * std::pow(10.0, dbfs / 20.0)));
        EXPECT_NEAR(levels.samplePeakDb, dbfs, 0.02 + rounding) << dbfs;
        EXPECT_NEAR(levels.samplePeakMaxDb, dbfs, 0.02 + rounding) << dbfs;
        EXPECT_NEAR(levels.seconds, 8.0, 1e-9);
    }
}

TEST(LevelMeter, StereoSamplesAreReadOneChannelAtATime)
{
    // Left at -6 dBFS, right at -26 dBFS, interleaved.
    const auto left = Sine(1000.0, -6.0, 1.0), right = Sine(1000.0, -26.0, 1.0);
    std::vector<int16_t> interleaved;
    for (std::size_t i = 0; i < left.size(); ++i) {
        interleaved.push_back(left[i]);
        interleaved.push_back(right[i]);
    }
    ChannelLevelMeter l(Weighting::Z), r(Weighting::Z);
    l.Process(interleaved.data(), left.size(), 2);
    r.Process(interleaved.data() + 1, right.size(), 2);
    EXPECT_NEAR(l.Levels().leqDb, -6.0, 0.01);
    EXPECT_NEAR(r.Levels().leqDb, -26.0, 0.01);
}

TEST(LevelMeter, PeaksClipsAndTheirReset)
{
    ChannelLevelMeter meter;
    std::vector<int16_t> block{100, -16384, 32767, 0, -32768, -32768, 5};
    meter.Process(block.data(), block.size());
    EXPECT_EQ(meter.Levels().clippedSamples, 3u);
    EXPECT_NEAR(meter.Levels().samplePeakDb, 20.0 * std::log10(32768.0 / 32767.0), 1e-9);

    std::vector<int16_t> quieter{100, -16384, 200};
    meter.Process(quieter.data(), quieter.size());
    EXPECT_NEAR(meter.Levels().samplePeakDb, 20.0 * std::log10(16384.0 / 32767.0), 1e-9); // -6.02 dB
    EXPECT_NEAR(meter.Levels().samplePeakMaxDb, 0.0, 0.001);                              // held
    EXPECT_EQ(meter.Levels().clippedSamples, 3u);

    meter.Reset();
    EXPECT_EQ(meter.Levels().clippedSamples, 0u);
    meter.Process(quieter.data(), quieter.size());
    EXPECT_NEAR(meter.Levels().samplePeakMaxDb, 20.0 * std::log10(16384.0 / 32767.0), 1e-9);
}

// A tone burst of duration T after silence lifts an exponential average with
// time constant tau to (1 - e^(-T/tau)) of the steady mean square: its
// maximum reads 10 lg(1 - e^(-T/tau)) below the steady level (the standard's
// tone-burst responses are this formula).
TEST(LevelMeter, ToneBurstMaximaFollowTheTimeConstants)
{
    const double steadyDb = -10.0;
    for (Weighting weighting : {Weighting::A, Weighting::Z}) {
        for (double burst : {0.010, 0.100, 0.200, 1.000}) {
            ChannelLevelMeter meter(weighting);
            Feed(meter, Silence(0.5));
            auto signal = Sine(1000.0, steadyDb, burst);
            const auto after = Silence(2.0);
            signal.insert(signal.end(), after.begin(), after.end());
            Feed(meter, signal);
            const double fast = steadyDb + 10.0 * std::log10(1.0 - std::exp(-burst / measure::FastTimeConstant));
            const double slow = steadyDb + 10.0 * std::log10(1.0 - std::exp(-burst / measure::SlowTimeConstant));
            EXPECT_NEAR(meter.Levels().fastMaxDb, fast, 0.3) << measure::WeightingName(weighting) << " " << burst;
            EXPECT_NEAR(meter.Levels().slowMaxDb, slow, 0.3) << measure::WeightingName(weighting) << " " << burst;
        }
    }
}

// After a steady tone stops, the exponential average falls by 10 lg(e) / tau
// decibels a second: 34.7 dB/s Fast, 4.3 dB/s Slow.
TEST(LevelMeter, LevelsDecayAtTheRatesOfTheTimeConstants)
{
    ChannelLevelMeter meter(Weighting::Z);
    Feed(meter, Sine(1000.0, -10.0, 5.0));
    Feed(meter, Silence(0.5));
    const double perSecond = 10.0 * std::log10(std::exp(1.0));
    EXPECT_NEAR(meter.Levels().fastDb, -10.0 - 0.5 * perSecond / measure::FastTimeConstant, 0.1);
    EXPECT_NEAR(meter.Levels().slowDb, -10.0 - 0.5 * perSecond / measure::SlowTimeConstant, 0.1);
    EXPECT_NEAR(meter.Levels().fastMaxDb, -10.0, 0.02);
}

// Leq is the energy average: one second of a -10 dBFS tone and one of
// silence hold half its energy, -13.01 dBFS. A reset starts it again.
TEST(LevelMeter, LeqAveragesTheEnergySinceTheReset)
{
    ChannelLevelMeter meter(Weighting::Z);
    Feed(meter, Sine(1000.0, -10.0, 1.0));
    Feed(meter, Silence(1.0));
    EXPECT_NEAR(meter.Levels().leqDb, -10.0 - 10.0 * std::log10(2.0), 0.01);
    EXPECT_NEAR(meter.Levels().seconds, 2.0, 1e-9);

    meter.Reset();
    EXPECT_EQ(meter.Levels().leqDb, measure::SilenceDb);
    EXPECT_EQ(meter.Levels().seconds, 0.0);
    Feed(meter, Sine(1000.0, -30.0, 1.0));
    EXPECT_NEAR(meter.Levels().leqDb, -30.0, 0.01);

    ChannelLevelMeter silent;
    Feed(silent, Silence(1.0));
    EXPECT_EQ(silent.Levels().leqDb, measure::SilenceDb);
    EXPECT_EQ(silent.Levels().fastDb, measure::SilenceDb);
    EXPECT_EQ(silent.Levels().samplePeakDb, measure::SilenceDb);
}

// The levels are frequency weighted and the sample peak is not: a 31.5 Hz
// tone reads 39.4 dB lower with A and 3.0 dB lower with C (the standard's
// table), and its C-weighted peak (LCpeak) 3.0 dB below its sample peak.
TEST(LevelMeter, WeightingAppliesToTheLevelsAndTheWeightedPeak)
{
    const auto tone = Sine(31.5, -6.0, 8.0);
    ChannelLevelMeter a(Weighting::A), c(Weighting::C);
    Feed(a, tone);
    Feed(c, tone);
    EXPECT_NEAR(a.Levels().slowDb, -6.0 - 39.4, 0.5);
    EXPECT_NEAR(c.Levels().slowDb, -6.0 - 3.0, 0.1);
    EXPECT_NEAR(a.Levels().samplePeakDb, -6.0, 0.01);
    // The peak once the filter has settled (the onset overshoots).
    c.Reset();
    Feed(c, tone);
    EXPECT_NEAR(c.Levels().weightedPeakMaxDb, -6.0 - 3.0, 0.1);

    // Another weighting starts again.
    c.SetWeighting(Weighting::Z);
    EXPECT_EQ(c.CurrentWeighting(), Weighting::Z);
    EXPECT_EQ(c.Levels().leqDb, measure::SilenceDb);
    Feed(c, tone);
    EXPECT_NEAR(c.Levels().leqDb, -6.0, 0.01);
}

} // namespace
