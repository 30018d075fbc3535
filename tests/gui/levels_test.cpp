// The levels window on Mesa under Xvfb: closed on a first run and left alone
// by the arrangement of the three views; shown, it reads tones fed through
// the block path at the levels worked out from their amplitudes, in both
// colour schemes; it counts samples at full scale, weights, starts again on
// a device change and on a vanished device, and measures nothing while
// hidden or paused.
#include "common/app_support.h"

#include "app/main.h"
#include "app/main_ticks.h"
#include "meters/BandsForm.h"
#include "meters/CalibrateForm.h"
#include "meters/LevelsForm.h"
#include "meters/levelsgeometry.h"
#include "platform/calibrations.h"
#include "state/global.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <mutex>
#include <numbers>
#include <vector>

namespace {

using levelsview::MeterLine;

// Feeds `blocks` captured blocks through the block path, sample n of each
// channel given by value(channel, n); values beyond the 16-bit range are
// cut to it, as a converter does. Returns how many samples were at full
// scale (+32767 or -32768).
long FeedBlocks(int blocks, const std::function<double(int channel, long n)>& value)
{
    static long n = 0;
    long fullScale = 0;
    const int frames = BlockLen;
    std::vector<uint8_t> bytes(4 * frames);
    for (int b = 0; b < blocks; ++b) {
        for (int f = 0; f < frames; ++f, ++n)
            for (int channel = 0; channel < 2; ++channel) {
                const long sample = std::clamp(std::lround(value(channel, n)), -32768L, 32767L);
                fullScale += sample == 32767 || sample == -32768;
                const auto v = static_cast<uint16_t>(static_cast<int16_t>(sample));
                bytes[4 * f + 2 * channel] = static_cast<uint8_t>(v & 0xFF);
                bytes[4 * f + 2 * channel + 1] = static_cast<uint8_t>(v >> 8);
            }
        const CapturedBlock block{bytes.data(), static_cast<uint32_t>(bytes.size())};
        std::lock_guard<std::mutex> guard(DataLock);
        AcceptBlocks(&block, 1);
    }
    return fullScale;
}

// Sines of `hz` with the left and right amplitudes given in dBFS (a sine
// whose peaks reach 32767 is 0 dBFS).
long FeedSines(int blocks, double hz, double leftDbfs, double rightDbfs)
{
    const double amplitude[2] = {32767.0 * std::pow(10.0, leftDbfs / 20.0), 32767.0 * std::pow(10.0, rightDbfs / 20.0)};
    return FeedBlocks(blocks, [&](int channel, long n) {
        return amplitude[channel] * std::sin(2.0 * std::numbers::pi * hz * n / 44100.0);
    });
}

// The loudness of a stereo 1 kHz sine from the channels' levels: the
// definition's -0.691 dB cancels the K-weighting's gain at 1 kHz, so that a
// sine at X dBFS on both channels reads X LUFS, each channel adding half of
// the power.
double LoudnessOfSines(double leftDbfs, double rightDbfs)
{
    return 10.0 * std::log10((std::pow(10.0, leftDbfs / 10.0) + std::pow(10.0, rightDbfs / 10.0)) / 2.0);
}

class LevelsView : public ::testing::Test {
protected:
    void SetUp() override
    {
        server = InstallMicAndSpeakers(platform::Sine(1000, 3276.7, 1000, 3276.7)); // -20 dBFS
        app = std::make_unique<AppHarness>(true);
    }
    void TearDown() override
    {
        app.reset();
        platform::ResetServer();
    }
    void ShowLevels()
    {
        FormLevels->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(FormLevels));
        FormLevels->resize(600, 460);
        QCoreApplication::processEvents();
    }
    // Renders the panel now and returns what it shows.
    QImage Render() { return FormLevels->PanelLevels->grabFramebuffer().convertToFormat(QImage::Format_RGB32); }
    std::vector<MeterLine> Lines() { return levelsview::MeterLines(FormLevels->Readings()); }
    const measure::ChannelLevels& Channel(int channel) { return FormLevels->Readings().channels[channel]; }
    // Lets the test microphone play `blocks` blocks and waits until each is captured.
    bool PumpBlocks(int blocks)
    {
        for (int b = 0; b < blocks; ++b) {
            const uint64_t before = CapturedBlocks;
            server->pump(4410);
            if (!WaitFor([&] { return CapturedBlocks.load() > before; }, 3000))
                return false;
        }
        return true;
    }

