// The waveform and spectrum windows on Mesa under Xvfb: what their plots
// show in both colour schemes (read back from the framebuffer), their
// frames, scale panels, track bars, geometry and the live path from a
// captured block to a repainted plot.
#include "common/app_support.h"

#include "analysis/SpectGraph.h"
#include "analysis/WaveGraph.h"
#include "analysis/spectrum.h"
#include "app/main.h"
#include "state/global.h"
#include "support/inprocess_server.h"
#include "views/SpectForm.h"
#include "views/WaveForm.h"

#include <QTest>

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <mutex>
#include <numbers>

namespace {

QColor TableColor(int entry)
{
    return QColor(SchemeR[entry], SchemeG[entry], SchemeB[entry]);
}

QColor ClearColor()
{
    const PlotRgba c = SchemeClearColor(LightBackground);
    auto byte = [](float f) { return static_cast<int>(std::lround(f * 255)); };
    return QColor(byte(c.r), byte(c.g), byte(c.b));
}

QColor At(const QImage& image, int x, int y)
{
    return QColor(image.pixel(x, y));
}

// Pixels of `color` in row y.
int CountInRow(const QImage& image, int y, const QColor& color)
{
    int n = 0;
    for (int x = 0; x < image.width(); ++x)
        n += At(image, x, y) == color;
    return n;
}

int CountInImage(const QImage& image, const QColor& color)
{
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        n += CountInRow(image, y, color);
    return n;
}

// True when `color` occurs within `radius` pixels of (x, y).
bool Near(const QImage& image, int x, int y, const QColor& color, int radius = 1)
{
    for (int yy = std::max(0, y - radius); yy <= std::min(image.height() - 1, y + radius); ++yy)
        for (int xx = std::max(0, x - radius); xx <= std::min(image.width() - 1, x + radius); ++xx)
            if (At(image, xx, yy) == color)
                return true;
    return false;
}

// Image row of a normalised y on a surface `height` pixels high.
int RowOf(double y, int height)
{
    return static_cast<int>(std::floor((1.0 - y) / 2.0 * height));
}

int ColumnOf(double x, int width)
{
    return static_cast<int>(std::floor((x + 1.0) / 2.0 * width));
}

// A full-scale 1000 Hz sine on the left channel, silence on the right, in
// both blocks of the history, analysed with the rectangular window.
void StoreLeftSineAndAnalyse()
{
    std::lock_guard<std::mutex> guard(DataLock);
    for (int k = -HistoryHalf; k < HistoryHalf; ++k) {
        Sample(1, k) = static_cast<int16_t>(std::lround(32767 * std::sin(2 * std::numbers::pi * 1000 * k / 44100.0)));
        Sample(2, k) = 0;
    }
    WindowFunction = 0;
    AnalyseBlock();
}

class ViewsTest : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override
    {
        auto server = std::make_unique<platform::InProcessServer>();
        server->addSource("test_mic", "Test Microphone", platform::Sine(1000, 32767, 1000, 0));
        server->addSink("test_speakers", "Test Speakers");
        this->server = server.get();
        platform::SetServer(std::move(server));
        app = std::make_unique<AppHarness>(true);
        LightBackground = GetParam();
        ApplyColorScheme();
        ShowLeft = true;
        ShowRight = true;
        WaveRangeX = 4410;
        WaveRangeY = 20000;
        SpectRangeX = 5000;
        SpectRangeY = 2;
        SpectIsLn = true;
        FormSpect->FormCreate();
        FormWave->show();
        FormSpect->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(FormWave));
        ASSERT_TRUE(QTest::qWaitForWindowExposed(FormSpect));
    }
    void TearDown() override
    {
        app.reset();
        platform::ResetServer();
        ShowLeft = true;
        ShowRight = true;
        WindowFunction = 1;
        LightBackground = false;
        ApplyColorScheme();
    }
    std::unique_ptr<AppHarness> app;
    platform::InProcessServer* server = nullptr;
};

TEST_P(ViewsTest, WaveformShowsGridAndZeroLineOnTheClearColour)
{
    ShowLeft = false;
    ShowRight = false;
    const QImage image = FormWave->Panel1->grabFramebuffer();
    const int w = image.width(), h = image.height();
    EXPECT_EQ(At(image, w / 20, h / 20 + 3), ClearColor()); // between grid lines
    // Dashed horizontal grid line at y = 0.5, drawn from the left edge on.
    EXPECT_TRUE(Near(image, 2, RowOf(0.5, h), TableColor(ColorGrid)));
    // Vertical grid line at x = 0.4 (k = 2).
    EXPECT_TRUE(Near(image, ColumnOf(0.4, w), 2, TableColor(ColorGrid)));
    // The zero line, even in the light scheme where it barely shows.
    EXPECT_TRUE(Near(image, 2, RowOf(0.0, h), TableColor(ColorZeroLine)));
    EXPECT_EQ(CountInImage(image, TableColor(ColorLeft)), 0);
}

