// The response window on the private sound server: a sweep played to the
// headset (a null sink) and recorded from its monitor comes back with a flat
// magnitude, 0 dB within 0.1 dB from 20 Hz to 20 kHz, since the loopback
// carries the samples as they are, and every view draws it; a second
// measurement at another level lies over the first; the text export parses
// back to the kept values and the WAV export to the kept impulse; with the
// left input as the reference the right one reads unity and coherence near
// 1; a microphone file is taken off and a calibration reads dB SPL; a
// second "Measure" while one runs is refused; a muted loopback gives "No
// sweep found in the recording" and no curve; a sink doubled in volume clips
// and is flagged; a device taken away stops the measurement with a message;
// the choices reach the stored settings.
#include "common/live_program.h"
#include "common/pulse_support.h"

#include "analysis/plotgeometry.h"
#include "app/settings.h"
#include "generator/Generator.h"
#include "measure/responsefile.h"
#include "meters/DistortionForm.h"
#include "meters/ResponseForm.h"
#include "platform/calibrations.h"
#include "platform/wavfile.h"
#include "state/global.h"
#include "views/plotsurface.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// The window's curve colours, as drawn (see ResponseForm.cpp).
QColor CurveColour(int index)
{
    static const QColor Colours[] = {QColor(0, 150, 255), QColor(255, 130, 0),  QColor(40, 180, 60),
                                     QColor(220, 40, 40), QColor(160, 90, 255), QColor(0, 190, 190),
                                     QColor(200, 170, 0), QColor(240, 80, 190)};
    return Colours[index];
}

// Antialiased lines blend into the background: a pixel counts as the
// curve's when each channel is near.
bool Near(const QColor& pixel, const QColor& colour)
{
    return std::abs(pixel.red() - colour.red()) < 40 && std::abs(pixel.green() - colour.green()) < 40 &&
           std::abs(pixel.blue() - colour.blue()) < 40;
}

int Distance(const QColor& a, const QColor& b)
{
    return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) + std::abs(a.blue() - b.blue());
}

int CountColour(const QImage& picture, const QColor& colour, const responseview::Box& box)
{
    int count = 0;
    for (int y = box.top; y <= box.Bottom(); ++y)
        for (int x = box.left; x <= box.Right(); ++x)
            count += Near(picture.pixelColor(x, y), colour) ? 1 : 0;
    return count;
}

QImage Render()
{
    FormResponse->InvRectResponse();
    QCoreApplication::processEvents();
    QImage picture = FormResponse->PanelResponse->grabFramebuffer().convertToFormat(QImage::Format_RGB32);
    if (const char* folder = std::getenv("SONALYX_RESPONSE_PICTURES"))
        picture.save(QString(folder) + "/view-" + QString::number(ResponseView) + ".png");
    return picture;
}

class ResponseLoop : public LiveProgram {
protected:
    void SetUp() override
    {
        // The loopback carries the played samples as they are.
        if (testsupport::HavePrivateServer()) {
            testsupport::SetHeadsetLoopbackToUnity();
            testsupport::Pactl("set-source-mute test_headset.monitor 0");
            testsupport::Pactl("set-source-volume test_headset.monitor 100%");
        }
        LiveProgram::SetUp();
        if (!Running())
            return;
        FormResponse->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(FormResponse));
        const int output = FormResponse->ComboPlay->findText("Test Headset");
        ASSERT_GE(output, 0);
        FormResponse->ComboPlay->setCurrentIndex(output);
        const int input = FormResponse->ComboRecord->findData("test_headset.monitor");
        ASSERT_GE(input, 0) << "the headset's loopback is listed";
        FormResponse->ComboRecord->setCurrentIndex(input);
        FormResponse->ComboLength->setCurrentIndex(0); // 1 s: the shortest sweep
    }
    void TearDown() override
    {
        TViewForm::SaveFileHook = nullptr;
        if (FormResponse)
            FormResponse->CancelMeasurement();
        if (testsupport::HavePrivateServer()) {
            testsupport::Pactl("set-sink-mute test_headset 0");
            testsupport::Pactl("set-source-mute test_headset.monitor 0");
        }
        LiveProgram::TearDown();
    }
    // Measures and waits for the end; false when it did not start or end.
    static bool Measure(double levelDbfs)
    {
        FormResponse->EditLevel->setValue(levelDbfs);
        if (!FormResponse->StartMeasurement().empty())
            return false;
        return WaitFor([] { return !FormResponse->Measuring(); }, 15000);
    }
    const std::vector<std::string>& Messages() { return app->messages; }
};

