// The parts of the views' frames that meet Qt: the plot panels' rectangles
// as widget geometry, with the shading around them, and the spectrogram's locale-dependent legend labels
// and gain text, beside the plain numbers they go with.
#include "analysis/SpTmMap.h"
#include "analysis/SpectGraph.h"
#include "analysis/WaveGraph.h"
#include "views/SpTmLabels.h"
#include "views/plotsurface.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

// The default windows: client 310 x 270.
const PlotRect DefaultWavePlot = WavePlotRect(310, 270);
const PlotRect DefaultPlot = SpectPlotRect(310, 270);

TEST(WaveFrame, PlotRectangleAndShading)
{
    EXPECT_EQ(DefaultWavePlot, (PlotRect{32, 305, 0, 245}));
    EXPECT_EQ(PlotPanelRect(DefaultWavePlot), QRect(32, 0, 274, 246));

    const std::vector<ShadeLine> lines = ShadingLines(DefaultWavePlot, WaveShading());
    ASSERT_EQ(lines.size(), 32u + 25u);
    // Vertical lines first, from the top row, greys 153 to 246.
    EXPECT_EQ(lines[0].x1, 31);
    EXPECT_EQ(lines[0].y1, 0);
    EXPECT_EQ(lines[0].y2, 246);
    EXPECT_EQ(lines[0].grey, 153);
    EXPECT_EQ(lines[31].x1, 0) << "the outermost line runs through the marker pixel";
    EXPECT_EQ(lines[31].grey, 246);
    // Then the horizontal lines, greys 154 to 250.
    EXPECT_EQ(lines[32].x1, 31);
    EXPECT_EQ(lines[32].y1, 246);
    EXPECT_EQ(lines[32].x2, 305);
    EXPECT_EQ(lines[32].grey, 154);
    EXPECT_EQ(lines[56].y1, 270);
    EXPECT_EQ(lines[56].grey, 250);
}

TEST(SpectFrame, PlotRectangleAndShading)
{
    EXPECT_EQ(DefaultPlot, (PlotRect{25, 310, 0, 245}));
    EXPECT_EQ(PlotPanelRect(DefaultPlot), QRect(25, 0, 286, 246));
    const std::vector<ShadeLine> lines = ShadingLines(DefaultPlot, SpectShading());
    ASSERT_EQ(lines.size(), 50u);
    // One loop: horizontal line i, then vertical line i from row -i.
    EXPECT_EQ(lines[0].y1, 246);
    EXPECT_EQ(lines[0].grey, 154);
    EXPECT_EQ(lines[1].x1, 24);
    EXPECT_EQ(lines[1].y1, -1);
    EXPECT_EQ(lines[1].y2, 246);
    EXPECT_EQ(lines[49].x1, 0);
    EXPECT_EQ(lines[49].y1, -25);
    EXPECT_EQ(lines[49].grey, 250);
}

TEST(SpTmFrame, LegendLevelsTicksAndLabels)
{
    EXPECT_EQ(sptm::LegendLevel(0, 582), 0);
    EXPECT_EQ(sptm::LegendLevel(582, 582), 600);
    EXPECT_EQ(sptm::LegendLevel(291, 582), 300);
    EXPECT_EQ(sptm::LegendLevel(5, 0), 0) << "no plot height, no division by zero";
    EXPECT_EQ(sptm::LegendTickRow(5, 582),
              582 - static_cast<int>(std::nearbyint(std::sqrt(5.0) * 582 / std::sqrt(10.0))));
    EXPECT_EQ(sptm::LegendTickRow(9, 582), 582 - 552);
    EXPECT_EQ(sptm::LegendLabel(1, QLocale::c()), "0.1");
    EXPECT_EQ(sptm::LegendLabel(9, QLocale::c()), "0.9");
    EXPECT_EQ(sptm::LegendLabel(5, QLocale(QLocale::German)), "0,5");
}

TEST(SpTmGainPanel, PositionsAndTexts)
{
    EXPECT_EQ(sptm::GainTrackPosition(10), 11);
    EXPECT_EQ(sptm::GainText(10), "10");
    EXPECT_EQ(sptm::GainTrackPosition(25), 1); // clamped; the bar then reports gain 20
    EXPECT_EQ(sptm::GainAtPosition(1), 20);
    EXPECT_EQ(sptm::GainAtPosition(20), 1);
    EXPECT_EQ(sptm::GainTrackPosition(7.6f), 13);
    EXPECT_EQ(sptm::GainText(7.6f), "8");
    EXPECT_EQ(sptm::GainTrackPosition(0.2f), 20);
    EXPECT_EQ(sptm::GainTrackPosition(1e30f), 1);
    EXPECT_EQ(sptm::GainTrackPosition(std::numeric_limits<float>::quiet_NaN()), 11);
    EXPECT_EQ(sptm::GainText(std::numeric_limits<float>::infinity()), "10");
}

} // namespace