TEST_P(ViewsTest, LeftSineReachesTopAndBottomWithNoRightTrace)
{
    StoreLeftSineAndAnalyse();
    ShowRight = false;
    QImage image = FormWave->Panel1->grabFramebuffer();
    const QColor left = TableColor(ColorLeft);
    const QColor right = TableColor(ColorRight);
    EXPECT_GT(CountInRow(image, 0, left), 0);
    EXPECT_GT(CountInRow(image, image.height() - 1, left), 0);
    EXPECT_EQ(CountInImage(image, right), 0);

    // At +-35000 the whole 16-bit range stays inside.
    WaveRangeY = 35000;
    image = FormWave->Panel1->grabFramebuffer();
    EXPECT_EQ(CountInRow(image, 0, left), 0);
    EXPECT_EQ(CountInRow(image, image.height() - 1, left), 0);
}

TEST_P(ViewsTest, LogSpectrumPeaksAtTheTopAt1kHzAndSilenceLiesOnTheBottom)
{
    StoreLeftSineAndAnalyse();
    ShowRight = false;
    QImage image = FormSpect->PanelSpec->grabFramebuffer();
    const QColor left = TableColor(ColorLeft);
    const QColor right = TableColor(ColorRight);
    const int peakColumn = ColumnOf(SpectLogX(1000.0), image.width());
    EXPECT_TRUE(Near(image, peakColumn, 0, left, 2)) << "the peak touches the top edge at 1000 Hz";
    for (int x = 0; x < image.width(); ++x) {
        if (At(image, x, 0) == left) {
            EXPECT_NEAR(x, peakColumn, 3);
        }
    }
    EXPECT_EQ(CountInImage(image, right), 0);

    // The silent right channel lies on the bottom edge, from bin 1 to bin 1858.
    ShowRight = true;
    image = FormSpect->PanelSpec->grabFramebuffer();
    const int bottom = image.height() - 1;
    const int first = ColumnOf(SpectLogX(BinWidth), image.width());
    const int last = ColumnOf(SpectLogX(TopBin * BinWidth), image.width());
    EXPECT_GE(CountInRow(image, bottom, right), (last - first) * 9 / 10);
    EXPECT_EQ(At(image, image.width() - 2, bottom), ClearColor()) << "nothing right of 20 kHz";
}

TEST_P(ViewsTest, LinearSpectrumUsesItsRanges)
{
    StoreLeftSineAndAnalyse();
    ShowRight = false;
    FormSpect->CheckLnSnd->setChecked(false);
    EXPECT_FALSE(SpectIsLn);
    EXPECT_TRUE(FormSpect->TrackBarFX->isEnabled());
    FormSpect->TrackBarFX->setValue(1); // 1000 Hz
    FormSpect->TrackBarFY->setValue(1); // 100 %
    EXPECT_EQ(SpectRangeX, 1000);
    EXPECT_EQ(SpectRangeY, 100.0f);
    const QImage image = FormSpect->PanelSpec->grabFramebuffer();
    // A full-scale sine between bins 92 and 93 reads nearly 100 %: the peak
    // is near the right edge (bin 93 of 94) and near the top.
    const int peakColumn = ColumnOf(2.0 * 93 / 94 - 1, image.width());
    EXPECT_TRUE(Near(image, peakColumn, RowOf(0.95, image.height()), TableColor(ColorLeft), 8));
}

