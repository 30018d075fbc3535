// The response window's plain logic: the log frequency axis and the value
// and time axes against their formulas, the grid labels at the places those
// formulas give, the curves' vertex lists (broken where a value is missing,
// kept inside the plot), interpolation at the pointer, the legend inside the
// plot, and the list of kept measurements with its limit of eight.
#include "meters/responsegeometry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <set>
#include <string>
#include <vector>

namespace {

using namespace responseview;

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

TEST(ResponseAxes, FollowTheLogLinearAndTimeFormulasBothWays)
{
    const Box plot{52, 22, 601, 401};
    // 20 Hz at the first column, 20 kHz at the last, each decade 200 columns.
    EXPECT_DOUBLE_EQ(FrequencyColumn(20.0, plot), 52.0);
    EXPECT_NEAR(FrequencyColumn(200.0, plot), 252.0, 1e-9);
    EXPECT_NEAR(FrequencyColumn(20000.0, plot), 652.0, 1e-9);
    for (double hz : {25.0, 997.0, 1234.5, 15000.0}) {
        const double expected = 52.0 + 600.0 * std::log(hz / 20.0) / std::log(1000.0);
        EXPECT_NEAR(FrequencyColumn(hz, plot), expected, 1e-9) << hz;
        EXPECT_NEAR(ColumnFrequency(expected, plot), hz, 1e-9 * hz) << hz;
    }
    // +10 dB on the first row, -50 on the last: 400 rows for 60 dB.
    const ValueRange range{10, -50};
    EXPECT_DOUBLE_EQ(ValueRow(10, range, plot), 22.0);
    EXPECT_DOUBLE_EQ(ValueRow(-50, range, plot), 422.0);
    EXPECT_NEAR(ValueRow(-20, range, plot), 22.0 + 400.0 * 30.0 / 60.0, 1e-9);
    EXPECT_NEAR(RowValue(ValueRow(-3.7, range, plot), range, plot), -3.7, 1e-9);
    // -5 ms ... 55 ms over 600 columns: 10 columns per ms.
    const TimeRange times{-5, 55};
    EXPECT_DOUBLE_EQ(TimeColumn(-5, times, plot), 52.0);
    EXPECT_NEAR(TimeColumn(0, times, plot), 102.0, 1e-9);
    EXPECT_NEAR(ColumnTime(352.0, times, plot), 25.0, 1e-9);
}

TEST(ResponseAxes, GridLabelsStandAtTheirValuesPlaces)
{
    const Box plot{52, 22, 601, 401};
    const std::vector<Tick> frequencies = FrequencyTicks(plot);
    ASSERT_EQ(frequencies.size(), 10u);
    EXPECT_EQ(frequencies.front().text, "20");
    EXPECT_EQ(frequencies[5].text, "1k");
    EXPECT_EQ(frequencies.back().text, "20k");
    for (const Tick& tick : frequencies)
        EXPECT_EQ(tick.place, std::lround(52.0 + 200.0 * std::log10(tick.value / 20.0))) << tick.text;

    const std::vector<Tick> levels = ValueTicks({10, -50}, 10, plot);
    ASSERT_EQ(levels.size(), 7u);
    EXPECT_EQ(levels.front().text, "-50");
    EXPECT_EQ(levels.back().text, "10");
    for (const Tick& tick : levels)
        EXPECT_EQ(tick.place, std::lround(22.0 + 400.0 * (10.0 - tick.value) / 60.0)) << tick.text;
    // Phases every 45 degrees: nine lines from -180 to 180, "0" in the middle row.
    const std::vector<Tick> phases = ValueTicks(PhaseRange({}, false), PhaseStep(PhaseRange({}, false)), plot);
    ASSERT_EQ(phases.size(), 9u);
    EXPECT_EQ(phases[4].text, "0");
    EXPECT_EQ(phases[4].place, 222);

    // Round milliseconds: 60 ms in about 8 steps gives steps of 10 ms.
    const std::vector<Tick> times = TimeTicks({-5, 55}, plot, 8);
    ASSERT_EQ(times.size(), 6u);
    EXPECT_EQ(times.front().text, "0");
    EXPECT_EQ(times.front().place, 102);
    EXPECT_EQ(times.back().text, "50");
    // Short spans get decimals.
    EXPECT_EQ(TimeTicks({0, 0.8}, plot, 4)[1].text, "0.2");
}

TEST(ResponseAxes, RangesHoldTheValuesWithinTheirLimits)
{
    // A flat 0 dB response: whole tens around it, 40 dB tall at least.
    ValueRange flat = MagnitudeRange({-0.3, 0.0, 0.2});
    EXPECT_EQ(flat.top, 10);
    EXPECT_EQ(flat.bottom, -30);
    // A deep notch: the top kept, the height cut at 120 dB.
    ValueRange deep = MagnitudeRange({5.0, -200.0});
    EXPECT_EQ(deep.top, 10);
    EXPECT_EQ(deep.bottom, -110);
    ValueRange wide = MagnitudeRange({-12.0, -71.0, NaN});
    EXPECT_EQ(wide.top, -10);
    EXPECT_EQ(wide.bottom, -80);
    EXPECT_EQ(MagnitudeStep(wide), 10);
    EXPECT_EQ(MagnitudeStep(deep), 20);
    // Unwrapped phase: whole half turns around the values, a full turn at least.
    const ValueRange turning = PhaseRange({-10.0, -700.0, -1500.0}, true);
    EXPECT_EQ(turning.top, 0);
    EXPECT_EQ(turning.bottom, -1620);
    EXPECT_EQ(std::fmod(PhaseStep(turning), 180.0), 0.0);
    EXPECT_LE((turning.top - turning.bottom) / PhaseStep(turning), 8.0);
}

TEST(ResponseCurves, BreakWhereValuesAreMissingAndStayInsideThePlot)
{
    const Box plot{0, 0, 301, 101};
    const ValueRange range{0, -100};
    const std::vector<double> hz{10, 20, 200, 2000, 4000, 20000, 30000};
    const std::vector<double> db{-50, -10, -20, NaN, 50, -150, -10};
    const std::vector<std::vector<Vertex>> stretches = CurveVertices(hz, db, range, plot);
    ASSERT_EQ(stretches.size(), 2u) << "10 Hz and 30 kHz lie off the axis, the NaN breaks the line";
    ASSERT_EQ(stretches[0].size(), 2u);
    EXPECT_DOUBLE_EQ(stretches[0][0].x, 0.0);
    EXPECT_DOUBLE_EQ(stretches[0][0].y, 10.0);
    EXPECT_NEAR(stretches[0][1].x, 100.0, 1e-9);
    EXPECT_DOUBLE_EQ(stretches[0][1].y, 20.0);
    ASSERT_EQ(stretches[1].size(), 2u);
    EXPECT_DOUBLE_EQ(stretches[1][0].y, 0.0) << "+50 dB kept to the top row";
    EXPECT_DOUBLE_EQ(stretches[1][1].y, 100.0) << "-150 dB kept to the bottom row";
    EXPECT_NEAR(stretches[1][1].x, 300.0, 1e-9);
}

TEST(ResponseCurves, ImpulseReducesToMinAndMaxPerColumn)
{
    const Box plot{0, 0, 11, 101};
    // 1 ms per sample over 0 ... 10 ms: one sample per column, except that
    // sample 3 and its neighbour at 3.4 ms share column 3.
    const std::vector<double> samples{0.0, 0.5, -0.5, 1.0, -1.0};
    const std::vector<Vertex> one = ImpulseVertices(samples, 0.0, 1.0, {0, 10}, {1, -1}, plot);
    ASSERT_EQ(one.size(), 5u);
    EXPECT_DOUBLE_EQ(one[0].y, 50.0);
    EXPECT_DOUBLE_EQ(one[1].y, 25.0);
    EXPECT_DOUBLE_EQ(one[3].y, 0.0);
    const std::vector<Vertex> shared = ImpulseVertices({0.2, -0.6}, 3.0, 0.4, {0, 10}, {1, -1}, plot);
    ASSERT_EQ(shared.size(), 2u);
    EXPECT_DOUBLE_EQ(shared[0].x, 3.0);
    EXPECT_DOUBLE_EQ(shared[1].x, 3.0);
    EXPECT_DOUBLE_EQ(shared[0].y, 40.0);
    EXPECT_DOUBLE_EQ(shared[1].y, 80.0);
    const std::vector<double> db = SamplesInDb({1.0, -0.1, 0.0});
    EXPECT_DOUBLE_EQ(db[0], 0.0);
    EXPECT_NEAR(db[1], -20.0, 1e-12);
    EXPECT_EQ(db[2], -200.0);
}

TEST(ResponseCurves, ReadoutInterpolatesInLogFrequency)
{
    // A curve straight in log frequency (6 dB per octave) is read exactly
    // between its points.
    const std::vector<double> hz{100, 200, 400, 800};
    const std::vector<double> db{0, 6, 12, NaN};
    const auto at = [&](double f) { return ValueAt(hz, db, f); };
    ASSERT_TRUE(at(100 * std::sqrt(2.0)));
    EXPECT_NEAR(*at(100 * std::sqrt(2.0)), 3.0, 1e-9);
    EXPECT_NEAR(*at(300), 6.0 * std::log2(3.0), 1e-9);
    EXPECT_DOUBLE_EQ(*at(200), 6.0);
    EXPECT_FALSE(at(50)) << "below the curve";
    EXPECT_FALSE(at(500)) << "beside a missing value";
    EXPECT_EQ(HoverText(1000.0, {{"Measurement 1", -0.24}, {"room", std::nullopt}}, "dB"),
              "1000.0 Hz\nMeasurement 1: -0.2 dB\nroom: -");
    EXPECT_EQ(HoverText(31.5, {{"a", -0.04}}, "dB SPL"), "31.50 Hz\na: 0.0 dB SPL") << "never -0.0";
}

TEST(ResponseLayout, PlotStripAndLegendLieInsideThePanel)
{
    for (const auto& [width, height] : {std::pair{600, 400}, std::pair{120, 90}, std::pair{1, 1}}) {
        for (bool strip : {false, true}) {
            const PanelPlaces places = LayoutPanel(width, height, strip);
            EXPECT_GE(places.plot.width, 1);
            EXPECT_GE(places.plot.height, 1);
            EXPECT_EQ(places.coherence.has_value(), strip);
            if (places.coherence && width >= 120) {
                EXPECT_GT(places.coherence->top, places.plot.Bottom()) << "the strip under the plot";
                EXPECT_LE(places.coherence->Bottom(), height - 1);
            }
            if (width >= 120) {
                EXPECT_LE(places.plot.Right(), width - 1);
            }
        }
    }
    const Box plot{52, 22, 500, 100};
    // 16-pixel rows: five fit into 100 rows less the margins.
    const std::vector<Box> rows = LegendRows(8, plot, 200, 16);
    ASSERT_EQ(rows.size(), 5u);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_GE(rows[i].left, plot.left);
        EXPECT_LE(rows[i].Right(), plot.Right());
        EXPECT_LE(rows[i].Bottom(), plot.Bottom());
        if (i > 0) {
            EXPECT_EQ(rows[i].top, rows[i - 1].top + 16) << "rows do not overlap";
        }
    }
    EXPECT_TRUE(LegendRows(3, Box{0, 0, 5, 5}, 200, 16).empty());
}