TEST_F(ResponseLoop, TheHeadsetsLoopbackIsFlatAndTwoMeasurementsOverlay)
{
    ASSERT_TRUE(Measure(-6.0));
    ASSERT_EQ(FormResponse->Kept().Size(), 1u) << (Messages().empty() ? "" : Messages().back());
    const responseview::Kept first = FormResponse->Kept()[0]; // a copy: the list grows below
    ASSERT_TRUE(first.measurement);
    EXPECT_FALSE(first.measurement->clipped);
    double low = 1e9, high = -1e9;
    for (const measure::ResponsePoint& point : first.measurement->points) {
        EXPECT_NEAR(point.magnitudeDb, 0.0, 0.1) << point.hz << " Hz";
        low = std::min(low, point.magnitudeDb), high = std::max(high, point.magnitudeDb);
    }
    EXPECT_EQ(first.measurement->points.front().hz, 20.0);
    EXPECT_GE(first.measurement->points.back().hz, 20000.0 * std::pow(2.0, -1.0 / 48)) << "1/48 octave apart";
    std::printf("magnitude %.3f ... %.3f dB, delay %.3f ms (%.1f samples), peak %.2f dB\n", low, high,
                first.measurement->delayMs, first.measurement->delaySamples, first.measurement->peakDb);
    EXPECT_FALSE(GenSweep) << "the engine is handed back";
    EXPECT_TRUE(FormResponse->BtnMeasure->isEnabled());

    // 20 dB lower: the same unity gain, a second curve over the first.
    ASSERT_TRUE(Measure(-26.0));
    ASSERT_EQ(FormResponse->Kept().Size(), 2u);
    const responseview::Kept& second = FormResponse->Kept()[1];
    EXPECT_EQ(FormResponse->Current(), &second);
    EXPECT_EQ(second.name, "Measurement 2");
    EXPECT_NE(second.colour, first.colour);
    ASSERT_EQ(second.magnitudeDb.size(), first.magnitudeDb.size());
    for (std::size_t i = 0; i < second.magnitudeDb.size(); ++i)
        EXPECT_NEAR(second.magnitudeDb[i], first.magnitudeDb[i], 0.1) << second.hz[i] << " Hz";
    // The readout names both curves at the pointer.
    const responseview::PanelPlaces places = FormResponse->Places();
    const double ratio = FormResponse->PanelResponse->devicePixelRatioF();
    const QPoint at(static_cast<int>((places.plot.left + places.plot.width / 2) / ratio),
                    static_cast<int>((places.plot.top + places.plot.height / 2) / ratio));
    const QString readout = FormResponse->ReadoutText(at);
    EXPECT_TRUE(readout.contains("Measurement 1: ") && readout.contains("Measurement 2: ")) << readout.toStdString();
    // Each view draws the newest curve inside the plot; the flat magnitude
    // lies along the 0 dB row from the 20 Hz column to the 20 kHz one.
    const QColor newest = CurveColour(second.colour);
    for (int view = 0; view < responseview::ViewChoiceCount; ++view) {
        FormResponse->ComboView->setCurrentIndex(view);
        const QImage picture = Render();
        const responseview::PanelPlaces shown = FormResponse->Places();
        EXPECT_GT(CountColour(picture, newest, shown.plot), 20) << "view " << view;
        if (view != responseview::ViewMagnitude)
            continue;
        const responseview::ValueRange range = responseview::MagnitudeRange(second.magnitudeDb);
        const int zero = static_cast<int>(std::lround(responseview::ValueRow(0.0, range, shown.plot)));
        // A line that falls between two rows is blended into both: a pixel
        // counts when it lies nearer the curve's colour than the background's.
        const PlotRgba clear = SchemeClearColor(LightBackground);
        const QColor background = QColor::fromRgbF(clear.r, clear.g, clear.b);
        int covered = 0;
        for (int x = shown.plot.left + 1; x < shown.plot.Right(); ++x)
            for (int y = zero - 2; y <= zero + 2; ++y)
                if (Distance(picture.pixelColor(x, y), newest) < Distance(picture.pixelColor(x, y), background)) {
                    ++covered;
                    break;
                }
        EXPECT_GE(covered, shown.plot.width - 4) << "the 0 dB row";
    }
    FormResponse->ComboView->setCurrentIndex(responseview::ViewMagnitude);
    // Hidden, a curve leaves the readout.
    FormResponse->SetKeptShown(0, false);
    EXPECT_FALSE(FormResponse->ReadoutText(at).contains("Measurement 1"));
}

