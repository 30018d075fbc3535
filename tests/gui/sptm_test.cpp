// The spectrogram window under Xvfb: known blocks are fed through the
// analysis and the surface is read back; the frame, the gain panel, the
// clear and resize steps, and a live run on the in-process sound server.
#include "common/app_support.h"

#include "analysis/SpTmBlocks.h"
#include "analysis/SpTmMap.h"
#include "analysis/spectrum.h"
#include "app/main.h"
#include "app/main_ticks.h"
#include "state/global.h"
#include "support/inprocess_server.h"
#include "views/SpTmForm.h"
#include "views/SpTmGraph.h"

#include <QCoreApplication>
#include <QImage>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <mutex>
#include <numbers>
#include <set>
#include <vector>

namespace {

using sptm::Rgb;

// Client 894 x 660: panel 845 x 636.
constexpr int ClientWidth = 894, ClientHeight = 660;
constexpr int PanelWidth = 845, PanelHeight = 636;

Rgb PixelAt(const QImage& image, int x, int row)
{
    const QRgb p = image.pixel(x, row);
    return {static_cast<uint8_t>(qRed(p)), static_cast<uint8_t>(qGreen(p)), static_cast<uint8_t>(qBlue(p))};
}

std::string Str(Rgb c)
{
    return "(" + std::to_string(c.r) + ", " + std::to_string(c.g) + ", " + std::to_string(c.b) + ")";
}

// The analysed rows of one block, copied after the analysis.
struct BlockRows {
    std::vector<float> rows[2][SliceCount];
    const std::vector<float>& Row(int channel, int slice) const { return rows[channel - 1][slice + SliceCount - 1]; }
};

// Stores a block whose left channel is a sine of `hzLeft` (0: silence) and
// whose right channel is a sine of `hzRight`, continuous over both halves
// of the history, analyses it as the block path does and requests the
// repaint. Returns the analysed rows.
BlockRows FeedBlock(double hzLeft, double hzRight, double amplitude = 3000)
{
    BlockRows rows;
    {
        std::lock_guard<std::mutex> guard(DataLock);
        for (int k = -HistoryHalf; k < HistoryHalf; ++k) {
            const double t = k / 44100.0;
            Sample(1, k) = hzLeft > 0 ? static_cast<int16_t>(
                                            std::lround(amplitude * std::sin(2 * std::numbers::pi * hzLeft * t)))
                                      : 0;
            Sample(2, k) = hzRight > 0 ? static_cast<int16_t>(
                                             std::lround(amplitude * std::sin(2 * std::numbers::pi * hzRight * t)))
                                       : 0;
        }
        AnalyseBlock();
        for (int ch = 1; ch <= 2; ++ch)
            for (int s = 1 - SliceCount; s <= 0; ++s)
                rows.rows[ch - 1][s + SliceCount - 1].assign(&Spectrum(ch, s, 0),
                                                             &Spectrum(ch, s, 0) + sptm::ShownBins);
    }
    RepaintViews();
    return rows;
}

int32_t Column()
{
    std::lock_guard<std::mutex> guard(DataLock);
    return SpTmColumn;
}

void SetColumn(int32_t column)
{
    std::lock_guard<std::mutex> guard(DataLock);
    SpTmColumn = column;
}

// Image row of the pixel whose centre lies at normalised y.
int RowOf(float y)
{
    return PanelHeight - 1 - static_cast<int>(std::floor((y + 1) / 2 * PanelHeight));
}

// The colours a pixel row of one slice's column may show: those of the bins
// whose cells come within half a pixel of the row, and the erase colour.
std::set<uint32_t> ColoursNearRow(const BlockRows& block, int channel, int slice, int row, const sptm::Band& band)
{
    const float pixel = 2.0f / PanelHeight;
    const float yw = static_cast<float>(PanelHeight - 1 - row); // window row from the bottom
    const float low = yw * pixel - 1 - pixel / 2;
    const float high = (yw + 1) * pixel - 1 + pixel / 2;
    auto key = [](Rgb c) { return (uint32_t{c.r} << 16) | (uint32_t{c.g} << 8) | c.b; };
    std::set<uint32_t> colours{key(sptm::EraseColor(LightBackground))};
    for (int bin = sptm::FirstBin; bin <= sptm::LastBin; ++bin) {
        const float y0 = band.Y(sptm::CellLowHz(bin, BinWidth));
        const float y1 = band.Y(sptm::BinHz(bin, BinWidth));
        if (y1 >= low && y0 <= high)
            colours.insert(key(sptm::MagnitudeColor(block.Row(channel, slice)[bin], KaSpTm, LightBackground)));
    }
    return colours;
}

uint32_t Key(Rgb c)
{
    return (uint32_t{c.r} << 16) | (uint32_t{c.g} << 8) | c.b;
}

platform::InProcessServer* InstallServer()
{
    return InstallMicAndSpeakers(platform::Sine(1000, 10000, 1000, 10000));
}

class SpTmView : public ::testing::Test {
protected:
    void SetUp() override
    {
        InstallServer();
        app = std::make_unique<AppHarness>(true);
        sptm::ForgetBlocks();
        IsInstalled = true;
        KaSpTm = 10;
        ShowLeft = ShowRight = true;
        SpTmX = 0;
        SpTmY = 0;
        SpTmW = ClientWidth;
        SpTmH = ClientHeight;
        FormSpTm->show();
        ASSERT_TRUE(
            WaitFor([] { return FormSpTm->PanelSpTm->isValid() && FormSpTm->PanelSpTm->width() == PanelWidth; }, 5000));
        ASSERT_EQ(FormSpTm->PanelSpTm->height(), PanelHeight);
        Grab(); // whatever the first paints did
        ClearSpTm();
    }
    void TearDown() override
    {
        app.reset();
        sptm::ForgetBlocks();
        ShowLeft = ShowRight = true;
        KaSpTm = 10;
        platform::ResetServer();
    }

