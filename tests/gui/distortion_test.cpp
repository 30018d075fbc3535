// The distortion window on Mesa under Xvfb, fed through the block path with
// tones whose harmonics the test makes itself: it draws in both schemes with
// the markers at the harmonics' columns, exports readings whose THD is the
// one the test computes from those harmonics, says "No test tone found" on
// silence and noise and "clipped" on a clipped tone, keeps its choices and
// geometry in the settings, and its test tone takes the generator's engine
// over while it plays and hands it back as it was.
#include "common/app_support.h"

#include "app/main.h"
#include "app/main_ticks.h"
#include "app/settings.h"
#include "generator/Generator.h"
#include "meters/DistortionForm.h"
#include "meters/distortionresult.h"
#include "platform/calibrations.h"
#include "platform/wavedev.h"
#include "playback/WaveOut.h"
#include "state/global.h"
#include "views/plotsurface.h"

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
#include <random>
#include <vector>

namespace {

// A partial of the test signal: harmonic `order` of the fundamental at
// `amplitude` (sample units).
struct Partial {
    int order;
    double amplitude;
};

// Feeds `blocks` blocks through the block path, both channels the same
// signal (values cut to 16 bits as a converter does).
void FeedBlocks(int blocks, const std::function<double(long n)>& value)
{
    static long n = 0;
    const int frames = BlockLen;
    std::vector<uint8_t> bytes(4 * frames);
    for (int b = 0; b < blocks; ++b) {
        for (int f = 0; f < frames; ++f, ++n) {
            const long sample = std::clamp(std::lround(value(n)), -32768L, 32767L);
            const auto v = static_cast<uint16_t>(static_cast<int16_t>(sample));
            for (int channel = 0; channel < 2; ++channel) {
                bytes[4 * f + 2 * channel] = static_cast<uint8_t>(v & 0xFF);
                bytes[4 * f + 2 * channel + 1] = static_cast<uint8_t>(v >> 8);
            }
        }
        const CapturedBlock block{bytes.data(), static_cast<uint32_t>(bytes.size())};
        std::lock_guard<std::mutex> guard(DataLock);
        AcceptBlocks(&block, 1);
    }
}

void FeedTone(int blocks, double hz, const std::vector<Partial>& partials)
{
    FeedBlocks(blocks, [&](long n) {
        double value = 0.0;
        for (const Partial& partial : partials)
            value += partial.amplitude *
                     std::sin(2.0 * std::numbers::pi * hz * partial.order * n / 44100.0 + 0.3 * partial.order);
        return value;
    });
}

// IEC 60268-3's THD of the partials: the harmonics' RMS sum over the
// fundamental, in per cent.
double ThdPercent(const std::vector<Partial>& partials)
{
    double sum = 0.0, fundamental = 0.0;
    for (const Partial& partial : partials)
        (partial.order == 1 ? fundamental : sum) += partial.order == 1 ? partial.amplitude
                                                                       : partial.amplitude * partial.amplitude;
    return 100.0 * std::sqrt(sum) / fundamental;
}

// 1 kHz at -20 dBFS with its 2nd harmonic 60 dB and its 3rd 66 dB below it.
const double Fundamental = 32767.0 * 0.1;
const std::vector<Partial> KnownTone = {{1, Fundamental}, {2, Fundamental * 1e-3}, {3, Fundamental * 0.5e-3}};
// The ring filled once over: 40 blocks of 4410 frames.
constexpr int FillingBlocks = 40;

class DistortionView : public ::testing::Test {
protected:
    void SetUp() override
    {
        server = InstallMicAndSpeakers(platform::Silence());
        app = std::make_unique<AppHarness>(true);
    }
    void TearDown() override
    {
        TViewForm::SaveFileHook = nullptr;
        app.reset();
        platform::ResetServer();
    }
    void ShowDistortion()
    {
        FormDistortion->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(FormDistortion));
        FormDistortion->resize(900, 600);
        QCoreApplication::processEvents();
        FormDistortion->TimerAnalyse->stop(); // the test analyses when it has fed
    }
    QImage Render() { return FormDistortion->PanelDistortion->grabFramebuffer().convertToFormat(QImage::Format_RGB32); }
    const measure::DistortionReading& Reading(std::size_t i = 0) { return FormDistortion->Results().at(i).reading; }
    std::vector<QList<QByteArray>> CsvRows()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("d.csv");
        EXPECT_EQ(FormDistortion->SaveCsv(path), "");
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        std::vector<QList<QByteArray>> rows;
        for (const QByteArray& line : file.readAll().split('\n'))
            if (!line.isEmpty())
                rows.push_back(line.split(','));
        return rows;
    }

    platform::InProcessServer* server = nullptr;
    std::unique_ptr<AppHarness> app;
};