TEST_P(ViewsTest, FrameHasShadingLegendAndMarker)
{
    FormWave->DrawWaveFrame();
    const QImage& canvas = FormWave->Canvas();
    const PlotRect plot = WavePlotRect(FormWave->width(), FormWave->height());
    EXPECT_TRUE(FormWave->FrameIntact());
    EXPECT_EQ(FormWave->Panel1->geometry(), PlotPanelRect(plot));
    EXPECT_EQ(At(canvas, 1, 100), QColor(243, 243, 243)) << "vertical shading line 31";
    EXPECT_EQ(At(canvas, 200, plot.bottom + 24), QColor(246, 246, 246)) << "horizontal shading line 24";
    EXPECT_EQ(At(canvas, plot.left + 25, plot.bottom + 18), TableColor(ColorLeft)) << "left swatch";
    EXPECT_EQ(At(canvas, plot.left + 105, plot.bottom + 18), TableColor(ColorRight)) << "right swatch";
    EXPECT_EQ(At(canvas, plot.left + 25, plot.bottom + 16), QColor(100, 100, 100)) << "grey border";

    // A frame that lost its marker comes back with the next 100 ms tick.
    FormSpect->Canvas().setPixel(0, 0, qRgb(255, 255, 255));
    EXPECT_FALSE(FormSpect->FrameIntact());
    FormMain->TimerInfoTimer();
    EXPECT_TRUE(FormSpect->FrameIntact());
    const PlotRect spect = SpectPlotRect(FormSpect->width(), FormSpect->height());
    EXPECT_EQ(FormSpect->PanelSpec->geometry(), PlotPanelRect(spect));
}

INSTANTIATE_TEST_SUITE_P(BothSchemes, ViewsTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Light" : "Dark"; });

// ---- scale panels, track bars, geometry ------------------------------------

class ViewWindows : public ::testing::Test {
protected:
    void SetUp() override
    {
        platform::SetServer(std::make_unique<platform::InProcessServer>());
        app = std::make_unique<AppHarness>(true);
    }
    void TearDown() override
    {
        app.reset();
        platform::ResetServer();
        WaveRangeX = 4410;
        WaveRangeY = 20000;
        SpectRangeX = 5000;
        SpectRangeY = 2;
        SpectIsLn = true;
    }
    void ShowAndWait(QWidget* form)
    {
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form));
    }
    std::unique_ptr<AppHarness> app;
};

// Double-click, drag with its dead zone, right button, close button.
void ExerciseScalePanel(QWidget* plot, TScalePanel* panel)
{
    EXPECT_FALSE(panel->isVisible());
    QTest::mouseDClick(plot, Qt::LeftButton, {}, QPoint(plot->width() / 2, plot->height() / 2));
    ASSERT_TRUE(panel->isVisible());
    EXPECT_EQ(panel->pos(), QPoint(5, 5));

    const QPoint anchor(40, 150); // on the panel, away from its controls
    QTest::mousePress(panel, Qt::LeftButton, {}, anchor);
    QTest::mouseMove(panel, anchor + QPoint(5, -5));
    EXPECT_EQ(panel->pos(), QPoint(5, 5)) << "5 pixels leave the panel in place";
    QTest::mouseMove(panel, anchor + QPoint(6, 0));
    EXPECT_EQ(panel->pos(), QPoint(11, 5)) << "6 pixels move it by the full offset";
    QTest::mouseMove(panel, anchor + QPoint(0, 7)); // the anchor stays
    EXPECT_EQ(panel->pos(), QPoint(11, 12));
    QTest::mousePress(panel, Qt::RightButton, {}, anchor);
    EXPECT_FALSE(DragActive) << "a right-button press ends the drag";
    QTest::mouseMove(panel, anchor + QPoint(30, 30));
    EXPECT_EQ(panel->pos(), QPoint(11, 12));
    QTest::mouseRelease(panel, Qt::RightButton, {}, anchor);
    QTest::mouseRelease(panel, Qt::LeftButton, {}, anchor);

    QTest::mouseClick(panel->BtnClose, Qt::LeftButton);
    EXPECT_FALSE(panel->isVisible());
    QTest::mouseDClick(plot, Qt::LeftButton, {}, QPoint(plot->width() / 2, plot->height() / 2));
    EXPECT_EQ(panel->pos(), QPoint(5, 5)) << "shown again at home";
}

TEST_F(ViewWindows, WaveformScalePanel)
{
    ShowAndWait(FormWave);
    ExerciseScalePanel(FormWave->Panel1, FormWave->PanelWaveSnd);
}

TEST_F(ViewWindows, SpectrumScalePanel)
{
    ShowAndWait(FormSpect);
    ExerciseScalePanel(FormSpect->PanelSpec, FormSpect->PanelSpectScale);
}

