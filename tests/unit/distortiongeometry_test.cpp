// The distortion window's plain logic: the log frequency axis against the
// formula, the markers, the spectrum reduced per pixel column against a
// brute-force reduction, and the texts ("< x dB", clipped, no tone, CSV).
#include "meters/distortiongeometry.h"

#include "measure/distortion.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace distortionview;

TEST(DistortionAxes, FollowTheLogAndLinearFormulasBothWays)
{
    const Span span{40, 601};
    // 20 Hz at the first column, 20 kHz at the last, each decade 200 columns.
    EXPECT_DOUBLE_EQ(FrequencyColumn(20.0, span), 40.0);
    EXPECT_NEAR(FrequencyColumn(200.0, span), 240.0, 1e-9);
    EXPECT_NEAR(FrequencyColumn(2000.0, span), 440.0, 1e-9);
    EXPECT_NEAR(FrequencyColumn(20000.0, span), 640.0, 1e-9);
    for (double hz : {25.0, 997.0, 1234.5, 15000.0}) {
        const double expected = 40.0 + 600.0 * std::log(hz / 20.0) / std::log(1000.0);
        EXPECT_NEAR(FrequencyColumn(hz, span), expected, 1e-9) << hz;
        EXPECT_NEAR(ColumnFrequency(expected, span), hz, 1e-9 * hz) << hz;
    }
    // 0 dBFS on the top row, -160 on the bottom one, -80 halfway; levels
    // beyond either end stay inside.
    EXPECT_EQ(LevelRow(0.0, 10, 321), 10);
    EXPECT_EQ(LevelRow(-80.0, 10, 321), 170);
    EXPECT_EQ(LevelRow(-160.0, 10, 321), 330);
    EXPECT_EQ(LevelRow(12.0, 10, 321), 10);
    EXPECT_EQ(LevelRow(-250.0, 10, 321), 330);
    EXPECT_EQ(LevelRow(-HUGE_VAL, 10, 321), 330);
    EXPECT_NEAR(RowLevel(170, 10, 321), -80.0, 1e-9);
}

TEST(DistortionMarkers, StandAtTheFundamentalAndEachHarmonicInsideTheAxis)
{
    measure::DistortionReading reading;
    reading.toneFound = true;
    reading.fundamentalHz = 3000.0;
    for (int order = 2; order <= 6; ++order) // 18 kHz is the last below 20 kHz
        reading.harmonics.push_back({order, 3000.0 * order, -90.0, -96.0, false});
    const Span span{0, 1000};
    const std::vector<Marker> markers = Markers(reading, span);
    ASSERT_EQ(markers.size(), 6u);
    for (std::size_t i = 0; i < markers.size(); ++i) {
        const double hz = 3000.0 * (i + 1);
        EXPECT_EQ(markers[i].order, static_cast<int>(i + 1));
        EXPECT_EQ(markers[i].column, std::lround(999.0 * std::log10(hz / 20.0) / 3.0)) << hz;
    }
    reading.toneFound = false;
    EXPECT_TRUE(Markers(reading, span).empty());
}