Kept Named(const std::string& name)
{
    Kept kept;
    kept.name = name;
    return kept;
}

TEST(ResponseKeptList, ANinthMeasurementDropsTheOldestAndColoursStayDistinct)
{
    KeptList list;
    for (int i = 0; i < MaxKept; ++i)
        EXPECT_EQ(list.Add(Named(list.NextName())), "");
    ASSERT_EQ(list.Size(), 8u);
    std::set<int> colours;
    for (const Kept& kept : list.Entries())
        colours.insert(kept.colour);
    EXPECT_EQ(colours.size(), 8u);
    EXPECT_EQ(list.Add(Named(list.NextName())), "Measurement 1");
    ASSERT_EQ(list.Size(), 8u);
    EXPECT_EQ(list[0].name, "Measurement 2");
    EXPECT_EQ(list[7].name, "Measurement 9") << "the newest is last: the current one";
    EXPECT_EQ(list[7].colour, 0) << "the dropped one's colour is free again";
    // Deleting one by one frees that colour for the next; names keep counting.
    const int freed = list[3].colour;
    EXPECT_TRUE(list.Remove(3));
    EXPECT_FALSE(list.Remove(7)) << "only seven are left";
    EXPECT_EQ(list.Add(Named(list.NextName())), "");
    EXPECT_EQ(list[7].colour, freed);
    EXPECT_EQ(list[7].name, "Measurement 10");
}

