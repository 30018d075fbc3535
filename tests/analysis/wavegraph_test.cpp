// The waveform frame, grid and trace functions against the view's layout:
// label texts and positions, the four spans, the track bar tables and the
// fallbacks for unusable stored ranges.
#include "analysis/WaveGraph.h"
#include "state/global.h"
#include "state/usable.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

namespace {

std::vector<std::string> Texts(const std::vector<FrameText>& labels)
{
    std::vector<std::string> texts;
    for (const FrameText& label : labels)
        texts.push_back(label.text);
    return texts;
}

// The default window: client 310 x 270.
const PlotRect DefaultPlot = WavePlotRect(310, 270);

TEST(WaveFrame, AmplitudeLabelsForEveryFullScale)
{
    for (const int32_t full : WaveRangeYTable) {
        const std::vector<FrameText> labels = WaveAmplitudeLabels(DefaultPlot, full);
        ASSERT_EQ(labels.size(), 21u);
        for (int line = 0; line <= 20; ++line) {
            const int tenths = 10 - line; // +10/10 of the full scale at the top
            EXPECT_EQ(labels[line].text, std::to_string(full / 10 * tenths)) << full << " line " << line;
            EXPECT_EQ(labels[line].x, 2);
        }
    }
    const std::vector<std::string> half = Texts(WaveAmplitudeLabels(DefaultPlot, 500));
    EXPECT_EQ(half.front(), "500");
    EXPECT_EQ(half[1], "450");
    EXPECT_EQ(half[10], "0");
    EXPECT_EQ(half[11], "-50");
    EXPECT_EQ(half.back(), "-500");
    // h = 245: each text's top 5 pixels above its line.
    const std::vector<FrameText> labels = WaveAmplitudeLabels(DefaultPlot, 20000);
    EXPECT_EQ(labels[0].y, -4);   // top line at 245 - 244
    EXPECT_EQ(labels[10].y, 118); // mid-height 245 - 122
    EXPECT_EQ(labels[11].y, 130); // 245 - (122 - 12)
    EXPECT_EQ(labels[20].y, 240); // bottom edge
}

TEST(WaveFrame, TimeLabelsForTheFourSpans)
{
    const std::array<std::vector<std::string>, 4> expected{{
        {"1", "2", "3", "4", "5", "6", "7", "8", "9"},
        {"2", "4", "6", "8", "10", "12", "14", "16", "18"},
        {"5", "10", "15", "20", "25", "30", "35", "40", "45"},
        {"10", "20", "30", "40", "50", "60", "70", "80", "90"},
    }};
    for (int position = 1; position <= 4; ++position)
        EXPECT_EQ(Texts(WaveTimeLabels(DefaultPlot, WaveRangeXAt(position))), expected[position - 1]);

    const std::vector<FrameText> labels = WaveTimeLabels(DefaultPlot, 4410);
    EXPECT_EQ(labels[0].x, 32 + 27 - 5); // (1 * 273) div 10
    EXPECT_EQ(labels[8].x, 32 + 245 - 5);
    EXPECT_EQ(labels[0].y, 245);
    EXPECT_EQ(WaveTimeCaption(DefaultPlot), (FrameText{255, 255, "Time [ms]"}));

    // Spans below 10 ms carry one decimal.
    EXPECT_EQ(Texts(WaveTimeLabels(DefaultPlot, 220))[0], "0.5");
    EXPECT_EQ(Texts(WaveTimeLabels(DefaultPlot, 220))[8], "4.5");
    EXPECT_EQ(Texts(WaveTimeLabels(DefaultPlot, 441 - 1))[8], "9.0");
}

TEST(WaveRender, GridAndZeroLine)
{
    const std::vector<PlotVertex>& grid = WaveGridLines();
    ASSERT_EQ(grid.size(), 2u * (20 + 11));
    EXPECT_FLOAT_EQ(grid[0].y, -0.9f) << "no horizontal line at the bottom edge";
    EXPECT_FLOAT_EQ(grid[39].y, 1.0f);
    EXPECT_FLOAT_EQ(grid[40].x, -1.0f);
    EXPECT_FLOAT_EQ(grid[61].x, 1.0f);
    EXPECT_EQ(WaveZeroLine().size(), 2u);
}

TEST(WaveRender, TraceCoversTheSpanAndEndsOnTheNewestSample)
{
    std::vector<int16_t> block(HistoryHalf);
    for (int k = 0; k < HistoryHalf; ++k)
        block[k] = static_cast<int16_t>(k);
    std::vector<PlotVertex> trace;

    WaveTrace(block.data(), 441, 500, trace);
    ASSERT_EQ(trace.size(), 441u); // a = 220: samples 0 .. 440
    EXPECT_FLOAT_EQ(trace.front().x, -1.0f);
    EXPECT_FLOAT_EQ(trace.back().x, 1.0f);
    EXPECT_FLOAT_EQ(trace.back().y, 440.0f / 500);

    WaveTrace(block.data(), 882, 20000, trace);
    EXPECT_EQ(trace.size(), 883u);
    WaveTrace(block.data(), 2205, 20000, trace);
    EXPECT_EQ(trace.size(), 2205u);

    WaveTrace(block.data(), 4410, 35000, trace);
    ASSERT_EQ(trace.size(), 4411u);
    EXPECT_FLOAT_EQ(trace[4409].y, 4409.0f / 35000);
    EXPECT_FLOAT_EQ(trace[4410].y, 4409.0f / 35000) << "the last vertex repeats the newest real sample";

    // Full scale: the 16-bit extremes reach the edges at +-32768.
    block[0] = -32768;
    block[1] = 32767;
    WaveTrace(block.data(), 441, 32768, trace);
    EXPECT_FLOAT_EQ(trace[0].y, -1.0f);
    EXPECT_NEAR(trace[1].y, 1.0f, 1e-4);
}

TEST(WaveScales, TrackBarTablesBothWays)
{
    const int32_t spans[] = {441, 882, 2205, 4410};
    for (int position = 1; position <= 4; ++position) {
        EXPECT_EQ(WaveRangeXAt(position), spans[position - 1]);
        EXPECT_EQ(WaveRangeXPosition(spans[position - 1]), position);
    }
    const int32_t scales[] = {35000, 20000, 10000, 5000, 2000, 1000, 500};
    for (int position = 1; position <= 7; ++position) {
        EXPECT_EQ(WaveRangeYAt(position), scales[position - 1]);
        EXPECT_EQ(WaveRangeYPosition(scales[position - 1]), position);
    }
    EXPECT_EQ(WaveRangeXPosition(3000), 0);
    EXPECT_EQ(WaveRangeYPosition(0), 0);
    EXPECT_EQ(WaveRangeYPosition(-20000), 0);
}

TEST(WaveScales, UnusableStoredRangesFallBack)
{
    EXPECT_EQ(UsableWaveRangeX(1), 4410);
    EXPECT_EQ(UsableWaveRangeX(-441), 4410);
    EXPECT_EQ(UsableWaveRangeX(3000), 3000) << "a value outside the table stays in force";
    EXPECT_EQ(UsableWaveRangeX(4411), 4410) << "more than one block would read past the history";
    EXPECT_EQ(UsableWaveRangeY(0), 20000);
    EXPECT_EQ(UsableWaveRangeY(1234), 1234);
}

} // namespace
