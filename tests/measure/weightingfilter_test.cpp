// The A and C filters measured with steady sines: the level a sine reads
// after the filter, less the level it had before, against the values the
// standard tabulates (IEC 61672-1, rounded to 0.1 dB) and against the
// analogue curve the filters realise.
#include "measure/weightingfilter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

namespace {
using measure::Weighting;

// Feeds a sine of `hz` through a fresh filter in blocks of a tenth of a
// second (the state carries over from block to block) and returns the gain
// in dB: the mean square of the output over a whole number of periods after
// one second of settling, against that of the input over the same samples.
double SineGainDb(Weighting weighting, double hz, double sampleRate = 44100.0)
{
    measure::WeightingFilter filter(weighting, sampleRate);
    const std::size_t settle = static_cast<std::size_t>(sampleRate);
    const double periods = std::ceil(0.5 * hz);
    const std::size_t window = static_cast<std::size_t>(std::round(periods * sampleRate / hz));
    std::vector<double> in(settle + window), out(in.size());
    for (std::size_t i = 0; i < in.size(); ++i)
        in[i] = 0.5 * std::sin(2.0 * std::numbers::pi * hz * static_cast<double>(i) / sampleRate);
    const std::size_t block = static_cast<std::size_t>(sampleRate / 10.0);
    for (std::size_t start = 0; start < in.size(); start += block)
        filter.Process(in.data() + start, out.data() + start, std::min(block, in.size() - start));
    double inPower = 0.0, outPower = 0.0;
    for (std::size_t i = settle; i < in.size(); ++i) {
        inPower += in[i] * in[i];
        outPower += out[i] * out[i];
    }
    return 10.0 * std::log10(outPower / inPower);
}

struct TableRow {
    double nominalHz;
    double aDb, cDb;
};

// The standard's table at the octave frequencies.
constexpr TableRow Table[] = {
    {31.5, -39.4, -3.0}, {63, -26.2, -0.8}, {125, -16.1, -0.2}, {250, -8.6, 0.0},   {500, -3.2, 0.0},
    {1000, 0.0, 0.0},    {2000, 1.2, -0.2}, {4000, 1.0, -0.8},  {8000, -1.1, -3.0}, {16000, -6.6, -8.5},
};

// 0.2 dB from 63 Hz to 8 kHz, 0.5 dB at the ends.
double TableTolerance(double nominalHz)
{
    return nominalHz < 60.0 || nominalHz > 10000.0 ? 0.5 : 0.2;
}

// 1000 * 10^(n/10) for the n whose nominal frequency this is: the exact
// frequency the table's value belongs to.
double ExactHz(double nominalHz)
{
    return 1000.0 * std::pow(10.0, std::round(10.0 * std::log10(nominalHz / 1000.0)) / 10.0);
}

TEST(WeightingFilter, SinesAtTheOctaveFrequenciesReadTheTable)
{
    for (const TableRow& row : Table) {
        for (double hz : {row.nominalHz, ExactHz(row.nominalHz)}) {
            EXPECT_NEAR(SineGainDb(Weighting::A, hz), row.aDb, TableTolerance(row.nominalHz)) << hz << " Hz";
            EXPECT_NEAR(SineGainDb(Weighting::C, hz), row.cDb, TableTolerance(row.nominalHz)) << hz << " Hz";
        }
    }
}

// At every third-octave frequency from 10 Hz to 16 kHz the filters stay
// within 0.1 dB of the analogue curves, far inside the class 1 limits
// (which are at least 1.1 dB wide on either side there); at 20 kHz, where
// the digital filter has to part from the curve before the Nyquist
// frequency, within 1 dB.
TEST(WeightingFilter, FollowsTheAnalogueCurvesFrom10HzTo20kHz)
{
    for (int n = -20; n <= 13; ++n) {
        const double hz = 1000.0 * std::pow(10.0, n / 10.0);
        const double tolerance = hz < 17000.0 ? 0.1 : 1.0;
        for (Weighting weighting : {Weighting::A, Weighting::C})
            EXPECT_NEAR(SineGainDb(weighting, hz), measure::WeightingDb(weighting, hz), tolerance)
                << measure::WeightingName(weighting) << " at " << hz << " Hz";
    }
}

TEST(WeightingFilter, KeepsItsShapeAtAnotherSampleRate)
{
    for (double hz : {31.5, 1000.0, 8000.0, 16000.0}) {
        EXPECT_NEAR(SineGainDb(Weighting::A, hz, 48000.0), measure::WeightingDb(Weighting::A, hz), 0.1) << hz;
        EXPECT_NEAR(SineGainDb(Weighting::C, hz, 48000.0), measure::WeightingDb(Weighting::C, hz), 0.1) << hz;
    }
}

TEST(WeightingFilter, ZPassesTheSignalUnchangedAndResetForgetsThePast)
{
    std::vector<double> in{0.25, -1.0, 0.5, 0.0, 1e-3}, out(in.size());
    measure::WeightingFilter z(Weighting::Z);
    z.Process(in.data(), out.data(), in.size());
    EXPECT_EQ(out, in);

    // A loud step leaves the filter ringing; after a reset silence is silent
    // again, and the filter works in place.
    measure::WeightingFilter a(Weighting::A);
    std::vector<double> loud(4410, 1.0);
    a.Process(loud.data(), loud.data(), loud.size());
    EXPECT_NE(loud.back(), 0.0);
    a.Reset();
    std::vector<double> silence(100, 0.0);
    a.Process(silence.data(), silence.data(), silence.size());
    for (double v : silence)
        EXPECT_EQ(v, 0.0);
}

} // namespace
