// The views at the screen's pixel density: every plot renders at the
// device's density and fills its panel, and the window shows that picture
// where the frame leaves room for it. The discovered test runs at one device
// pixel per pixel, the "HiDpi.AtTwoDevicePixelsPerPixel" entry at two (QT_SCALE_FACTOR=2).
#include "common/app_support.h"

#include "analysis/SpTmBlocks.h"
#include "app/main.h"
#include "state/global.h"
#include "support/inprocess_server.h"
#include "views/SpTmForm.h"
#include "views/SpectForm.h"
#include "views/WaveForm.h"

#include <QScreen>
#include <QTest>
#include <gtest/gtest.h>

#include <mutex>

namespace {

::testing::AssertionResult SameImages(const QImage& shown, const QImage& expected)
{
    if (shown.size() != expected.size())
        return ::testing::AssertionFailure() << "sizes differ";
    int differing = 0;
    QPoint first;
    for (int y = 0; y < shown.height(); ++y)
        for (int x = 0; x < shown.width(); ++x)
            if (shown.pixel(x, y) != expected.pixel(x, y) && differing++ == 0)
                first = QPoint(x, y);

    if (differing == 0)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << differing << " of " << shown.width() * shown.height()
                                         << " pixels differ, the first at (" << first.x() << ", " << first.y() << ")";
}

class HiDpi : public ::testing::Test {
protected:
    void SetUp() override
    {
        InstallMicAndSpeakers(platform::Sine(1000, 30000, 1000, 30000));
        app = std::make_unique<AppHarness>(true);
        for (QWidget* view : Views()) {
            view->show();
            ASSERT_TRUE(QTest::qWaitForWindowExposed(view));
        }
    }
    void TearDown() override
    {
        app.reset();
        platform::ResetServer();
    }
    static std::vector<std::pair<TViewForm*, TPlotSurface*>> Plots()
    {
        return {{FormWave, FormWave->Panel1}, {FormSpect, FormSpect->PanelSpec}, {FormSpTm, FormSpTm->PanelSpTm}};
    }
    static std::vector<QWidget*> Views() { return {FormWave, FormSpect, FormSpTm}; }
    std::unique_ptr<AppHarness> app;
};

TEST_F(HiDpi, PlotsRenderAtTheDevicesDensityAndFillTheirPanels)
{
    for (const auto& [view, plot] : Plots()) {
        const qreal ratio = plot->devicePixelRatioF();
        ASSERT_EQ(ratio, FormMain->devicePixelRatioF()) << view->windowTitle().toStdString();
        const QImage picture = plot->grabFramebuffer().convertToFormat(QImage::Format_RGB32);
        EXPECT_EQ(picture.size(), plot->size() * ratio) << view->windowTitle().toStdString();

        // The window shows that picture, pixel for pixel, where the panel lies
        // (seen without the captions and scale panels that sit on the plot).
        std::vector<QWidget*> overlays;
        for (QWidget* child : plot->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            if (child->isVisible()) {
                child->hide();
                overlays.push_back(child);
            }
        QCoreApplication::processEvents();
        const QImage shown = view->grab().toImage().convertToFormat(QImage::Format_RGB32);
        for (QWidget* child : overlays)
            child->show();
        ASSERT_EQ(shown.size(), view->size() * ratio);
        // (The spectrum's panel reaches one pixel past the window's right edge.)
        const QPoint origin = plot->mapTo(view, QPoint(0, 0)) * ratio;
        const QRect place = QRect(origin, picture.size()) & shown.rect();
        EXPECT_EQ(shown.copy(place), picture.copy(place.translated(-origin))) << view->windowTitle().toStdString();
        // The frame around it is drawn at the window's size too: its marker pixel.
        EXPECT_TRUE(view->FrameIntact());
    }
}

TEST_F(HiDpi, TheScreenShowsEachPaintAsRendered)
{
    // What reaches the X server, not a re-rendered grab: the picture of the
    // last paint went into the window's backing store and out to the screen.
    for (const auto& [view, plot] : Plots()) {
        for (QWidget* child : plot->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            child->hide();
        view->raise(); // the screen shows a covered part of a window as what covers it
        QTest::qWait(50);
        plot->repaint();
        const QImage picture = plot->Picture().convertToFormat(QImage::Format_RGB32);
        const QPoint at = plot->mapTo(view, QPoint(0, 0));
        // (Only what lies on the screen: at two device pixels per pixel a window reaches past its edge.)
        const QRect onScreen(view->mapFromGlobal(view->screen()->geometry().topLeft()), view->screen()->size());
        const QRect inside = QRect(at, plot->size()) & view->rect() & onScreen;
        QImage shown = view->screen()
                           ->grabWindow(view->winId(), inside.x(), inside.y(), inside.width(), inside.height())
                           .toImage()
                           .convertToFormat(QImage::Format_RGB32);
        ASSERT_FALSE(shown.isNull()) << view->windowTitle().toStdString();
        shown.setDevicePixelRatio(1);
        const QImage expected = picture.copy(QRect((inside.topLeft() - at) * plot->devicePixelRatioF(), shown.size()));
        EXPECT_TRUE(SameImages(shown, expected)) << view->windowTitle().toStdString();
    }
}

TEST_F(HiDpi, TheSpectrogramShowsEachNewBlockWhereItWasDrawn)
{
    // Each block repaints only its own columns of the window; the screen
    // then shows the whole picture, old columns and new.
    TPlotSurface* plot = FormSpTm->PanelSpTm;
    for (QWidget* child : plot->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        child->hide();
    FormSpTm->raise();
    QTest::qWait(50);
    plot->repaint();
    for (int block = 0; block < 12; ++block) {
        {
            std::lock_guard<std::mutex> guard(DataLock);
            for (int ch = 1; ch <= 2; ++ch)
                for (int slice = 1 - SliceCount; slice <= 0; ++slice)
                    for (int bin = 0; bin <= TopBin; ++bin)
                        Spectrum(ch, slice, bin) = static_cast<float>((bin * 7 + block * 131 + slice * 17) % 3000);
            ++SpTmColumn;
            SpTmKeepBlock();
        }
        FormSpTm->InvRectSpTm();
        QTest::qWait(30);
        const QImage picture = plot->Picture().convertToFormat(QImage::Format_RGB32);
        const QPoint at = plot->mapTo(FormSpTm, QPoint(0, 0));
        const QRect onScreen(FormSpTm->mapFromGlobal(FormSpTm->screen()->geometry().topLeft()),
                             FormSpTm->screen()->size());
        const QRect inside = QRect(at, plot->size()) & FormSpTm->rect() & onScreen;
        QImage shown = FormSpTm->screen()
                           ->grabWindow(FormSpTm->winId(), inside.x(), inside.y(), inside.width(), inside.height())
                           .toImage()
                           .convertToFormat(QImage::Format_RGB32);
        shown.setDevicePixelRatio(1);
        const QImage expected = picture.copy(QRect((inside.topLeft() - at) * plot->devicePixelRatioF(), shown.size()));
        ASSERT_TRUE(SameImages(shown, expected)) << "after block " << block;
    }
}

} // namespace
