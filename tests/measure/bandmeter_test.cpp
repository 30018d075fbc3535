#include "measure/bandmeter.h"
#include "measure/levels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

namespace {

constexpr int Frames = 4410;

// `blocks` blocks of a sine of `hz` at `amplitude` on the left, silence right.
void FeedTone(measure::BandMeter& meter, double hz, double amplitude, int blocks, long& n)
{
    std::vector<int16_t> left(Frames), right(Frames, 0);
    for (int b = 0; b < blocks; ++b) {
        for (auto& s : left)
            s = static_cast<int16_t>(std::lround(amplitude * std::sin(2.0 * std::numbers::pi * hz * n++ / 44100.0)));
        meter.AddBlock(left.data(), right.data(), Frames);
    }
}

int IndexOf(const measure::BandReading& reading, double nominal)
{
    for (int i = 0; i < static_cast<int>(reading.bands.size()); ++i)
        if (reading.bands[i].nominalHz == nominal)
            return i;
    return -1;
}

// A 1 kHz tone at half scale reads -6.02 dBFS in the 1 kHz band, on the
// left only; A weighting lowers a 125 Hz band by the standard's 16.1 dB;
// the peak stays at the loudest level after the tone gets quieter.
TEST(BandMeter, ReadsWeightsAndHoldsBandLevels)
{
    measure::BandMeter meter(0.1);
    long n = 0;
    FeedTone(meter, 1000.0, 16383.5, 10, n);
    auto reading = meter.Read();
    const int k = IndexOf(reading, 1000);
    ASSERT_GE(k, 0);
    EXPECT_NEAR(reading.levelDb[0][k], -20.0 * std::log10(2.0), 0.05);
    EXPECT_EQ(reading.levelDb[1][k], measure::SilenceDb);
    EXPECT_EQ(reading.blocks, 10);

    measure::BandMeterChoices choices;
    choices.weighting = measure::Weighting::A;
    meter.SetChoices(choices);
    FeedTone(meter, 125.0, 32767.0, 10, n);
    reading = meter.Read();
    EXPECT_NEAR(reading.levelDb[0][IndexOf(reading, 125)], -16.1, 0.15);

    choices.weighting = measure::Weighting::Z;
    meter.SetChoices(choices);
    FeedTone(meter, 1000.0, 32767.0, 10, n);
    FeedTone(meter, 1000.0, 3276.7, 10, n);
    reading = meter.Read();
    EXPECT_NEAR(reading.peakDb[0][k], 0.0, 0.1) << "held";
    EXPECT_NEAR(reading.levelDb[0][k], -20.0, 0.2) << "now";
    meter.Reset();
    reading = meter.Read();
    EXPECT_EQ(reading.peakDb[0][k], measure::SilenceDb);
    EXPECT_EQ(reading.blocks, 0);
}

// Linear averaging over 10 blocks of a tone switched off reads the mean
// power of the blocks it holds; a new fraction gives that fraction's bands.
TEST(BandMeter, AveragesPowersAndFollowsTheFraction)
{
    measure::BandMeterChoices choices;
    choices.averaging = measure::Averaging::Linear10;
    measure::BandMeter meter(0.1, choices);
    long n = 0;
    FeedTone(meter, 1000.0, 32767.0, 10, n);
    FeedTone(meter, 1000.0, 0.0, 5, n);
    const auto reading = meter.Read();
    EXPECT_NEAR(reading.levelDb[0][IndexOf(reading, 1000)], 10.0 * std::log10(0.5), 0.15);

    choices.fraction = 1;
    meter.SetChoices(choices);
    EXPECT_EQ(meter.Read().bands.size(), measure::OctaveBands(1).size());
    EXPECT_EQ(meter.Read().blocks, 0);
}

} // namespace