TEST_F(ResponseLoop, ExportsReadBackAsTheKeptValues)
{
    ASSERT_TRUE(Measure(-6.0));
    ASSERT_NE(FormResponse->Current(), nullptr);
    const responseview::Kept kept = *FormResponse->Current(); // a copy: the list grows below
    QTemporaryDir dir;
    const QString text = dir.filePath("room.txt"), wav = dir.filePath("room.wav");
    ASSERT_EQ(FormResponse->SaveText(text), "");
    QFile file(text);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const std::string written = file.readAll().toStdString();
    EXPECT_NE(written.find("Measurement 1"), std::string::npos) << "the header names it";
    const measure::ResponseParse parse = measure::ParseResponseFile(written);
    ASSERT_TRUE(parse.ok) << parse.message;
    ASSERT_EQ(parse.curve.Size(), kept.hz.size());
    for (std::size_t i = 0; i < kept.hz.size(); ++i) {
        // Six significant digits, three and two decimals.
        EXPECT_NEAR(parse.curve.hz[i], kept.hz[i], 5e-6 * kept.hz[i]);
        EXPECT_NEAR(parse.curve.db[i], kept.magnitudeDb[i], 0.0005 + 1e-12);
        EXPECT_NEAR(parse.curve.degrees[i], kept.phaseDegrees[i], 0.005 + 1e-12);
    }

    ASSERT_EQ(FormResponse->SaveImpulse(wav), "");
    const platform::WavRead read = platform::ReadMonoWav(wav.toStdString());
    ASSERT_TRUE(read.ok) << read.message;
    EXPECT_EQ(read.sampleRate, 44100);
    // The file starts at zero delay: the kept impulse's samples from there
    // on, its peak at the measured delay.
    const measure::WindowedImpulse& impulse = kept.measurement->impulse;
    const long long zero = std::llround(kept.measurement->offsetFrames);
    ASSERT_LE(impulse.startLag, zero + 1);
    const auto skipped = static_cast<std::size_t>(zero - impulse.startLag);
    ASSERT_EQ(read.samples.size(), impulse.samples.size() - skipped);
    for (std::size_t i = 0; i < read.samples.size(); ++i)
        ASSERT_EQ(read.samples[i], static_cast<float>(impulse.samples[i + skipped])) << i;
    const auto peak = std::max_element(read.samples.begin(), read.samples.end(),
                                       [](float a, float b) { return std::fabs(a) < std::fabs(b); });
    EXPECT_NEAR(static_cast<double>(peak - read.samples.begin()), kept.measurement->delaySamples, 1.0);

    // Loaded back, the text is an overlay named after its file.
    ASSERT_EQ(FormResponse->LoadText(text), "");
    ASSERT_EQ(FormResponse->Kept().Size(), 2u);
    const responseview::Kept& loaded = FormResponse->Kept()[1];
    EXPECT_EQ(loaded.name, "room");
    EXPECT_TRUE(loaded.fromFile);
    ASSERT_EQ(loaded.magnitudeDb.size(), kept.magnitudeDb.size());
    EXPECT_NEAR(loaded.magnitudeDb[100], FormResponse->Kept()[0].magnitudeDb[100], 0.0005 + 1e-12);
    EXPECT_NE(FormResponse->SaveImpulse(wav), "") << "a file's curve has no impulse";

    // A place that cannot be written (its folder is a file): a reason, and
    // no file.
    const QString nowhere = text + "/room.txt";
    EXPECT_NE(FormResponse->SaveText(nowhere), "");
    EXPECT_NE(FormResponse->SaveImpulse(text + "/room.wav"), "");
    EXPECT_FALSE(QFile::exists(nowhere));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList({"room.txt", "room.wav"})) << "no temporary left";
    EXPECT_NE(FormResponse->LoadText(dir.filePath("none.txt")), "");
}

TEST_F(ResponseLoop, ASecondMeasureIsRefusedWhileOneRuns)
{
    FormResponse->ComboLength->setCurrentIndex(1); // 2 s
    ASSERT_EQ(FormResponse->StartMeasurement(), "");
    EXPECT_TRUE(FormResponse->Measuring());
    EXPECT_FALSE(FormResponse->BtnMeasure->isEnabled());
    EXPECT_NE(FormResponse->StartMeasurement(), "");
    QTest::mouseClick(FormResponse->BtnMeasure, Qt::LeftButton); // disabled: nothing
    ASSERT_TRUE(WaitFor([] { return !FormResponse->Measuring(); }, 15000));
    EXPECT_EQ(FormResponse->Kept().Size(), 1u) << "one measurement, not two";
    EXPECT_TRUE(FormResponse->BtnMeasure->isEnabled());
}