    QImage Grab()
    {
        QCoreApplication::processEvents();
        return FormSpTm->PanelSpTm->grabFramebuffer().convertToFormat(QImage::Format_RGB32);
    }

    // Every pixel of the column range [x0, x1) in rows [r0, r1) has colour c.
    static ::testing::AssertionResult AllPixels(const QImage& image, int x0, int x1, int r0, int r1, Rgb c)
    {
        for (int x = x0; x < x1; ++x)
            for (int r = r0; r < r1; ++r)
                if (!(PixelAt(image, x, r) == c))
                    return ::testing::AssertionFailure()
                           << "pixel (" << x << ", " << r << ") is " << Str(PixelAt(image, x, r)) << ", not " << Str(c);
        return ::testing::AssertionSuccess();
    }

    // The ten columns of block `column` show the cells of `block` in the band
    // of `channel`: every row in the colour of a bin whose cell covers it.
    static ::testing::AssertionResult ShowsCells(const QImage& image, int32_t column, const BlockRows& block,
                                                 int channel)
    {
        const sptm::Band band = *sptm::ChannelBand(channel, ShowLeft, ShowRight);
        const int top = RowOf(band.Y(sptm::BinHz(sptm::LastBin, BinWidth)));
        const int bottom = RowOf(band.Y(sptm::FirstBinLowHz));
        for (int slice = 1 - SliceCount; slice <= 0; ++slice) {
            const int x = static_cast<int>(sptm::SliceColumn(column, slice));
            for (int row = top + 1; row < bottom; ++row) {
                const Rgb seen = PixelAt(image, x, row);
                if (!ColoursNearRow(block, channel, slice, row, band).count(Key(seen)))
                    return ::testing::AssertionFailure() << "column " << x << " row " << row << " shows " << Str(seen);
            }
        }
        return ::testing::AssertionSuccess();
    }