TEST_F(DistortionView, ReadsKnownHarmonicsMarksThemAndExportsThem)
{
    ShowDistortion();
    FeedTone(FillingBlocks, 1000.0, KnownTone);
    ASSERT_TRUE(FormDistortion->Analyse());
    EXPECT_FALSE(FormDistortion->Analyse()) << "nothing new since";
    const measure::DistortionReading& reading = Reading();
    ASSERT_TRUE(reading.toneFound);
    EXPECT_FALSE(reading.clipped);
    EXPECT_NEAR(reading.fundamentalHz, 1000.0, 0.01);
    EXPECT_NEAR(reading.fundamentalDbfs, 20.0 * std::log10(0.1), 0.05);
    EXPECT_NEAR(reading.thdPercent, ThdPercent(KnownTone), 0.02 * ThdPercent(KnownTone));

    for (bool light : {false, true}) {
        SCOPED_TRACE(light ? "light" : "dark");
        LightBackground = light;
        ApplyColorScheme();
        FormDistortion->DrawDistortionFrame();
        const QImage picture = Render();
        FormDistortion->grab().save(light ? "/tmp/distwin_light.png" : "/tmp/distwin_dark.png");
        const PlotRgba clearRgba = SchemeClearColor(light);
        const QColor clear(QColor::fromRgbF(clearRgba.r, clearRgba.g, clearRgba.b).rgb());
        EXPECT_EQ(QColor(picture.pixel(picture.width() - 2, picture.height() - 2)), clear);
        const QColor left(SchemeR[ColorLeft], SchemeG[ColorLeft], SchemeB[ColorLeft]);
        int traced = 0;
        for (int y = 0; y < picture.height(); ++y)
            for (int x = 0; x < picture.width(); ++x)
                traced += QColor(picture.pixel(x, y)) == left;
        EXPECT_GT(traced, 500) << "the spectrum and the residual in the left channel's colour";

        // Each marker is a (dashed) line at its harmonic's column, by the
        // log formula, standing apart from the clear columns beside it
        // between its label and the -20 dB grid line.
        const distortionview::Box box = FormDistortion->Places(0).spectrum;
        const int firstRow = box.top + 15, lastRow = box.top + (box.height - 1) * 20 / 160 - 2;
        ASSERT_GT(lastRow - firstRow, 10);
        const auto drawn = [&](int column) {
            int count = 0;
            for (int y = firstRow; y <= lastRow; ++y)
                count += QColor(picture.pixel(column, y)) != clear;
            return count;
        };
        for (int order = 1; order <= 10; ++order) {
            SCOPED_TRACE(order);
            const double x = box.left + (box.width - 1) * std::log10(1000.0 * order / 20.0) / 3.0;
            const int column = static_cast<int>(std::lround(x));
            EXPECT_GT(drawn(column), (lastRow - firstRow) / 3);
            EXPECT_EQ(drawn(column - 3), 0);
            EXPECT_EQ(drawn(column + 3), 0);
        }
    }

    // The CSV: a header, the fundamental, H2 ... H10 below 20 kHz, THD,
    // THD+N, SINAD, SNR and the noise floor.
    const std::vector<QList<QByteArray>> rows = CsvRows();
    ASSERT_EQ(rows.size(), 1u + 1u + 9u + 5u);
    EXPECT_EQ(rows[0].join(','), "channel,reading,frequency_hz,level,level_unit,relative_db,percent,status");
    const auto number = [](const QByteArray& field) {
        bool ok = false;
        const double value = field.toDouble(&ok);
        EXPECT_TRUE(ok) << field.toStdString();
        return value;
    };
    EXPECT_NEAR(number(rows[1][2]), 1000.0, 0.01);
    EXPECT_EQ(rows[2][1], "H2");
    EXPECT_NEAR(number(rows[2][5]), -60.0, 0.2);
    EXPECT_NEAR(number(rows[3][5]), 20.0 * std::log10(0.5e-3), 0.2);
    EXPECT_EQ(rows[11][1], "THD");
    EXPECT_NEAR(number(rows[11][6]), ThdPercent(KnownTone), 0.02 * ThdPercent(KnownTone));
    EXPECT_NEAR(number(rows[11][5]), 20.0 * std::log10(ThdPercent(KnownTone) / 100.0), 0.2);
    for (const auto& row : rows)
        EXPECT_EQ(row.size(), 8);
}

