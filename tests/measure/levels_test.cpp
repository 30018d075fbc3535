#include "measure/levels.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

// A full-scale sine's mean square, summed sample by sample, reads 0 dBFS; a
// sine at half the amplitude reads -6.02 dBFS; silence reads the floor.
TEST(Levels, FullScaleSineReadsZeroDbfs)
{
    constexpr int n = 44100;
    double full = 0.0, half = 0.0;
    for (int i = 0; i < n; ++i) {
        const double s = 32767.0 * std::sin(2.0 * std::numbers::pi * 1000.0 * i / 44100.0);
        full += s * s;
        half += s * s / 4.0;
    }
    EXPECT_NEAR(measure::PowerToDbfs(full / n), 0.0, 1e-9);
    EXPECT_NEAR(measure::PowerToDbfs(half / n), -20.0 * std::log10(2.0), 1e-9);
    EXPECT_EQ(measure::PowerToDbfs(0.0), measure::SilenceDb);
    EXPECT_EQ(measure::PowerToDbfs(std::nan("")), measure::SilenceDb);
}
