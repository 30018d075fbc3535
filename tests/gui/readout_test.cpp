// The values under the pointer, the spectrum's peak line and the export of
// pictures and spectra, on the real views: tones stored and analysed as the
// block path does, the pointer moved over the drawn plot.
#include "common/app_support.h"

#include "analysis/SpTmMap.h"
#include "analysis/SpectGraph.h"
#include "analysis/spectrum.h"
#include "app/main.h"
#include "state/global.h"
#include "support/inprocess_server.h"
#include "views/SpTmForm.h"
#include "views/SpectForm.h"
#include "views/WaveForm.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>
#include <mutex>
#include <numbers>

namespace {

void StoreToneAndAnalyse(double hz, double amplitude, int window)
{
    std::lock_guard<std::mutex> guard(DataLock);
    for (int k = -HistoryHalf; k < HistoryHalf; ++k) {
        const double value = amplitude * std::sin(2 * std::numbers::pi * hz * k / 44100.0);
        Sample(1, k) = static_cast<int16_t>(std::lround(value));
        Sample(2, k) = 0;
    }
    WindowFunction = window;
    AnalyseBlock();
}

// The number before `unit` on the line of the readout that starts with
// `prefix`; NaN when there is none.
double NumberIn(const QString& text, const QString& prefix, const QString& unit)
{
    const QRegularExpression pattern("^" + QRegularExpression::escape(prefix) + R"(\s*(-?[0-9.]+|-inf)\s*)" +
                                         QRegularExpression::escape(unit),
                                     QRegularExpression::MultilineOption);
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch())
        return std::nan("");
    return match.captured(1) == "-inf" ? -INFINITY : match.captured(1).toDouble();
}

QImage Rgb32(const QImage& image)
{
    return image.convertToFormat(QImage::Format_RGB32);
}

class Readouts : public ::testing::Test {
protected:
    void SetUp() override
    {
        InstallMicAndSpeakers(platform::Sine(1000, 32767, 1000, 0));
        app = std::make_unique<AppHarness>(true);
        ShowLeft = ShowRight = true;
        SpectIsLn = true;
        SpectRangeX = 5000;
        WaveRangeX = 441;
        FormSpect->FormCreate();
        for (TViewForm* view : {static_cast<TViewForm*>(FormWave), static_cast<TViewForm*>(FormSpect),
                                static_cast<TViewForm*>(FormSpTm)}) {
            view->show();
            ASSERT_TRUE(QTest::qWaitForWindowExposed(view));
        }
        // Wide enough that a pixel of the logarithmic axis spans less than a
        // bin at 1 kHz.
        FormSpect->resize(1100, 400);
        QCoreApplication::processEvents();
    }
    void TearDown() override
    {
        TViewForm::SaveFileHook = nullptr;
        app.reset();
        platform::ResetServer();
        WindowFunction = 1;
        SpectShowPeak = false;
        WaveRangeX = 4410;
    }

    // Moves the pointer onto `at` of the panel; the readout shown, or empty.
    static QString HoverAt(TViewForm* view, TPlotSurface* panel, QPoint at)
    {
        // The pointer reaches the window on top of the screen there.
        view->raise();
        QTest::qWait(20);
        // Into the panel first: the move that enters a window only enters it.
        QTest::mouseMove(panel, at + QPoint(1, 1));
        QTest::mouseMove(panel, at);
        WaitFor([view] { return view->Readout()->isVisible(); }, 500);
        QCoreApplication::processEvents();
        return view->Readout()->isVisible() ? view->Readout()->text() : QString();
    }

    std::unique_ptr<AppHarness> app;
};

TEST_F(Readouts, SpectrumAtOneKilohertzReadsTheTonesFrequencyAndLevel)
{
    StoreToneAndAnalyse(1000, 32767, 0); // rectangular: a full-scale tone is 0 dB
    TPlotSurface* panel = FormSpect->PanelSpec;
    panel->grabFramebuffer();
    const int x = static_cast<int>((SpectLogX(1000) + 1) / 2 * panel->width());
    const QString text = HoverAt(FormSpect, panel, QPoint(x, panel->height() / 2));
    EXPECT_NEAR(NumberIn(text, "", "Hz"), 1000, BinWidth) << text.toStdString();
    EXPECT_NEAR(NumberIn(text, "L", "dB"), 0, 0.5) << text.toStdString();
    EXPECT_LT(NumberIn(text, "R", "dB"), -100) << "the silent channel";

    // The linear axis answers in percent of full scale.
    FormSpect->CheckLnSnd->setChecked(false);
    panel->grabFramebuffer();
    const double rightEdgeHz = SpectLinearTopBin(SpectRangeX) * BinWidth;
    const int linearX = static_cast<int>(1000 / rightEdgeHz * panel->width());
    const QString linear = HoverAt(FormSpect, panel, QPoint(linearX, 10));
    EXPECT_NEAR(NumberIn(linear, "", "Hz"), 1000, BinWidth) << linear.toStdString();
    EXPECT_NEAR(NumberIn(linear, "L", "%"), 100, 6) << linear.toStdString();
    FormSpect->CheckLnSnd->setChecked(true);
}