    platform::InProcessServer* server = nullptr;
    std::unique_ptr<AppHarness> app;
};

TEST_F(LevelsView, ClosedOnAFirstRunAndLeftWhereItIsByTheArrangement)
{
    ASSERT_GT(app->TicksUntilStarted(), 0);
    EXPECT_FALSE(FormLevels->isVisible());
    EXPECT_FALSE(LevelsShow);

    FormMain->menuShowAllClick();
    QCoreApplication::processEvents();
    EXPECT_FALSE(FormLevels->isVisible()) << "not one of the arranged views";

    FormMain->menuLevelsClick();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(FormLevels));
    EXPECT_TRUE(LevelsShow);
    FormLevels->move(FormLevels->pos() + QPoint(11, 9));
    QCoreApplication::processEvents();
    const QRect before = FormLevels->geometry();
    FormMain->menuShowAllClick();
    QCoreApplication::processEvents();
    EXPECT_TRUE(FormLevels->isVisible());
    EXPECT_EQ(FormLevels->geometry(), before);

    FormMain->menuLevelsClick();
    QCoreApplication::processEvents();
    EXPECT_FALSE(FormLevels->isVisible());
    EXPECT_FALSE(LevelsShow);
}

TEST_F(LevelsView, ReadsTheLevelsOfKnownSines)
{
    ShowLevels();
    FeedSines(60, 1000.0, -20.0, -26.0); // 6 s: the Slow level has settled to 0.01 dB
    Render();
    for (int channel = 0; channel < 2; ++channel) {
        SCOPED_TRACE(channel);
        const double level = channel == 0 ? -20.0 : -26.0;
        const measure::ChannelLevels& levels = Channel(channel);
        EXPECT_NEAR(levels.fastDb, level, 0.1);
        EXPECT_NEAR(levels.slowDb, level, 0.1);
        EXPECT_NEAR(levels.leqDb, level, 0.1);
        EXPECT_NEAR(levels.samplePeakMaxDb, level, 0.1);
        EXPECT_EQ(levels.clippedSamples, 0u);
        EXPECT_NEAR(levels.seconds, 6.0, 1e-6);
        ASSERT_TRUE(FormLevels->Readings().loudness.truePeakDbtp[channel]);
        EXPECT_NEAR(*FormLevels->Readings().loudness.truePeakDbtp[channel], level, 0.1);
    }
    const measure::LoudnessLevels& loudness = FormLevels->Readings().loudness;
    const double expected = LoudnessOfSines(-20.0, -26.0);
    ASSERT_TRUE(loudness.momentaryLufs && loudness.shortTermLufs && loudness.integratedLufs);
    EXPECT_NEAR(*loudness.momentaryLufs, expected, 0.1);
    EXPECT_NEAR(*loudness.shortTermLufs, expected, 0.1);
    EXPECT_NEAR(*loudness.integratedLufs, expected, 0.1);
    const std::vector<MeterLine> lines = Lines();
    EXPECT_EQ(lines[4].number, "-20.0");
    EXPECT_EQ(lines[5].number, "-26.0");

    // Reset: the maxima and Leq start again; the time weightings go on.
    FormLevels->BtnResetClick();
    FeedSines(1, 1000.0, -40.0, -40.0);
    Render();
    EXPECT_NEAR(Channel(0).samplePeakMaxDb, -40.0, 0.1);
    EXPECT_NEAR(Channel(0).seconds, 0.1, 1e-6);
    EXPECT_GT(Channel(0).slowDb, -30.0) << "Slow falls at its own pace";
}

