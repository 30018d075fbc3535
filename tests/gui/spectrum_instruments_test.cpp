// The spectrum window's instruments on the real window: the controls and the
// context menu set the choices, the R key resets, the shown trace, the
// dimmer peak trace, the frame's weighting note, the readout and the CSV
// follow them. Blocks go through the block path as captured ones do.
#include "common/app_support.h"

#include "analysis/SpectGraph.h"
#include "analysis/spectinstruments.h"
#include "analysis/spectrum.h"
#include "app/main.h"
#include "app/main_ticks.h"
#include "state/global.h"
#include "support/inprocess_server.h"
#include "views/SpectForm.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <mutex>
#include <numbers>
#include <string>
#include <vector>

namespace {

constexpr double BinHz = 44100.0 / FftSize;

QColor TableColor(int entry)
{
    return QColor(SchemeR[entry], SchemeG[entry], SchemeB[entry]);
}

// The colour a peak trace is drawn in: the channel's, halfway to the clear colour.
QColor DimColor(int entry)
{
    const PlotRgba clear = SchemeClearColor(LightBackground);
    const auto halfway = [](int channel, float clearChannel) {
        return static_cast<int>(std::lround((channel + clearChannel * 255.0f) / 2.0f));
    };
    return QColor(halfway(SchemeR[entry], clear.r), halfway(SchemeG[entry], clear.g), halfway(SchemeB[entry], clear.b));
}

int CountOf(const QImage& image, const QColor& color, int top = 0, int bottom = -1)
{
    if (bottom < 0)
        bottom = image.height() - 1;
    int n = 0;
    for (int y = top; y <= bottom; ++y)
        for (int x = 0; x < image.width(); ++x)
            n += QColor(image.pixel(x, y)) == color;
    return n;
}

class SpectrumInstrumentsWindow : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override
    {
        InstallMicAndSpeakers(platform::Sine(1000, 32767, 1000, 0));
        app = std::make_unique<AppHarness>(true);
        LightBackground = GetParam();
        ApplyColorScheme();
        ShowLeft = ShowRight = true;
        SpectIsLn = true;
        FormSpect->FormCreate();
        FormSpect->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(FormSpect));
    }
    void TearDown() override
    {
        TViewForm::SaveFileHook = nullptr;
        app.reset();
        platform::ResetServer();
        WindowFunction = 1;
        LightBackground = false;
        ApplyColorScheme();
    }

    // Blocks of a left tone (silence on the right) through the block path.
    void FeedTone(double hz, double amplitude, int blocks)
    {
        std::vector<uint8_t> bytes(4 * 4410);
        for (int b = 0; b < blocks; ++b) {
            for (int f = 0; f < 4410; ++f, ++frame) {
                const auto v = static_cast<int16_t>(
                    std::lround(amplitude * std::sin(2 * std::numbers::pi * hz * frame / 44100.0)));
                bytes[4 * f] = static_cast<uint8_t>(v & 0xFF);
                bytes[4 * f + 1] = static_cast<uint8_t>((v >> 8) & 0xFF);
                bytes[4 * f + 2] = bytes[4 * f + 3] = 0;
            }
            const CapturedBlock block{bytes.data(), static_cast<uint32_t>(bytes.size())};
            std::lock_guard<std::mutex> guard(DataLock);
            AcceptBlocks(&block, 1);
        }
    }
    // Renders the plot with what the block path left and reads it back.
    QImage Plot() { return FormSpect->PanelSpec->grabFramebuffer(); }

    std::unique_ptr<AppHarness> app;
    int64_t frame = 0;
};

