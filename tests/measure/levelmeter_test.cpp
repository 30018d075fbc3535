// The channel level meter on signals whose readings are known by
// construction: sines of a given peak amplitude (a full-scale sine reads
// 0 dB), tone bursts whose time-weighted maxima follow from the exponential
// average's definition, on-off sequences whose Leq is the energy average.
#include "measure/levelmeter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <tuple>
#include <vector>

namespace {
using measure::ChannelLevelMeter;
using measure::Weighting;

// A sine of `hz` with the peak amplitude 32767 * 10^(dBFS/20); or silence.
std::vector<int16_t> Sine(double hz, double dbfs, double seconds)
{
    const double amplitude = 32767.0 * std::pow(10.0, dbfs / 20.0);
    std::vector<int16_t> samples(static_cast<std::size_t>(std::llround(seconds * 44100.0)));
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<int16_t>(
            std::lround(amplitude * std::sin(2.0 * std::numbers::pi * hz * static_cast<double>(i) / 44100.0)));
    return samples;
}

std::vector<int16_t> Silence(double seconds)
{
    return Sine(1000.0, -300.0, seconds);
}

// In captured blocks of 4410 samples, as the program feeds it.
void Feed(ChannelLevelMeter& meter, const std::vector<int16_t>& samples)
{
    for (std::size_t start = 0; start < samples.size(); start += 4410)
        meter.Process(samples.data() + start, std::min<std::size_t>(4410, samples.size() - start));
}

// Interleaved stereo, each meter reading its own channel.
TEST(LevelMeter, SinesReadTheirLevelInDbfs)
{
    const auto left = Sine(1000.0, 0.0, 8.0), right = Sine(1000.0, -60.0, 8.0);
    std::vector<int16_t> stereo;
    for (std::size_t i = 0; i < left.size(); ++i)
        stereo.insert(stereo.end(), {left[i], right[i]});
    ChannelLevelMeter l(Weighting::Z), r(Weighting::Z);
    for (std::size_t start = 0; start < left.size(); start += 4410) {
        l.Process(stereo.data() + 2 * start, 4410, 2);
        r.Process(stereo.data() + 2 * start + 1, 4410, 2);
    }
    // Eight seconds settle Slow to 0.002 dB. The sampled peaks of 1 kHz miss
    // the crests by 0.02 dB at most, plus the rounding to whole values.
    for (auto [meter, dbfs, peakTolerance] : {std::tuple{&l, 0.0, 0.02}, std::tuple{&r, -60.0, 0.1}}) {
        const auto& levels = meter->Levels();
        EXPECT_NEAR(levels.leqDb, dbfs, 0.01);
        EXPECT_NEAR(levels.fastDb, dbfs, 0.02);
        EXPECT_NEAR(levels.slowDb, dbfs, 0.02);
        EXPECT_NEAR(levels.samplePeakMaxDb, dbfs, peakTolerance);
        EXPECT_NEAR(levels.seconds, 8.0, 1e-9);
    }
}

TEST(LevelMeter, PeaksClipsAndTheirReset)
{
    ChannelLevelMeter meter;
    std::vector<int16_t> clipped{100, -16384, 32767, 0, -32768, -32768}, quieter{100, -16384};
    meter.Process(clipped.data(), clipped.size());
    meter.Process(quieter.data(), quieter.size());
    const double halfScaleDb = 20.0 * std::log10(16384.0 / 32767.0); // -6.02 dB
    EXPECT_NEAR(meter.Levels().samplePeakDb, halfScaleDb, 1e-9);     // the last block
    EXPECT_NEAR(meter.Levels().samplePeakMaxDb, 0.0, 0.001);         // held
    EXPECT_EQ(meter.Levels().clippedSamples, 3u);
    meter.Reset();
    meter.Process(quieter.data(), quieter.size());
    EXPECT_EQ(meter.Levels().clippedSamples, 0u);
    EXPECT_NEAR(meter.Levels().samplePeakMaxDb, halfScaleDb, 1e-9);
}

// A burst of duration T after silence lifts an exponential average with the
// time constant tau to 1 - e^(-T/tau) of the steady mean square.
TEST(LevelMeter, ToneBurstMaximaFollowTheTimeConstants)
{
    for (Weighting weighting : {Weighting::A, Weighting::Z}) {
        for (double burst : {0.010, 0.100, 0.200, 1.000}) {
            ChannelLevelMeter meter(weighting);
            Feed(meter, Silence(0.5));
            Feed(meter, Sine(1000.0, -10.0, burst));
            Feed(meter, Silence(2.0));
            const auto below = [&](double tau) { return 10.0 * std::log10(1.0 - std::exp(-burst / tau)); };
            EXPECT_NEAR(meter.Levels().fastMaxDb, -10.0 + below(measure::FastTimeConstant), 0.3) << burst;
            EXPECT_NEAR(meter.Levels().slowMaxDb, -10.0 + below(measure::SlowTimeConstant), 0.3) << burst;
        }
    }
}

// One second at -10 dBFS and one of silence hold half its energy.
TEST(LevelMeter, LeqAveragesTheEnergySinceTheReset)
{
    ChannelLevelMeter meter(Weighting::Z);
    Feed(meter, Silence(1.0));
    EXPECT_EQ(meter.Levels().leqDb, measure::SilenceDb);
    EXPECT_EQ(meter.Levels().fastDb, measure::SilenceDb);
    Feed(meter, Sine(1000.0, -10.0, 1.0));
    EXPECT_NEAR(meter.Levels().leqDb, -10.0 - 10.0 * std::log10(2.0), 0.01);
    meter.Reset();
    EXPECT_EQ(meter.Levels().leqDb, measure::SilenceDb);
    Feed(meter, Sine(1000.0, -30.0, 1.0));
    EXPECT_NEAR(meter.Levels().leqDb, -30.0, 0.01);
}

// A 31.5 Hz tone reads 39.4 dB lower with A and 3.0 dB lower with C, its
// C-weighted peak (LCpeak) 3.0 dB below its sample peak, which stays.
TEST(LevelMeter, WeightingAppliesToTheLevelsAndTheWeightedPeak)
{
    const auto tone = Sine(31.5, -6.0, 8.0);
    ChannelLevelMeter a(Weighting::A), c(Weighting::C);
    Feed(a, tone);
    Feed(c, tone);
    EXPECT_NEAR(a.Levels().slowDb, -6.0 - 39.4, 0.5);
    EXPECT_NEAR(c.Levels().slowDb, -6.0 - 3.0, 0.1);
    EXPECT_NEAR(a.Levels().samplePeakDb, -6.0, 0.01);
    c.Reset(); // past the filter's onset
    Feed(c, tone);
    EXPECT_NEAR(c.Levels().weightedPeakMaxDb, -6.0 - 3.0, 0.1);
    c.SetWeighting(Weighting::Z); // starts again
    EXPECT_EQ(c.Levels().leqDb, measure::SilenceDb);
    Feed(c, tone);
    EXPECT_NEAR(c.Levels().leqDb, -6.0, 0.01);
}

} // namespace