TEST(DistortionColumns, HoldEachColumnsLowestAndHighestBinAndJoinEmptyColumns)
{
    // A spectrum whose levels vary from bin to bin: 16384 points at 44100 Hz.
    const double binHz = 44100.0 / 16384;
    std::vector<double> db(8193);
    for (std::size_t k = 0; k < db.size(); ++k)
        db[k] = -100.0 + 40.0 * std::sin(0.37 * k) + (k % 7 == 0 ? 30.0 : 0.0);
    const Span span{5, 400};
    const std::vector<ColumnLevels> columns = ReduceToColumns(db, binHz, span);
    ASSERT_EQ(columns.size(), 400u);
    // Brute force: every bin in the band goes to its nearest column.
    std::vector<std::vector<double>> inColumn(400);
    for (std::size_t k = 1; k < db.size(); ++k) {
        const double hz = k * binHz;
        if (hz < 20.0 || hz > 20000.0)
            continue;
        const long column = std::lround(5 + 399 * std::log10(hz / 20.0) / 3.0) - 5;
        inColumn[static_cast<std::size_t>(column)].push_back(db[k]);
    }
    int empty = 0;
    for (std::size_t c = 0; c < 400; ++c) {
        SCOPED_TRACE(c);
        EXPECT_EQ(columns[c].column, static_cast<int>(c) + 5);
        if (inColumn[c].empty()) {
            ++empty;
            // Between the two bins either side: within their range.
            const double hz = 20.0 * std::pow(10.0, 3.0 * c / 399.0);
            const auto below = static_cast<std::size_t>(std::floor(hz / binHz));
            EXPECT_EQ(columns[c].minDb, columns[c].maxDb);
            EXPECT_GE(columns[c].minDb, std::min(db[below], db[below + 1]) - 1e-9);
            EXPECT_LE(columns[c].maxDb, std::max(db[below], db[below + 1]) + 1e-9);
            continue;
        }
        EXPECT_EQ(columns[c].minDb, *std::min_element(inColumn[c].begin(), inColumn[c].end()));
        EXPECT_EQ(columns[c].maxDb, *std::max_element(inColumn[c].begin(), inColumn[c].end()));
    }
    EXPECT_GT(empty, 10) << "low on the axis, bins are wider than columns";
}

measure::DistortionReading KnownReading()
{
    measure::DistortionReading reading;
    reading.toneFound = true;
    reading.fundamentalHz = 997.0;
    reading.fundamentalDbfs = -6.02;
    reading.harmonics = {{2, 1994.0, -60.0, -66.02, false}, {3, 2991.0, -123.44, -129.46, true}};
    reading.thdPercent = 0.1, reading.thdDb = -60.0;
    reading.thdnPercent = 0.1122, reading.thdnDb = -59.0;
    reading.sinadDb = 59.0, reading.snrDb = 85.3, reading.noiseFloorDbfs = -150.25;
    return reading;
}

TEST(DistortionTexts, SayBelowTheNoiseClippedAndNoToneAndTheCalibratedUnit)
{
    measure::DistortionReading reading = KnownReading();
    EXPECT_EQ(RelativeText(reading.harmonics[0]), "-60.0 dB");
    EXPECT_EQ(RelativeText(reading.harmonics[1]), "< -123.4 dB");

    std::vector<std::string> lines = ReadingLines(reading, std::nullopt);
    ASSERT_EQ(lines.size(), 8u) << "fundamental, two harmonics, THD, THD+N, SINAD, SNR, noise floor";
    EXPECT_EQ(lines[0], "Fundamental 997.00 Hz  -6.0 dBFS");
    EXPECT_NE(lines[2].find("< -123.4 dB"), std::string::npos) << lines[2];
    EXPECT_NE(lines[2].find("< -129.5 dBFS"), std::string::npos) << lines[2];
    EXPECT_NE(lines[3].find("0.1000 %"), std::string::npos) << lines[3];
    EXPECT_NE(lines[3].find("-60.0 dB"), std::string::npos) << lines[3];
    for (const std::string& line : lines)
        EXPECT_EQ(line.find("clipped"), std::string::npos) << line;

    // A device reading 0 dBFS as 120 dB SPL: levels move, ratios stay.
    lines = ReadingLines(reading, 120.0);
    EXPECT_EQ(lines[0], "Fundamental 997.00 Hz  114.0 dB SPL");
    EXPECT_NE(lines[1].find("-60.0 dB  54.0 dB SPL"), std::string::npos) << lines[1];
    EXPECT_NE(lines[3].find("-60.0 dB"), std::string::npos) << lines[3];

    reading.clipped = true;
    for (const std::string& line : ReadingLines(reading, std::nullopt))
        EXPECT_NE(line.find("clipped"), std::string::npos) << line;

    reading.toneFound = false;
    EXPECT_EQ(ReadingLines(reading, std::nullopt), std::vector<std::string>{"No test tone found (clipped)"});
    reading.clipped = false;
    EXPECT_EQ(ReadingLines(reading, std::nullopt), std::vector<std::string>{"No test tone found"});

    EXPECT_EQ(HoverText(1000.04, -96.34, std::nullopt), "1000.0 Hz  -96.3 dBFS");
    EXPECT_EQ(HoverText(31.5, -0.04, 94.0), "31.50 Hz  94.0 dB SPL");
}

