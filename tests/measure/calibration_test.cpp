#include "measure/calibration.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <vector>

using measure::CalibrationRefusal;
using measure::JudgeCalibratorTone;

namespace {

constexpr double Rate = 44100.0;
const std::size_t ThreeSeconds = static_cast<std::size_t>(measure::CalibratorSeconds * Rate);

// A sine whose RMS reads `dbfs` (AES17: its peak is 32767 * 10^(dbfs/20)),
// rounded to 16 bits, plus Gaussian noise of `noiseRms` sample units.
std::vector<int16_t> Sine(double hz, double dbfs, std::size_t frames, double phase = 0.0, double noiseRms = 0.0,
                          double offset = 0.0)
{
    std::mt19937 random(20261210);
    std::normal_distribution<double> noise(0.0, noiseRms > 0 ? noiseRms : 1.0);
    const double amplitude = 32767.0 * std::pow(10.0, dbfs / 20.0);
    std::vector<int16_t> samples(frames);
    for (std::size_t i = 0; i < frames; ++i) {
        double s = amplitude * std::sin(2.0 * std::numbers::pi * hz * static_cast<double>(i) / Rate + phase) + offset;
        if (noiseRms > 0)
            s += noise(random);
        samples[i] = static_cast<int16_t>(std::clamp(std::lround(s), -32768L, 32767L));
    }
    return samples;
}

measure::CalibrationVerdict Judge(const std::vector<int16_t>& samples, double reference = 94.0)
{
    return JudgeCalibratorTone(samples.data(), samples.size(), 1, reference);
}

} // namespace

// The offset makes the tone's RMS read the calibrator's level: a 1 kHz tone
// at -20 dBFS taken as 94.0 dB SPL reads 94.0 (offset 114.0), whatever the
// tone's frequency and phase, the noise under it or a sound card's constant
// offset.
TEST(Calibration, TheToneReadsTheCalibratorsLevel)
{
    const auto verdict = Judge(Sine(1000.0, -20.0, ThreeSeconds));
    ASSERT_EQ(verdict.refusal, CalibrationRefusal::None) << verdict.message;
    EXPECT_NEAR(verdict.measuredDbfs, -20.0, 0.01);
    EXPECT_NEAR(verdict.offsetDb, 114.0, 0.05);
    EXPECT_NEAR(-20.0 + verdict.offsetDb, 94.0, 0.05);

    struct Case {
        double hz, dbfs, phase, noiseRms, offset, reference;
    };
    for (const Case& c : {Case{250.0, -35.0, 0.3, 0.0, 0.0, 114.0}, Case{997.0, -12.5, 1.1, 3.0, 0.0, 94.0},
                          Case{1000.0, -40.0, 2.0, 1.0, 500.0, 94.0}, Case{1000.0, -3.0, 0.7, 0.0, 0.0, 124.0}}) {
        const auto v = Judge(Sine(c.hz, c.dbfs, ThreeSeconds, c.phase, c.noiseRms, c.offset), c.reference);
        ASSERT_EQ(v.refusal, CalibrationRefusal::None) << c.hz << " Hz: " << v.message;
        // The noise adds its power to the tone's: 10 lg(1 + noise / tone).
        const double tonePower = std::pow(32767.0 * std::pow(10.0, c.dbfs / 20.0), 2) / 2.0;
        const double expected = c.dbfs + 10.0 * std::log10(1.0 + c.noiseRms * c.noiseRms / tonePower);
        EXPECT_NEAR(v.measuredDbfs, expected, 0.02) << c.hz << " Hz";
        EXPECT_NEAR(v.offsetDb, c.reference - expected, 0.02) << c.hz << " Hz";
    }
}

TEST(Calibration, OneChannelOfInterleavedFramesIsJudged)
{
    const std::vector<int16_t> tone = Sine(1000.0, -20.0, ThreeSeconds);
    std::vector<int16_t> stereo(2 * tone.size(), 0);
    for (std::size_t i = 0; i < tone.size(); ++i)
        stereo[2 * i + 1] = tone[i];
    EXPECT_EQ(JudgeCalibratorTone(stereo.data(), tone.size(), 2, 94.0).refusal, CalibrationRefusal::Silent);
    const auto right = JudgeCalibratorTone(stereo.data() + 1, tone.size(), 2, 94.0);
    ASSERT_EQ(right.refusal, CalibrationRefusal::None) << right.message;
    EXPECT_NEAR(right.offsetDb, 114.0, 0.05);
}

