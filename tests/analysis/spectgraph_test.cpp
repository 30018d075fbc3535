// The spectrum frame, grid and trace functions against the view's layout:
// number formats of the linear frame, label positions of the logarithmic
// frame, the linear render's right-edge bin, the logarithmic trace's edges,
// and the track bar tables.
#include "analysis/SpectGraph.h"
#include "state/global.h"
#include "state/usable.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

std::vector<std::string> Texts(const std::vector<FrameText>& labels, size_t first, size_t count)
{
    std::vector<std::string> texts;
    for (size_t i = first; i < first + count; ++i)
        texts.push_back(labels.at(i).text);
    return texts;
}

// The default window: client 310 x 270.
const PlotRect DefaultPlot = SpectPlotRect(310, 270);

TEST(SpectFrame, LinearAmplitudeNumbersFollowTheRange)
{
    const std::vector<std::string> fine = {"0.02", "0.04", "0.06", "0.08", "0.10",
                                           "0.12", "0.14", "0.16", "0.18", "0.20"};
    const std::vector<std::string> five = {"0.5", "1.0", "1.5", "2.0", "2.5", "3.0", "3.5", "4.0", "4.5", "5.0"};
    const std::vector<std::string> fifty = {"  5", " 10", " 15", " 20", " 25", " 30", " 35", " 40", " 45", " 50"};
    EXPECT_EQ(Texts(SpectLinearLabels(DefaultPlot, 0.2f, 5000), 1, 10), fine);
    EXPECT_EQ(Texts(SpectLinearLabels(DefaultPlot, 5.0f, 5000), 1, 10), five);
    EXPECT_EQ(Texts(SpectLinearLabels(DefaultPlot, 50.0f, 5000), 1, 10), fifty);
    EXPECT_EQ(SpectLinearAmplitudeText(100.0f, 10), "100");
    EXPECT_EQ(SpectLinearAmplitudeText(1.0f, 1), "0.1");
    EXPECT_EQ(SpectLinearAmplitudeText(0.5f, 5), "0.25");
}

TEST(SpectFrame, LinearLabelPositionsAndFrequencies)
{
    const std::vector<FrameText> labels = SpectLinearLabels(DefaultPlot, 2.0f, 5000);
    ASSERT_EQ(labels.size(), 1u + 10 + 11 + 1);
    EXPECT_EQ(labels[0], (FrameText{10, 10, "%"}));
    EXPECT_EQ(labels[1], (FrameText{3, 245 - 24 - 2, "0.2"})); // i = 1: 245 - 245/10
    EXPECT_EQ(labels[10], (FrameText{3, -2, "2.0"}));
    EXPECT_EQ(labels[11], (FrameText{25 - 8 - 10, 247, "0"})); // left edge
    EXPECT_EQ(labels[12], (FrameText{28 + 25 - 8 - 10, 247, "500"}));
    EXPECT_EQ(labels[21], (FrameText{285 + 25 - 8 - 10, 247, "5000"})); // right edge
    EXPECT_EQ(labels[22], (FrameText{230, 257, "Frequency [Hz]"}));
    EXPECT_EQ(SpectLinearLabels(DefaultPlot, 2.0f, 3000)[12].text, "300");
}

TEST(SpectFrame, LogarithmicLabelPositions)
{
    const std::vector<FrameText> labels = SpectLogLabels(DefaultPlot);
    ASSERT_EQ(labels.size(), 1u + 7 + 11 + 1);
    EXPECT_EQ(labels[0], (FrameText{5, 10, "[dB]"}));
    // Decibels: i * 245 / 7 from the top, one pixel further left per line.
    EXPECT_EQ(labels[1], (FrameText{7, 0, "0"}));
    EXPECT_EQ(labels[2], (FrameText{6, 35, "-20"}));
    EXPECT_EQ(labels[7], (FrameText{1, 210, "-120"}));
    // Frequencies: 285 pixels span ln 2500, so 10 Hz sits at the left edge,
    // 1 kHz at 25 + 168 and 20 kHz at 25 + 277 (not shifted left).
    const std::vector<std::pair<std::string, int>> frequencies = {{"10", 20},   {"20", 45},   {"50", 79},  {"100", 104},
                                                                  {"200", 129}, {"500", 163}, {"1k", 188}, {"2k", 213},
                                                                  {"5k", 246},  {"10k", 272}, {"20k", 302}};
    for (size_t i = 0; i < frequencies.size(); ++i) {
        EXPECT_EQ(labels[8 + i].text, frequencies[i].first);
        EXPECT_EQ(labels[8 + i].x, frequencies[i].second) << frequencies[i].first;
        EXPECT_EQ(labels[8 + i].y, 247);
    }
    EXPECT_EQ(labels.back(), (FrameText{230, 257, "Frequency [Hz]"}));
    EXPECT_NEAR(FrameLnScaleX(DefaultPlot), 285 / std::log(2500.0), 1e-5);
}

