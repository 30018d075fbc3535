#include "measure/distortion.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <thread>
#include <vector>

namespace {

using measure::DistortionAnalyzer;
using measure::DistortionAverage;
using measure::DistortionReading;

constexpr double Rate = 44100.0;
constexpr double Pi = std::numbers::pi;
// The share of white noise's power that falls from 20 Hz to 20 kHz.
constexpr double BandShare = (20000.0 - 20.0) / (Rate / 2.0);

double PeakForDbfs(double dbfs)
{
    return 32767.0 * std::pow(10.0, dbfs / 20.0);
}
double Db10(double ratio)
{
    return 10.0 * std::log10(ratio);
}

// A tone with harmonics: {order, amplitude relative to the fundamental}.
struct Partial {
    int order;
    double relative;
};

std::vector<double> Tone(int count, double hz, double peak, std::vector<Partial> partials = {})
{
    std::vector<double> x(static_cast<std::size_t>(count));
    partials.insert(partials.begin(), {1, 1.0});
    for (int n = 0; n < count; ++n)
        for (const Partial& p : partials)
            x[n] += peak * p.relative * std::sin(2 * Pi * hz * p.order * n / Rate + 0.3 * p.order);
    return x;
}

std::vector<int16_t> Quantise(const std::vector<double>& x)
{
    std::vector<int16_t> q(x.size());
    for (std::size_t i = 0; i < x.size(); ++i)
        q[i] = static_cast<int16_t>(std::clamp(std::lround(x[i]), -32768L, 32767L));
    return q;
}

double MeanSquare(const std::vector<double>& x)
{
    double sum = 0;
    for (double v : x)
        sum += v * v;
    return sum / static_cast<double>(x.size());
}

// Gaussian noise of the given RMS (in sample units) from a fixed key.
std::vector<double> Noise(int count, double rms, unsigned key)
{
    std::mt19937 generator(key);
    std::normal_distribution<double> normal(0.0, rms);
    std::vector<double> x(static_cast<std::size_t>(count));
    for (double& v : x)
        v = normal(generator);
    return x;
}

DistortionReading Analyze(const std::vector<int16_t>& samples, int size = measure::DefaultDistortionSize)
{
    DistortionAnalyzer analyzer(size, Rate);
    return analyzer.Analyze(samples.data());
}

// ---- Harmonics and THD ---------------------------------------------------------------

TEST(DistortionReadings, KnownHarmonicsGiveTheirLevelsAndThd)
{
    const double h2 = std::pow(10.0, -40.0 / 20.0), h3 = std::pow(10.0, -50.0 / 20.0);
    const auto samples = Quantise(Tone(65536, 997.0, PeakForDbfs(-6.0), {{2, h2}, {3, h3}}));
    const DistortionReading r = Analyze(samples);

    ASSERT_TRUE(r.toneFound);
    EXPECT_FALSE(r.clipped);
    EXPECT_NEAR(r.fundamentalHz, 997.0, 0.01);
    EXPECT_NEAR(r.fundamentalDbfs, -6.0, 0.02);
    const double thd = 100.0 * std::sqrt(h2 * h2 + h3 * h3); // 1.049 %
    EXPECT_NEAR(r.thdPercent, thd, 0.02 * thd);
    EXPECT_NEAR(r.thdDb, 20.0 * std::log10(thd / 100.0), 0.2);

    // 997 Hz: H2 ... H10 all lie below 20 kHz.
    ASSERT_EQ(r.harmonics.size(), 9u);
    EXPECT_EQ(r.harmonics[0].order, 2);
    EXPECT_NEAR(r.harmonics[0].hz, 1994.0, 0.1);
    EXPECT_FALSE(r.harmonics[0].belowNoise);
    EXPECT_NEAR(r.harmonics[0].dbRelative, -40.0, 0.1);
    EXPECT_NEAR(r.harmonics[0].dbfs, -46.0, 0.1);
    EXPECT_FALSE(r.harmonics[1].belowNoise);
    EXPECT_NEAR(r.harmonics[1].dbRelative, -50.0, 0.1);
    // The same samples as one channel of interleaved stereo read the same.
    std::vector<int16_t> stereo(2 * samples.size(), 0);
    for (std::size_t i = 0; i < samples.size(); ++i)
        stereo[2 * i + 1] = samples[i];
    DistortionAnalyzer analyzer(65536, Rate);
    EXPECT_DOUBLE_EQ(analyzer.Analyze(stereo.data() + 1, 2).thdPercent, r.thdPercent);
    EXPECT_FALSE(analyzer.Analyze(stereo.data(), 2).toneFound);
    // The others hold only 16-bit quantisation noise, far down.
    for (std::size_t i = 2; i < r.harmonics.size(); ++i) {
        EXPECT_TRUE(r.harmonics[i].belowNoise) << "H" << r.harmonics[i].order;
        EXPECT_LT(r.harmonics[i].dbRelative, -100.0);
    }
}

TEST(DistortionReadings, HarmonicsAbove20kHzAreLeftOut)
{
    const auto samples = Quantise(Tone(65536, 6001.5, PeakForDbfs(-6.0), {{2, 0.01}, {3, 0.01}}));
    const DistortionReading r = Analyze(samples);
    ASSERT_TRUE(r.toneFound);
    ASSERT_EQ(r.harmonics.size(), 2u); // 12003 and 18004.5 Hz; H4 would be at 24 kHz
    EXPECT_NEAR(r.thdPercent, 100.0 * std::sqrt(2.0) * 0.01, 0.02 * 1.414);
}

// ---- Noise: THD+N and SNR against the parts' own powers -----------------------------

// The parts are measured as made: the noise's power is that of the
// quantised signal minus the exact tone, so the quantisation's share counts
// too.
struct Expected {
    double thdnDb, snrDb;
};

Expected FromParts(const std::vector<double>& tone, const std::vector<double>& harmonics,
                   const std::vector<int16_t>& quantised, const std::vector<double>& exact)
{
    std::vector<double> noise(exact.size());
    for (std::size_t i = 0; i < exact.size(); ++i)
        noise[i] = quantised[i] - exact[i];
    const double fundamental = MeanSquare(tone);
    const double distortion = harmonics.empty() ? 0.0 : MeanSquare(harmonics);
    const double bandNoise = MeanSquare(noise) * BandShare;
    const double rest = distortion + bandNoise;
    return {Db10(rest / (fundamental + rest)), Db10(fundamental / bandNoise)};
}

TEST(DistortionReadings, ThdnAndSnrFollowTheNoiseAndHarmonicsAdded)
{
    constexpr int Count = 65536;
    const double peak = PeakForDbfs(-6.0);
    const auto tone = Tone(Count, 997.0, peak);
    struct Case {
        double noiseRms, h2;
    };
    for (const Case c : {Case{30.0, 0.0}, Case{30.0, 0.01}, Case{3.0, 0.001}, Case{300.0, 0.0}}) {
        SCOPED_TRACE(testing::Message() << "noise " << c.noiseRms << " H2 " << c.h2);
        std::vector<double> harmonics;
        if (c.h2 > 0) {
            harmonics = Tone(Count, 997.0 * 2, peak * c.h2);
        }
        const auto noise = Noise(Count, c.noiseRms, 1234u);
        std::vector<double> exact(tone);
        for (std::size_t i = 0; i < exact.size(); ++i)
            exact[i] += noise[i] + (harmonics.empty() ? 0.0 : harmonics[i]);
        const auto quantised = Quantise(exact);
        // The noise part is what quantising did plus the noise added.
        std::vector<double> tonePlusHarmonics(tone);
        for (std::size_t i = 0; i < exact.size(); ++i)
            tonePlusHarmonics[i] += harmonics.empty() ? 0.0 : harmonics[i];
        const Expected expected = FromParts(tone, harmonics, quantised, tonePlusHarmonics);

        const DistortionReading r = Analyze(quantised);
        ASSERT_TRUE(r.toneFound);
        EXPECT_NEAR(r.thdnDb, expected.thdnDb, 0.3);
        EXPECT_NEAR(r.sinadDb, -expected.thdnDb, 0.3);
        EXPECT_NEAR(r.snrDb, expected.snrDb, 0.3);
        EXPECT_NEAR(r.thdnPercent, 100.0 * std::pow(10.0, r.thdnDb / 20.0), 1e-9);
        // White noise of power s^2 puts s^2 / (size / 2) in each bin.
        const double perBin = c.noiseRms * c.noiseRms / (Count / 2.0) / (32767.0 * 32767.0);
        if (c.noiseRms >= 30.0) {
            EXPECT_NEAR(r.noiseFloorDbfs, Db10(2 * perBin), 0.3);
        }
    }
}

TEST(DistortionReadings, FullScaleToneReadsItsOwnQuantisationNoise)
{
    const auto exact = Tone(65536, 997.0, 32767.0);
    const auto quantised = Quantise(exact);
    const Expected expected = FromParts(exact, {}, quantised, exact);
    EXPECT_NEAR(expected.thdnDb, -98.0, 1.5); // about 6 dB per bit, 16 bits
    const DistortionReading r = Analyze(quantised);
    ASSERT_TRUE(r.toneFound);
    EXPECT_FALSE(r.clipped);
    EXPECT_NEAR(r.fundamentalDbfs, 0.0, 0.02);
    EXPECT_NEAR(r.thdnDb, expected.thdnDb, 1.5);
}

// ---- Where the tone falls between bins, and the transform size --------------------

TEST(DistortionReadings, OffBinTonesReadTheSameAtEverySize)
{
    const double dbfs = -6.0;
    for (double hz : {997.0, 1000.37, 6001.5, 20.5, 15003.3}) {
        for (int size : measure::DistortionSizes) {
            SCOPED_TRACE(testing::Message() << hz << " Hz, size " << size);
            const DistortionReading r = Analyze(Quantise(Tone(size, hz, PeakForDbfs(dbfs))), size);
            ASSERT_TRUE(r.toneFound);
            EXPECT_NEAR(r.fundamentalHz, hz, 0.01);
            EXPECT_NEAR(r.fundamentalDbfs, dbfs, 0.05);
        }
    }
}

TEST(DistortionReadings, ToneAbove20kHzIsFoundAndSaysSo)
{
    const DistortionReading r = Analyze(Quantise(Tone(65536, 21000.0, PeakForDbfs(-10.0))));
    ASSERT_TRUE(r.toneFound);
    EXPECT_TRUE(r.aboveBand);
    EXPECT_NEAR(r.fundamentalHz, 21000.0, 0.01);
    EXPECT_NEAR(r.fundamentalDbfs, -10.0, 0.05);
    EXPECT_TRUE(r.harmonics.empty());
    EXPECT_TRUE(std::isfinite(r.thdnDb) && std::isfinite(r.snrDb));
}

// ---- No tone, clipping ---------------------------------------------------------------

TEST(DistortionReadings, SilenceAndWeakNoiseHoldNoTone)
{
    const std::vector<int16_t> silence(65536, 0);
    const DistortionReading quiet = Analyze(silence);
    EXPECT_FALSE(quiet.toneFound);
    EXPECT_FALSE(std::isnan(quiet.noiseFloorDbfs));
    EXPECT_FALSE(std::isnan(quiet.thdnDb) || std::isnan(quiet.snrDb) || std::isnan(quiet.fundamentalDbfs));

    for (double rms : {0.5, 3.0, 1000.0}) {
        SCOPED_TRACE(rms);
        EXPECT_FALSE(Analyze(Quantise(Noise(65536, rms, 77u))).toneFound);
    }
    // A spectrum of the wrong length reads nothing rather than past its end.
    EXPECT_FALSE(measure::ReadPowerSpectrum(std::vector<double>(100, 1.0), 65536, Rate).toneFound);
}

TEST(DistortionReadings, ClippingIsARunAtFullScale)
{
    const auto clipped = Quantise(Tone(65536, 997.0, 40000.0));
    EXPECT_TRUE(Analyze(clipped).clipped);
    EXPECT_TRUE(measure::HasClippedRun(clipped.data(), clipped.size()));
    std::vector<int16_t> run(100, 0);
    run[40] = run[41] = run[42] = -32768;
    EXPECT_TRUE(measure::HasClippedRun(run.data(), run.size()));
    run[41] = 32767; // alternating extremes are no run
    EXPECT_FALSE(measure::HasClippedRun(run.data(), run.size()));

    const auto fullScale = Quantise(Tone(65536, 997.0, 32767.0));
    EXPECT_FALSE(Analyze(fullScale).clipped);
    EXPECT_FALSE(measure::HasClippedRun(fullScale.data(), fullScale.size()));

    // One channel of interleaved stereo: the right holds the clipped run.
    std::vector<int16_t> stereo(2 * 1000, 0);
    for (int i = 500; i < 510; ++i)
        stereo[2 * i + 1] = 32767;
    EXPECT_FALSE(measure::HasClippedRun(stereo.data(), 1000, 2));
    EXPECT_TRUE(measure::HasClippedRun(stereo.data() + 1, 1000, 2));
}

// ---- Averaging -----------------------------------------------------------------------

TEST(DistortionAverage, AveragesUpToItsCountAndRestartsOnChange)
{
    DistortionReading at997;
    at997.toneFound = true;
    at997.fundamentalHz = 997.0;
    DistortionAverage average(4);
    for (int i = 1; i <= 6; ++i) {
        const auto& mean = average.Add(std::vector<double>(5, static_cast<double>(i)), at997);
        EXPECT_EQ(average.Held(), std::min(i, 4));
        // The mean of the last min(i, 4) of 1, 2, 3, ...
        const int first = std::max(1, i - 3);
        EXPECT_DOUBLE_EQ(mean[2], (first + i) / 2.0);
    }

    DistortionReading slightlyMoved = at997;
    slightlyMoved.fundamentalHz = 997.0 * 1.005;
    average.Add(std::vector<double>(5, 1.0), slightlyMoved);
    EXPECT_EQ(average.Held(), 4);

    DistortionReading jumped = at997;
    jumped.fundamentalHz = 1100.0;
    EXPECT_DOUBLE_EQ(average.Add(std::vector<double>(5, 8.0), jumped)[0], 8.0);
    EXPECT_EQ(average.Held(), 1);

    average.Add(std::vector<double>(5, 1.0), jumped);
    average.Add(std::vector<double>(9, 1.0), jumped); // another transform size
    EXPECT_EQ(average.Held(), 1);

    DistortionReading high = jumped;
    high.fundamentalHz = 1100.0 * 1.001;
    high.aboveBand = true;
    average.Add(std::vector<double>(9, 1.0), high);
    EXPECT_EQ(average.Held(), 1);

    average.SetCount(2);
    average.Add(std::vector<double>(9, 1.0), jumped);
    average.Add(std::vector<double>(9, 3.0), jumped);
    EXPECT_DOUBLE_EQ(average.Add(std::vector<double>(9, 5.0), jumped)[8], 4.0);
    average.Restart();
    EXPECT_EQ(average.Held(), 0);
}

TEST(DistortionAverage, AveragedNoiseReadsTheSameWithLessSpread)
{
    // Ten records of one tone in fresh noise: the average's THD+N stays at
    // that of the parts.
    constexpr int Size = 16384;
    DistortionAnalyzer analyzer(Size, Rate);
    DistortionAverage average(10);
    const auto tone = Tone(Size, 1000.37, PeakForDbfs(-6.0));
    double noisePower = 0;
    std::vector<double> power;
    for (unsigned key = 1; key <= 10; ++key) {
        const auto noise = Noise(Size, 10.0, key);
        std::vector<double> x(tone);
        for (std::size_t i = 0; i < x.size(); ++i)
            x[i] += noise[i];
        const auto q = Quantise(x);
        std::vector<double> error(x.size());
        for (std::size_t i = 0; i < x.size(); ++i)
            error[i] = q[i] - tone[i];
        noisePower += MeanSquare(error) / 10.0;
        auto spectrum = analyzer.PowerSpectrum(q.data());
        power = average.Add(spectrum, measure::ReadPowerSpectrum(spectrum, Size, Rate));
    }
    EXPECT_EQ(average.Held(), 10);
    const DistortionReading r = measure::ReadPowerSpectrum(power, Size, Rate);
    ASSERT_TRUE(r.toneFound);
    EXPECT_NEAR(r.snrDb, Db10(MeanSquare(tone) / (noisePower * BandShare)), 0.2);
}

// ---- The residual and the display spectrum -------------------------------------------

TEST(DistortionResidual, PureToneLeavesQuantisationWhileHarmonicsRemain)
{
    constexpr int Count = 16384;
    const double hz = 1000.37;
    const auto pure = Quantise(Tone(Count, hz, PeakForDbfs(-1.0)));
    // Started from a frequency 0.05 Hz off, as a coarse reading might be.
    const auto residual = measure::ResidualWaveform(pure.data(), Count, hz + 0.05, Rate);
    ASSERT_EQ(residual.size(), static_cast<std::size_t>(Count));
    const double rms = std::sqrt(MeanSquare(residual));
    EXPECT_GT(rms, 0.2); // rounding to whole values leaves about 1 / sqrt(12)
    EXPECT_LT(rms, 0.35);

    const double h2 = 0.01, peak = PeakForDbfs(-6.0);
    const auto distorted = Quantise(Tone(Count, hz, peak, {{2, h2}}));
    // Stereo, the tone on the right: the stride picks it out.
    std::vector<int16_t> stereo(2 * Count, 0);
    for (int i = 0; i < Count; ++i)
        stereo[2 * i + 1] = distorted[i];
    const auto left = measure::ResidualWaveform(stereo.data() + 1, Count, hz, Rate, 2);
    // What is left is H2 itself, sample by sample.
    double worst = 0;
    for (int n = 0; n < Count; ++n) {
        const double harmonic = peak * h2 * std::sin(2 * Pi * 2 * hz * n / Rate + 0.6);
        worst = std::max(worst, std::abs(left[n] - harmonic));
    }
    EXPECT_LT(worst, 1.5);
    EXPECT_NEAR(std::sqrt(MeanSquare(left)), peak * h2 / std::sqrt(2.0), 0.01 * peak * h2);
}

TEST(DistortionSpectrum, ABinCentredToneReadsItsLevelAtItsPeak)
{
    constexpr int Size = 65536;
    DistortionAnalyzer analyzer(Size, Rate);
    const int bin = 1481;
    const auto x = Tone(Size, bin * Rate / Size, PeakForDbfs(-12.0));
    const auto dbfs = measure::SpectrumDbfs(analyzer.PowerSpectrum(x.data()), Size);
    ASSERT_EQ(dbfs.size(), static_cast<std::size_t>(Size / 2 + 1));
    EXPECT_NEAR(dbfs[bin], -12.0, 0.001);
    EXPECT_EQ(std::max_element(dbfs.begin(), dbfs.end()) - dbfs.begin(), bin);
    // Far from the tone the window leaves nothing a double cannot hold.
    EXPECT_LT(dbfs[bin + 100], -170.0);

    const std::vector<int16_t> silence(Size, 0);
    for (double v : measure::SpectrumDbfs(analyzer.PowerSpectrum(silence.data()), Size))
        ASSERT_EQ(v, -200.0);
}

TEST(DistortionAnalyzer, AnalyzersOnSeveralThreadsAgree)
{
    const auto samples = Quantise(Tone(16384, 997.0, PeakForDbfs(-6.0)));
    std::vector<double> levels(4);
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < levels.size(); ++t)
        threads.emplace_back([&, t] {
            DistortionAnalyzer analyzer(16384, Rate);
            levels[t] = analyzer.Analyze(samples.data()).fundamentalDbfs;
        });
    for (auto& t : threads)
        t.join();
    for (double level : levels)
        EXPECT_DOUBLE_EQ(level, levels[0]);
}

} // namespace