TEST_F(DistortionView, ACalibrationChangedForTheSameDeviceIsReadAgain)
{
    DeviceName = "Test Microphone";
    ShowDistortion(); // reads the device as not calibrated
    ASSERT_EQ(platform::SaveCalibration(DeviceName, {114.0, ""}), "");
    FormDistortion->FollowCalibration();
    EXPECT_EQ(FormDistortion->DeviceCalibration(), std::optional<double>(114.0));
    ASSERT_EQ(platform::SaveCalibration(DeviceName, {100.0, ""}), "");
    FormDistortion->FollowCalibration();
    EXPECT_EQ(FormDistortion->DeviceCalibration(), std::optional<double>(100.0));
    ASSERT_EQ(platform::SaveCalibration(DeviceName, {std::nullopt, ""}), "");
    FormDistortion->FollowCalibration();
    EXPECT_EQ(FormDistortion->DeviceCalibration(), std::nullopt);
    DeviceName.clear();
}

TEST_F(DistortionView, SaysNoToneOnSilenceAndNoiseAndClippedOnAClippedTone)
{
    ShowDistortion();
    FeedBlocks(FillingBlocks, [](long) { return 0.0; });
    ASSERT_TRUE(FormDistortion->Analyse());
    EXPECT_FALSE(Reading().toneFound);
    std::minstd_rand noise(7);
    std::normal_distribution<double> gauss(0.0, 3000.0);
    FeedBlocks(FillingBlocks, [&](long) { return gauss(noise); });
    ASSERT_TRUE(FormDistortion->Analyse());
    EXPECT_FALSE(Reading().toneFound) << "white noise has no tone";
    std::vector<QList<QByteArray>> rows = CsvRows();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1][7], "no test tone found");
    EXPECT_TRUE(Render() != QImage()); // drawn without numbers

    // A sine driven 6 dB past full scale: its tops are cut flat.
    FeedTone(FillingBlocks, 997.0, {{1, 2.0 * 32767.0}});
    ASSERT_TRUE(FormDistortion->Analyse());
    EXPECT_TRUE(Reading().toneFound);
    EXPECT_TRUE(Reading().clipped);
    for (const std::string& line : distortionview::ReadingLines(Reading(), std::nullopt))
        EXPECT_NE(line.find("clipped"), std::string::npos) << line;
    rows = CsvRows();
    ASSERT_GT(rows.size(), 2u);
    for (std::size_t i = 1; i < rows.size(); ++i)
        EXPECT_TRUE(rows[i][7].contains("clipped")) << rows[i].join(',').toStdString();

    // Closed and opened again: nothing heard before counts, so a second
    // of new samples is not enough for a transform.
    FormDistortion->close();
    ShowDistortion();
    FeedTone(10, 997.0, {{1, 1000.0}});
    EXPECT_FALSE(FormDistortion->Analyse()) << "the ring starts empty";
}