TEST_F(LevelsView, CountsSamplesAtFullScaleAndWeightsTheRmsLevels)
{
    ShowLevels();
    // A sine driven 6 dB past full scale: its tops are cut flat.
    const long fullScale = FeedSines(2, 997.0, 6.0, -10.0);
    Render();
    EXPECT_EQ(Channel(0).clippedSamples + Channel(1).clippedSamples, static_cast<uint64_t>(fullScale));
    EXPECT_GT(Channel(0).clippedSamples, 0u);
    EXPECT_EQ(Channel(1).clippedSamples, 0u);
    EXPECT_TRUE(Lines()[0].alarm);
    FormLevels->BtnResetClick();
    Render();
    EXPECT_EQ(Channel(0).clippedSamples, 0u) << "the reset button starts the count again";

    // A 100 Hz tone at -20 dBFS: the A curve is 19.1 dB down there, the C
    // curve 0.3 dB (IEC 61672-1, table 3).
    const struct {
        int index;
        double gainDb;
    } weightings[] = {{0, 0.0}, {1, -19.1}, {2, -0.3}};
    for (auto weighting : weightings) {
        SCOPED_TRACE(weighting.index);
        FormLevels->ComboWeighting->setCurrentIndex(weighting.index);
        EXPECT_EQ(LevelsWeighting, weighting.index);
        FeedSines(60, 100.0, -20.0, -20.0);
        Render();
        EXPECT_NEAR(Channel(0).slowDb, -20.0 + weighting.gainDb, 0.3);
        EXPECT_NEAR(Channel(0).samplePeakMaxDb, -20.0, 0.1) << "the sample peak is not weighted";
    }
}

TEST_F(LevelsView, RendersItsBarsInBothSchemes)
{
    ShowLevels();
    for (bool light : {false, true}) {
        SCOPED_TRACE(light ? "light" : "dark");
        LightBackground = light;
        ApplyColorScheme();
        FormLevels->DrawLevelsFrame();
        FeedSines(10, 1000.0, -20.0, -50.0);
        const QImage picture = Render();
        const PlotRgba clear = SchemeClearColor(light);
        EXPECT_EQ(picture.pixel(picture.width() - 2, picture.height() - 2),
                  QColor::fromRgbF(clear.r, clear.g, clear.b).rgb());
        // The Fast bars: the left one filled to -20 on the scale, the right
        // one to -50, each in its channel's colour, the rest of the track
        // in the grid's.
        const levelsview::MeterLayout layout = levelsview::LayoutMeters(
            picture.width(), picture.height(), levelsview::ChannelLineCount, levelsview::LoudnessLineCount);
        const int length = layout.barRight - layout.barLeft + 1;
        const QColor colours[2] = {QColor(SchemeR[ColorLeft], SchemeG[ColorLeft], SchemeB[ColorLeft]),
                                   QColor(SchemeR[ColorRight], SchemeG[ColorRight], SchemeB[ColorRight])};
        const QColor track(SchemeR[ColorGrid], SchemeG[ColorGrid], SchemeB[ColorGrid]);
        for (int channel = 0; channel < 2; ++channel) {
            const double level = channel == 0 ? -20.0 : -50.0;
            const int end = layout.barLeft +
                            static_cast<int>(length * (level + levelsview::BarSpanDb) / levelsview::BarSpanDb);
            const levelsview::LinePlace& line = layout.lines[4 + channel];
            const int row = line.top + line.height / 2;
            EXPECT_EQ(QColor(picture.pixel(end - 6, row)), colours[channel]) << channel;
            EXPECT_EQ(QColor(picture.pixel(end + 6, row)), track) << channel;
            // The large number is drawn in the channel's colour.
            int numberPixels = 0;
            for (int x = layout.numberLeft; x < layout.numberRight; ++x)
                for (int y = line.top; y < line.top + line.height; ++y)
                    numberPixels += QColor(picture.pixel(x, y)) == colours[channel];
            EXPECT_GT(numberPixels, 20) << channel;
        }
    }
}

