// The spectrum window on a calibrated recording device: with "dB SPL when
// calibrated" checked the level axis, the readout and the peak line read
// sound pressure level (dBFS + the device's offset); the device's microphone
// response file comes off what the window shows, reads and exports. Tones
// go through the block path as captured ones do; the right levels follow
// from their amplitudes.
#include "common/app_support.h"

#include "analysis/SpectGraph.h"
#include "analysis/spectrum.h"
#include "app/main.h"
#include "app/main_ticks.h"
#include "platform/calibrations.h"
#include "state/global.h"
#include "support/inprocess_server.h"
#include "views/SpectForm.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>
#include <mutex>
#include <numbers>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr double BinHz = 44100.0 / FftSize;
constexpr int ToneBin = 93;              // 1001.3 Hz
constexpr double ToneAmplitude = 3276.7; // -20 dB against full scale (32767)
constexpr const char* Device = "Test Microphone";

class SpectrumSpl : public ::testing::Test {
protected:
    void SetUp() override
    {
        InstallMicAndSpeakers(platform::Sine(1000, 32767, 1000, 0));
        app = std::make_unique<AppHarness>(true);
        ShowLeft = ShowRight = true;
        SpectIsLn = true;
        WindowFunction = 0; // a bin-centred tone reads its amplitude exactly
        // The device the main window names; nothing is captured from it, so
        // only the blocks fed here reach the spectrum.
        DeviceName = Device;
        FormSpect->FormCreate();
        FormSpect->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(FormSpect));
        FormSpect->resize(1400, 456); // pixel columns narrower than a bin at 1 kHz
        QCoreApplication::processEvents();
        FormSpect->DrawSpectFrame();
    }
    void TearDown() override
    {
        SpectShowPeak = false;
        app.reset();
        platform::ResetServer();
        WindowFunction = 1;
        DeviceName.clear();
    }

    // Blocks of a left tone at bin ToneBin, silence on the right.
    void FeedTone(int blocks)
    {
        std::vector<uint8_t> bytes(4 * 4410);
        for (int b = 0; b < blocks; ++b) {
            for (int f = 0; f < 4410; ++f, ++frame) {
                const auto v = static_cast<int16_t>(
                    std::lround(ToneAmplitude * std::sin(2 * std::numbers::pi * ToneBin * BinHz * frame / 44100.0)));
                bytes[4 * f] = static_cast<uint8_t>(v & 0xFF);
                bytes[4 * f + 1] = static_cast<uint8_t>((v >> 8) & 0xFF);
                bytes[4 * f + 2] = bytes[4 * f + 3] = 0;
            }
            const CapturedBlock block{bytes.data(), static_cast<uint32_t>(bytes.size())};
            std::lock_guard<std::mutex> guard(DataLock);
            AcceptBlocks(&block, 1);
        }
    }
    void Calibrate(std::optional<double> offsetDb, const std::string& micFile = "")
    {
        ASSERT_EQ(platform::SaveCalibration(Device, {offsetDb, micFile}), "");
        FormSpect->DrawSpectFrame();
    }
    // Renders the plot and gives the readout with the pointer on the
    // column whose frequency lies nearest to the tone's bin.
    std::string ReadoutAtTone()
    {
        FormSpect->PanelSpec->grabFramebuffer();
        const int width = FormSpect->PanelSpec->width();
        const int guess = static_cast<int>(std::floor((SpectLogX(ToneBin * BinHz) + 1) / 2 * width));
        std::string best;
        double bestMiss = BinHz;
        for (int column = guess - 3; column <= guess + 3; ++column) {
            const std::string text = FormSpect->ReadoutText(QPoint(column, 10)).toStdString();
            const double miss = std::abs(std::stod(text) - ToneBin * BinHz);
            if (miss < bestMiss)
                best = text, bestMiss = miss;
        }
        return best;
    }
    // The number after `prefix` in `text`, and the word after that number.
    static std::pair<double, std::string> NumberAfter(const std::string& text, const std::string& prefix)
    {
        const size_t at = text.find(prefix);
        if (at == std::string::npos)
            return {NAN, ""};
        size_t end = 0;
        const double value = std::stod(text.substr(at + prefix.size()), &end);
        std::string rest = text.substr(at + prefix.size() + end + 1);
        rest = rest.substr(0, rest.find('\n'));
        return {value, rest.substr(0, rest.find_last_not_of(' ') + 1)};
    }
    double DrawnToneDb() const { return 20 * std::log10(FormSpect->DrawnRow(0)[ToneBin] / 32767.0); }

    std::unique_ptr<AppHarness> app;
    int64_t frame = 0;
};

} // namespace

