// The octave bands window on Mesa under Xvfb: closed on a first run and left
// alone by the arrangement of the three views; shown, it reads a tone fed
// through the block path in the right band, shows it as the highest bar,
// names it under the pointer and exports it; hidden, it measures nothing.
#include "common/app_support.h"

#include "app/main.h"
#include "app/main_ticks.h"
#include "meters/BandsForm.h"
#include "meters/bandsgeometry.h"
#include "state/global.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <mutex>
#include <numbers>
#include <vector>

namespace {

// Feeds `blocks` captured blocks through the block path: a 1 kHz sine at
// `leftAmplitude` on the left, at `rightAmplitude` on the right.
void FeedTone(int blocks, double leftAmplitude, double rightAmplitude)
{
    static long n = 0;
    const int frames = BlockLen;
    std::vector<uint8_t> bytes(4 * frames);
    for (int b = 0; b < blocks; ++b) {
        for (int f = 0; f < frames; ++f, ++n) {
            const double s = std::sin(2.0 * std::numbers::pi * 1000.0 * n / 44100.0);
            const auto put = [&](int at, double value) {
                const auto v = static_cast<uint16_t>(static_cast<int16_t>(std::lround(value)));
                bytes[at] = static_cast<uint8_t>(v & 0xFF);
                bytes[at + 1] = static_cast<uint8_t>(v >> 8);
            };
            put(4 * f, leftAmplitude * s);
            put(4 * f + 2, rightAmplitude * s);
        }
        const CapturedBlock block{bytes.data(), static_cast<uint32_t>(bytes.size())};
        std::lock_guard<std::mutex> guard(DataLock);
        AcceptBlocks(&block, 1);
    }
}

double NumberAfter(const QString& text, const QString& prefix)
{
    const QRegularExpressionMatch match = QRegularExpression("^" + QRegularExpression::escape(prefix) +
                                                                 R"(\s*(-?[0-9.]+))",
                                                             QRegularExpression::MultilineOption)
                                              .match(text);
    return match.hasMatch() ? match.captured(1).toDouble() : std::nan("");
}

class BandsView : public ::testing::Test {
protected:
    void SetUp() override
    {
        InstallMicAndSpeakers(platform::Sine(1000, 32767, 1000, 0));
        app = std::make_unique<AppHarness>(true);
        ShowLeft = ShowRight = true;
    }
    void TearDown() override
    {
        TViewForm::SaveFileHook = nullptr;
        app.reset();
        platform::ResetServer();
    }
    void ShowBands()
    {
        FormBands->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(FormBands));
        FormBands->resize(700, 360);
        QCoreApplication::processEvents();
    }
    std::unique_ptr<AppHarness> app;
};

TEST_F(BandsView, ClosedOnAFirstRunAndLeftWhereItIsByTheArrangement)
{
    ASSERT_GT(app->TicksUntilStarted(), 0);
    EXPECT_FALSE(FormBands->isVisible());
    EXPECT_FALSE(BandsShow);

    FormMain->menuShowAllClick();
    QCoreApplication::processEvents();
    EXPECT_FALSE(FormBands->isVisible()) << "not one of the arranged views";

    ShowBands();
    EXPECT_TRUE(BandsShow);
    FormBands->move(FormBands->pos() + QPoint(13, 7));
    QCoreApplication::processEvents();
    const QRect before = FormBands->geometry();
    FormMain->menuShowAllClick();
    QCoreApplication::processEvents();
    EXPECT_TRUE(FormBands->isVisible());
    EXPECT_EQ(FormBands->geometry(), before);
}