TEST_F(LevelsView, StartsAgainOnADeviceChangeAndAVanishedDevice)
{
    ASSERT_GT(app->TicksUntilStarted(), 0);
    ShowLevels();
    ASSERT_TRUE(PumpBlocks(3));
    Render();
    EXPECT_NEAR(Channel(0).samplePeakMaxDb, -20.0, 0.1) << "the test microphone's tone";
    EXPECT_GE(Channel(0).seconds, 0.3 - 1e-9);

    ASSERT_TRUE(ChooseSource("Test Speakers")); // its loopback: silence
    Render();
    EXPECT_EQ(Channel(0).seconds, 0.0) << "nothing of the old device stays";
    EXPECT_EQ(Channel(0).samplePeakMaxDb, measure::SilenceDb);
    EXPECT_FALSE(FormLevels->Readings().loudness.integratedLufs);

    ASSERT_TRUE(ChooseSource("Test Microphone"));
    ASSERT_TRUE(PumpBlocks(2));
    server->removeSource("test_mic");
    for (int tick = 0; tick < 10; ++tick)
        FormMain->TimerInfoTimer();
    Render();
    EXPECT_EQ(Channel(0).samplePeakMaxDb, measure::SilenceDb) << "the vanished device's levels are gone";
    ASSERT_TRUE(ChooseSource("Test Speakers"));
    ASSERT_TRUE(PumpBlocks(2));
    Render();
    EXPECT_GT(Channel(0).seconds, 0.0) << "the next device is measured";
    EXPECT_TRUE(FormLevels->isVisible());
}

TEST_F(LevelsView, MeasuresNothingWhileHiddenOrPaused)
{
    ASSERT_GT(app->TicksUntilStarted(), 0);
    ShowLevels();
    FeedSines(3, 1000.0, -20.0, -20.0);
    Render();
    EXPECT_NEAR(Channel(0).seconds, 0.3, 1e-6);
    FormLevels->close();
    QCoreApplication::processEvents();
    EXPECT_FALSE(LevelsShow);
    FeedSines(5, 1000.0, -20.0, -20.0);
    ShowLevels();
    Render();
    EXPECT_NEAR(Channel(0).seconds, 0.3, 1e-6) << "the blocks fed while closed were not measured";

    FormMain->BtnPauseClick();
    ASSERT_TRUE(Paused);
    server->pump(3 * 4410);
    ASSERT_TRUE(WaitForAHeldCaptureTick());
    Render();
    EXPECT_NEAR(Channel(0).seconds, 0.3, 1e-6) << "paused";
    FormMain->BtnPauseClick();
    ASSERT_TRUE(PumpBlocks(1));
    Render();
    EXPECT_GT(Channel(0).seconds, 0.3 + 1e-6) << "measuring again";
}

// The level log: a line a second, its levels and loudness those of the
// tones fed; a vanished folder or a device change stops it with a message.
class LevelsLog : public LevelsView {
protected:
    void SetUp() override
    {
        LevelsView::SetUp();
        ASSERT_GT(app->TicksUntilStarted(), 0);
        ShowLevels();
        ASSERT_TRUE(folder.isValid());
        TViewForm::SaveFileHook = [this](const QString&) { return folder.filePath("log/levels.csv"); };
        ASSERT_TRUE(QDir(folder.path()).mkdir("log"));
    }
    void TearDown() override
    {
        TViewForm::SaveFileHook = nullptr;
        LevelsView::TearDown();
    }
    QList<QByteArray> LogLines()
    {
        QFile file(folder.filePath("log/levels.csv"));
        if (!file.open(QIODevice::ReadOnly))
            return {};
        QList<QByteArray> lines = file.readAll().split('\n');
        if (!lines.isEmpty() && lines.back().isEmpty())
            lines.pop_back();
        return lines;
    }
    QTemporaryDir folder;
};