// 0 dBFS = 114 dB SPL: a -20 dBFS tone reads 94 dB SPL once the box is
// checked, and the axis numbers move up by 114 dB; unchecked, or on an
// uncalibrated device, everything reads dBFS and draws as before.
TEST_F(SpectrumSpl, ACalibratedDeviceReadsSoundPressureLevelOnlyWhenChosen)
{
    EXPECT_FALSE(FormSpect->CheckSpl->isChecked()) << "off by default";
    const QImage uncalibrated = FormSpect->Canvas().copy();
    Calibrate(114.0);
    EXPECT_FALSE(FormSpect->SplOffset()) << "not chosen";
    EXPECT_EQ(FormSpect->Canvas(), uncalibrated) << "the same pixels as uncalibrated";
    FeedTone(2);
    auto [dbfs, unit] = NumberAfter(ReadoutAtTone(), "L ");
    EXPECT_NEAR(dbfs, -20.0, 0.1);
    EXPECT_EQ(unit, "dB");

    FormSpect->CheckSpl->setChecked(true);
    EXPECT_TRUE(SpectSpl);
    ASSERT_EQ(FormSpect->SplOffset(), 114.0);
    EXPECT_NE(FormSpect->Canvas(), uncalibrated) << "the axis is labelled in dB SPL";
    const std::string readout = ReadoutAtTone();
    auto [spl, splUnit] = NumberAfter(readout, "L ");
    EXPECT_NEAR(spl, 94.0, 0.1) << readout;
    EXPECT_EQ(splUnit, "dB SPL");

    SpectShowPeak = true;
    FormSpect->DrawSpectFrame();
    FormSpect->PanelSpec->grabFramebuffer();
    const std::string line = FormSpect->PeakLineText();
    auto [peak, peakUnit] = NumberAfter(line, " Hz ");
    EXPECT_NEAR(peak, 94.0, 0.1) << line;
    EXPECT_EQ(peakUnit, "dB SPL") << line;

    // The seven level numbers, 0 .. -120 dBFS, now 114 .. -6 dB SPL.
    const PlotRect plot = SpectPlotRect(FormSpect->width(), FormSpect->height(), true);
    const auto labels = SpectLogLabels(plot, FormSpect->SplOffset());
    for (int i = 0; i <= 6; ++i)
        EXPECT_EQ(labels[1 + i].text, std::to_string(114 - 20 * i));
    EXPECT_EQ(SpectLogLabels(plot, 113.5)[2].text, "93.5") << "tenths of a calibration stay";

    // A-weighted: the unit names the weighting; the A curve at 1001 Hz is
    // +0.01 dB.
    FormSpect->CmbWeighting->setCurrentIndex(1);
    auto [weighted, weightedUnit] = NumberAfter(ReadoutAtTone(), "L ");
    EXPECT_NEAR(weighted, 94.0, 0.1);
    EXPECT_EQ(weightedUnit, "dB(A)");
    FormSpect->CmbWeighting->setCurrentIndex(0);

    Calibrate(std::nullopt);
    EXPECT_FALSE(FormSpect->SplOffset()) << "no longer calibrated";
    EXPECT_EQ(NumberAfter(ReadoutAtTone(), "L ").second, "dB");
    FormSpect->CheckSpl->setChecked(false);
}

// A microphone reading 3 dB high at 1 kHz: the tone's bin comes down by
// 3 dB in the trace, the readout and the CSV, and back when the file is
// taken away; an offset still adds on top.
TEST_F(SpectrumSpl, TheMicrophoneResponseComesOffTheShownSpectrum)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString path = folder.filePath("mic.txt");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("* a microphone 3 dB hot at 1 kHz, flat a decade either side\n100 0.0\n1000 3.0\n10000 0.0\n");
    file.close();

    FeedTone(2);
    FormSpect->PanelSpec->grabFramebuffer();
    const double before = DrawnToneDb();
    ASSERT_NEAR(before, -20.0, 0.05);
    std::vector<float> plain(FormSpect->DrawnRow(0), FormSpect->DrawnRow(0) + BinSlots);

    Calibrate(std::nullopt, path.toStdString());
    FormSpect->PanelSpec->grabFramebuffer();
    // 1001.3 Hz lies 0.06 % of a decade above the file's 3 dB point.
    EXPECT_NEAR(DrawnToneDb(), before - 3.0, 0.05);
    EXPECT_NEAR(NumberAfter(ReadoutAtTone(), "L ").first, before - 3.0, 0.1);
    const QString csvPath = folder.filePath("spectrum.csv");
    ASSERT_EQ(FormSpect->SaveSpectrum(csvPath), "");
    QFile csv(csvPath);
    ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = csv.readAll().split('\n');
    ASSERT_GT(lines.size(), ToneBin + 1);
    EXPECT_NEAR(lines[ToneBin + 1].split(',')[2].toDouble(), before - 3.0, 0.05) << "the exported level";
    // Bin 9 (96.9 Hz) lies below the file's first point: held at 0 dB.
    EXPECT_FLOAT_EQ(FormSpect->DrawnRow(0)[9], plain[9]);

    FormSpect->CheckSpl->setChecked(true);
    Calibrate(114.0, path.toStdString());
    EXPECT_NEAR(NumberAfter(ReadoutAtTone(), "L ").first, 91.0, 0.1) << "94 dB SPL less the microphone's 3 dB";

    Calibrate(std::nullopt);
    FormSpect->PanelSpec->grabFramebuffer();
    for (int bin = 0; bin < BinSlots; ++bin)
        ASSERT_EQ(FormSpect->DrawnRow(0)[bin], plain[bin]) << "without the file the row is as before, bin " << bin;
    FormSpect->CheckSpl->setChecked(false);
}

// A file that cannot be read any more takes nothing off: the view reads as
// without one rather than with a response it cannot know.
TEST_F(SpectrumSpl, AMicrophoneFileThatIsGoneTakesNothingOff)
{
    FeedTone(2);
    FormSpect->PanelSpec->grabFramebuffer();
    const double before = DrawnToneDb();
    Calibrate(std::nullopt, "/nonexistent/mic.txt");
    FormSpect->PanelSpec->grabFramebuffer();
    EXPECT_EQ(DrawnToneDb(), before);
}
