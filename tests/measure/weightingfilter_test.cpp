// The A and C filters measured with steady sines (the level after the
// filter less the level before) against the standard's table (IEC 61672-1,
// rounded to 0.1 dB) and against the analogue curves.
#include "measure/weightingfilter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

namespace {
using measure::Weighting;

// Feeds a sine through a fresh filter in blocks of 100 ms (so the state must
// carry over) and compares mean squares over whole periods after 1 s.
double SineGainDb(Weighting weighting, double hz, double rate = 44100.0)
{
    measure::WeightingFilter filter(weighting, rate);
    const auto settle = static_cast<std::size_t>(rate);
    const auto window = static_cast<std::size_t>(std::round(std::ceil(0.5 * hz) * rate / hz));
    std::vector<double> in(settle + window), out(in.size());
    for (std::size_t i = 0; i < in.size(); ++i)
        in[i] = 0.5 * std::sin(2.0 * std::numbers::pi * hz * static_cast<double>(i) / rate);
    const auto block = static_cast<std::size_t>(rate / 10.0);
    for (std::size_t start = 0; start < in.size(); start += block)
        filter.Process(in.data() + start, out.data() + start, std::min(block, in.size() - start));
    double inPower = 0.0, outPower = 0.0;
    for (std::size_t i = settle; i < in.size(); ++i) {
        inPower += in[i] * in[i];
        outPower += out[i] * out[i];
    }
    return 10.0 * std::log10(outPower / inPower);
}

TEST(WeightingFilter, SinesAtTheOctaveFrequenciesReadTheTable)
{
    struct Row {
        double nominalHz, aDb, cDb;
    };
    constexpr Row table[] = {
        {31.5, -39.4, -3.0}, {63, -26.2, -0.8}, {125, -16.1, -0.2}, {250, -8.6, 0.0},   {500, -3.2, 0.0},
        {1000, 0.0, 0.0},    {2000, 1.2, -0.2}, {4000, 1.0, -0.8},  {8000, -1.1, -3.0}, {16000, -6.6, -8.5},
    };
    for (const Row& row : table) {
        // 0.2 dB from 63 Hz to 8 kHz, 0.5 dB at the ends; at the nominal
        // frequency and at the exact one the table was computed for.
        const double tolerance = row.nominalHz < 60.0 || row.nominalHz > 10000.0 ? 0.5 : 0.2;
        const double exactHz = 1000.0 * std::pow(10.0, std::round(10.0 * std::log10(row.nominalHz / 1000.0)) / 10.0);
        for (double hz : {row.nominalHz, exactHz}) {
            EXPECT_NEAR(SineGainDb(Weighting::A, hz), row.aDb, tolerance) << hz << " Hz";
            EXPECT_NEAR(SineGainDb(Weighting::C, hz), row.cDb, tolerance) << hz << " Hz";
        }
    }
}

// At every third-octave frequency from 10 Hz to 16 kHz within 0.1 dB of the
// analogue curves, far inside the class 1 limits (at least 1.1 dB either
// side there); at 20 kHz, where a digital filter must part from the curve
// before the Nyquist frequency, within 1 dB. At 44.1 kHz and 48 kHz.
TEST(WeightingFilter, FollowsTheAnalogueCurvesFrom10HzTo20kHz)
{
    for (double rate : {44100.0, 48000.0}) {
        for (int n = -20; n <= 13; ++n) {
            const double hz = 1000.0 * std::pow(10.0, n / 10.0);
            for (Weighting weighting : {Weighting::A, Weighting::C})
                EXPECT_NEAR(SineGainDb(weighting, hz, rate), measure::WeightingDb(weighting, hz), n < 13 ? 0.1 : 1.0)
                    << measure::WeightingName(weighting) << " at " << hz << " Hz, rate " << rate;
        }
    }
}

} // namespace