    std::unique_ptr<AppHarness> app;
};

TEST_F(SpTmView, AToneInTheLeftChannelLightsItsBinInTheUpperBand)
{
    const BlockRows block = FeedBlock(1000, 0);
    const QImage image = Grab();
    EXPECT_EQ(Column(), 1);
    EXPECT_TRUE(ShowsCells(image, 1, block, 1));

    // The tone: bright at y about 0.218 in every slice's column.
    const int toneRow = RowOf(std::sqrt(1000.0f / 21000.0f));
    for (int x = 0; x < 10; ++x) {
        bool bright = false;
        for (int row = toneRow - 1; row <= toneRow + 1; ++row)
            bright |= PixelAt(image, x, row).r > 150 || PixelAt(image, x, row).g > 150;
        EXPECT_TRUE(bright) << "column " << x << ": " << Str(PixelAt(image, x, toneRow));
    }
    // The lower band shows the right channel's silence as erased cells, and
    // so does the gap between the bands and the top of the upper band.
    EXPECT_TRUE(AllPixels(image, 0, 10, RowOf(0.0f) + 1, PanelHeight, Rgb{0, 0, 0}));
    EXPECT_TRUE(AllPixels(image, 0, 10, 0, RowOf(0.976f) - 1, Rgb{0, 0, 0}));
    // Right of the block: the cursor, then the cleared surface.
    const Rgb cursor = sptm::CursorColor(false);
    EXPECT_TRUE(AllPixels(image, 10, 11, 0, PanelHeight, cursor) || AllPixels(image, 11, 12, 0, PanelHeight, cursor));
    EXPECT_TRUE(AllPixels(image, 12, PanelWidth, 0, PanelHeight, PixelAt(image, 300, 300)));
}

TEST_F(SpTmView, TwoBlocksBeforeOnePaintAreBothDrawnAtTheirOwnColumns)
{
    const BlockRows first = FeedBlock(1000, 0);
    const BlockRows second = FeedBlock(4000, 0);
    const QImage image = Grab();
    EXPECT_TRUE(ShowsCells(image, 1, first, 1));
    EXPECT_TRUE(ShowsCells(image, 2, second, 1));
    const int row1k = RowOf(std::sqrt(1000.0f / 21000.0f));
    const int row4k = RowOf(std::sqrt(4000.0f / 21000.0f));
    auto brightness = [&](int x, int row) { return PixelAt(image, x, row).r + PixelAt(image, x, row).g; };
    EXPECT_GT(brightness(5, row1k), 150);
    EXPECT_LT(brightness(5, row4k), 20);
    EXPECT_GT(brightness(15, row4k), 150);
    EXPECT_LT(brightness(15, row1k), 20);
}

TEST_F(SpTmView, BothChannelsShownEachInItsBand)
{
    const BlockRows block = FeedBlock(1000, 2000);
    const QImage image = Grab();
    EXPECT_TRUE(ShowsCells(image, 1, block, 1));
    EXPECT_TRUE(ShowsCells(image, 1, block, 2));
    EXPECT_GT(PixelAt(image, 3, RowOf(std::sqrt(2000.0f / 21000.0f) - 1)).r, 150);
}

TEST_F(SpTmView, TheSweepWrapsAndStartsAgainAtTheLeftEdge)
{
    SetColumn(83); // the next block is 84: columns 830..839
    const BlockRows b84 = FeedBlock(1000, 0);
    const BlockRows b85 = FeedBlock(2000, 0); // columns 840..849, five visible; wraps
    const BlockRows b86 = FeedBlock(4000, 0);
    const QImage image = Grab();
    EXPECT_EQ(Column(), 1);
    EXPECT_TRUE(ShowsCells(image, 84, b84, 1));
    const int row2k = RowOf(std::sqrt(2000.0f / 21000.0f));
    for (int x = 840; x < PanelWidth; ++x)
        EXPECT_GT(PixelAt(image, x, row2k).r + PixelAt(image, x, row2k).g, 150) << x;
    EXPECT_TRUE(ShowsCells(image, 1, b86, 1));
    EXPECT_TRUE(AllPixels(image, 10, 11, 0, PanelHeight, sptm::CursorColor(false)) ||
                AllPixels(image, 11, 12, 0, PanelHeight, sptm::CursorColor(false)));

    // A paint without a new block leaves the picture as it is.
    const QImage again = Grab();
    EXPECT_EQ(again, image);
    EXPECT_EQ(Column(), 1);
}

TEST_F(SpTmView, ClearGivesTheClearColourWhileTheSweepGoesOn)
{
    for (int i = 0; i < 5; ++i)
        FeedBlock(1000, 1000);
    Grab();
    ClearSpTm();
    const QImage cleared = Grab();
    const Rgb clearColour = PixelAt(cleared, 0, 0);
    EXPECT_EQ(clearColour.r, 0);
    EXPECT_EQ(clearColour.g, 0);
    EXPECT_NEAR(clearColour.b, 25.5, 1);
    EXPECT_TRUE(AllPixels(cleared, 0, PanelWidth, 0, PanelHeight, clearColour));
    EXPECT_EQ(Column(), 5);

    const BlockRows next = FeedBlock(0, 0);
    const QImage after = Grab();
    EXPECT_TRUE(AllPixels(after, 0, 50, 0, PanelHeight, clearColour));
    EXPECT_TRUE(AllPixels(after, 50, 60, 0, PanelHeight, Rgb{0, 0, 0})); // silent cells look erased
    EXPECT_TRUE(AllPixels(after, 62, PanelWidth, 0, PanelHeight, clearColour));
}

TEST_F(SpTmView, ClearBlockClearsThePictureAndDrawsTheSilentBlock)
{
    for (int i = 0; i < 3; ++i)
        FeedBlock(1000, 1000);
    const Rgb clearColour = PixelAt(Grab(), 500, 10);
    ClearBlock();
    const QImage image = Grab();
    EXPECT_EQ(Column(), 4);
    EXPECT_TRUE(AllPixels(image, 0, 30, 0, PanelHeight, clearColour));
    // Only the newest block is zeroed: the older slices still reach into the
    // block before it, the newest slice (column 39) is silent.
    EXPECT_TRUE(AllPixels(image, 39, 40, 0, PanelHeight, Rgb{0, 0, 0}));
    for (int x = 30; x < 39; ++x)
        EXPECT_NE(PixelAt(image, x, 5), clearColour) << x;
    EXPECT_TRUE(AllPixels(image, 42, PanelWidth, 0, PanelHeight, clearColour));
}

TEST_F(SpTmView, TheLightSchemeErasesAndClearsInGrey)
{
    LightBackground = true;
    ApplyColorScheme();
    ClearSpTm();
    const QImage cleared = Grab();
    EXPECT_TRUE(AllPixels(cleared, 0, PanelWidth, 0, PanelHeight, PixelAt(cleared, 1, 1)));
    EXPECT_NEAR(PixelAt(cleared, 1, 1).r, 229.5, 1);
    const BlockRows block = FeedBlock(1000, 0);
    const QImage image = Grab();
    EXPECT_TRUE(ShowsCells(image, 1, block, 1));
    EXPECT_TRUE(AllPixels(image, 0, 10, RowOf(0.0f) + 1, PanelHeight, Rgb{230, 230, 230}));
    EXPECT_TRUE(AllPixels(image, 10, 11, 0, PanelHeight, Rgb{200, 200, 200}) ||
                AllPixels(image, 11, 12, 0, PanelHeight, Rgb{200, 200, 200}));
}

TEST_F(SpTmView, OneChannelFillsTheWholeHeightAndNoneOnlyErases)
{
    ShowLeft = false;
    FormSpTm->DrawSpTmFrame();
    EXPECT_EQ(FormSpTm->PanelLeft->text(), "Right");
    EXPECT_TRUE(FormSpTm->PanelRight->isHidden());
    const BlockRows block = FeedBlock(1000, 3000);
    QImage image = Grab();
    EXPECT_TRUE(ShowsCells(image, 1, block, 2));
    EXPECT_FLOAT_EQ(SpTmFreqScale, 2 / std::sqrt(21000.0f));

    ShowRight = false;
    FormSpTm->DrawSpTmFrame();
    EXPECT_EQ(FormSpTm->PanelLeft->text(), "");
    FeedBlock(1000, 3000);
    image = Grab();
    EXPECT_TRUE(AllPixels(image, 10, 20, 0, PanelHeight, Rgb{0, 0, 0}));
}

TEST_F(SpTmView, GainColoursTheNextRender)
{
    KaSpTm = 1;
    const BlockRows quiet = FeedBlock(1000, 0, 30);
    EXPECT_TRUE(ShowsCells(Grab(), 1, quiet, 1));
    KaSpTm = std::numeric_limits<float>::quiet_NaN(); // unusable: counts as 10
    const BlockRows again = FeedBlock(1000, 0, 30);
    const QImage image = Grab();
    EXPECT_TRUE(ShowsCells(image, 2, again, 1));
    const int toneRow = RowOf(std::sqrt(1000.0f / 21000.0f));
    EXPECT_NE(PixelAt(image, 5, toneRow), PixelAt(image, 15, toneRow));
}

TEST_F(SpTmView, ResizeClearsThePictureAndKeepsTheSweepPosition)
{
    for (int i = 0; i < 3; ++i)
        FeedBlock(1000, 1000);
    Grab();
    FormSpTm->resize(700, 600);
    ASSERT_TRUE(WaitFor([] { return FormSpTm->PanelSpTm->width() == 651; }, 2000));
    const QImage image = Grab();
    EXPECT_EQ(image.width(), 651);
    EXPECT_TRUE(AllPixels(image, 0, image.width(), 0, image.height(), PixelAt(image, 0, 0)));
    EXPECT_EQ(PixelAt(image, 0, 0).r, 0);
    EXPECT_EQ(Column(), 3);
    EXPECT_EQ(PlotRight, 675);
    EXPECT_EQ(PlotBottom, 575);
}

TEST_F(SpTmView, FrameCaptionsLegendAndMarker)
{
    FormSpTm->DrawSpTmFrame();
    EXPECT_TRUE(FormSpTm->FrameIntact());
    EXPECT_EQ(FormSpTm->PanelSpTm->geometry(), QRect(25, 0, PanelWidth, PanelHeight));
    EXPECT_EQ(FormSpTm->PanelLeft->text(), "Left");
    EXPECT_EQ(FormSpTm->PanelLeft->pos(), QPoint(PanelWidth / 2, 2));
    EXPECT_EQ(FormSpTm->PanelRight->text(), "Right");
    EXPECT_TRUE(FormSpTm->PanelRight->isVisible());
    EXPECT_EQ(FormSpTm->PanelRight->pos(), QPoint(PanelWidth / 2, PanelHeight / 2));

    const QImage& canvas = FormSpTm->Canvas();
    const int bottom = ClientHeight - 25;
    const int legendX = ClientWidth - 25 + 20;
    EXPECT_EQ(canvas.pixel(legendX, bottom) & 0xFFFFFF, 0u); // level 0, dark
    EXPECT_EQ(canvas.pixel(legendX, 0) & 0xFFFFFF, qRgb(205, 0, 0) & 0xFFFFFF);
    EXPECT_EQ(canvas.pixel(legendX, sptm::LegendTickRow(5, bottom)) & 0xFFFFFF, 0u) << "tick 0.5";
    EXPECT_EQ(canvas.pixel(ClientWidth - 25, 10) & 0xFFFFFF, qRgb(200, 200, 200) & 0xFFFFFF);
    // Frequency ticks on the left strip: 0 Hz of the lower band on the bottom row.
    EXPECT_EQ(canvas.pixel(22, bottom) & 0xFFFFFF, 0u);
    EXPECT_EQ(canvas.pixel(22, bottom / 2) & 0xFFFFFF, 0u);

    // The frame check redraws a frame that was painted over.
    FormSpTm->Canvas().setPixel(0, 0, qRgb(255, 255, 255));
    EXPECT_FALSE(FormSpTm->FrameIntact());
    FormMain->TimerInfoTimer();
    EXPECT_TRUE(FormSpTm->FrameIntact());

    LightBackground = true;
    FormSpTm->DrawSpTmFrame();
    EXPECT_EQ(FormSpTm->PanelLeft->palette().color(QPalette::Window), QColor(230, 230, 230));
    EXPECT_EQ(canvas.pixel(legendX, bottom) & 0xFFFFFF, qRgb(230, 230, 230) & 0xFFFFFF);
    EXPECT_EQ(FormSpTm->minimumSize(), QSize(500, 540));
}

TEST_F(SpTmView, GainPanel)
{
    KaSpTm = 10;
    FormSpTm->SpTmRangesShow();
    EXPECT_TRUE(FormSpTm->PanelGain->isVisible());
    EXPECT_EQ(FormSpTm->PanelGain->pos(), QPoint(5, 5));
    EXPECT_EQ(FormSpTm->EditGain->text(), "10");
    EXPECT_EQ(FormSpTm->TBarKamp->value(), 11);
    EXPECT_EQ(KaSpTm, 10);

    // A stored 25: the position clamps to 1, whose gain is 20.
    KaSpTm = 25;
    FormSpTm->SpTmRangesShow();
    EXPECT_EQ(FormSpTm->TBarKamp->value(), 1);
    EXPECT_EQ(KaSpTm, 20);
    EXPECT_EQ(FormSpTm->EditGain->text(), "20");

    // 7.6 with the bar already at 13: no change, the gain stays 7.6.
    FormSpTm->TBarKamp->setValue(13);
    KaSpTm = 7.6f;
    FormSpTm->SpTmRangesShow();
    EXPECT_EQ(KaSpTm, 7.6f);
    EXPECT_EQ(FormSpTm->EditGain->text(), "8");

    // Unusable stored gain: shown and set as 10.
    KaSpTm = std::numeric_limits<float>::infinity();
    FormSpTm->SpTmRangesShow();
    EXPECT_EQ(KaSpTm, 10);
    EXPECT_EQ(FormSpTm->EditGain->text(), "10");

    // The bar runs downwards; typing in the edit box changes nothing.
    FormSpTm->TBarKamp->setValue(1);
    EXPECT_EQ(KaSpTm, 20);
    FormSpTm->TBarKamp->setValue(20);
    EXPECT_EQ(KaSpTm, 1);
    EXPECT_EQ(FormSpTm->EditGain->text(), "1");
    FormSpTm->EditGain->setText("15");
    EXPECT_EQ(KaSpTm, 1);

    FormSpTm->PanelGain->move(40, 60);
    FormSpTm->BtnCloseClick();
    EXPECT_FALSE(FormSpTm->PanelGain->isVisible());
    FormSpTm->PanelSpTmDblClick();
    EXPECT_TRUE(FormSpTm->PanelGain->isVisible());
    EXPECT_EQ(FormSpTm->PanelGain->pos(), QPoint(5, 5));

    // Clear on the panel clears the picture.
    FeedBlock(1000, 1000);
    Grab();
    FormSpTm->BtnSpTmClear->click();
    const QImage image = Grab();
    EXPECT_TRUE(AllPixels(image, 0, PanelWidth, 0, PanelHeight, PixelAt(image, 0, 0)));
}

// The whole road: the first activation starts the microphone of the
// in-process server (1 kHz in both channels), the capture tick analyses its
// blocks and the spectrogram draws them.
TEST(SpTmLive, TheMicrophonesToneShowsInBothBands)
{
    platform::InProcessServer* server = InstallServer();
    {
        AppHarness app(true);
        sptm::ForgetBlocks();
        IsInstalled = true;
        WaveShow = SpectShow = false;
        SpTmShow = true;
        SpTmX = SpTmY = 0;
        SpTmW = ClientWidth;
        SpTmH = ClientHeight;
        ASSERT_GT(app.TicksUntilStarted(), 0);
        ASSERT_TRUE(FormSpTm->isVisible());
        // The server's clock runs by hand: one block of frames at a time,
        // each taken by the 20 ms capture tick and painted.
        for (int block = 1; block <= 4; ++block)
            ASSERT_TRUE(WaitFor(
                [&] {
                    server->pump(441);
                    return Column() >= block;
                },
                3000))
                << block;
        // The newest two blocks: the first ones may reach back into the
        // silence before capture started. Counted before the render, which
        // draws them (and any block the tick analyses meanwhile).
        const int32_t newest = Column();
        const QImage image = FormSpTm->PanelSpTm->grabFramebuffer();
        int brightUpper = 0, brightLower = 0;
        const int upper = RowOf(std::sqrt(1000.0f / 21000.0f));
        const int lower = RowOf(std::sqrt(1000.0f / 21000.0f) - 1);
        for (int x = 10 * (newest - 2); x < 10 * newest; ++x) {
            brightUpper += qRed(image.pixel(x, upper)) > 150 || qRed(image.pixel(x, upper - 1)) > 150;
            brightLower += qRed(image.pixel(x, lower)) > 150 || qRed(image.pixel(x, lower - 1)) > 150;
        }
        EXPECT_GE(brightUpper, 20);
        EXPECT_GE(brightLower, 20);
        FormMain->FormCloseQuery();
    }
    WaveShow = SpectShow = SpTmShow = true;
    platform::ResetServer();
}

} // namespace