TEST_P(SpectrumInstrumentsWindow, DefaultsAreOffAndTheControlsSetTheChoices)
{
    EXPECT_EQ(FormSpect->CmbAveraging->currentText(), "Off");
    EXPECT_FALSE(FormSpect->CheckPeakHold->isChecked());
    EXPECT_FALSE(FormSpect->CmbDecay->isEnabled());
    EXPECT_EQ(FormSpect->CmbWeighting->currentIndex(), 0);
    EXPECT_FALSE(FormSpect->BtnReset->isEnabled()) << "nothing to reset";
    EXPECT_TRUE(SpectInstrumentsFed) << "the window is shown";

    FormSpect->CmbAveraging->setCurrentIndex(9);
    EXPECT_EQ(SpectAveraging, 9);
    EXPECT_TRUE(FormSpect->BtnReset->isEnabled());
    FeedTone(1000, 10000, 3);
    EXPECT_EQ(SpectAveragedSlices(), 30);
    Plot();
    EXPECT_EQ(FormSpect->LabCount->text(), "30 slices");

    FormSpect->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(FormSpect));
    QTest::keyClick(FormSpect, Qt::Key_R);
    EXPECT_EQ(SpectAveragedSlices(), 0) << "the R key resets";
    FeedTone(1000, 10000, 1);
    QTest::mouseClick(FormSpect->BtnReset, Qt::LeftButton);
    EXPECT_EQ(SpectAveragedSlices(), 0) << "and so does the button";

    FormSpect->CheckPeakHold->setChecked(true);
    EXPECT_TRUE(SpectPeakHold);
    EXPECT_TRUE(FormSpect->CmbDecay->isEnabled());
    FormSpect->CmbDecay->setCurrentIndex(2);
    EXPECT_EQ(SpectPeakDecay, 2);
    FormSpect->CmbWeighting->setCurrentIndex(1);
    EXPECT_EQ(SpectWeighting, 1);

    FormSpect->close();
    EXPECT_FALSE(SpectInstrumentsFed) << "nothing is averaged for a hidden window";
    FeedTone(1000, 10000, 2);
    FormSpect->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(FormSpect));
    EXPECT_EQ(SpectAveragedSlices(), 0) << "shown again: a new average";
}

TEST_P(SpectrumInstrumentsWindow, ChannelsWindowFunctionAndDeviceResetTheAverage)
{
    FormSpect->CmbAveraging->setCurrentIndex(9);
    FeedTone(1000, 10000, 2);
    ASSERT_EQ(SpectAveragedSlices(), 20);
    FormMain->RBtn1Click();
    EXPECT_EQ(SpectAveragedSlices(), 0) << "channel choice";
    FeedTone(1000, 10000, 2);
    FormMain->CmbBoxWindowChange(0);
    EXPECT_EQ(SpectAveragedSlices(), 0) << "window function";
    FeedTone(1000, 10000, 2);
    FormMain->StartSource();
    EXPECT_LT(SpectAveragedSlices(), 20) << "device start";
    FormMain->RBtn12Click();
}

// A tone that was there and is gone: the spectrum lies on the floor, the
// held peak stays up in the dimmer colour, and a reset takes it away.
TEST_P(SpectrumInstrumentsWindow, PeakHoldDrawsADimmerTraceInTheChannelsColour)
{
    ShowRight = false;
    FormSpect->CheckPeakHold->setChecked(true);
    FeedTone(93 * BinHz, 30000, 2);
    FeedTone(93 * BinHz, 0, 2);
    QImage image = Plot();
    const int upperFifth = image.height() / 5;
    EXPECT_GT(CountOf(image, DimColor(ColorLeft), 0, upperFifth), 0) << "the held tone near the top";
    EXPECT_EQ(CountOf(image, TableColor(ColorLeft), 0, upperFifth), 0) << "the silent spectrum is not";

    FormSpect->ResetInstruments();
    image = Plot();
    EXPECT_EQ(CountOf(image, DimColor(ColorLeft)), 0) << "nothing held after the reset";
    FormSpect->CheckPeakHold->setChecked(false);
}

// The readout, the peak line and the CSV give the weighted, averaged
// spectrum: an A-weighted tone at bin 93 (1001 Hz) reads its level plus
// the A curve there (+0.01 dB), a 63 Hz tone 26 dB less than unweighted.
TEST_P(SpectrumInstrumentsWindow, ReadoutPeakLineAndCsvReadTheWeightedAverage)
{
    WindowFunction = 0;                          // a bin-centred tone reads its amplitude exactly
    FormSpect->CmbAveraging->setCurrentIndex(7); // linear 100
    FormSpect->CmbWeighting->setCurrentIndex(1); // A
    FeedTone(6 * BinHz, 20000, 12);
    Plot();
    EXPECT_EQ(FormSpect->DrawnAveragedSlices(), 120);
    const double unweightedDb = 20 * std::log10(20000 / 32767.0);
    const double atBin6 = 20 * std::log10(FormSpect->DrawnRow(0)[6] / 32767.0);
    EXPECT_NEAR(atBin6 - unweightedDb, -25.7, 0.2) << "A at 64.6 Hz";

    // The pointer over 64.6 Hz.
    const int width = FormSpect->PanelSpec->width();
    const int column = static_cast<int>(std::floor((SpectLogX(6 * BinHz) + 1) / 2 * width));
    const QString readout = FormSpect->ReadoutText(QPoint(column, 10));
    const int at = readout.indexOf("L ");
    ASSERT_GE(at, 0) << readout.toStdString();
    EXPECT_NEAR(readout.mid(at + 2).section(' ', 0, 0).toDouble(), atBin6, 0.06) << readout.toStdString();

    QTemporaryDir folder;
    const QString path = folder.filePath("spectrum.csv");
    ASSERT_EQ(FormSpect->SaveSpectrum(path), "");
    QFile csv(path);
    ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = csv.readAll().split('\n');
    EXPECT_TRUE(lines[0].contains("Window: Recrangular"));
    EXPECT_TRUE(lines[0].endsWith(",Averaging: Linear 100,Slices: 100,Weighting: A"))
        << "the last 100 of 120: " << lines[0].toStdString();
    EXPECT_NEAR(lines[7].split(',')[2].toDouble(), atBin6, 0.001) << "bin 6's level";

    SpectShowPeak = true;
    FormSpect->DrawSpectFrame();
    Plot();
    const std::string line = FormSpect->PeakLineText();
    const size_t hz = line.find(" Hz ");
    ASSERT_NE(hz, std::string::npos) << line;
    EXPECT_NEAR(std::stod(line.substr(hz + 4)), atBin6, 0.1) << line;
    SpectShowPeak = false;
}

