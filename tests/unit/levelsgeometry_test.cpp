// The levels view's plain logic: sound pressure levels of a calibrated
// device worked out from pressures, the numbers as shown, the meter lines
// from known readings, the bars and the layout.
#include "meters/levelsgeometry.h"

#include "measure/levels.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace {

using namespace levelsview;

constexpr double ReferencePressure = 20e-6; // Pa, 0 dB SPL

double SplOf(double pascal)
{
    return 20.0 * std::log10(pascal / ReferencePressure);
}

TEST(LevelsCalibration, RmsLevelsMoveByTheOffsetAndPeaksReadThePeakPressure)
{
    // 0 dBFS stands for 114 dB SPL: a full-scale sine has an RMS pressure
    // of 10 Pa and so peaks of 10 * sqrt(2) Pa.
    const double rmsPascal = ReferencePressure * std::pow(10.0, 114.0 / 20.0);
    const Calibration calibration = 114.0;
    EXPECT_NEAR(RmsShown(0.0, calibration), SplOf(rmsPascal), 1e-9);
    EXPECT_NEAR(PeakShown(0.0, calibration), SplOf(rmsPascal * std::sqrt(2.0)), 1e-9);
    // A sine 20 dB lower: a tenth of the pressure.
    EXPECT_NEAR(RmsShown(-20.0, calibration), SplOf(rmsPascal / 10.0), 1e-9);
    EXPECT_NEAR(PeakShown(-20.0, calibration), SplOf(rmsPascal * std::sqrt(2.0) / 10.0), 1e-9);

    // Uncalibrated nothing moves; silence stays silence either way.
    EXPECT_EQ(RmsShown(-12.5, std::nullopt), -12.5);
    EXPECT_EQ(PeakShown(-12.5, std::nullopt), -12.5);
    EXPECT_EQ(RmsShown(measure::SilenceDb, calibration), measure::SilenceDb);
    EXPECT_EQ(PeakShown(measure::SilenceDb, calibration), measure::SilenceDb);
}

TEST(LevelsText, TypedLevelsArePlainNumbersACalibratorCouldHave)
{
    EXPECT_EQ(ParseTypedLevel("94"), 94.0);
    EXPECT_EQ(ParseTypedLevel("114.0"), 114.0);
    EXPECT_EQ(ParseTypedLevel(" 120,5\t"), 120.5) << "a decimal comma, blanks around";
    EXPECT_EQ(ParseTypedLevel("200"), 200.0);
    for (const char* wrong :
         {"", " ", ".", "0", "0.0", "-94", "+94", "200.1", "1e2", "94 dB", "9 4", "1.2.3", "nan", "inf", "0x5e"})
        EXPECT_FALSE(ParseTypedLevel(wrong)) << wrong;
    EXPECT_EQ(CalibrationText(std::nullopt), "dBFS (not calibrated)");
    EXPECT_EQ(CalibrationText(113.96), "0 dBFS = 114.0 dB SPL");
}

TEST(LevelsText, NumbersUnitsAndTheValuesThatHaveNone)
{
    EXPECT_EQ(LevelText(-23.04), "-23.0");
    EXPECT_EQ(LevelText(-22.96), "-23.0");
    EXPECT_EQ(LevelText(94.0), "94.0");
    EXPECT_EQ(LevelText(-0.04), "0.0") << "no negative zero";
    EXPECT_EQ(LevelText(measure::SilenceDb), "-inf");
    EXPECT_EQ(LevelText(-std::numeric_limits<double>::infinity()), "-inf");
    EXPECT_EQ(LevelText(std::numeric_limits<double>::quiet_NaN()), "-inf");
    EXPECT_EQ(LevelText(std::optional<double>()), "--");

    EXPECT_EQ(PeakUnit(std::nullopt), "dBFS");
    EXPECT_EQ(PeakUnit(90.0), "dB SPL");
    EXPECT_EQ(RmsUnit(measure::Weighting::Z, std::nullopt), "dBFS");
    EXPECT_EQ(RmsUnit(measure::Weighting::A, std::nullopt), "dBFS(A)");
    EXPECT_EQ(RmsUnit(measure::Weighting::C, std::nullopt), "dBFS(C)");
    EXPECT_EQ(RmsUnit(measure::Weighting::Z, 90.0), "dB SPL");
    EXPECT_EQ(RmsUnit(measure::Weighting::A, 90.0), "dB(A)");
    EXPECT_EQ(RmsUnit(measure::Weighting::C, 90.0), "dB(C)");
}

