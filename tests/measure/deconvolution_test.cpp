#include "common/biquads.h"
#include "measure/deconvolution.h"
#include "measure/sweep.h"

#include <fftw3.h>
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>
#include <random>
#include <vector>

namespace {

using namespace measure;
using Complex = std::complex<double>;

constexpr double Pi = std::numbers::pi;

SweepParameters ShortSweep(double rate = 44100.0)
{
    SweepParameters p;
    p.seconds = 2;
    p.silenceSeconds = 0.5;
    p.sampleRate = rate;
    return p;
}

// ---- Systems the sweep is sent through, with their known answers --------------------

using testsupport::Biquad;
const auto Peaking = testsupport::PeakingBiquad;
const auto LowPass = testsupport::LowPassBiquad;

// x delayed by `delay` samples (fractional), by a linear phase over a
// transform long enough that nothing wraps around.
std::vector<double> Delayed(const std::vector<double>& x, double delay, std::size_t length)
{
    const int n = 1 << 20;
    std::vector<double> real(n, 0.0);
    std::copy(x.begin(), x.end(), real.begin());
    std::vector<Complex> spectrum(n / 2 + 1);
    auto* bins = reinterpret_cast<fftw_complex*>(spectrum.data());
    fftw_plan forward = fftw_plan_dft_r2c_1d(n, real.data(), bins, FFTW_ESTIMATE);
    fftw_plan backward = fftw_plan_dft_c2r_1d(n, bins, real.data(), FFTW_ESTIMATE);
    fftw_execute(forward);
    for (int b = 0; b <= n / 2; ++b)
        spectrum[b] *= (b == n / 2) ? std::cos(Pi * delay) : std::polar(1.0, -2 * Pi * b * delay / n);
    fftw_execute(backward);
    fftw_destroy_plan(forward);
    fftw_destroy_plan(backward);
    std::vector<double> y(length);
    for (std::size_t i = 0; i < length; ++i)
        y[i] = real[i] / n;
    return y;
}

struct Measured {
    ResponsePeak peak;
    std::vector<ResponsePoint> points;
};

Measured MeasureThrough(const ExponentialSweep& sweep, const std::vector<double>& recording,
                        const std::vector<double>& hz, bool phaseFromPeak)
{
    const std::vector<double> played = sweep.Samples();
    const SweepParameters& p = sweep.Parameters();
    const DeconvolvedResponse response = Deconvolve(played, recording, p.sampleRate, p.startHz, p.endHz);
    Measured m;
    m.peak = FindPeak(response);
    // Linear systems leave nothing where harmonics would lie, so the window
    // reaches further back than LinearWindowFor would and keeps the band
    // edge's ringing whole.
    const WindowedImpulse linear = CutImpulse(response, m.peak.delaySamples, ImpulseWindow{20000, 22050});
    m.points = FrequencyResponse(linear, hz, phaseFromPeak ? m.peak.delaySamples : 0.0);
    return m;
}

TEST(Deconvolution, SweepWithItselfIsAFlatImpulseAtLagZero)
{
    const ExponentialSweep sweep(ShortSweep());
    const auto hz = LogFrequencyGrid(30, 15000);
    const Measured m = MeasureThrough(sweep, sweep.Samples(), hz, true);
    EXPECT_NEAR(m.peak.delaySamples, 0.0, 0.01);
    EXPECT_GT(m.peak.peakToNoiseDb, 60.0);
    ASSERT_EQ(m.points.size(), hz.size());
    for (const ResponsePoint& point : m.points) {
        ASSERT_NEAR(point.magnitudeDb, 0.0, 0.01) << point.hz << " Hz";
        ASSERT_NEAR(point.phaseDegrees, 0.0, 0.1) << point.hz << " Hz";
    }
}

TEST(Deconvolution, ReadsKnownFiltersMagnitudeAndPhase)
{
    const ExponentialSweep sweep(ShortSweep());
    const auto hz = LogFrequencyGrid(30, 15000);
    for (const Biquad& filter : {Peaking(1000, 1, 6, 44100), LowPass(5000, std::sqrt(0.5), 44100)}) {
        const Measured m = MeasureThrough(sweep, filter.Run(sweep.Samples()), hz, false);
        double worstDb = 0, worstDegrees = 0;
        for (const ResponsePoint& point : m.points) {
            const Complex expected = filter.At(point.hz, 44100);
            worstDb = std::max(worstDb, std::abs(point.magnitudeDb - 20 * std::log10(std::abs(expected))));
            const double degrees = std::remainder(point.phaseDegrees - std::arg(expected) * 180 / Pi, 360.0);
            worstDegrees = std::max(worstDegrees, std::abs(degrees));
        }
        EXPECT_LT(worstDb, 0.05);
        EXPECT_LT(worstDegrees, 1.0);
    }
}

TEST(Deconvolution, ReadsAFractionalDelay)
{
    const ExponentialSweep sweep(ShortSweep());
    const std::vector<double> played = sweep.Samples();
    const auto hz = LogFrequencyGrid(30, 15000, 6);
    for (const double delay : {123.4, 4410.77}) {
        const Measured m = MeasureThrough(sweep, Delayed(played, delay, played.size() + 5000), hz, true);
        EXPECT_NEAR(m.peak.delaySamples, delay, 0.05);
        // With the measured delay taken out the phase is flat again.
        for (const ResponsePoint& point : m.points) {
            EXPECT_NEAR(point.magnitudeDb, 0.0, 0.01) << point.hz;
            EXPECT_NEAR(point.phaseDegrees, 0.0, 0.1 + 360 * point.hz / 44100 * 0.05) << point.hz;
        }
    }
}

TEST(Deconvolution, PolynomialHarmonicsMatchTheirClosedForm)
{
    // A cubic sampled fast enough that none of its harmonics alias.
    SweepParameters p = ShortSweep(96000);
    p.endHz = 16000;
    const ExponentialSweep sweep(p);
    const std::vector<double> played = sweep.Samples();
    const double a2 = 0.1, a3 = 0.05, A = std::pow(10.0, p.levelDbfs / 20);
    std::vector<double> recorded(played.size());
    for (std::size_t i = 0; i < played.size(); ++i) {
        const double x = played[i] / 32767.0;
        recorded[i] = 32767.0 * (x + a2 * x * x + a3 * x * x * x);
    }
    // A sin(wt) through the cubic: fundamental A + 3 a3 A^3 / 4, H2 a2 A^2 / 2, H3 a3 A^3 / 4.
    const double fundamental = A + 0.75 * a3 * A * A * A;
    const double expectedH2 = 20 * std::log10(0.5 * a2 * A * A / fundamental);
    const double expectedH3 = 20 * std::log10(0.25 * a3 * A * A * A / fundamental);

    const DeconvolvedResponse response = Deconvolve(played, recorded, p.sampleRate, p.startHz, p.endHz);
    const ResponsePeak peak = FindPeak(response);
    EXPECT_NEAR(peak.delaySamples, 0.0, 0.05);
    const auto curves = HarmonicDistortion(response, sweep, peak.delaySamples, LogFrequencyGrid(50, 5000, 12));
    ASSERT_EQ(curves.size(), 4u);
    for (const HarmonicLevels& curve : curves) {
        ASSERT_FALSE(curve.hz.empty());
        for (std::size_t i = 0; i < curve.hz.size(); ++i) {
            if (curve.hz[i] * curve.order > 0.8 * p.endHz)
                continue;
            if (curve.order == 2)
                ASSERT_NEAR(curve.levelDb[i], expectedH2, 0.5) << curve.hz[i];
            else if (curve.order == 3)
                ASSERT_NEAR(curve.levelDb[i], expectedH3, 0.5) << curve.hz[i];
            else
                ASSERT_LT(curve.levelDb[i], expectedH3 - 30) << "H" << curve.order << " at " << curve.hz[i];
        }
    }
}

TEST(Deconvolution, RecognisesARecordingWithoutTheSweep)
{
    const ExponentialSweep sweep(ShortSweep());
    const std::vector<double> played = sweep.Samples();
    std::mt19937 generator(7);
    std::normal_distribution<double> noise(0.0, 300.0);
    std::vector<double> hiss(played.size()), silence(played.size(), 0.0), noisySweep(played.size());
    for (std::size_t i = 0; i < played.size(); ++i) {
        hiss[i] = noise(generator);
        noisySweep[i] = 0.1 * played[i] + hiss[i]; // the sweep 12 dB above the noise
    }
    auto detect = [&](const std::vector<double>& recording) {
        const ResponsePeak peak = FindPeak(Deconvolve(played, recording, 44100, 20, 20000));
        return std::pair{DetectSweep(peak), peak.peakToNoiseDb};
    };
    const auto [fromHiss, hissRatio] = detect(hiss);
    EXPECT_FALSE(fromHiss.found);
    EXPECT_LT(hissRatio, 20.0);
    EXPECT_NE(fromHiss.message.find("No sweep found in the recording"), std::string::npos);
    EXPECT_FALSE(detect(silence).first.found);
    const auto [fromNoisySweep, noisyRatio] = detect(noisySweep);
    EXPECT_TRUE(fromNoisySweep.found) << noisyRatio;
    EXPECT_TRUE(fromNoisySweep.message.empty());
}

TEST(Deconvolution, GridAndInputChecks)
{
    const auto grid = LogFrequencyGrid(20, 20000, 48);
    ASSERT_EQ(grid.size(), static_cast<std::size_t>(std::floor(48 * std::log2(1000.0))) + 1);
    EXPECT_DOUBLE_EQ(grid.front(), 20.0);
    for (std::size_t i = 1; i < grid.size(); ++i)
        ASSERT_NEAR(grid[i] / grid[i - 1], std::exp2(1.0 / 48), 1e-12);
    EXPECT_EQ(TransformSizeFor(441000), 442368); // 2^14 * 27
    EXPECT_EQ(TransformSizeFor(1024), 1024);
    // Even a few samples give a response and a peak, read safely.
    EXPECT_NEAR(FindPeak(Deconvolve({1}, {0, 1}, 44100, 20, 20000)).delaySamples, 1.0, 0.5);
    EXPECT_THROW(Deconvolve({1, 2, 3}, {1, 2}, 44100, 20, 20000), std::invalid_argument);
    EXPECT_THROW(Deconvolve({1, 2, 3}, {1, 2, 3}, 44100, 20, 30000), std::invalid_argument);
}

} // namespace