TEST_F(ResponseLoop, TheDistortionAnalyzersToneAndTheSweepDoNotShareTheEngine)
{
    ASSERT_EQ(FormDistortion->StartTone(), "");
    EXPECT_NE(FormResponse->StartMeasurement(), "");
    EXPECT_FALSE(FormResponse->Measuring());
    EXPECT_TRUE(WaveOutIsOpen) << "the tone plays on";
    FormDistortion->StopTone();
    ASSERT_EQ(FormResponse->StartMeasurement(), "");
    EXPECT_NE(FormDistortion->StartTone(), "");
    EXPECT_FALSE(FormDistortion->TonePlaying());
    ASSERT_TRUE(WaitFor([] { return !FormResponse->Measuring(); }, 15000));
    EXPECT_EQ(FormResponse->Kept().Size(), 1u) << "the sweep went on undisturbed";
}

TEST_F(ResponseLoop, AMutedLoopbackHasNoSweepAndKeepsNoCurve)
{
    testsupport::Pactl("set-sink-mute test_headset 1");
    testsupport::Pactl("set-source-mute test_headset.monitor 1");
    ASSERT_TRUE(Measure(-6.0));
    EXPECT_TRUE(FormResponse->Kept().Empty());
    ASSERT_FALSE(Messages().empty());
    EXPECT_EQ(Messages().back().rfind("No sweep found in the recording", 0), 0u) << Messages().back();
    EXPECT_TRUE(FormResponse->LabStatus->text().startsWith("No sweep found"));
    EXPECT_FALSE(GenSweep);
}

TEST_F(ResponseLoop, ChoicesReachTheStoredSettings)
{
    FormResponse->ComboLength->setCurrentIndex(3);
    FormResponse->EditLevel->setValue(-18.5);
    FormResponse->ComboReference->setCurrentIndex(2);
    FormResponse->ComboView->setCurrentIndex(2);
    FormResponse->ComboSmoothing->setCurrentIndex(4);
    FormResponse->ComboPhase->setCurrentIndex(1);
    FormResponse->ComboImpulse->setCurrentIndex(1);
    EXPECT_EQ(ResponseLength, 8);
    EXPECT_EQ(ResponseLevel, -18.5f);
    EXPECT_EQ(ResponseReferenceChoice, 2);
    EXPECT_FALSE(FormResponse->ComboChannel->isEnabled()) << "the channel matters against the generated sweep only";
    EXPECT_EQ(ResponseView, 2);
    EXPECT_EQ(ResponseSmoothing, 4);
    EXPECT_EQ(ResponsePhaseMode, 1);
    EXPECT_EQ(ResponseImpulseMode, 1);
    RegistryWrite();
    ResponseLength = 4, ResponseLevel = -6.0f, ResponseView = 0;
    RegistryRead();
    EXPECT_EQ(ResponseLength, 8);
    EXPECT_EQ(ResponseLevel, -18.5f);
    EXPECT_EQ(ResponseView, 2);
}

TEST_F(ResponseLoop, AnInputCarryingTheReferenceCancelsThePathAndIsCoherent)
{
    // Both channels of the loopback carry the sweep: the right divided by
    // the left is unity at no delay, and the two are fully coherent.
    FormResponse->ComboReference->setCurrentIndex(responseview::ReferenceLeft);
    ASSERT_TRUE(Measure(-6.0));
    ASSERT_EQ(FormResponse->Kept().Size(), 1u);
    const measure::ResponseMeasurement& m = *FormResponse->Kept()[0].measurement;
    EXPECT_NEAR(m.delaySamples, 0.0, 0.05);
    for (const measure::ResponsePoint& point : m.points)
        EXPECT_NEAR(point.magnitudeDb, 0.0, 0.1) << point.hz << " Hz";
    ASSERT_EQ(m.coherence.size(), m.points.size());
    for (std::size_t i = 0; i < m.points.size(); ++i)
        if (m.points[i].hz >= 50 && m.points[i].hz <= 16000) {
            EXPECT_GT(m.coherence[i], 0.99) << m.points[i].hz << " Hz";
        }
    ASSERT_TRUE(FormResponse->Places().coherence) << "the strip under the magnitude";
}