TEST_F(ViewWindows, StoredRangesSetTheTrackBarsUnknownOnesLeaveThem)
{
    WaveRangeY = 500;
    WaveRangeX = 3000;
    ShowAndWait(FormWave);
    EXPECT_EQ(FormWave->TBarRangeY->value(), 7);
    EXPECT_EQ(FormWave->TBarRangeX->value(), 4) << "3000 is in no table";
    EXPECT_EQ(WaveRangeX, 3000) << "and stays in force";
    FormWave->TBarRangeX->setValue(1);
    EXPECT_EQ(WaveRangeX, 441);

    const int positionFX = FormSpect->TrackBarFX->value();
    SpectRangeY = 0.2f;
    SpectRangeX = 3000;
    SpectIsLn = false;
    FormSpect->FormCreate();
    EXPECT_EQ(FormSpect->TrackBarFY->value(), 9);
    EXPECT_EQ(FormSpect->TrackBarFX->value(), positionFX);
    EXPECT_EQ(SpectRangeX, 3000);
    EXPECT_FALSE(FormSpect->CheckLnSnd->isChecked());
    EXPECT_TRUE(FormSpect->TrackBarFX->isEnabled());
    FormSpect->CheckLnSnd->setChecked(true);
    EXPECT_TRUE(SpectIsLn);
    EXPECT_FALSE(FormSpect->TrackBarFX->isEnabled());
    EXPECT_FALSE(FormSpect->TrackBarFY->isEnabled());
}

TEST_F(ViewWindows, UnusableStoredRangesStillDraw)
{
    WaveRangeX = 1;
    WaveRangeY = 0;
    SpectRangeX = 1000000;
    SpectRangeY = -2;
    SpectIsLn = false;
    FormSpect->FormCreate();
    ShowAndWait(FormWave);
    ShowAndWait(FormSpect);
    const QImage wave = FormWave->Panel1->grabFramebuffer();
    const QImage spect = FormSpect->PanelSpec->grabFramebuffer();
    // Silence at the fallback ranges: flat traces, the left one drawn.
    EXPECT_GT(CountInImage(wave, TableColor(ColorLeft)) + CountInImage(wave, TableColor(ColorRight)), 0);
    EXPECT_GT(CountInImage(spect, TableColor(ColorRight)), 0);
    EXPECT_TRUE(FormWave->FrameIntact());
    EXPECT_TRUE(FormSpect->FrameIntact());
}

TEST_F(ViewWindows, CloseStoresGeometryAndHides)
{
    ShowAndWait(FormWave);
    FormWave->SetOuterGeometry(40, 60, 420, 330);
    QTest::qWait(20);
    const QRect outer = FormWave->OuterGeometry();
    FormWave->close();
    EXPECT_FALSE(FormWave->isVisible());
    EXPECT_FALSE(WaveShow);
    EXPECT_EQ(QRect(WaveX, WaveY, WaveW, WaveH), outer);

    FormWave->resize(100, 100);
    EXPECT_GE(FormWave->width(), 310 - 50) << "the minimum size holds";
    ShowAndWait(FormWave);
    EXPECT_TRUE(WaveShow);
    EXPECT_EQ(FormWave->OuterGeometry(), outer) << "shown again at the stored geometry";
}

// ---- the live path ----------------------------------------------------------

TEST(LiveViews, CapturedBlocksRepaintBothPlots)
{
    auto owned = std::make_unique<platform::InProcessServer>();
    platform::InProcessServer* server = owned.get();
    server->addSource("test_mic", "Test Microphone", platform::Sine(1000, 32767, 1000, 0));
    server->addSink("test_speakers", "Test Speakers");
    server->setDefaultSource("test_mic");
    platform::SetServer(std::move(owned));
    {
        AppHarness app(true);
        IsInstalled = true;
        ShowRight = true;
        ASSERT_GT(app.TicksUntilStarted(), 0);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(FormWave));
        int wavePaints = 0, spectPaints = 0;
        auto wave = FormWave->Panel1->OnRender;
        auto spect = FormSpect->PanelSpec->OnRender;
        FormWave->Panel1->OnRender = [&] {
            ++wavePaints;
            wave();
        };
        FormSpect->PanelSpec->OnRender = [&] {
            ++spectPaints;
            spect();
        };
        const bool painted = WaitFor(
            [&] {
                server->pump(441);
                return wavePaints >= 3 && spectPaints >= 3;
            },
            5000);
        EXPECT_TRUE(painted) << wavePaints << " " << spectPaints;
        const QImage image = FormWave->Panel1->grabFramebuffer();
        EXPECT_GT(CountInRow(image, 0, TableColor(ColorLeft)), 0) << "the captured sine";
        EXPECT_GT(CountInRow(image, image.height() / 2, TableColor(ColorRight)), 10)
            << "the silent right channel on the zero line";
        FormWave->Panel1->OnRender = wave;
        FormSpect->PanelSpec->OnRender = spect;
    }
    platform::ResetServer();
}

} // namespace
