// The views at the screen's pixel density: every plot renders at the
// device's density and fills its panel, and the window shows that picture
// where the frame leaves room for it. The discovered test runs at one device
// pixel per pixel, the "HiDpi.AtTwoDevicePixelsPerPixel" entry at two (QT_SCALE_FACTOR=2).
#include "common/app_support.h"

#include "app/global.h"
#include "app/main.h"
#include "platform/inprocess_server.h"
#include "views/SpTmForm.h"
#include "views/SpectForm.h"
#include "views/WaveForm.h"

#include <QTest>
#include <gtest/gtest.h>

namespace {

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
        EXPECT_EQ(shown.copy(place), picture.copy(place.translated(-origin)))
            << view->windowTitle().toStdString();
        // The frame around it is drawn at the window's size too: its marker pixel.
        EXPECT_TRUE(view->FrameIntact());
    }
}

} // namespace