MeterReadings KnownReadings()
{
    MeterReadings readings;
    measure::ChannelLevels& left = readings.channels[0];
    left.samplePeakDb = -6.0, left.samplePeakMaxDb = -3.0;
    left.fastDb = -20.0, left.fastMaxDb = -18.0, left.slowDb = -21.0, left.slowMaxDb = -19.5;
    left.leqDb = -22.0, left.seconds = 12.7;
    measure::ChannelLevels& right = readings.channels[1];
    right.samplePeakDb = 0.0, right.samplePeakMaxDb = 0.0, right.clippedSamples = 5;
    readings.loudness.momentaryLufs = -23.0;
    readings.loudness.momentaryMaxLufs = -20.0;
    readings.loudness.shortTermLufs = -24.0;
    readings.loudness.truePeakNowDbtp[0] = -2.5;
    readings.loudness.truePeakDbtp[0] = -1.0;
    readings.loudness.truePeakDbtp[1] = 0.4;
    readings.loudness.truePeakMaxDbtp = 0.4;
    return readings;
}

TEST(LevelsLines, EachQuantityForBothChannelsThenTheLoudness)
{
    const std::vector<MeterLine> lines = MeterLines(KnownReadings());
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(ChannelLineCount + LoudnessLineCount));
    const std::vector<std::string> captions = {"Peak",      "Peak",       "True Peak",  "True Peak", "Fast",
                                               "Fast",      "Slow",       "Slow",       "Leq",       "Leq",
                                               "Momentary", "Short-term", "Integrated", "Range",     "Max True Peak"};
    for (std::size_t i = 0; i < lines.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(lines[i].caption, captions[i]);
        EXPECT_EQ(lines[i].channelIndex, i < 10 ? static_cast<int>(i % 2) : -1);
    }
    // Left: peak and its maximum, Fast and its maximum, Leq and its time.
    EXPECT_EQ(lines[0].number, "-6.0");
    EXPECT_EQ(lines[0].held, -3.0);
    EXPECT_EQ(lines[0].note, "max -3.0  clip 0");
    EXPECT_FALSE(lines[0].alarm);
    EXPECT_EQ(lines[4].number, "-20.0");
    EXPECT_EQ(lines[4].note, "max -18.0");
    EXPECT_EQ(lines[8].number, "-22.0");
    EXPECT_EQ(lines[8].note, "12 s");
    // Right: full scale reached five times; its true peak went over 0 dBTP.
    EXPECT_EQ(lines[1].note, "max 0.0  clip 5");
    EXPECT_TRUE(lines[1].alarm);
    EXPECT_TRUE(lines[3].alarm);
    EXPECT_EQ(lines[3].number, "--") << "no true peak of the last block";
    EXPECT_EQ(lines[5].number, "-inf") << "nothing measured";
    EXPECT_FALSE(lines[5].value);
    EXPECT_EQ(lines[2].number, "-2.5");
    EXPECT_EQ(lines[2].unit, "dBTP");
    // Loudness.
    EXPECT_EQ(lines[10].number, "-23.0");
    EXPECT_EQ(lines[10].note, "max -20.0");
    EXPECT_EQ(lines[10].unit, "LUFS");
    EXPECT_EQ(lines[12].number, "--") << "no integrated loudness yet";
    EXPECT_FALSE(lines[13].bar) << "a range has no place on a level bar";
    EXPECT_EQ(lines[13].unit, "LU");
    EXPECT_EQ(lines[14].number, "0.4");
    EXPECT_TRUE(lines[14].alarm);
}