TEST_F(LevelsLog, WritesALineASecondOfTheLevelsFed)
{
    FeedSines(5, 1000.0, -20.0, -26.0); // the tones run before the log begins
    FormLevels->BtnLogClick();
    ASSERT_TRUE(FormLevels->Logging());
    EXPECT_EQ(FormLevels->BtnLog->text(), "Stop Log");
    FeedSines(100, 1000.0, -20.0, -26.0); // 10 s
    FormLevels->TimerLogTimer();
    FormLevels->BtnLogClick();
    EXPECT_FALSE(FormLevels->Logging());
    EXPECT_TRUE(app->messages.empty());

    const QList<QByteArray> lines = LogLines();
    ASSERT_EQ(lines.size(), 11) << "a header and ten seconds";
    EXPECT_TRUE(lines[0].contains("LAeq left (dBFS)")) << lines[0].toStdString();
    const double loudness = LoudnessOfSines(-20.0, -26.0);
    for (int second = 1; second <= 10; ++second) {
        SCOPED_TRACE(second);
        const QList<QByteArray> fields = lines[second].split(',');
        ASSERT_EQ(fields.size(), 9) << lines[second].toStdString();
        EXPECT_TRUE(QDateTime::fromString(QString(fields[0]), Qt::ISODate).isValid()) << fields[0].toStdString();
        // A and C are 0 dB at 1 kHz: the tones' own levels, from the first
        // second on (the filters do not start afresh on a running tone).
        const double tolerance = 0.1;
        EXPECT_NEAR(fields[1].toDouble(), -20.0, tolerance); // LAeq
        EXPECT_NEAR(fields[2].toDouble(), -26.0, tolerance);
        EXPECT_NEAR(fields[3].toDouble(), -20.0, tolerance); // LAFmax
        EXPECT_NEAR(fields[4].toDouble(), -26.0, tolerance);
        EXPECT_NEAR(fields[5].toDouble(), -20.0, tolerance); // LCpeak
        EXPECT_NEAR(fields[6].toDouble(), -26.0, tolerance);
        EXPECT_NEAR(fields[7].toDouble(), loudness, 0.1); // momentary
        if (second >= 3) {
            EXPECT_NEAR(fields[8].toDouble(), loudness, 0.1); // short-term, once there are 3 s
        }
    }
}

TEST_F(LevelsLog, AVanishedFolderOrADeviceChangeStopsItWithAMessage)
{
    FormLevels->BtnLogClick();
    FeedSines(20, 1000.0, -20.0, -20.0);
    FormLevels->TimerLogTimer();
    ASSERT_EQ(LogLines().size(), 3);
    const QByteArray kept = [&] {
        QFile file(folder.filePath("log/levels.csv"));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }();
    ASSERT_TRUE(QDir(folder.filePath("log")).rename(folder.filePath("log"), folder.filePath("moved")));
    FeedSines(10, 1000.0, -20.0, -20.0);
    FormLevels->TimerLogTimer();
    EXPECT_FALSE(FormLevels->Logging());
    ASSERT_EQ(app->messages.size(), 1u);
    EXPECT_TRUE(QString::fromStdString(app->messages[0]).contains("stopped")) << app->messages[0];
    QFile moved(folder.filePath("moved/levels.csv"));
    ASSERT_TRUE(moved.open(QIODevice::ReadOnly));
    EXPECT_EQ(moved.readAll(), kept) << "what was written is kept";

    ASSERT_TRUE(QDir(folder.path()).mkdir("log"));
    FormLevels->BtnLogClick();
    ASSERT_TRUE(FormLevels->Logging());
    ASSERT_TRUE(ChooseSource("Test Speakers"));
    FormLevels->TimerLogTimer();
    EXPECT_FALSE(FormLevels->Logging());
    ASSERT_EQ(app->messages.size(), 2u);
    EXPECT_TRUE(QString::fromStdString(app->messages[1]).contains("device changed")) << app->messages[1];
}

// Calibration: a calibrator's tone measured on a device sets its offset,
// which stays with that device alone; typed levels; refusals.
class LevelsCalibration : public LevelsView {
protected:
    void SetUp() override
    {
        LevelsView::SetUp();
        ASSERT_GT(app->TicksUntilStarted(), 0);
        ASSERT_EQ(DeviceName, "Test Microphone");
        ShowLevels();
        FormLevels->BtnCalibrateClick();
        ASSERT_NE(FormLevels->FormCalibrate, nullptr);
        dialog = FormLevels->FormCalibrate;
    }
    // Measures what FeedSines feeds on the left as a calibrator of `reference` dB SPL.
    void Measure(const QString& reference, double leftDbfs)
    {
        dialog->ComboReference->setCurrentText(reference);
        dialog->ComboChannel->setCurrentIndex(0);
        dialog->BtnMeasureClick();
        FeedSines(31, 1000.0, leftDbfs, -60.0); // 3.1 s
        dialog->TimerMeasureTimer();
    }
    TFormCalibrate* dialog = nullptr;
};

