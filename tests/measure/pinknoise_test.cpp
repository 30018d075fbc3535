#include "measure/pinknoise.h"

#include <gtest/gtest.h>

#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

namespace {

constexpr double Rate = 44100.0;

std::vector<int16_t> Pink(uint32_t key, size_t count)
{
    measure::PinkNoise noise(key);
    std::vector<int16_t> samples(count);
    noise.Fill(samples.data(), static_cast<int>(count));
    return samples;
}

// Welch's estimate of the power density (Hann window, half overlap), from
// FFTW: the reference the noise's slope is read from.
std::vector<double> PowerDensity(const std::vector<int16_t>& samples, int size)
{
    std::vector<double> window(size), in(size), density(size / 2 + 1, 0.0);
    for (int i = 0; i < size; ++i)
        window[i] = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * i / size);
    fftw_complex* out = fftw_alloc_complex(size / 2 + 1);
    fftw_plan plan = fftw_plan_dft_r2c_1d(size, in.data(), out, FFTW_ESTIMATE);
    int segments = 0;
    for (size_t start = 0; start + size <= samples.size(); start += size / 2, ++segments) {
        for (int i = 0; i < size; ++i)
            in[i] = samples[start + i] * window[i];
        fftw_execute(plan);
        for (int k = 0; k <= size / 2; ++k)
            density[k] += out[k][0] * out[k][0] + out[k][1] * out[k][1];
    }
    fftw_destroy_plan(plan);
    fftw_free(out);
    for (double& d : density)
        d /= segments;
    return density;
}

// The mean density times frequency over the bins from lo to hi Hz: for pink
// noise the same in every band.
double DensityTimesFrequency(const std::vector<double>& density, int size, double lo, double hi)
{
    const double binHz = Rate / size;
    double sum = 0.0;
    int bins = 0;
    for (int k = static_cast<int>(std::ceil(lo / binHz)); k * binHz < hi; ++k, ++bins)
        sum += density[k] * k * binHz;
    return sum / bins;
}

double Correlation(const std::vector<int16_t>& a, const std::vector<int16_t>& b, int lag)
{
    double ab = 0.0, aa = 0.0, bb = 0.0;
    for (size_t i = 0; i + lag < a.size(); ++i) {
        ab += double(a[i]) * b[i + lag];
        aa += double(a[i]) * a[i];
        bb += double(b[i + lag]) * b[i + lag];
    }
    return ab / std::sqrt(aa * bb);
}

} // namespace

// Density times frequency in bands a third of an octave wide from 20 Hz to
// 20 kHz, from 380 s of noise: every band within 0.5 dB of their mean, and
// a line through the density falls 3.01 dB per octave.
TEST(PinkNoise, FallsThreeDecibelsPerOctaveFrom20HzTo20kHz)
{
    constexpr int size = 1 << 16;
    const std::vector<double> density = PowerDensity(Pink(1, size_t{1} << 24), size);
    std::vector<double> octaves, levels;
    for (double centre = 20.0; centre <= 20000.0; centre *= std::pow(2.0, 1.0 / 3.0)) {
        const double edge = std::pow(2.0, 1.0 / 6.0);
        octaves.push_back(std::log2(centre / 1000.0));
        levels.push_back(10.0 * std::log10(DensityTimesFrequency(density, size, centre / edge, centre * edge)));
    }
    double mean = 0.0;
    for (double level : levels)
        mean += level / levels.size();
    for (size_t i = 0; i < levels.size(); ++i)
        EXPECT_NEAR(levels[i], mean, 0.5) << "band at " << 1000.0 * std::exp2(octaves[i]) << " Hz";
    // Slope of the density itself: level minus 10 log10(f) per octave.
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    const double n = static_cast<double>(levels.size());
    for (size_t i = 0; i < levels.size(); ++i) {
        const double y = levels[i] - 10.0 * std::log10(std::exp2(octaves[i]));
        sx += octaves[i], sy += y, sxx += octaves[i] * octaves[i], sxy += octaves[i] * y;
    }
    EXPECT_NEAR((n * sxy - sx * sy) / (n * sxx - sx * sx), -10.0 * std::log10(2.0), 0.05);
}

// No DC: the mean of 16.8 M samples stays under one sample unit (a pinking
// filter without the blocker wanders by tens of units over that length),
// and the density at 0 Hz lies more than 13 dB below that at 20 Hz (the
// pinking filter alone levels off at twice the density at 20 Hz, +3 dB).
TEST(PinkNoise, HasNoDc)
{
    const std::vector<int16_t> samples = Pink(7, size_t{1} << 24);
    double sum = 0.0;
    for (int16_t s : samples)
        sum += s;
    EXPECT_LT(std::fabs(sum / samples.size()), 1.0);
    constexpr int size = 1 << 18; // 0.17 Hz bins
    const std::vector<double> density = PowerDensity(samples, size);
    const double at20Hz = DensityTimesFrequency(density, size, 19.0, 21.0) / 20.0;
    EXPECT_LT(density[0], at20Hz * 0.05);
}

// Two keys give uncorrelated channels, at no lag and at small lags; the
// same key gives the same noise.
TEST(PinkNoise, ChannelsWithDifferentKeysAreUncorrelated)
{
    const std::vector<int16_t> left = Pink(1, size_t{1} << 22), right = Pink(2, size_t{1} << 22);
    for (int lag : {0, 1, 10})
        EXPECT_LT(std::fabs(Correlation(left, right, lag)), 0.02) << "lag " << lag;
    EXPECT_GT(Correlation(left, left, 1), 0.5) << "pink noise is correlated with itself";
    EXPECT_EQ(Pink(1, 1000), std::vector<int16_t>(left.begin(), left.begin() + 1000));
}

// At -15 dBFS RMS the peaks of 16.8 M samples stay well inside the 16-bit
// range: none reaches full scale.
TEST(PinkNoise, PeaksStayInsideTheSixteenBitRange)
{
    const std::vector<int16_t> samples = Pink(3, size_t{1} << 24);
    double power = 0.0;
    int peak = 0;
    for (int16_t s : samples) {
        power += double(s) * s;
        peak = std::max(peak, std::abs(int(s)));
    }
    power /= samples.size();
    EXPECT_NEAR(10.0 * std::log10(power / (32767.0 * 32767.0 / 2.0)), measure::PinkNoise::LevelDbfs, 0.3);
    EXPECT_LT(peak, 32767);
    EXPECT_GT(peak, 32767 / 4) << "a crest factor that noise has";
}