TEST_F(Readouts, PeakLineReadsAToneBetweenBinsAndGoesWithItsCheckBox)
{
    const QImage before = Rgb32(FormSpect->Canvas());
    const PlotRect plainPlot = SpectPlotRect(FormSpect->width(), FormSpect->height());
    EXPECT_TRUE(FormSpect->PeakLineText().empty()) << "off by default";

    FormSpect->CheckPeak->setChecked(true);
    EXPECT_TRUE(SpectShowPeak);
    EXPECT_EQ(FormSpect->PanelSpec->height(), plainPlot.bottom + 1 - PeakLineHeight) << "the line lies under the frame";
    StoreToneAndAnalyse(1234.5, 20000, 1); // Hann
    FormSpect->PanelSpec->grabFramebuffer();
    const QString line = QString::fromStdString(FormSpect->PeakLineText());
    EXPECT_NEAR(NumberIn(line, "Peak L", "Hz"), 1234.5, 1.0) << line.toStdString();
    EXPECT_FALSE(line.contains("Peak R")) << "a silent channel has no peak";

    FormSpect->CheckPeak->setChecked(false);
    EXPECT_EQ(FormSpect->PanelSpec->height(), plainPlot.bottom + 1);
    EXPECT_EQ(Rgb32(FormSpect->Canvas()), before) << "the frame as it was";
}

TEST_F(Readouts, WaveformReadsTheDrawnSampleAtThePointer)
{
    {
        std::lock_guard<std::mutex> guard(DataLock);
        for (int k = 0; k < HistoryHalf; ++k) {
            Sample(1, k) = static_cast<int16_t>(100 + 7 * k);
            Sample(2, k) = static_cast<int16_t>(-k);
        }
    }
    // More pixels than samples, so that the pixel under the pointer has one sample.
    FormWave->resize(1000, 300);
    QCoreApplication::processEvents();
    TPlotSurface* panel = FormWave->Panel1;
    panel->grabFramebuffer();
    // A span of 441 samples: the left edge is sample 0, the middle sample 220.
    QString text = HoverAt(FormWave, panel, QPoint(0, 20));
    EXPECT_NEAR(NumberIn(text, "", "ms"), 0, 1e-9) << text.toStdString();
    EXPECT_EQ(NumberIn(text, "L", "("), 100) << text.toStdString();
    text = HoverAt(FormWave, panel, QPoint(panel->width() / 2, 20));
    EXPECT_NEAR(NumberIn(text, "", "ms"), 220 / 44.1, 0.005) << text.toStdString();
    EXPECT_EQ(NumberIn(text, "L", "("), 1640) << text.toStdString();
    EXPECT_EQ(NumberIn(text, "R", "("), -220) << text.toStdString();
    EXPECT_TRUE(text.contains("(-26.0 dBFS)")) << text.toStdString();
    ShowRight = false;
    EXPECT_FALSE(HoverAt(FormWave, panel, QPoint(panel->width() / 2, 21)).contains("\nR "));
    ShowRight = true;
}

TEST_F(Readouts, SpectrogramReadsTheCellsColourLevelAndItsPlace)
{
    StoreToneAndAnalyse(1000, 20000, 1);
    TPlotSurface* panel = FormSpTm->PanelSpTm;
    const QImage picture = panel->grabFramebuffer();
    // Slice 0 of the block just drawn, at the row of 1 kHz in the left band.
    const int column = static_cast<int>(sptm::SliceColumn(SpTmColumn, 0));
    const double y = sptm::ChannelBand(1, true, true)->Y(1000);
    const int row = static_cast<int>((1 - y) / 2 * panel->height());
    const QString text = HoverAt(FormSpTm, panel, QPoint(column, row));
    EXPECT_NEAR(NumberIn(text, "", "s"), column / 100.0, 0.006) << text.toStdString();
    EXPECT_NEAR(NumberIn(text, "L", "Hz"), 1000, 60) << text.toStdString();
    const double level = NumberIn(text, "level", "(");
    ASSERT_FALSE(std::isnan(level)) << text.toStdString();
    const QRgb pixel = picture.pixel(column, row);
    const sptm::Rgb colour = sptm::PaletteColor(static_cast<int>(level), LightBackground);
    EXPECT_EQ(qRgb(colour.r, colour.g, colour.b), (pixel & 0xFFFFFF) | 0xFF000000) << "the colour of that level";
    EXPECT_GT(level, 300) << "the tone is loud there";
}