TEST_F(LevelsCalibration, ACalibratorToneSetsTheOffsetOfItsDeviceAlone)
{
    EXPECT_FALSE(FormLevels->DeviceCalibration());
    Measure("94.0", -20.0);
    ASSERT_TRUE(app->messages.empty()) << app->messages.front();
    const levelsview::Calibration offset = FormLevels->DeviceCalibration();
    ASSERT_TRUE(offset);
    EXPECT_NEAR(*offset, 114.0, 0.05) << "-20 dBFS stands for 94 dB SPL";

    // The same tone reads 94.0 dB SPL from now on, in the panel too.
    FeedSines(60, 1000.0, -20.0, -60.0);
    Render();
    EXPECT_NEAR(levelsview::RmsShown(Channel(0).slowDb, FormLevels->Readings().calibration), 94.0, 0.05);
    EXPECT_EQ(Lines()[6].number, "94.0");
    EXPECT_EQ(Lines()[6].unit, "dB SPL");
    EXPECT_EQ(FormLevels->LabCalibration->text(), "0 dBFS = 114.0 dB SPL");

    // Stored for the device by its name: another device reads dBFS, and a
    // window made afresh (a restart) finds it again.
    EXPECT_EQ(platform::LoadCalibration("Test Microphone").offsetDb, offset);
    ASSERT_TRUE(ChooseSource("Test Speakers"));
    EXPECT_FALSE(FormLevels->DeviceCalibration());
    Render();
    EXPECT_EQ(Lines()[6].unit, "dBFS");
    ASSERT_TRUE(ChooseSource("Test Microphone"));
    delete FormLevels;
    FormLevels = new TFormLevels;
    EXPECT_EQ(FormLevels->DeviceCalibration(), offset);
}

TEST_F(LevelsCalibration, TypedLevelsSetOrRemoveIt)
{
    dialog->EditFullScale->setText("120,5");
    dialog->BtnSetClick();
    EXPECT_EQ(FormLevels->DeviceCalibration(), 120.5);
    FeedSines(10, 1000.0, -20.0, -20.0);
    Render();
    EXPECT_EQ(Lines()[4].unit, "dB SPL");
    EXPECT_EQ(Lines()[0].unit, "dBFS") << "the sample peak tells the headroom";

    dialog->EditFullScale->setText("loud");
    dialog->BtnSetClick();
    ASSERT_EQ(app->messages.size(), 1u);
    EXPECT_EQ(FormLevels->DeviceCalibration(), 120.5) << "nothing changed";

    dialog->BtnRemoveClick();
    EXPECT_FALSE(FormLevels->DeviceCalibration());
    EXPECT_FALSE(platform::LoadCalibration("Test Microphone").offsetDb);
}

TEST_F(LevelsCalibration, AMicrophoneFileIsChosenForItsDeviceAndABadOneChangesNothing)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const auto write = [&](const char* name, const char* text) {
        QFile file(folder.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
        return folder.filePath(name);
    };
    const QString good = write("mic.txt", "* serial 1234\nFreq(Hz) SPL(dB)\n20 -1.0\n1000 3.0\n20000 0.5\n");
    const QString bad = write("bad.txt", "100 1.0\n50 2.0\n");
    TFormCalibrate::OpenFileHook = [&] { return good; };
    dialog->BtnLoadMicClick();
    EXPECT_TRUE(app->messages.empty());
    EXPECT_EQ(FormLevels->MicFile(), good.toStdString());
    EXPECT_EQ(FormLevels->MicResponse().DbAt(1000.0), 3.0);
    EXPECT_EQ(platform::LoadCalibration("Test Microphone").micFile, good.toStdString());
    EXPECT_EQ(dialog->LabMic->text(), "Microphone: mic.txt");

    TFormCalibrate::OpenFileHook = [&] { return bad; };
    dialog->BtnLoadMicClick();
    ASSERT_EQ(app->messages.size(), 1u);
    EXPECT_NE(app->messages[0].find("line 2"), std::string::npos) << app->messages[0];
    EXPECT_EQ(FormLevels->MicFile(), good.toStdString()) << "nothing changed";
    EXPECT_EQ(platform::LoadCalibration("Test Microphone").micFile, good.toStdString());

    ASSERT_TRUE(ChooseSource("Test Speakers"));
    EXPECT_EQ(FormLevels->MicFile(), "") << "another device has none";
    ASSERT_TRUE(ChooseSource("Test Microphone"));
    EXPECT_EQ(FormLevels->MicFile(), good.toStdString());
    dialog->BtnNoMicClick();
    EXPECT_EQ(FormLevels->MicFile(), "");
    EXPECT_TRUE(FormLevels->MicResponse().Empty());
    EXPECT_EQ(platform::LoadCalibration("Test Microphone").micFile, "");
    TFormCalibrate::OpenFileHook = nullptr;
}