TEST_F(DistortionView, ShowsBothChannelsAndStartsTheAverageAgainOnANewSize)
{
    ShowDistortion();
    FormDistortion->ComboAverage->setCurrentIndex(2); // 4
    FormDistortion->ComboChannel->setCurrentIndex(2); // both
    for (int i = 0; i < 3; ++i) {
        FeedTone(5, 1000.0, KnownTone);
        if (i == 0)
            FeedTone(FillingBlocks, 1000.0, KnownTone);
        ASSERT_TRUE(FormDistortion->Analyse());
    }
    ASSERT_EQ(FormDistortion->Results().size(), 2u);
    EXPECT_EQ(FormDistortion->Results()[1].channel, 1);
    EXPECT_EQ(FormDistortion->LabAverage->text(), "averaged 3 of 4");
    EXPECT_NEAR(Reading(1).thdPercent, ThdPercent(KnownTone), 0.02 * ThdPercent(KnownTone));
    FormDistortion->ComboSize->setCurrentIndex(0);
    EXPECT_EQ(DistortionSize, 16384);
    EXPECT_EQ(FormDistortion->LabAverage->text(), "averaged 1 of 4") << "analysed at once, afresh";
    // A tone that jumps starts the average again too.
    FeedTone(FillingBlocks, 3000.0, KnownTone);
    ASSERT_TRUE(FormDistortion->Analyse());
    EXPECT_EQ(FormDistortion->LabAverage->text(), "averaged 1 of 4");
    EXPECT_NEAR(Reading().fundamentalHz, 3000.0, 0.05);
}

TEST_F(DistortionView, OpensFromTheMenuAndKeepsItsChoicesAndGeometryInTheSettings)
{
    EXPECT_FALSE(FormDistortion->isVisible()) << "closed until opened";
    FormMain->menuDistortionClick();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(FormDistortion));
    EXPECT_TRUE(DistortionShow);
    FormDistortion->ComboChannel->setCurrentIndex(1);
    FormDistortion->ComboSize->setCurrentIndex(2);
    FormDistortion->ComboAverage->setCurrentIndex(3);
    FormDistortion->EditToneHz->setValue(1234.5);
    FormDistortion->EditToneDbfs->setValue(-12.0);
    FormDistortion->SetOuterGeometry(100, 120, 760, 520);
    QCoreApplication::processEvents();
    FormDistortion->KeepGeometry();
    const QRect kept(DistortionX, DistortionY, DistortionW, DistortionH);
    ASSERT_EQ(WriteSettings(), "");
    DistortionChannel = 0, DistortionSize = 65536, DistortionAverage = 1, DistortionShow = false;
    DistortionToneHz = 997.0f, DistortionToneDbfs = -6.0f, DistortionX = DistortionY = 0;
    RegistryRead();
    EXPECT_EQ(QRect(DistortionX, DistortionY, DistortionW, DistortionH), kept);
    EXPECT_TRUE(DistortionShow);
    // A window made from what was read shows the same choices.
    TFormDistortion again;
    EXPECT_EQ(again.ComboChannel->currentText(), "Right");
    EXPECT_EQ(again.ComboSize->currentText(), "131072");
    EXPECT_EQ(again.ComboAverage->currentText(), "8");
    EXPECT_DOUBLE_EQ(again.EditToneHz->value(), 1234.5);
    EXPECT_DOUBLE_EQ(again.EditToneDbfs->value(), -12.0);
}