TEST_F(Readouts, ThePointerLeavesEveryViewAsItWas)
{
    StoreToneAndAnalyse(1000, 20000, 1);
    for (TViewForm* view :
         {static_cast<TViewForm*>(FormWave), static_cast<TViewForm*>(FormSpect), static_cast<TViewForm*>(FormSpTm)}) {
        SCOPED_TRACE(view->windowTitle().toStdString());
        auto* panel = view->findChild<TPlotSurface*>();
        ASSERT_TRUE(panel);
        const QImage plot = Rgb32(panel->grabFramebuffer());
        const QImage window = Rgb32(view->grab().toImage());
        EXPECT_FALSE(HoverAt(view, panel, QPoint(panel->width() / 3, panel->height() / 3)).isEmpty());
        QTest::mouseMove(view, QPoint(3, 10)); // onto the frame left of the plot
        // The server tells the window the pointer left it on its own time.
        EXPECT_TRUE(WaitFor([view] { return !view->Readout()->isVisible(); }, 2000));
        EXPECT_EQ(Rgb32(panel->Picture()), plot) << "the plot's pixels";
        EXPECT_EQ(Rgb32(view->grab().toImage()), window) << "the window's pixels";
    }
}

TEST_F(Readouts, PictureAndSpectrumFilesHoldWhatTheWindowShows)
{
    StoreToneAndAnalyse(1000, 20000, 1);
    FormSpect->PanelSpec->grabFramebuffer();
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    for (TViewForm* view :
         {static_cast<TViewForm*>(FormWave), static_cast<TViewForm*>(FormSpect), static_cast<TViewForm*>(FormSpTm)}) {
        const QString path = folder.filePath(view->FileBaseName() + ".png");
        ASSERT_EQ(view->SavePicture(path), "");
        const QImage saved(path);
        ASSERT_FALSE(saved.isNull()) << path.toStdString();
        EXPECT_EQ(saved.size(), view->size() * view->devicePixelRatioF());
        EXPECT_EQ(Rgb32(saved), Rgb32(view->grab().toImage())) << path.toStdString();
    }
    const QString csvPath = folder.filePath("spectrum.csv");
    ASSERT_EQ(FormSpect->SaveSpectrum(csvPath), "");
    QFile csv(csvPath);
    ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = csv.readAll().split('\n');
    ASSERT_EQ(lines.size(), 1860 + 1) << "a header and 1859 bins, each line ended";
    EXPECT_TRUE(lines[0].startsWith("Frequency [Hz],Left magnitude,Left level [dB],Right magnitude,"));
    EXPECT_TRUE(lines[0].contains("Window: Hann"));
    EXPECT_FALSE(lines[0].contains("Averaging")) << "without averaging and weighting the header is as it was";
    EXPECT_EQ(lines[0].count(','), 6);
    int peakBin = -1;
    double peak = -1;
    for (int bin = 0; bin <= TopBin; ++bin) {
        const QList<QByteArray> fields = lines[bin + 1].split(',');
        ASSERT_EQ(fields.size(), 5) << bin;
        EXPECT_NEAR(fields[0].toDouble(), bin * static_cast<double>(BinWidth), 1e-4);
        if (fields[1].toDouble() > peak) {
            peak = fields[1].toDouble();
            peakBin = bin;
        }
    }
    EXPECT_EQ(peakBin, 93) << "1000 Hz";
}

TEST_F(Readouts, AnUnwritableFolderGivesAMessageAndNoFile)
{
    QTemporaryDir folder;
    QFile blocker(folder.filePath("a-file"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly)); // no folder can be made under a file
    blocker.close();
    const QString path = folder.filePath("a-file/folder/spectrum");
    TViewForm::SaveFileHook = [&path](const QString& suggested) { return path + "." + suggested.section('.', -1); };
    FormSpect->SavePictureClick();
    FormSpect->SaveSpectrumClick();
    ASSERT_EQ(app->messages.size(), 2u);
    for (const std::string& message : app->messages)
        EXPECT_TRUE(message.starts_with("Could not save " + path.toStdString())) << message;
    EXPECT_FALSE(QFile::exists(path + ".png"));
    EXPECT_FALSE(QFile::exists(path + ".csv"));
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList{"a-file"})
        << "no partial file";
}

} // namespace