TEST_F(LevelsCalibration, TheOctaveBandsAxisReadsDbSplOnlyWhenChosen)
{
    FormBands->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(FormBands));
    FormBands->resize(700, 360);
    QCoreApplication::processEvents();
    FormBands->DrawBandsFrame();
    const QImage before = FormBands->Canvas().copy();

    dialog->EditFullScale->setText("114");
    dialog->BtnSetClick();
    FormBands->DrawBandsFrame();
    EXPECT_FALSE(FormBands->SplOffset()) << "not chosen";
    EXPECT_EQ(FormBands->Canvas(), before) << "the same pixels as uncalibrated";

    FormBands->CheckSpl->setChecked(true);
    EXPECT_TRUE(BandsSpl);
    EXPECT_EQ(FormBands->SplOffset(), 114.0);
    EXPECT_NE(FormBands->Canvas(), before) << "the axis is labelled in dB SPL";

    ASSERT_TRUE(ChooseSource("Test Speakers"));
    EXPECT_FALSE(FormBands->SplOffset()) << "the loopback is not calibrated";
    FormBands->CheckSpl->setChecked(false);
    FormBands->close();
}

TEST_F(LevelsCalibration, AMicrophoneFileOfPlusThreeDecibelsAtOneKilohertzLowersTheReadingsBy3Db)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    QFile file(folder.filePath("flat3.txt"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("20 3.0\n1000 3.0\n20000 3.0\n");
    file.close();
    FormBands->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(FormBands));
    FeedSines(20, 1000.0, -20.0, -20.0);
    FormBands->PanelBands->grabFramebuffer();
    const double before = FormBands->Reading().levelDb[0][16]; // 1/3 octave, 1 kHz

    TFormCalibrate::OpenFileHook = [&] { return file.fileName(); };
    dialog->BtnLoadMicClick();
    TFormCalibrate::OpenFileHook = nullptr;
    ASSERT_TRUE(app->messages.empty()) << app->messages.front();
    FormBands->PanelBands->grabFramebuffer();
    EXPECT_NEAR(FormBands->Reading().levelDb[0][16], before - 3.0, 0.05);

    // The weighted levels of the levels window come down as much.
    FormLevels->BtnResetClick();
    FeedSines(60, 1000.0, -20.0, -20.0);
    Render();
    for (int channel = 0; channel < 2; ++channel) {
        EXPECT_NEAR(Channel(channel).fastDb, -23.0, 0.05) << channel;
        EXPECT_NEAR(Channel(channel).slowDb, -23.0, 0.05) << channel;
        EXPECT_NEAR(Channel(channel).leqDb, -23.0, 0.05) << channel;
        EXPECT_NEAR(Channel(channel).samplePeakMaxDb, -20.0, 0.05) << "the peak is what the converter saw";
    }

    dialog->BtnNoMicClick();
    FormBands->PanelBands->grabFramebuffer();
    EXPECT_NEAR(FormBands->Reading().levelDb[0][16], before, 0.05);
    Render();
    EXPECT_NEAR(Channel(0).slowDb, -20.0, 0.05);
    FormBands->close();
}