TEST_F(DistortionView, TheToneTakesTheGeneratorOverAndHandsItBack)
{
    ASSERT_GT(app->TicksUntilStarted(), 0);
    // The generator plays its own two sines on the speakers.
    FGenerator->show();
    QCoreApplication::processEvents();
    FGenerator->LabEditFr1->setText("440");
    FGenerator->LabEditFr2->setText("660");
    FGenerator->BtnWOutOpenClick();
    ASSERT_TRUE(WaveOutIsOpen);
    ShowDistortion();
    FormDistortion->EditToneHz->setValue(1500.0);
    FormDistortion->EditToneDbfs->setValue(-20.0);
    ASSERT_EQ(FormDistortion->StartTone(), "");
    EXPECT_TRUE(FormDistortion->TonePlaying());
    EXPECT_TRUE(WaveOutIsOpen);
    EXPECT_TRUE(GenTestTone);
    EXPECT_FLOAT_EQ(ToneFreq, 1500.0f);
    EXPECT_NEAR(ToneAmplitude, 32767.0 * 0.1, 0.5);
    EXPECT_EQ(FormDistortion->BtnPlay->text(), "Stop");
    EXPECT_TRUE(FGenerator->Held());
    EXPECT_TRUE(FGenerator->LabInUse->isVisible());
    EXPECT_EQ(FGenerator->LabInUse->text(), "In use by the Distortion Analyzer");
    EXPECT_FALSE(FGenerator->BtnWOutOpen->isEnabled());
    EXPECT_FALSE(FGenerator->LabEditFr1->isEnabled());
    EXPECT_FALSE(FGenerator->CmbBoxAOut->isEnabled());
    FGenerator->close(); // closing the generator leaves the tone alone
    QCoreApplication::processEvents();
    EXPECT_TRUE(WaveOutIsOpen);
    FGenerator->show();
    QCoreApplication::processEvents();

    FormDistortion->StopTone();
    EXPECT_FALSE(GenTestTone);
    EXPECT_FALSE(FGenerator->Held());
    EXPECT_FALSE(FGenerator->LabInUse->isVisible());
    EXPECT_TRUE(FGenerator->BtnWOutOpen->isEnabled());
    EXPECT_EQ(FreqLeft.load(), 440.0f);
    EXPECT_EQ(FreqRight.load(), 660.0f);
    EXPECT_TRUE(GenSine && GenPlaying && !GenNoise && !GenPink);
    FormDistortion->close(); // no tone to stop: the generator keeps playing
    QCoreApplication::processEvents();
    EXPECT_TRUE(WaveOutIsOpen) << "the generator plays again, as before the tone";
    EXPECT_EQ(FGenerator->BtnWOutOpen->text(), "Close");
    EXPECT_TRUE(app->messages.empty());
}

TEST_F(DistortionView, AVanishedPlaybackDeviceOrAClosedWindowStopsTheTone)
{
    ASSERT_GT(app->TicksUntilStarted(), 0);
    ShowDistortion();
    ASSERT_EQ(FormDistortion->StartTone(), "");
    ASSERT_TRUE(WaveOutIsOpen);
    server->addSink("other_speakers", "Other Speakers");
    ASSERT_TRUE(WaitFor([] { return !FormDistortion->TonePlaying(); }, 3000));
    EXPECT_FALSE(WaveOutIsOpen);
    EXPECT_FALSE(GenTestTone);
    ASSERT_EQ(app->messages.size(), 1u);
    EXPECT_EQ(app->messages[0], OutputDevicesChangedMessage);
    EXPECT_EQ(FormDistortion->ComboDevice->count(), 2) << "the list as it is now";
    QTest::qWait(300);
    EXPECT_EQ(app->messages.size(), 1u) << "said once, not by the generator too";

    ASSERT_EQ(FormDistortion->StartTone(), "");
    FormDistortion->close();
    QCoreApplication::processEvents();
    EXPECT_FALSE(FormDistortion->TonePlaying());
    EXPECT_FALSE(WaveOutIsOpen);
    EXPECT_FALSE(GenTestTone);
}

} // namespace
