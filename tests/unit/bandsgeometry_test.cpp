#include "meters/bandsgeometry.h"

#include "measure/levels.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

// Levels map linearly from the top (row 0) to top - span (the bottom row);
// beyond either end they are held at the plot's edge; below it, or
// silence, gives no bar at all.
TEST(BandsGeometry, LevelRowsFollowTopAndSpan)
{
    EXPECT_EQ(bandsview::LevelRow(0, 0, 100, 200), 0);
    EXPECT_EQ(bandsview::LevelRow(-50, 0, 100, 200), 100);
    EXPECT_EQ(bandsview::LevelRow(-25, -20, 40, 80), 10);
    EXPECT_EQ(bandsview::LevelRow(6, 0, 100, 200), 0);
    EXPECT_EQ(bandsview::LevelRow(-120, 0, 100, 200), 200);
    EXPECT_EQ(bandsview::LevelRow(measure::SilenceDb, 0, 140, 200), 200);
    EXPECT_EQ(bandsview::GridLevels(0, 60), (std::vector<int>{0, -10, -20, -30, -40, -50, -60}));
    EXPECT_EQ(bandsview::GridLevels(-10, 100), (std::vector<int>{-20, -40, -60, -80, -100}));
    EXPECT_TRUE(bandsview::IsTopChoice(-30));
    EXPECT_FALSE(bandsview::IsTopChoice(-35));
    EXPECT_FALSE(bandsview::IsSpanChoice(0));
}

// The bars of 30 bands on 600 pixels: 20 pixels a band, 2 of them a gap,
// the left channel's half left of the right channel's; the column under
// the pointer names the band whose bars are there.
TEST(BandsGeometry, BarsShareTheWidthAndThePointerFindsThem)
{
    const auto one = bandsview::BarColumns(3, 30, 600, 0, false);
    EXPECT_EQ(one.left, 61);
    EXPECT_EQ(one.right, 78);
    const auto left = bandsview::BarColumns(3, 30, 600, 0, true);
    const auto right = bandsview::BarColumns(3, 30, 600, 1, true);
    EXPECT_EQ(left.left, 61);
    EXPECT_EQ(left.right + 1, right.left);
    EXPECT_EQ(right.right, 78);
    for (int x : {60, 61, 70, 79})
        EXPECT_EQ(bandsview::BandAtColumn(x, 30, 600), 3) << x;
    EXPECT_EQ(bandsview::BandAtColumn(600, 30, 600), -1);
    EXPECT_EQ(bandsview::BandAtColumn(-1, 30, 600), -1);
    // 239 bands on 100 pixels: narrower than a pixel, no gap, never past the end.
    for (int band = 0; band < 239; ++band) {
        const auto span = bandsview::BarColumns(band, 239, 100, 0, false);
        EXPECT_LE(span.right, 99);
    }
}

// Labels are thinned to every 1st, 2nd, 3rd, ... band so that each gets
// its room, and always include the 1 kHz band.
TEST(BandsGeometry, LabelsFitAndKeepOneKilohertz)
{
    const auto thirds = measure::OctaveBands(3);
    const auto wide = bandsview::LabelledBands(thirds, 30 * 40, 34);
    EXPECT_EQ(wide.size(), thirds.size());
    const auto narrow = bandsview::LabelledBands(thirds, 300, 34);
    ASSERT_GE(narrow.size(), 2u);
    EXPECT_EQ(narrow[1] - narrow[0], 6) << "10 pixels a band: every 6th";
    EXPECT_NE(std::find(narrow.begin(), narrow.end(), 16), narrow.end()) << "1 kHz";
}

