// The plot surface on Mesa under Xvfb: clear colours of both schemes, the
// dashed grid and solid trace conventions, kept content between paints.
#include "state/global.h"
#include "views/plotsurface.h"

#include <QApplication>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

QColor At(const QImage& image, int x, int y)
{
    return QColor(image.pixel(x, y));
}

QColor TableColor(int entry)
{
    return QColor(SchemeR[entry], SchemeG[entry], SchemeB[entry]);
}

class PlotSurfaceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        LightBackground = false;
        ApplyColorScheme();
        surface = std::make_unique<TPlotSurface>("test");
        surface->resize(160, 100);
        surface->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(surface.get()));
    }
    void TearDown() override
    {
        surface.reset();
        LightBackground = false;
        ApplyColorScheme();
    }
    std::unique_ptr<TPlotSurface> surface;
};

TEST_F(PlotSurfaceTest, ClearsWithTheSchemeColour)
{
    QImage image = surface->grabFramebuffer();
    EXPECT_EQ(At(image, 80, 50), QColor(0, 0, 26)); // (0, 0, 0.1)
    LightBackground = true;
    ApplyColorScheme();
    image = surface->grabFramebuffer();
    EXPECT_EQ(At(image, 0, 0), QColor(230, 230, 230)); // 0.9 grey
}

TEST_F(PlotSurfaceTest, GridIsDashedAndTracesAreSolid)
{
    surface->OnRender = [] {
        plotgl::BeginGrid();
        plotgl::Lines({{-1, 0.5f}, {1, 0.5f}}, ColorGrid);
        plotgl::BeginTraces();
        plotgl::LineStrip({{-1, -0.5f}, {1, -0.5f}}, ColorLeft);
    };
    const QImage image = surface->grabFramebuffer();
    // Find the rows of the two lines (their exact row depends on rounding).
    auto rowWith = [&](const QColor& color) {
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (At(image, x, y) == color)
                    return y;
        return -1;
    };
    const int gridRow = rowWith(TableColor(ColorGrid));
    const int traceRow = rowWith(TableColor(ColorLeft));
    ASSERT_GE(gridRow, 0);
    ASSERT_GE(traceRow, 0);
    EXPECT_LT(gridRow, traceRow) << "y grows downwards in the image";
    int gridPixels = 0, tracePixels = 0;
    for (int x = 0; x < image.width(); ++x) {
        gridPixels += At(image, x, gridRow) == TableColor(ColorGrid);
        tracePixels += At(image, x, traceRow) == TableColor(ColorLeft);
    }
    EXPECT_EQ(tracePixels, image.width());
    // 12 of every 16 pixels drawn.
    EXPECT_NEAR(gridPixels, image.width() * 12 / 16, 4);
}

TEST_F(PlotSurfaceTest, KeptContentSurvivesAPaintThatDrawsNothing)
{
    surface->SetKeepContent(true);
    surface->resize(161, 100); // a new framebuffer, cleared
    bool drawn = false;
    surface->OnRender = [&] {
        if (drawn)
            return;
        drawn = true;
        plotgl::BeginTraces();
        plotgl::LineStrip({{-1, 0}, {1, 0}}, ColorRight);
    };
    QImage image = surface->grabFramebuffer();
    const QColor right = TableColor(ColorRight);
    auto countRight = [&](const QImage& img) {
        int n = 0;
        for (int y = 0; y < img.height(); ++y)
            n += At(img, 80, y) == right;
        return n;
    };
    ASSERT_EQ(countRight(image), 1);
    image = surface->grabFramebuffer();
    EXPECT_EQ(countRight(image), 1) << "the second paint drew on top of the first";
    EXPECT_EQ(At(image, 80, 5), QColor(0, 0, 26));

    surface->ClearSurface();
    image = surface->grabFramebuffer();
    EXPECT_EQ(countRight(image), 0);
}

TEST_F(PlotSurfaceTest, KeptSurfaceShowsEveryMarkedSpanOfEveryRender)
{
    surface->SetKeepContent(true);
    surface->resize(161, 100);
    int renders = 0;
    surface->OnRender = [&] {
        // A vertical line per render, left half then right half; later renders draw nothing.
        if (renders < 2) {
            const float x = renders == 0 ? -0.5f : 0.5f;
            plotgl::BeginTraces();
            plotgl::LineStrip({{x, -1}, {x, 1}}, ColorRight);
            surface->MarkChanged(x, x);
        }
        ++renders;
    };
    const QColor right = TableColor(ColorRight);
    auto columnsWithLine = [&](const QImage& img) {
        std::vector<int> columns;
        for (int x = 0; x < img.width(); ++x)
            if (At(img, x, 10) == right && At(img, x, 90) == right)
                columns.push_back(x);
        return columns;
    };
    surface->grabFramebuffer();
    const QImage framebuffer = surface->grabFramebuffer();
    const std::vector<int> lines = columnsWithLine(framebuffer);
    ASSERT_EQ(lines.size(), 2u) << "the first render's line was kept";
    EXPECT_NEAR(lines[0], 40, 1);
    EXPECT_NEAR(lines[1], 120, 1);
    // What the widget shows on screen is the same picture.
    const QImage shown = surface->grab().toImage();
    EXPECT_EQ(columnsWithLine(shown), lines);
    EXPECT_EQ(At(shown, 80, 50), QColor(0, 0, 26));
}

} // namespace