TEST_F(BandsView, ReadsAToneInItsBandShowsItAndExportsIt)
{
    ShowBands();
    FeedTone(20, 32767.0, 3276.7); // 0 and -20 dBFS
    const QImage picture = FormBands->PanelBands->grabFramebuffer().convertToFormat(QImage::Format_RGB32);
    const auto& reading = FormBands->Reading();
    ASSERT_EQ(reading.bands.size(), 30u) << "1/3 octave by default";
    const auto loudest = std::max_element(reading.levelDb[0].begin(), reading.levelDb[0].end());
    ASSERT_EQ(loudest - reading.levelDb[0].begin(), 16) << "the 1 kHz band";
    EXPECT_NEAR(reading.levelDb[0][16], 0.0, 0.2);
    EXPECT_NEAR(reading.levelDb[1][16], -20.0, 0.2);

    // The left bar of the 1 kHz band reaches the top (0 dBFS), the right
    // one stops 20 % of the 100 dB span lower; a band far off shows none.
    const int w = picture.width(), h = picture.height();
    const auto left = bandsview::BarColumns(16, 30, w, 0, true);
    const auto right = bandsview::BarColumns(16, 30, w, 1, true);
    const QColor leftColour(SchemeR[ColorLeft], SchemeG[ColorLeft], SchemeB[ColorLeft]);
    const QColor rightColour(SchemeR[ColorRight], SchemeG[ColorRight], SchemeB[ColorRight]);
    EXPECT_EQ(QColor(picture.pixel((left.left + left.right) / 2, 1)), leftColour);
    EXPECT_EQ(QColor(picture.pixel((right.left + right.right) / 2, h * 22 / 100)), rightColour);
    EXPECT_NE(QColor(picture.pixel((right.left + right.right) / 2, h * 18 / 100)), rightColour);
    const auto far = bandsview::BarColumns(2, 30, w, 0, true);
    EXPECT_NE(QColor(picture.pixel((far.left + far.right) / 2, h / 2)), leftColour);

    // The pointer over the band names it and its levels.
    FormBands->raise();
    QTest::qWait(20);
    const QPoint at((left.left + left.right) / 2, h / 2);
    QTest::mouseMove(FormBands->PanelBands, at + QPoint(1, 1));
    QTest::mouseMove(FormBands->PanelBands, at);
    WaitFor([] { return FormBands->Readout()->isVisible(); }, 500);
    const QString text = FormBands->Readout()->text();
    EXPECT_TRUE(text.startsWith("1k Hz (1000.0 Hz, 891.3 - 1122.0 Hz)")) << text.toStdString();
    EXPECT_NEAR(NumberAfter(text, "L:"), 0.0, 0.2) << text.toStdString();
    EXPECT_NEAR(NumberAfter(text, "R:"), -20.0, 0.2) << text.toStdString();

    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    ASSERT_EQ(FormBands->SavePicture(folder.filePath("bands.png")), "");
    EXPECT_FALSE(QImage(folder.filePath("bands.png")).isNull());
    ASSERT_EQ(FormBands->SaveBands(folder.filePath("bands.csv")), "");
    QFile csv(folder.filePath("bands.csv"));
    ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = csv.readAll().split('\n');
    ASSERT_EQ(lines.size(), 2 + 30 + 1) << "header, column names, 30 bands, each line ended";
    EXPECT_TRUE(lines[0].contains("1/3 Octave, weighting Z, averaging Off")) << lines[0].toStdString();
    const QList<QByteArray> row = lines[2 + 16].split(',');
    ASSERT_EQ(row.size(), 6);
    EXPECT_EQ(row[0], "1000");
    EXPECT_NEAR(row[4].toDouble(), 0.0, 0.2);
    EXPECT_NEAR(row[5].toDouble(), -20.0, 0.2);
}

TEST_F(BandsView, MeasuresNothingWhileHidden)
{
    ShowBands();
    FeedTone(3, 32767.0, 32767.0);
    FormBands->PanelBands->grabFramebuffer();
    EXPECT_EQ(FormBands->Reading().blocks, 3);
    FormBands->close();
    QCoreApplication::processEvents();
    EXPECT_FALSE(BandsShow);
    FeedTone(5, 32767.0, 32767.0);
    ShowBands();
    FormBands->PanelBands->grabFramebuffer();
    EXPECT_EQ(FormBands->Reading().blocks, 3) << "the blocks fed while closed were not measured";
}

} // namespace