TEST(LevelsLines, ACalibratedDeviceReadsSoundPressureButLoudnessStaysLufs)
{
    MeterReadings readings = KnownReadings();
    readings.weighting = measure::Weighting::A;
    readings.calibration = 100.0;
    const std::vector<MeterLine> lines = MeterLines(readings);
    EXPECT_EQ(lines[4].number, "80.0");
    EXPECT_EQ(lines[4].unit, "dB(A)");
    EXPECT_EQ(lines[4].barHighDb, 100.0) << "full scale at the top";
    EXPECT_EQ(lines[4].barLowDb, 100.0 - BarSpanDb);
    EXPECT_EQ(lines[0].number, "-6.0") << "the headroom";
    EXPECT_EQ(lines[0].unit, "dBFS");
    EXPECT_EQ(lines[2].number, "-2.5") << "true peak in dBTP";
    EXPECT_EQ(lines[10].number, "-23.0");
    EXPECT_EQ(lines[10].unit, "LUFS");
}

TEST(LevelsBars, FillFollowsTheScaleAndClampsAtItsEnds)
{
    EXPECT_EQ(BarFill(-40.0, -80.0, 0.0, 200), 100);
    EXPECT_EQ(BarFill(-60.0, -80.0, 0.0, 200), 50);
    EXPECT_EQ(BarFill(-80.0, -80.0, 0.0, 200), 0);
    EXPECT_EQ(BarFill(-120.0, -80.0, 0.0, 200), 0);
    EXPECT_EQ(BarFill(0.0, -80.0, 0.0, 200), 200);
    EXPECT_EQ(BarFill(3.0, -80.0, 0.0, 200), 200);
    EXPECT_EQ(BarFill(54.0, 34.0, 114.0, 80), 20) << "a calibrated scale";
    EXPECT_EQ(BarFill(std::nullopt, -80.0, 0.0, 200), 0);
    EXPECT_EQ(BarFill(std::numeric_limits<double>::quiet_NaN(), -80.0, 0.0, 200), 0);
    EXPECT_EQ(BarFill(std::numeric_limits<double>::infinity(), -80.0, 0.0, 200), 200);
    EXPECT_EQ(BarFill(-40.0, -80.0, 0.0, 0), 0);
    EXPECT_EQ(BarFill(-40.0, 0.0, 0.0, 200), 0) << "no scale";
}

TEST(LevelsLayout, LinesAndColumnsStayInsideThePanelInOrder)
{
    for (auto [width, height] : {std::pair{360, 270}, {560, 410}, {1600, 1000}, {800, 120}}) {
        SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
        const MeterLayout layout = LayoutMeters(width, height, ChannelLineCount, LoudnessLineCount);
        ASSERT_EQ(layout.lines.size(), static_cast<std::size_t>(ChannelLineCount + LoudnessLineCount));
        EXPECT_LT(layout.captionLeft, layout.channelLeft);
        EXPECT_LT(layout.channelLeft, layout.barLeft);
        EXPECT_LT(layout.barRight, layout.numberLeft);
        EXPECT_LT(layout.numberLeft, layout.numberRight);
        EXPECT_LE(layout.numberRight, layout.unitLeft);
        EXPECT_LT(layout.unitLeft, layout.noteLeft);
        EXPECT_LT(layout.noteLeft, width);
        EXPECT_GE(layout.numberPixels, 8);
        int gaps = 0;
        for (std::size_t i = 0; i < layout.lines.size(); ++i) {
            const LinePlace& line = layout.lines[i];
            EXPECT_GE(line.top, 0) << i;
            EXPECT_LE(line.top + line.height, height) << i;
            EXPECT_GT(line.height, 0) << i;
            if (i == 0)
                continue;
            const LinePlace& before = layout.lines[i - 1];
            EXPECT_GE(line.top, before.top + before.height) << "lines do not overlap: " << i;
            if (i != static_cast<std::size_t>(ChannelLineCount))
                gaps = std::max(gaps, line.top - before.top);
        }
        const int sectionStep = layout.lines[ChannelLineCount].top - layout.lines[ChannelLineCount - 1].top;
        EXPECT_GT(sectionStep, gaps) << "the loudness section stands apart";
    }
    // Wide enough, the bar takes what the fixed columns leave.
    const MeterLayout wide = LayoutMeters(1600, 1000, ChannelLineCount, LoudnessLineCount);
    const MeterLayout normal = LayoutMeters(560, 410, ChannelLineCount, LoudnessLineCount);
    EXPECT_EQ((wide.barRight - wide.barLeft) - (normal.barRight - normal.barLeft), 1600 - 560);
    EXPECT_GT(normal.barRight - normal.barLeft, 150);
}

} // namespace
