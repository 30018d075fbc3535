#include "measure/miccorrection.h"

#include "measure/levels.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

namespace {

using measure::MicCorrection;
using measure::MicResponse;
using measure::Weighting;

constexpr double Rate = 44100.0;

std::vector<int16_t> Tone(double hz, double amplitude, std::size_t frames, std::size_t channels = 1,
                          std::size_t channel = 0)
{
    std::vector<int16_t> samples(frames * channels, 0);
    for (std::size_t i = 0; i < frames; ++i)
        samples[i * channels + channel] = static_cast<int16_t>(
            std::lround(amplitude * std::sin(2.0 * std::numbers::pi * hz * i / Rate)));
    return samples;
}

// Feeds in blocks of `block` frames.
void Feed(MicCorrection& mic, const std::vector<int16_t>& samples, std::size_t block, std::size_t stride = 1)
{
    const std::size_t frames = samples.size() / stride;
    for (std::size_t done = 0; done < frames; done += block)
        mic.Process(samples.data() + done * stride, std::min(block, frames - done), stride);
}

// +x dB from 400 Hz to 3 kHz, flat 0 dB below 300 Hz and above 4 kHz:
// every band a 1 kHz tone reaches reads +x.
MicResponse Plateau(double x)
{
    return MicResponse{{20.0, 300.0, 400.0, 3000.0, 4000.0, 20000.0}, {0.0, 0.0, x, x, 0.0, 0.0}};
}

// Equal powers in the 125 Hz and 1 kHz octaves, a microphone 6 dB loud at
// 1 kHz and flat at 125 Hz: the level it raised comes down to the mean of
// 1 and 10^-0.6 of the power.
TEST(MicCorrection, TheResponseComesOffAsTheBandPowersWeighIt)
{
    const auto octaves = measure::OctaveBands(1);
    std::vector<double> powers(octaves.size(), 0.0);
    const std::size_t low = 2, kilohertz = 5; // 125 Hz, 1 kHz
    powers[low] = powers[kilohertz] = 1000.0;
    const measure::MicResponse response{{octaves[low].centreHz, octaves[kilohertz].centreHz}, {0.0, 6.0}};
    EXPECT_NEAR(measure::MicCorrectionDb(octaves, powers, measure::Weighting::Z, response),
                10.0 * std::log10((1.0 + std::pow(10.0, -0.6)) / 2.0), 1e-9);
    // A tone at 1 kHz alone: the response there, whatever the weighting.
    powers[low] = 0.0;
    EXPECT_NEAR(measure::MicCorrectionDb(octaves, powers, measure::Weighting::A, response), -6.0, 1e-9);
    EXPECT_EQ(measure::MicCorrectionDb(octaves, powers, measure::Weighting::Z, measure::MicResponse{}), 0.0)
        << "no file";
    EXPECT_EQ(
        measure::MicCorrectionDb(octaves, std::vector<double>(octaves.size(), 0.0), measure::Weighting::Z, response),
        0.0)
        << "silence";
}

// A tone where the microphone reads x dB too loud comes down by exactly x,
// whatever the weighting, in the last block's and the gathered correction.
TEST(MicCorrection, AToneComesDownByTheResponseAtItsFrequency)
{
    for (const double x : {3.0, -7.5, 12.0}) {
        MicCorrection mic(Plateau(x));
        Feed(mic, Tone(1000.0, 10000.0, 44100), 1024);
        for (const Weighting weighting : {Weighting::Z, Weighting::A, Weighting::C}) {
            EXPECT_NEAR(mic.LastDb(weighting), -x, 0.01) << x;
            EXPECT_NEAR(mic.SinceRestartDb(weighting), -x, 0.01) << x;
        }
    }
    // One channel of an interleaved pair: the other's 2 kHz tone is not heard.
    MicCorrection left(Plateau(6.0));
    std::vector<int16_t> pair = Tone(150.0, 10000.0, 44100, 2, 0);
    const std::vector<int16_t> right = Tone(2000.0, 10000.0, 44100, 2, 1);
    for (std::size_t i = 1; i < pair.size(); i += 2)
        pair[i] = right[i];
    Feed(left, pair, 512, 2);
    EXPECT_NEAR(left.SinceRestartDb(Weighting::Z), 0.0, 0.01);
}

// White noise has equal power per hertz, so each band's power is in
// proportion to its width (the bands share one shape on a log axis). A
// response +3 dB over exactly the upper half of the bands takes off
// 10 lg((sum of the lower widths + 10^-0.3 * upper widths) / all widths),
// each width weighted by the weighting at the band's centre.
TEST(MicCorrection, WhiteNoiseComesDownAsTheBandWidthsWeighTheResponse)
{
    const auto bands = measure::OctaveBands(measure::MicBandFraction);
    const std::size_t half = bands.size() / 2;
    const MicResponse upperHalf{{bands[half - 1].centreHz, bands[half].centreHz}, {0.0, 3.0}};

    std::mt19937 generator(12345);
    std::normal_distribution<double> gauss(0.0, 3000.0);
    std::vector<int16_t> noise(static_cast<std::size_t>(8 * Rate));
    for (int16_t& sample : noise)
        sample = static_cast<int16_t>(std::lround(gauss(generator)));

    MicCorrection mic(upperHalf);
    Feed(mic, noise, 4096);
    for (const Weighting weighting : {Weighting::Z, Weighting::A, Weighting::C}) {
        double lower = 0.0, upper = 0.0;
        for (std::size_t b = 0; b < bands.size(); ++b) {
            const double width = (bands[b].upperHz - bands[b].lowerHz) *
                                 measure::WeightingPowerFactor(weighting, bands[b].centreHz);
            (b < half ? lower : upper) += width;
        }
        const double expected = 10.0 * std::log10((lower + upper * std::pow(10.0, -0.3)) / (lower + upper));
        EXPECT_NEAR(mic.SinceRestartDb(weighting), expected, 0.05) << measure::WeightingName(weighting);
    }
}

// The gathered powers weigh each block by its length, and a restart forgets
// them: two seconds of a 1 kHz tone (+6 dB there) in short blocks and two of
// a 150 Hz tone (0 dB) in long ones count alike. The narrow low bands ring
// and lag for some 300 ms: the silence after lets them empty.
TEST(MicCorrection, GatheredPowersWeighBlocksByLengthAndRestartForgetsThem)
{
    MicCorrection mic(Plateau(6.0));
    Feed(mic, Tone(1000.0, 10000.0, 88200), 256);
    Feed(mic, Tone(150.0, 10000.0, 88200), 8192);
    Feed(mic, std::vector<int16_t>(44100, 0), 4096);
    EXPECT_NEAR(mic.SinceRestartDb(Weighting::Z), 10.0 * std::log10((std::pow(10.0, -0.6) + 1.0) / 2.0), 0.05);

    mic.Restart();
    EXPECT_EQ(mic.SinceRestartDb(Weighting::Z), 0.0) << "nothing gathered";
    Feed(mic, Tone(1000.0, 10000.0, 44100), 1024);
    EXPECT_NEAR(mic.SinceRestartDb(Weighting::Z), -6.0, 0.05);
    EXPECT_NEAR(mic.LastDb(Weighting::Z), -6.0, 0.01);

    // An interval the caller gathers on its own.
    measure::BandPowerSum interval;
    interval.Add(mic.LastPowers(), 100);
    EXPECT_NEAR(mic.Db(Weighting::A, interval), -6.0, 0.01);
}

TEST(MicCorrection, NoResponseOrNoPowerChangesNothing)
{
    MicCorrection flat(MicResponse{});
    Feed(flat, Tone(1000.0, 10000.0, 4410), 441);
    EXPECT_EQ(flat.LastDb(Weighting::A), 0.0);
    MicCorrection silent(Plateau(6.0));
    EXPECT_EQ(silent.LastDb(Weighting::Z), 0.0) << "nothing fed";
    Feed(silent, std::vector<int16_t>(4410, 0), 441);
    EXPECT_EQ(silent.SinceRestartDb(Weighting::Z), 0.0) << "silence";
}

} // namespace