TEST(ResponseMagnitude, MicrophoneIsTakenOffAndSmoothingKeepsAFlatCurveFlat)
{
    std::vector<double> hz, db, mic;
    for (double f = 20; f <= 20000; f *= std::pow(2.0, 1.0 / 48))
        hz.push_back(f), db.push_back(-3.0 + (f > 1000 ? 2.0 : 0.0)), mic.push_back(f > 1000 ? 2.0 : 0.0);
    for (double value : CorrectedMagnitude(hz, db, mic, measure::Smoothing::None))
        EXPECT_DOUBLE_EQ(value, -3.0);
    for (double value : CorrectedMagnitude(hz, db, mic, measure::Smoothing::Octave3))
        EXPECT_NEAR(value, -3.0, 1e-9);
    // A single 6 dB step smoothed over 1/3 octave: at the step the mean power
    // of both sides, 10 log10((1 + 10^0.6) / 2) above the lower level.
    std::vector<double> step(hz.size());
    std::size_t middle = 0;
    for (std::size_t i = 0; i < hz.size(); ++i) {
        step[i] = hz[i] >= 1000 ? 6.0 : 0.0;
        if (std::fabs(std::log2(hz[i] / 1000)) < std::fabs(std::log2(hz[middle] / 1000)))
            middle = i;
    }
    const std::vector<double> smoothed = CorrectedMagnitude(hz, step, {}, measure::Smoothing::Octave3);
    EXPECT_NEAR(smoothed[middle], 10.0 * std::log10((1.0 + std::pow(10.0, 0.6)) / 2.0), 0.5);
    EXPECT_NEAR(smoothed.front(), 0.0, 1e-9);
    EXPECT_NEAR(smoothed.back(), 6.0, 1e-9);
}

} // namespace