TEST_F(ResponseLoop, TheMicrophoneAndCalibrationOfTheRecordingDeviceApply)
{
    // A microphone 3 dB hot above 1 kHz: the loopback's flat response reads
    // 3 dB low there once the file is taken off; 94 dB SPL at 0 dBFS puts
    // the axis in dB SPL.
    QTemporaryDir dir;
    const QString mic = dir.filePath("mic.txt");
    QFile file(mic);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("* test microphone\n10 0\n1000 0\n1001 3\n30000 3\n");
    file.close();
    const std::string device = FormResponse->ComboRecord->currentText().toStdString();
    ASSERT_EQ(platform::SaveCalibration(device, {94.0, mic.toStdString()}), "");
    ASSERT_TRUE(Measure(-6.0));
    ASSERT_EQ(platform::SaveCalibration(device, {std::nullopt, ""}), "");
    ASSERT_EQ(FormResponse->Kept().Size(), 1u);
    const responseview::Kept& kept = FormResponse->Kept()[0];
    for (std::size_t i = 0; i < kept.hz.size(); ++i)
        EXPECT_NEAR(kept.magnitudeDb[i], kept.hz[i] > 1001 ? -3.0 : 0.0, 0.1) << kept.hz[i] << " Hz";
    EXPECT_EQ(kept.calibrationDb, 94.0);
    // The pointer at 100 Hz reads 0 dB of gain + -6 dBFS + 94: 88 dB SPL.
    const responseview::PanelPlaces places = FormResponse->Places();
    const double ratio = FormResponse->PanelResponse->devicePixelRatioF();
    const QPoint at(static_cast<int>(std::lround(responseview::FrequencyColumn(100.0, places.plot) / ratio)),
                    static_cast<int>((places.plot.top + 10) / ratio));
    const std::string readout = FormResponse->ReadoutText(at).toStdString();
    const std::size_t value = readout.find("Measurement 1: ");
    ASSERT_NE(value, std::string::npos) << readout;
    EXPECT_NEAR(std::stod(readout.substr(value + 15)), 88.0, 0.15) << readout;
    EXPECT_NE(readout.find("dB SPL"), std::string::npos) << readout;
}

TEST_F(ResponseLoop, AClippedRecordingIsFlagged)
{
    // The sink's volume doubles a full-scale sweep on its way to the
    // monitor, which cuts it at full scale.
    testsupport::Pactl("set-sink-volume test_headset 200%");
    ASSERT_TRUE(Measure(0.0));
    testsupport::Pactl("set-sink-volume test_headset 100%");
    ASSERT_EQ(FormResponse->Kept().Size(), 1u) << (Messages().empty() ? "" : Messages().back());
    EXPECT_TRUE(FormResponse->Kept()[0].measurement->clipped);
    EXPECT_TRUE(FormResponse->LabStatus->text().contains("clipped"));
    EXPECT_TRUE(FormResponse->ListKept->topLevelItem(0)->text(2).contains("clipped"));
}

TEST_F(ResponseLoop, ADeviceThatGoesAwayStopsTheMeasurementWithAMessage)
{
    testsupport::LoadedModule sink("module-null-sink",
                                   "sink_name=passing_sink sink_properties=device.description=Passing");
    ASSERT_TRUE(sink.loaded());
    // Listed while the window is open, the devices chosen staying chosen.
    ASSERT_TRUE(WaitFor([] { return FormResponse->ComboRecord->findData("passing_sink.monitor") >= 0; }, 3000));
    EXPECT_EQ(FormResponse->ComboRecord->currentData().toString(), "test_headset.monitor");
    EXPECT_EQ(FormResponse->ComboPlay->currentText(), "Test Headset");
    FormResponse->ComboPlay->setCurrentIndex(FormResponse->ComboPlay->findText("Passing"));
    FormResponse->ComboRecord->setCurrentIndex(FormResponse->ComboRecord->findData("passing_sink.monitor"));
    FormResponse->ComboLength->setCurrentIndex(2); // 4 s: time to take it away
    ASSERT_EQ(FormResponse->StartMeasurement(), "");
    QTest::qWait(800);
    ASSERT_TRUE(sink.unload());
    ASSERT_TRUE(WaitFor([] { return !FormResponse->Measuring(); }, 8000));
    EXPECT_TRUE(FormResponse->Kept().Empty());
    // The program's device watch says its own words too.
    const auto told = std::find_if(Messages().begin(), Messages().end(), [](const std::string& message) {
        return message.rfind("The measurement stopped: ", 0) == 0;
    });
    ASSERT_NE(told, Messages().end());
    std::printf("%s\n", told->c_str());
    EXPECT_TRUE(FormResponse->LabStatus->text().startsWith("The measurement stopped: "));
    EXPECT_FALSE(GenSweep);
    EXPECT_TRUE(FormResponse->BtnMeasure->isEnabled());
}

} // namespace