// "dB(A)" in the frame's bottom line while weighting A is chosen; nothing
// there with Z.
TEST_P(SpectrumInstrumentsWindow, TheFrameNamesTheWeighting)
{
    const PlotRect plot = SpectPlotRect(FormSpect->width(), FormSpect->height());
    const FrameText label = SpectWeightingLabel(plot, true, "A");
    // Below the frequency numbers' lowest row, which reaches into the cell.
    const QRect area(label.x, label.y + 2, 30, 10);
    const auto inkIn = [&] {
        const QImage& canvas = FormSpect->Canvas();
        int ink = 0;
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x)
                ink += QColor(canvas.pixel(x, y)) == QColor(Qt::black);
        return ink;
    };
    EXPECT_EQ(inkIn(), 0);
    FormSpect->CmbWeighting->setCurrentIndex(1);
    EXPECT_GT(inkIn(), 10);
    FormSpect->CmbWeighting->setCurrentIndex(0);
    EXPECT_EQ(inkIn(), 0);
}

TEST_P(SpectrumInstrumentsWindow, TheContextMenuOffersTheChoices)
{
    QMenu menu;
    FormSpect->AddInstrumentActions(menu);
    QStringList titles;
    for (QAction* action : menu.actions())
        titles << action->text();
    EXPECT_EQ(titles, (QStringList{"Averaging", "Reset Average and Peaks", "Peak Hold", "Peak Decay", "Weighting"}));
    QMenu* averaging = menu.actions()[0]->menu();
    ASSERT_NE(averaging, nullptr);
    ASSERT_EQ(averaging->actions().size(), 10);
    averaging->actions()[2]->trigger();
    EXPECT_EQ(SpectAveraging, 2) << "Slow (1 s)";
    menu.actions()[2]->trigger();
    EXPECT_TRUE(SpectPeakHold);
    menu.actions()[4]->menu()->actions()[2]->trigger();
    EXPECT_EQ(SpectWeighting, 2);
}

// Captured blocks feed the average on the capture thread while the window
// paints it on the UI thread: the count grows by ten slices a block and the
// averaged test tone peaks at its bin.
TEST(LiveSpectrumInstruments, CapturedBlocksFeedTheAverageWhileItIsPainted)
{
    platform::InProcessServer* server = InstallMicAndSpeakers(platform::Sine(1000, 32767, 1000, 0));
    {
        AppHarness app(true);
        IsInstalled = true;
        ASSERT_GT(app.TicksUntilStarted(), 0);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(FormSpect));
        FormSpect->CmbAveraging->setCurrentIndex(6); // linear 50
        FormSpect->CheckPeakHold->setChecked(true);
        int paints = 0;
        auto render = FormSpect->PanelSpec->OnRender;
        FormSpect->PanelSpec->OnRender = [&] {
            ++paints;
            render();
        };
        const bool fed = WaitFor(
            [&] {
                server->pump(441);
                return paints >= 5 && FormSpect->DrawnAveragedSlices() >= 60;
            },
            10000);
        EXPECT_TRUE(fed) << paints << " paints, " << FormSpect->DrawnAveragedSlices() << " slices";
        EXPECT_EQ(FormSpect->DrawnAveragedSlices() % 10, 0) << "whole blocks of ten slices";
        const float* row = FormSpect->DrawnRow(0);
        EXPECT_EQ(std::max_element(row + 1, row + TopBin) - row, 93) << "the 1000 Hz tone";
        FormSpect->PanelSpec->OnRender = render;
    }
    platform::ResetServer();
}

INSTANTIATE_TEST_SUITE_P(BothSchemes, SpectrumInstrumentsWindow, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Light" : "Dark"; });

} // namespace