// The level log takes the microphone out of its A-weighted levels as the
// window does: a file +3 dB from 700 Hz to 1.4 kHz (0 dB well away from
// there) lowers a 1 kHz tone's LAeq and LAFmax by 3 dB; LCpeak, a peak,
// stays what the converter saw.
TEST_F(LevelsCalibration, TheLevelLogIsCorrectedForTheMicrophoneFile)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    QFile file(folder.filePath("plateau.txt"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("Freq(Hz) dB\n20 0\n400 0\n700 3.0\n1400 3.0\n2500 0\n20000 0\n");
    file.close();
    TFormCalibrate::OpenFileHook = [&] { return file.fileName(); };
    dialog->BtnLoadMicClick();
    TFormCalibrate::OpenFileHook = nullptr;
    ASSERT_TRUE(app->messages.empty()) << app->messages.front();
    ASSERT_EQ(FormLevels->MicResponse().DbAt(1000.0), 3.0);

    FeedSines(5, 1000.0, -20.0, -26.0); // the tones run before the log begins
    TViewForm::SaveFileHook = [&](const QString&) { return folder.filePath("levels.csv"); };
    FormLevels->BtnLogClick();
    TViewForm::SaveFileHook = nullptr;
    ASSERT_TRUE(FormLevels->Logging());
    FeedSines(50, 1000.0, -20.0, -26.0); // 5 s
    FormLevels->TimerLogTimer();
    FormLevels->BtnLogClick();
    EXPECT_TRUE(app->messages.empty());

    QFile log(folder.filePath("levels.csv"));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    QList<QByteArray> lines = log.readAll().split('\n');
    if (!lines.isEmpty() && lines.back().isEmpty())
        lines.pop_back();
    ASSERT_EQ(lines.size(), 6) << "a header and five seconds";
    for (int second = 1; second <= 5; ++second) {
        SCOPED_TRACE(second);
        const QList<QByteArray> fields = lines[second].split(',');
        ASSERT_EQ(fields.size(), 9) << lines[second].toStdString();
        EXPECT_NEAR(fields[1].toDouble(), -23.0, 0.05); // LAeq
        EXPECT_NEAR(fields[2].toDouble(), -29.0, 0.05);
        EXPECT_NEAR(fields[3].toDouble(), -23.0, 0.05); // LAFmax
        EXPECT_NEAR(fields[4].toDouble(), -29.0, 0.05);
        EXPECT_NEAR(fields[5].toDouble(), -20.0, 0.1); // LCpeak
        EXPECT_NEAR(fields[6].toDouble(), -26.0, 0.1);
    }
}

TEST_F(LevelsCalibration, SilentClippedOrUnnamedTonesAreRefusedAndChangeNothing)
{
    dialog->EditFullScale->setText("110");
    dialog->BtnSetClick();
    Measure("94.0", -300.0); // silence
    ASSERT_EQ(app->messages.size(), 1u);
    Measure("94.0", 3.0); // cut at full scale
    ASSERT_EQ(app->messages.size(), 2u);
    Measure("ninety-four", -20.0);
    ASSERT_EQ(app->messages.size(), 3u);
    EXPECT_EQ(FormLevels->DeviceCalibration(), 110.0);
    EXPECT_TRUE(dialog->BtnMeasure->isEnabled());

    // A device change in the middle drops what was collected.
    dialog->ComboReference->setCurrentText("94.0");
    dialog->BtnMeasureClick();
    FeedSines(10, 1000.0, -20.0, -20.0);
    ASSERT_TRUE(ChooseSource("Test Speakers"));
    dialog->TimerMeasureTimer();
    EXPECT_TRUE(dialog->BtnMeasure->isEnabled());
    EXPECT_TRUE(dialog->LabProgress->text().contains("device changed")) << dialog->LabProgress->text().toStdString();
    EXPECT_EQ(app->messages.size(), 3u) << app->messages.back();

    // So does closing the levels window, which measures nothing closed.
    dialog->BtnMeasureClick();
    FormLevels->close();
    dialog->TimerMeasureTimer();
    EXPECT_TRUE(dialog->BtnMeasure->isEnabled());
    EXPECT_FALSE(FormLevels->CalibratorCaptureSeconds());
}

} // namespace
