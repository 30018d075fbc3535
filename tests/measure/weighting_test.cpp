// The A and C weightings against the nominal values the standard tabulates
// (IEC 61672-1, rounded to 0.1 dB), at the nominal frequencies and at the
// exact base-10 frequencies the table was computed for.
#include "measure/weighting.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {
using measure::Weighting;

struct TableRow {
    double nominalHz;
    double aDb, cDb;
};

constexpr TableRow Table[] = {
    {31.5, -39.4, -3.0}, {63, -26.2, -0.8}, {125, -16.1, -0.2}, {250, -8.6, 0.0},   {500, -3.2, 0.0},
    {1000, 0.0, 0.0},    {2000, 1.2, -0.2}, {4000, 1.0, -0.8},  {8000, -1.1, -3.0}, {16000, -6.6, -8.5},
};

// 1000 * 10^(n/10) for the n whose nominal frequency this is.
double ExactHz(double nominalHz)
{
    return 1000.0 * std::pow(10.0, std::round(10.0 * std::log10(nominalHz / 1000.0)) / 10.0);
}

TEST(Weighting, ATableValues)
{
    for (const TableRow& row : Table) {
        EXPECT_NEAR(measure::WeightingDb(Weighting::A, row.nominalHz), row.aDb, 0.15) << row.nominalHz;
        EXPECT_NEAR(measure::WeightingDb(Weighting::A, ExactHz(row.nominalHz)), row.aDb, 0.051) << row.nominalHz;
    }
}

TEST(Weighting, CTableValues)
{
    for (const TableRow& row : Table) {
        EXPECT_NEAR(measure::WeightingDb(Weighting::C, row.nominalHz), row.cDb, 0.15) << row.nominalHz;
        EXPECT_NEAR(measure::WeightingDb(Weighting::C, ExactHz(row.nominalHz)), row.cDb, 0.051) << row.nominalHz;
    }
}

TEST(Weighting, ZIsFlatAndTheCurvesMeetAt1kHzAndAtZero)
{
    for (double hz : {0.0, 10.0, 1000.0, 22050.0})
        EXPECT_EQ(measure::WeightingDb(Weighting::Z, hz), 0.0);
    EXPECT_NEAR(measure::WeightingDb(Weighting::A, 1000.0), 0.0, 0.001);
    EXPECT_NEAR(measure::WeightingDb(Weighting::C, 1000.0), 0.0, 0.001);
    EXPECT_EQ(measure::WeightingPowerFactor(Weighting::A, 0.0), 0.0);
    EXPECT_EQ(measure::WeightingPowerFactor(Weighting::C, 0.0), 0.0);
    EXPECT_TRUE(std::isinf(measure::WeightingDb(Weighting::A, 0.0)));
    // The power factor is the gain in dB as a power ratio: -3.0 dB is 0.501.
    EXPECT_NEAR(measure::WeightingPowerFactor(Weighting::C, 31.5), std::pow(10.0, -3.03 / 10.0), 0.002);
    EXPECT_STREQ(measure::WeightingName(Weighting::A), "A");
    EXPECT_STREQ(measure::WeightingName(Weighting::C), "C");
    EXPECT_STREQ(measure::WeightingName(Weighting::Z), "Z");
}

} // namespace