std::vector<std::vector<std::string>> ParseCsv(const std::string& text)
{
    std::vector<std::vector<std::string>> rows;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        std::vector<std::string> fields;
        std::istringstream cells(line);
        for (std::string field; std::getline(cells, field, ',');)
            fields.push_back(field);
        if (!line.empty() && line.back() == ',')
            fields.emplace_back();
        rows.push_back(fields);
    }
    return rows;
}

TEST(DistortionCsv, HasAHeaderAndOneRowPerReadingWithPointDecimals)
{
    measure::DistortionReading left = KnownReading();
    measure::DistortionReading right;
    right.clipped = true; // no tone, and clipped
    const std::vector<std::vector<std::string>> rows = ParseCsv(
        CsvText({{"Left", &left}, {"Right", &right}}, std::nullopt));
    ASSERT_EQ(rows.size(), 1u + 8u + 1u);
    for (const auto& row : rows)
        ASSERT_EQ(row.size(), 8u);
    EXPECT_EQ(rows[0][0], "channel");
    EXPECT_EQ(rows[1][1], "fundamental");
    EXPECT_EQ(rows[1][2], "997.00");
    EXPECT_EQ(rows[1][3], "-6.02");
    EXPECT_EQ(rows[1][4], "dBFS");
    EXPECT_EQ(rows[2][1], "H2");
    EXPECT_NEAR(std::stod(rows[2][6]), 0.1, 1e-6) << "-60 dB is 0.1 %";
    EXPECT_EQ(rows[3][7], "below noise");
    EXPECT_EQ(rows[4][1], "THD");
    EXPECT_EQ(rows[4][5], "-60.00");
    EXPECT_EQ(rows[8][1], "noise floor per bin");
    EXPECT_EQ(rows[8][3], "-150.25");
    EXPECT_EQ(rows[9][0], "Right");
    EXPECT_EQ(rows[9][7], "no test tone found; clipped");
    // Calibrated: absolute levels in dB SPL, relative ones as they were.
    const auto spl = ParseCsv(CsvText({{"Left", &left}}, 100.0));
    EXPECT_EQ(spl[1][3], "93.98");
    EXPECT_EQ(spl[1][4], "dB SPL");
    EXPECT_EQ(spl[4][5], "-60.00");
}

TEST(DistortionLayout, KeepsEveryPartInsideItsSectionForAnySize)
{
    for (int width : {1, 80, 400, 1200})
        for (int height : {1, 50, 300, 900})
            for (int count : {1, 2})
                for (int index = 0; index < count; ++index) {
                    SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
                    const SectionPlaces places = LayoutSection(width, height, index, count);
                    for (const Box& box : {places.text, places.spectrum, places.residual}) {
                        EXPECT_GE(box.left, 0);
                        EXPECT_GE(box.width, 1);
                        EXPECT_GE(box.height, 1);
                        EXPECT_LE(box.left + box.width, std::max(width, 1) + 1);
                        EXPECT_GE(box.top, places.section.top);
                        if (height >= 300)
                            EXPECT_LE(box.top + box.height, places.section.top + places.section.height);
                    }
                    if (width >= 400 && height >= 300)
                        EXPECT_LE(places.spectrum.top + places.spectrum.height, places.residual.top);
                }
}

} // namespace
