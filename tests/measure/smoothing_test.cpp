#include "measure/smoothing.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>

using measure::Smoothing;
using measure::SmoothMagnitudeDb;

namespace {

const Smoothing Widths[] = {Smoothing::Octave48, Smoothing::Octave24, Smoothing::Octave12, Smoothing::Octave6,
                            Smoothing::Octave3};

// 20 Hz .. 20 kHz, `perOctave` points per octave.
std::vector<double> LogGrid(int perOctave)
{
    std::vector<double> hz;
    const int count = static_cast<int>(std::log2(1000.0) * perOctave) + 1;
    for (int i = 0; i < count; ++i)
        hz.push_back(20.0 * std::exp2(static_cast<double>(i) / perOctave));
    return hz;
}

// An FFT's bins: k * step Hz for k = 1 .. count.
std::vector<double> LinearGrid(double step, int count)
{
    std::vector<double> hz;
    for (int k = 1; k <= count; ++k)
        hz.push_back(k * step);
    return hz;
}

// Half a 1/n octave band in natural log units.
double HalfBand(int n)
{
    return std::log(2.0) / (2.0 * n);
}

TEST(Smoothing, FlatStaysFlatOnEveryGridAndWidth)
{
    const std::vector<std::vector<double>> grids = {LogGrid(96), LogGrid(7), LinearGrid(48000.0 / 8192, 4096),
                                                    LinearGrid(1.0, 3)};
    for (const auto& hz : grids) {
        for (const double level : {0.0, -6.02, 93.7}) {
            const std::vector<double> db(hz.size(), level);
            for (Smoothing width : Widths) {
                const std::vector<double> out = SmoothMagnitudeDb(hz, db, width);
                ASSERT_EQ(out.size(), hz.size());
                for (std::size_t i = 0; i < hz.size(); ++i)
                    ASSERT_NEAR(out[i], level, 1e-9) << measure::SmoothingName(width) << " at " << hz[i] << " Hz";
            }
        }
    }
}

TEST(Smoothing, NoneAndBadInputLeaveTheResponseAsItIs)
{
    const std::vector<double> hz = {100, 200, 400}, db = {1, -40, 3};
    EXPECT_EQ(SmoothMagnitudeDb(hz, db, Smoothing::None), db);
    EXPECT_EQ(SmoothMagnitudeDb({}, {}, Smoothing::Octave3), std::vector<double>{});
    EXPECT_EQ(SmoothMagnitudeDb({100, 200}, db, Smoothing::Octave3), db);
    EXPECT_EQ(measure::SmoothingName(Smoothing::Octave6), "1/6 octave");
    EXPECT_EQ(measure::SmoothingName(Smoothing::None), "none");
}

// One point 40 dB down on a log grid of step s (log units): every point
// whose band holds the notch's whole stretch shows the band's mean power
// 1 - (1 - 10^-4) s / (2 h); points whose band misses the stretch stay at 0
// dB; the ones between lie in between.
TEST(Smoothing, ANotchOnALogGridSpreadsOverTheBand)
{
    const int perOctave = 96;
    const std::vector<double> hz = LogGrid(perOctave);
    const std::size_t notch = hz.size() / 2;
    std::vector<double> db(hz.size(), 0.0);
    db[notch] = -40.0;
    const double step = std::log(2.0) / perOctave;
    for (const auto& [width, n] : {std::pair{Smoothing::Octave12, 12}, std::pair{Smoothing::Octave3, 3}}) {
        const double half = HalfBand(n);
        const double dip = 10.0 * std::log10(1.0 - (1.0 - 1e-4) * step / (2.0 * half));
        const std::vector<double> out = SmoothMagnitudeDb(hz, db, width);
        int fullDip = 0;
        for (std::size_t i = 0; i < hz.size(); ++i) {
            const double distance = std::fabs(std::log(hz[i] / hz[notch]));
            if (distance <= half - step / 2 - 1e-12) {
                EXPECT_NEAR(out[i], dip, 1e-9) << hz[i];
                ++fullDip;
            } else if (distance >= half + step / 2 + 1e-12) {
                EXPECT_NEAR(out[i], 0.0, 1e-9) << hz[i];
            } else {
                EXPECT_LT(out[i], 0.0);
                EXPECT_GT(out[i], dip - 1e-9);
            }
        }
        // 96 points per octave: a 1/12 octave band is 8 steps wide, 1/3 is 32.
        EXPECT_EQ(fullDip, 2 * (perOctave / (2 * n)) - 1) << n;
    }
}

// A 20 dB peak in one bin of an FFT grid: at that bin the band's mean power
// is 1 + (100 - 1) w / (2 h), w the bin's log-frequency stretch, halfway to
// each neighbour.
TEST(Smoothing, APeakOnALinearGridSpreadsByItsLogWidth)
{
    const std::vector<double> hz = LinearGrid(10.0, 2000);
    const std::size_t peak = 99; // 1000 Hz
    std::vector<double> db(hz.size(), 0.0);
    db[peak] = 20.0;
    const double stretch = 0.5 * std::log(hz[peak + 1] / hz[peak - 1]);
    const std::vector<double> out = SmoothMagnitudeDb(hz, db, Smoothing::Octave6);
    EXPECT_NEAR(out[peak], 10.0 * std::log10(1.0 + 99.0 * stretch / (2.0 * HalfBand(6))), 1e-9);
    // 1/6 octave around 1 kHz reaches from 944 to 1059 Hz: the bins at 950
    // and 1050 Hz still see the peak, those at 930 and 1070 Hz do not.
    EXPECT_GT(out[94], 0.1);
    EXPECT_GT(out[104], 0.1);
    EXPECT_NEAR(out[92], 0.0, 1e-9);
    EXPECT_NEAR(out[106], 0.0, 1e-9);
}

// Pink (-10 log10 f dB, -3.01 dB per octave): the mean power over a band of
// log half-width h is exactly (e^h - e^-h) / (2h) / f, so smoothing only adds
// 10 log10(sinh(h) / h) and keeps the slope. A mean weighted by the linear
// grid's bins would add the negative of that instead.
TEST(Smoothing, APinkSlopeKeepsItsSlopeAndLevelAwayFromTheEnds)
{
    const std::vector<std::vector<double>> grids = {LogGrid(48), LinearGrid(1.0, 20000)};
    for (const auto& hz : grids) {
        std::vector<double> db(hz.size());
        for (std::size_t i = 0; i < hz.size(); ++i)
            db[i] = -10.0 * std::log10(hz[i]);
        for (const auto& [width, n] : {std::pair{Smoothing::Octave3, 3}, std::pair{Smoothing::Octave12, 12}}) {
            const double h = HalfBand(n);
            const double lift = 10.0 * std::log10(std::sinh(h) / h);
            const std::vector<double> out = SmoothMagnitudeDb(hz, db, width);
            for (std::size_t i = 0; i < hz.size(); ++i) {
                if (hz[i] < 200.0 || hz[i] > 10000.0)
                    continue;
                ASSERT_NEAR(out[i] - db[i], lift, 0.002) << n << " at " << hz[i] << " Hz, " << hz.size();
            }
        }
    }
}

TEST(Smoothing, ComplexSmoothingKeepsAConstantPhaseAndMatchesTheMagnitude)
{
    const std::vector<double> hz = LinearGrid(5.0, 3000);
    std::vector<std::complex<double>> response(hz.size());
    std::vector<double> db(hz.size());
    for (std::size_t i = 0; i < hz.size(); ++i) {
        const double magnitude = 1.0 + 0.5 * std::sin(hz[i] / 37.0);
        response[i] = std::polar(magnitude, 0.7);
        db[i] = 20.0 * std::log10(magnitude);
    }
    const auto out = measure::SmoothComplex(hz, response, Smoothing::Octave6);
    const auto magnitudes = SmoothMagnitudeDb(hz, db, Smoothing::Octave6);
    for (std::size_t i = 0; i < hz.size(); ++i) {
        ASSERT_NEAR(std::arg(out[i]), 0.7, 1e-12) << hz[i];
        ASSERT_NEAR(20.0 * std::log10(std::abs(out[i])), magnitudes[i], 1e-9) << hz[i];
    }
    // A half-turn of phase within a band: the complex mean cancels towards 0.
    const std::vector<double> two = {1000.0, 1001.0};
    const auto cancelled = measure::SmoothComplex(two, {{1.0, 0.0}, {-1.0, 0.0}}, Smoothing::Octave3);
    EXPECT_NEAR(std::abs(cancelled[0]), 1.0, 1e-9); // magnitude is the mean power
}

} // namespace