// A microphone's response comes off each band at its centre: a response
// rising from 0 dB at 100 Hz to 6 dB at 10 kHz is 3 dB at 1 kHz, halfway
// along the log frequency axis.
TEST(BandsGeometry, AMicrophonesResponseComesOffEachBandAtItsCentre)
{
    measure::BandReading reading;
    reading.bands = measure::OctaveBands(1);
    const std::size_t kilohertz = 5; // 31.5, 63, 125, 250, 500, 1k
    ASSERT_EQ(measure::NominalText(reading.bands[kilohertz].nominalHz), "1k");
    for (int channel = 0; channel < 2; ++channel) {
        reading.levelDb[channel].assign(reading.bands.size(), -20.0);
        reading.peakDb[channel].assign(reading.bands.size(), -10.0);
    }
    reading.levelDb[1][kilohertz] = measure::SilenceDb;
    measure::BandReading unchanged = reading;
    bandsview::SubtractMicResponse(unchanged, measure::MicResponse{});
    EXPECT_EQ(unchanged.levelDb[0], reading.levelDb[0]) << "no file, no change";

    const measure::MicResponse rising{{100.0, 10000.0}, {0.0, 6.0}};
    bandsview::SubtractMicResponse(reading, rising);
    EXPECT_NEAR(reading.levelDb[0][kilohertz], -23.0, 1e-9);
    EXPECT_NEAR(reading.peakDb[0][kilohertz], -13.0, 1e-9);
    EXPECT_EQ(reading.levelDb[1][kilohertz], measure::SilenceDb) << "silence stays silence";
    EXPECT_NEAR(reading.levelDb[0][0], -20.0, 1e-9) << "held flat below the first point";
}

// The readout names the band and its levels; the CSV has a header naming
// the choices and one row per band with centre, edges and both levels, in
// the unit the frame shows for the weighting.
TEST(BandsGeometry, ReadoutAndCsvNameBandAndLevels)
{
    const auto thirds = measure::OctaveBands(3);
    const std::string readout = bandsview::ReadoutText(thirds[16], -6.02, std::nullopt, std::nullopt, "dBFS");
    EXPECT_EQ(readout, "1k Hz (1000.0 Hz, 891.3 - 1122.0 Hz)\nL: -6.0 dBFS");
    EXPECT_EQ(bandsview::ReadoutText(thirds[0], measure::SilenceDb, -3.0, std::nullopt,
                                     bandsview::UnitLabel(1, std::nullopt)),
              "25 Hz (25.1 Hz, 22.4 - 28.2 Hz)\nL: -inf dB(A)\nR: -3.0 dB(A)");

    // On a calibrated device (0 dBFS = 114 dB SPL): the sound pressure levels.
    EXPECT_EQ(bandsview::ReadoutText(thirds[16], -20.0, measure::SilenceDb, 114.0, bandsview::UnitLabel(0, 114.0)),
              "1k Hz (1000.0 Hz, 891.3 - 1122.0 Hz)\nL: 94.0 dB SPL\nR: -inf dB SPL");
    EXPECT_EQ(bandsview::GridLabel(-20, std::nullopt), "-20");
    EXPECT_EQ(bandsview::GridLabel(-20, 114.0), "94");
    EXPECT_EQ(bandsview::GridLabel(-100, 93.96), "-6.0");
    EXPECT_EQ(bandsview::GridLabel(-10, 10.02), "0.0");
    EXPECT_EQ(bandsview::UnitLabel(0, std::nullopt), "dBFS");
    EXPECT_EQ(bandsview::UnitLabel(0, 94.0), "dB SPL");
    EXPECT_EQ(bandsview::UnitLabel(1, 94.0), "dB(A)");
    EXPECT_EQ(bandsview::UnitLabel(2, std::nullopt), "dB(C)");

    std::vector<double> left(thirds.size(), -90.0), right(thirds.size(), -80.0);
    left[16] = -6.02;
    const std::string csv = bandsview::BandsCsv(thirds, left, right,
                                                {3, measure::Weighting::A, "Slow (1 s)", 42, "2026-12-10T02:00:00"});
    std::istringstream lines(csv);
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(line, "# Sonalyx octave bands, 1/3 Octave, weighting A, averaging Slow (1 s) (42 blocks), "
                    "2026-12-10T02:00:00");
    std::getline(lines, line);
    EXPECT_EQ(line, "Nominal (Hz),Centre (Hz),Lower (Hz),Upper (Hz),Left (dB(A)),Right (dB(A))");
    int rows = 0;
    while (std::getline(lines, line)) {
        if (rows == 16) {
            EXPECT_EQ(line, "1000,1000.000,891.251,1122.018,-6.02,-80.00");
        }
        ++rows;
    }
    EXPECT_EQ(rows, 30);
}

} // namespace