TEST(SpectRender, LinearRightEdgeBinAndFullScale)
{
    EXPECT_EQ(SpectLinearTopBin(1000), 94);
    EXPECT_EQ(SpectLinearTopBin(10000), 930);
    EXPECT_EQ(SpectLinearTopBin(20000), 1859);
    EXPECT_EQ(SpectLinearFull(0.2f), 66);
    EXPECT_EQ(SpectLinearFull(100.0f), 32767);

    std::vector<float> row(BinSlots, 0.0f);
    row[0] = 66.0f;
    std::vector<PlotVertex> trace;
    SpectLinearTrace(row.data(), 20000, 0.2f, trace);
    ASSERT_EQ(trace.size(), 1860u);
    EXPECT_FLOAT_EQ(trace[0].x, -1.0f);
    EXPECT_FLOAT_EQ(trace[0].y, 1.0f);
    EXPECT_FLOAT_EQ(trace.back().x, 1.0f);
    EXPECT_FLOAT_EQ(trace.back().y, -1.0f) << "bin 1859 is never written";

    EXPECT_EQ(SpectLinearGrid().size(), 2u * 18);
}

TEST(SpectRender, LogarithmicTraceAndGrid)
{
    std::vector<float> row(BinSlots, 0.0f);
    std::vector<PlotVertex> trace;
    SpectLogTrace(row.data(), trace);
    ASSERT_EQ(trace.size(), static_cast<size_t>(TopBin));
    for (const PlotVertex& v : trace)
        ASSERT_EQ(v.y, -1.0f) << "silence lies on the bottom edge";
    EXPECT_GT(trace.front().x, -1.0f);
    EXPECT_LT(trace.front().x, -0.98f);
    EXPECT_NEAR(trace.back().x, 0.943f, 0.001f);

    row[93] = 32767.0f;
    row[94] = 0.0032767f / 2;  // below the floor
    row[95] = 0.0032767f * 10; // 20 dB above it
    SpectLogTrace(row.data(), trace);
    EXPECT_NEAR(trace[92].y, 1.0f, 1e-5);
    EXPECT_EQ(trace[93].y, -1.0f);
    EXPECT_NEAR(trace[94].y, -1.0f + 2.0f / 7, 1e-5);
    EXPECT_NEAR(trace[92].x, SpectLogX(1000.0), 0.002) << "bin 93 lies at about 1000 Hz";

    EXPECT_EQ(SpectLogHorizontalGrid().size(), 12u);
    const std::vector<GridLine>& vertical = SpectLogVerticalGrid();
    ASSERT_EQ(vertical.size(), 19u * 3);
    int emphasised = 0;
    for (const GridLine& line : vertical)
        emphasised += line.colorEntry == ColorGridEmphasised;
    EXPECT_EQ(emphasised, 12); // 200 and 2000 Hz twice
    EXPECT_NEAR(vertical[0].a.x, SpectLogX(20.0), 1e-6);
    EXPECT_NEAR(vertical.back().a.x, SpectLogX(20000.0), 1e-6);
}

TEST(SpectScales, TrackBarTablesBothWays)
{
    const int32_t ranges[] = {1000, 2000, 5000, 10000, 20000};
    for (int position = 1; position <= 5; ++position) {
        EXPECT_EQ(SpectRangeXAt(position), ranges[position - 1]);
        EXPECT_EQ(SpectRangeXPosition(ranges[position - 1]), position);
    }
    const float levels[] = {100, 50, 20, 10, 5, 2, 1, 0.5f, 0.2f};
    for (int position = 1; position <= 9; ++position) {
        EXPECT_EQ(SpectRangeYAt(position), levels[position - 1]);
        EXPECT_EQ(SpectRangeYPosition(levels[position - 1]), position);
    }
    EXPECT_EQ(SpectRangeXPosition(3000), 0);
    EXPECT_EQ(SpectRangeYPosition(3.0f), 0);
}

TEST(SpectScales, UnusableStoredRangesFallBack)
{
    EXPECT_EQ(UsableSpectRangeX(3000), 3000);
    EXPECT_EQ(UsableSpectRangeX(30000), 5000) << "beyond the row";
    EXPECT_EQ(UsableSpectRangeX(-5), 5000);
    EXPECT_EQ(UsableSpectRangeY(0.0f), 2.0f);
    EXPECT_EQ(UsableSpectRangeY(-1.0f), 2.0f);
    EXPECT_EQ(UsableSpectRangeY(std::nanf("")), 2.0f);
}

} // namespace