TEST(Calibration, SilenceAndClippingAreRefusedWithAMessage)
{
    const auto zeros = Judge(std::vector<int16_t>(ThreeSeconds, 0));
    EXPECT_EQ(zeros.refusal, CalibrationRefusal::Silent);
    EXPECT_NE(zeros.message.find("silent"), std::string::npos) << zeros.message;
    // An open input's hiss at -90 dBFS is no calibrator either; nor is nothing.
    EXPECT_EQ(Judge(Sine(1000.0, -200.0, ThreeSeconds, 0.0, 1.0)).refusal, CalibrationRefusal::Silent);
    EXPECT_EQ(JudgeCalibratorTone(nullptr, 0, 1, 94.0).refusal, CalibrationRefusal::Silent);

    // A tone driven past full scale, and one lone sample at -32768.
    const auto clipped = Judge(Sine(1000.0, 0.0, ThreeSeconds, 0.3));
    EXPECT_EQ(clipped.refusal, CalibrationRefusal::Clipping);
    EXPECT_NE(clipped.message.find("clips"), std::string::npos) << clipped.message;
    std::vector<int16_t> once = Sine(1000.0, -20.0, ThreeSeconds);
    once[ThreeSeconds / 2] = -32768;
    EXPECT_EQ(Judge(once).refusal, CalibrationRefusal::Clipping);
    // Refused means no offset to take.
    EXPECT_EQ(clipped.offsetDb, 0.0);
}

TEST(Calibration, WhatIsNoSteadyToneIsRefused)
{
    // The calibrator switched on half a second late: silence, then the tone.
    std::vector<int16_t> late = Sine(1000.0, -20.0, ThreeSeconds);
    std::fill(late.begin(), late.begin() + 22050, 0);
    EXPECT_EQ(Judge(late).refusal, CalibrationRefusal::NotSteady);
    // A tone 2 dB louder in its second half.
    std::vector<int16_t> step = Sine(1000.0, -20.0, ThreeSeconds);
    const std::vector<int16_t> louder = Sine(1000.0, -18.0, ThreeSeconds);
    std::copy(louder.begin() + ThreeSeconds / 2, louder.end(), step.begin() + ThreeSeconds / 2);
    const auto stepped = Judge(step);
    EXPECT_EQ(stepped.refusal, CalibrationRefusal::NotSteady);
    EXPECT_NE(stepped.message.find("varied by 2.0 dB"), std::string::npos) << stepped.message;
    // White noise holds its level from tenth to tenth but is no tone.
    const auto noise = Judge(Sine(1000.0, -200.0, ThreeSeconds, 0.0, 1000.0));
    EXPECT_EQ(noise.refusal, CalibrationRefusal::NotSteady);
    EXPECT_NE(noise.message.find("not a steady tone"), std::string::npos) << noise.message;
    // Two tones beating against each other.
    std::vector<int16_t> beat = Sine(1000.0, -26.0, ThreeSeconds);
    const std::vector<int16_t> other = Sine(1003.0, -26.0, ThreeSeconds);
    for (std::size_t i = 0; i < beat.size(); ++i)
        beat[i] = static_cast<int16_t>(beat[i] + other[i]);
    EXPECT_EQ(Judge(beat).refusal, CalibrationRefusal::NotSteady);
    // A tenth of a second tells nothing about steadiness.
    EXPECT_EQ(Judge(Sine(1000.0, -20.0, 4410)).refusal, CalibrationRefusal::NotSteady);
}

TEST(Calibration, AReferenceNoCalibratorHasIsRefused)
{
    const std::vector<int16_t> tone = Sine(1000.0, -20.0, ThreeSeconds);
    for (double reference : {std::nan(""), 0.0, -94.0, 1e6, HUGE_VAL})
        EXPECT_EQ(Judge(tone, reference).refusal, CalibrationRefusal::BadReference) << reference;
}
