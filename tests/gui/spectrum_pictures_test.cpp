// The spectrum window's picture with every instrument at its default (no
// averaging, no peak hold, weighting Z) against pictures saved from the
// program before it had them: pixel for pixel, in both colour schemes and on
// both axes, for the same fixed signals. The pictures are in
// tests/gui/pictures/; SONALYX_SAVE_SPECTRUM_PICTURES=DIR writes this
// build's pictures to DIR instead of comparing (to make them anew from a
// build of the program they stand for).
#include "common/app_support.h"

#include "analysis/spectrum.h"
#include "app/main.h"
#include "state/global.h"
#include "views/SpectForm.h"

#include <QDir>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <mutex>
#include <numbers>
#include <random>
#include <string>

namespace {

// Left: a 1 kHz sine at -4 dB. Right: noise with a 5 kHz tone in it.
void StoreFixedSignalsAndAnalyse()
{
    std::mt19937 random(5);
    std::uniform_int_distribution<int> noise(-3000, 3000);
    std::lock_guard<std::mutex> guard(DataLock);
    for (int k = -HistoryHalf; k < HistoryHalf; ++k) {
        const double t = k / 44100.0;
        Sample(1, k) = static_cast<int16_t>(std::lround(20000 * std::sin(2 * std::numbers::pi * 1000 * t)));
        Sample(2,
               k) = static_cast<int16_t>(noise(random) + std::lround(8000 * std::sin(2 * std::numbers::pi * 5000 * t)));
    }
    WindowFunction = 1;
    AnalyseBlock();
}

struct PictureCase {
    bool light;
    bool logAxis;
    std::string Name() const
    {
        return std::string("spectrum-") + (light ? "light" : "dark") + (logAxis ? "-log" : "-linear");
    }
};

class SpectrumPictures : public ::testing::TestWithParam<PictureCase> {
protected:
    void SetUp() override
    {
        platform::SetServer(std::make_unique<platform::InProcessServer>());
        app = std::make_unique<AppHarness>(true);
        LightBackground = GetParam().light;
        ApplyColorScheme();
        ShowLeft = true;
        ShowRight = true;
        SpectRangeX = 5000;
        SpectRangeY = 20;
        SpectIsLn = GetParam().logAxis;
        SpectShowPeak = false;
        FormSpect->FormCreate();
        FormSpect->show();
        FormSpect->resize(670, 456);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(FormSpect));
    }
    void TearDown() override
    {
        app.reset();
        platform::ResetServer();
        SpectRangeY = 2;
        SpectIsLn = true;
        LightBackground = false;
        ApplyColorScheme();
    }
    // The window as "Save Picture..." writes it.
    QImage SavedPicture()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("spectrum.png");
        EXPECT_EQ(FormSpect->SavePicture(path), "");
        return QImage(path).convertToFormat(QImage::Format_RGB32);
    }
    std::unique_ptr<AppHarness> app;
};

int DifferingPixels(const QImage& a, const QImage& b)
{
    int n = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            n += a.pixel(x, y) != b.pixel(x, y);
    return n;
}

TEST_P(SpectrumPictures, WithTheInstrumentsAtTheirDefaultsThePictureIsAsBefore)
{
    StoreFixedSignalsAndAnalyse();
    FormSpect->DrawSpectFrame();
    FormSpect->InvRectSpect();
    QTest::qWait(50);
    const QImage picture = SavedPicture();
    ASSERT_FALSE(picture.isNull());
    EXPECT_EQ(picture.size(), QSize(670, 456));
    const QString name = QString::fromStdString(GetParam().Name()) + ".png";
    if (const QByteArray saveTo = qgetenv("SONALYX_SAVE_SPECTRUM_PICTURES"); !saveTo.isEmpty()) {
        ASSERT_TRUE(picture.save(QDir(QString::fromUtf8(saveTo)).filePath(name)));
        GTEST_SKIP() << "saved " << name.toStdString();
    }
    const QImage before =
        QImage(QString(SONALYX_SOURCE_DIR "/tests/gui/pictures/") + name).convertToFormat(QImage::Format_RGB32);
    ASSERT_FALSE(before.isNull()) << name.toStdString();
    ASSERT_EQ(picture.size(), before.size());
    EXPECT_EQ(DifferingPixels(picture, before), 0) << name.toStdString();
}

INSTANTIATE_TEST_SUITE_P(SchemesAndAxes, SpectrumPictures,
                         ::testing::Values(PictureCase{false, true}, PictureCase{false, false}, PictureCase{true, true},
                                           PictureCase{true, false}),
                         [](const auto& info) {
                             std::string name = info.param.Name();
                             std::erase(name, '-');
                             return name;
                         });

} // namespace
