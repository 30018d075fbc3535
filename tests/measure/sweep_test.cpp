#include "measure/sweep.h"

#include <fftw3.h>
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>
#include <stdexcept>
#include <vector>

namespace {

using measure::ExponentialSweep;
using measure::SweepParameters;

constexpr double Pi = std::numbers::pi;

// The analytic signal's phase, unwrapped, from a one-sided spectrum.
std::vector<double> AnalyticPhase(const std::vector<double>& x)
{
    const int n = static_cast<int>(x.size());
    std::vector<std::complex<double>> buffer(x.begin(), x.end());
    auto* data = reinterpret_cast<fftw_complex*>(buffer.data());
    fftw_plan forward = fftw_plan_dft_1d(n, data, data, FFTW_FORWARD, FFTW_ESTIMATE);
    fftw_plan backward = fftw_plan_dft_1d(n, data, data, FFTW_BACKWARD, FFTW_ESTIMATE);
    fftw_execute(forward);
    for (int b = 1; b < n; ++b)
        buffer[b] *= (b < n / 2) ? 2.0 : (b == n / 2 ? 1.0 : 0.0);
    fftw_execute(backward);
    fftw_destroy_plan(forward);
    fftw_destroy_plan(backward);
    std::vector<double> phase(x.size());
    double previous = 0, unwrapped = 0;
    for (int i = 0; i < n; ++i) {
        const double p = std::arg(buffer[i]);
        unwrapped += (i == 0) ? p : std::remainder(p - previous, 2 * Pi);
        previous = p;
        phase[i] = unwrapped;
    }
    return phase;
}

// L after the synchronised sweep's published definition.
double ExpectedRate(const SweepParameters& p)
{
    return std::round(p.startHz * p.seconds / std::log(p.endHz / p.startHz)) / p.startHz;
}

TEST(ExponentialSweep, FrequencyFollowsTheExponentialLaw)
{
    SweepParameters p;
    p.seconds = 3;
    p.silenceSeconds = 0.2;
    const ExponentialSweep sweep(p);
    EXPECT_DOUBLE_EQ(sweep.RateSeconds(), ExpectedRate(p));
    EXPECT_NEAR(sweep.EndSeconds(), ExpectedRate(p) * std::log(1000.0), 1e-12);
    EXPECT_NEAR(sweep.FrequencyAt(sweep.EndSeconds()), 20000.0, 1e-6);

    // The frequency measured from the samples' phase derivative.
    const std::vector<double> phase = AnalyticPhase(sweep.Samples());
    const double L = ExpectedRate(p);
    int checked = 0;
    for (int n = static_cast<int>(0.2 * p.sampleRate); n < sweep.SweepSampleCount() - 2000; n += 97) {
        const double measured = (phase[n + 1] - phase[n - 1]) / 2 * p.sampleRate / (2 * Pi);
        const double expected = 20.0 * std::exp(n / p.sampleRate / L);
        ASSERT_NEAR(measured / expected, 1.0, 1e-3) << "at " << n / p.sampleRate << " s, " << expected << " Hz";
        ++checked;
    }
    EXPECT_GT(checked, 1000);
}

TEST(ExponentialSweep, HarmonicPhasesAreAdvancedCopiesOfTheSweep)
{
    // k times the phase at t equals the phase at t + L ln k, modulo 2 pi:
    // what makes the harmonics' responses separate exactly.
    const ExponentialSweep sweep(SweepParameters{});
    for (int k = 2; k <= 5; ++k)
        for (double t = 0.1; t < 2.0; t += 0.137) {
            const double difference = k * sweep.PhaseAt(t) - sweep.PhaseAt(t + sweep.HarmonicAdvanceSeconds(k));
            EXPECT_NEAR(std::remainder(difference, 2 * Pi), 0.0, 1e-6) << k << " at " << t;
        }
}

TEST(ExponentialSweep, LevelFadesAndSilence)
{
    SweepParameters p;
    p.seconds = 1;
    p.levelDbfs = -20;
    p.silenceSeconds = 0.5;
    const ExponentialSweep sweep(p);
    const std::vector<double> samples = sweep.Samples();
    const std::vector<int16_t> rounded = sweep.Samples16();
    ASSERT_EQ(samples.size(), rounded.size());
    ASSERT_EQ(static_cast<int>(samples.size()), sweep.SweepSampleCount() + 22050);
    EXPECT_EQ(sweep.SweepSampleCount(), static_cast<int>(std::ceil(ExpectedRate(p) * std::log(1000.0) * 44100)));

    double peak = 0;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        peak = std::max(peak, std::abs(samples[i]));
        ASSERT_EQ(rounded[i], std::lround(samples[i]));
    }
    EXPECT_NEAR(peak, 3276.7, 0.5);
    // Fades: near zero at both ends, no step into the silence.
    EXPECT_LT(std::abs(samples[1]), 1.0);
    EXPECT_LT(std::abs(samples[sweep.SweepSampleCount() - 1]), 3276.7 * 0.01);
    for (std::size_t i = sweep.SweepSampleCount(); i < samples.size(); ++i)
        ASSERT_EQ(samples[i], 0.0);
}

TEST(ExponentialSweep, RejectsParametersOutOfRange)
{
    auto with = [](auto change) {
        SweepParameters p;
        change(p);
        return p;
    };
    EXPECT_THROW(ExponentialSweep(with([](SweepParameters& p) { p.seconds = 0.5; })), std::invalid_argument);
    EXPECT_THROW(ExponentialSweep(with([](SweepParameters& p) { p.seconds = 17; })), std::invalid_argument);
    EXPECT_THROW(ExponentialSweep(with([](SweepParameters& p) { p.levelDbfs = 1; })), std::invalid_argument);
    EXPECT_THROW(ExponentialSweep(with([](SweepParameters& p) { p.levelDbfs = -41; })), std::invalid_argument);
    EXPECT_THROW(ExponentialSweep(with([](SweepParameters& p) { p.endHz = 23000; })), std::invalid_argument);
    EXPECT_THROW(ExponentialSweep(with([](SweepParameters& p) { p.startHz = 0; })), std::invalid_argument);
    EXPECT_NO_THROW(ExponentialSweep(with([](SweepParameters& p) { p.levelDbfs = -40; })));
}

} // namespace
