// The generator against the private PulseAudio daemon: its tones and noise
// coming back through a loopback and a line in, an independent recording
// checked sample by sample for gaps, and its window driven as a user does:
// typing and pasting frequencies, the output volume both ways, devices that
// come and go.
#include "common/live_program.h"
#include "common/measurer_support.h"

#include "app/main.h"
#include "app/main_ticks.h"
#include "capture/WaveIn.h"
#include "generator/Generator.h"
#include "measure/averaging.h"
#include "meters/BandsForm.h"
#include "platform/soundserver.h"
#include "platform/timer.h"
#include "playback/WaveOut.h"
#include "state/global.h"

#include <QApplication>
#include <QClipboard>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <fstream>
#include <regex>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;
using testsupport::LoadedModule;
using testsupport::Pactl;

namespace {

const std::string OutputChangedMessage = "The number of output audio devices\rhas changed!";

class GeneratorLoop : public LiveProgram {
protected:
    void SetUp() override
    {
        LiveProgram::SetUp();
        if (!Running())
            return;
        FGenerator->show();
        ASSERT_TRUE(GenPlaying);
    }

    static bool ChooseOutput(const QString& device)
    {
        const int index = FGenerator->CmbBoxAOut->findText(device);
        if (index < 0)
            return false;
        FGenerator->CmbBoxAOut->setCurrentIndex(index);
        FGenerator->CmbBoxAOutChange(index);
        return true;
    }

    static void OpenOutput(const QString& device)
    {
        ASSERT_TRUE(ChooseOutput(device));
        if (!WaveOutIsOpen)
            FGenerator->BtnWOutOpenClick();
        ASSERT_TRUE(WaveOutIsOpen);
    }

    static void SetFrequencies(int left, int right)
    {
        FGenerator->LabEditFr1->setText(QString::number(left));
        FGenerator->LabEditFr2->setText(QString::number(right));
        ASSERT_EQ(FreqLeft, left);
        ASSERT_EQ(FreqRight, right);
    }

    size_t Count(const std::string& message) const
    {
        return static_cast<size_t>(std::count(app->messages.begin(), app->messages.end(), message));
    }

    // Waits until slice 0 peaks at these bins (the path has settled).
    static bool PeaksAt(int left, int right)
    {
        return WaitFor([&] { return PeakBin(1) == left && PeakBin(2) == right; }, 3000);
    }
};

TEST_F(GeneratorLoop, TonesComeBackThroughTheLoopbackAndTheLineIn)
{
    SetFrequencies(1000, 3000);
    OpenOutput("Test Speakers");
    EXPECT_EQ(FGenerator->BtnWOutOpen->text(), "Close");
    EXPECT_FALSE(FGenerator->ImageON->isHidden());
    EXPECT_TRUE(FGenerator->ImageOFF->isHidden());
    // Another device while open: the output moves there.
    ASSERT_TRUE(ChooseOutput("Test Headset"));
    ASSERT_TRUE(WaveOutIsOpen);

    ASSERT_TRUE(ChooseSource("Test Headset"));
    ASSERT_TRUE(Loopback);
    EXPECT_TRUE(PeaksAt(93, 279)) << PeakBin(1) << " " << PeakBin(2);

    ASSERT_TRUE(ChooseSource("Test Line In"));
    ASSERT_FALSE(Loopback);
    EXPECT_TRUE(PeaksAt(93, 279)) << PeakBin(1) << " " << PeakBin(2);

    FGenerator->BtnWOutOpenClick();
    EXPECT_FALSE(WaveOutIsOpen);
    EXPECT_EQ(FGenerator->BtnWOutOpen->text(), "Open");
    EXPECT_TRUE(FGenerator->ImageON->isHidden());
    EXPECT_TRUE(app->messages.empty());
}

TEST_F(GeneratorLoop, WhiteNoiseIsFlatAndWithinItsRange)
{
    FGenerator->RBtnWhiteNoise->setChecked(true);
    FGenerator->RBtnWhiteNoiseClick();
    EXPECT_FALSE(FGenerator->TrBarFr1->isEnabled());
    OpenOutput("Test Headset");
    ASSERT_TRUE(ChooseSource("Test Headset"));
    ASSERT_TRUE(WaitForBlocks(4));

    constexpr int Blocks = 20;
    std::vector<double> mean(TopBin + 1, 0.0);
    int lowest = 0, highest = 0;
    for (int block = 0; block < Blocks; ++block) {
        ASSERT_TRUE(WaitForBlocks(1));
        std::lock_guard<std::mutex> guard(DataLock);
        for (int ch = 1; ch <= 2; ++ch) {
            for (int slice = -9; slice <= 0; ++slice)
                for (int bin = 0; bin <= TopBin; ++bin)
                    mean[bin] += Spectrum(ch, slice, bin);
            for (int f = 0; f < 4410; ++f) {
                lowest = std::min<int>(lowest, Sample(ch, f));
                highest = std::max<int>(highest, Sample(ch, f));
            }
        }
    }
    EXPECT_GE(lowest, -32767);
    EXPECT_LE(highest, 32766);
    EXPECT_LT(lowest, -30000) << "full-scale noise arrived";
    EXPECT_GT(highest, 30000);

    const int from = static_cast<int>(std::ceil(100 / BinWidth));
    const int to = static_cast<int>(15000 / BinWidth);
    double sumDb = 0;
    for (int bin = from; bin <= to; ++bin)
        sumDb += 20 * std::log10(mean[bin]);
    const double bandDb = sumDb / (to - from + 1);
    for (int bin = from; bin <= to; ++bin)
        ASSERT_NEAR(20 * std::log10(mean[bin]), bandDb, 3.0) << "bin " << bin;
}

// The octave window's reading as the measurer's band list, for the checks
// the two share.
std::vector<testsupport::BandLevel> WindowBandLevels()
{
    FormBands->PanelBands->grabFramebuffer(); // paints, which takes the newest reading
    const measure::BandReading& reading = FormBands->Reading();
    std::vector<testsupport::BandLevel> bands;
    for (std::size_t i = 0; i < reading.bands.size(); ++i)
        bands.push_back(
            {reading.bands[i].nominalHz, reading.bands[i].centreHz, reading.levelDb[0][i], reading.levelDb[1][i]});
    return bands;
}

// Shows the octave window in 1/3 octaves averaging every block since the
// reset, and reads it after `seconds` of what the loopback brings.
std::vector<testsupport::BandLevel> AverageInTheOctaveWindow(int seconds)
{
    if (!FormBands->isVisible())
        FormMain->menuBandsClick();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(FormBands));
    FormBands->ComboFraction->setCurrentIndex(1);
    FormBands->ComboAveraging->setCurrentIndex(static_cast<int>(measure::Averaging::Infinite));
    FormBands->ChoiceChange();
    EXPECT_TRUE(WaitForBlocks(5)) << "the filters settle and the new signal arrives";
    FormBands->BtnResetClick();
    QTest::qWait(seconds * 1000);
    const auto bands = WindowBandLevels();
    EXPECT_GE(FormBands->Reading().blocks, seconds * 10 - 5) << "every block since the reset measured";
    return bands;
}

// Pink noise from the window through the headset's loopback, read by the
// Octave Bands window for 30 s in 1/3 octaves: flat, as the measurer reads
// its own pink noise (and white noise from the window rises 3 dB per octave).
TEST_F(GeneratorLoop, PinkNoiseFromTheWindowReadsFlatInTheOctaveWindow)
{
    FGenerator->RBtnPinkNoise->setChecked(true);
    FGenerator->RBtnPinkNoiseClick();
    EXPECT_FALSE(FGenerator->TrBarFr1->isEnabled());
    EXPECT_FALSE(FGenerator->LabEditFr2->isEnabled());
    EXPECT_TRUE(GenPink);
    EXPECT_FALSE(GenNoise);
    EXPECT_EQ(GenSignal, GenSignalPinkNoise);
    OpenOutput("Test Headset");
    ASSERT_TRUE(ChooseSource("Test Headset"));
    ASSERT_TRUE(Loopback);
    testsupport::ExpectFlatPinkNoise(AverageInTheOctaveWindow(30));

    FGenerator->RBtnWhiteNoise->setChecked(true);
    FGenerator->RBtnWhiteNoiseClick();
    EXPECT_FALSE(GenPink);
    testsupport::ExpectWhiteNoiseSlope(AverageInTheOctaveWindow(10));

    FGenerator->RBtnSine->setChecked(true);
    FGenerator->RBtnSineClick();
    EXPECT_TRUE(GenSine && !GenNoise && !GenPink);
    EXPECT_TRUE(FGenerator->TrBarFr1->isEnabled());
    EXPECT_EQ(GenSignal, GenSignalSine);
}

// The test microphone's 1 kHz tone stands highest in the octave window, in
// the 1 kHz band, on both channels; from two bands away the filters' skirts
// leave it well below.
TEST_F(GeneratorLoop, TheMicrophonesToneIsTheHighestBar)
{
    ASSERT_TRUE(ChooseSource("Test Microphone"));
    FormMain->menuBandsClick();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(FormBands));
    ASSERT_TRUE(WaitForBlocks(10));
    const auto bands = WindowBandLevels();
    ASSERT_EQ(bands.size(), 30u);
    for (auto level : {&testsupport::BandLevel::left, &testsupport::BandLevel::right}) {
        const auto highest = std::max_element(bands.begin(), bands.end(),
                                              [&](const auto& a, const auto& b) { return a.*level < b.*level; });
        EXPECT_EQ(highest->nominal, 1000.0);
        for (const auto& band : bands) {
            const bool nextToIt = band.nominal >= 800.0 && band.nominal <= 1250.0;
            if (!nextToIt) {
                EXPECT_LT(band.*level, (*highest).*level - 20.0) << band.nominal << " Hz";
            }
        }
    }
}

// A stored noise choice is selected when the window is made: its button, its
// flag, the frequencies disabled; the show's sine flag is written over.
TEST_F(GeneratorLoop, TheStoredSignalIsChosenAtCreation)
{
    for (int32_t stored : {GenSignalPinkNoise, GenSignalWhiteNoise}) {
        GenSignal = stored;
        GenPink = GenNoise = false;
        TFGenerator window;
        EXPECT_EQ(window.RBtnPinkNoise->isChecked(), stored == GenSignalPinkNoise);
        EXPECT_EQ(window.RBtnWhiteNoise->isChecked(), stored == GenSignalWhiteNoise);
        EXPECT_EQ(GenPink.load(), stored == GenSignalPinkNoise);
        EXPECT_EQ(GenNoise.load(), stored == GenSignalWhiteNoise);
        EXPECT_FALSE(window.TrBarFr1->isEnabled());
    }
    GenSignal = GenSignalSine;
    GenPink = GenNoise = false;
    TFGenerator window;
    EXPECT_TRUE(window.RBtnSine->isChecked());
    EXPECT_FALSE(GenPink || GenNoise) << "as the window always started";
    EXPECT_TRUE(window.TrBarFr1->isEnabled());
}

// An independent client records the headset's monitor while the generator
// plays into it and all three views run; every sample must be the sine's
// value at its frame: a single dropped or repeated buffer shows. 5 s here;
// SONALYX_GAP_SECONDS asks for longer.
TEST_F(GeneratorLoop, AnIndependentRecordingHasNoGap)
{
    const char* asked = std::getenv("SONALYX_GAP_SECONDS");
    const int seconds = asked ? std::max(1, std::atoi(asked)) : 5;
    QTemporaryDir dir;
    const std::string file = dir.filePath("monitor.raw").toStdString();
    ASSERT_TRUE(ChooseSource("Test Headset")); // the views show what is recorded
    SetFrequencies(1000, 3000);
    ASSERT_TRUE(ChooseOutput("Test Headset"));

    std::atomic<bool> recorded{false};
    // The recorder asks for no short latency of its own: on PipeWire that
    // would shorten the period of the whole device, the program's streams'
    // included, and so make the device more likely to miss one.
    std::thread recorder([&] {
        testsupport::RunCommand("timeout " + std::to_string(seconds + 1) +
                                " parec --raw --format=s16le --rate=44100 --channels=2 --latency-msec=50"
                                " --device=test_headset.monitor > '" +
                                file + "'");
        recorded = true;
    });
    // The recording starts with silence: at least 100 ms of it before the tone.
    const auto fileBytes = [&] { return QFileInfo(QString::fromStdString(file)).size(); };
    ASSERT_TRUE(WaitFor([&] { return fileBytes() >= 4 * 4410; }, 5000)) << "parec records nothing";
    FGenerator->BtnWOutOpenClick();
    EXPECT_TRUE(WaveOutIsOpen);
    WaitFor([&] { return recorded.load(); }, (seconds + 5) * 1000); // the views run meanwhile
    recorder.join();
    FGenerator->BtnWOutOpenClick();

    std::ifstream in(file, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<int16_t> frames(bytes.size() / 2);
    std::memcpy(frames.data(), bytes.data(), frames.size() * 2);
    const size_t total = frames.size() / 2;
    size_t start = 0;
    while (start < total && frames[2 * start] == 0 && frames[2 * start + 1] == 0)
        ++start;
    ASSERT_LT(start, total) << "the tone never arrived";
    const size_t played = total - start;
    ASSERT_GT(played, size_t(44100) * seconds * 9 / 10);
    const auto heardAs = [&](size_t i, size_t n) {
        const auto m = static_cast<uint32_t>(2 * n);
        return frames[2 * (start + i)] == SineSampleFast(m, 1000) &&
               frames[2 * (start + i) + 1] == SineSampleFast(m, 3000);
    };
    // Frame 0 of the sine is silent, so the first sound heard is frame 1,
    // unless the server skipped the stream's first moments as it joined the
    // sink's mix (seen now and then after many sinks came and went): then it
    // is the frame that the first 32 heard ones continue.
    const auto continues = [&](size_t n) {
        for (size_t i = 0; i < 32; ++i)
            if (!heardAs(i, n + i))
                return false;
        return true;
    };
    size_t first = 1;
    while (first < 44100 && !continues(first))
        ++first;
    ASSERT_LT(first, 44100u) << "the first frames heard are not the sine";
    EXPECT_LT(first, 4410u) << "more than 100 ms skipped at the start";
    size_t wrong = 0, firstWrong = 0;
    for (size_t i = 0; i < played; ++i)
        if (!heardAs(i, first + i) && wrong++ == 0)
            firstWrong = i;
    // What the gap is: a run of silence, and whether the sine then goes on
    // where it stopped (silence put in) or further on (sound lost).
    size_t silent = 0;
    while (wrong > 0 && firstWrong + silent < played && frames[2 * (start + firstWrong + silent)] == 0 &&
           frames[2 * (start + firstWrong + silent) + 1] == 0)
        ++silent;
    const bool putIn = wrong > 0 && firstWrong + silent < played && heardAs(firstWrong + silent, first + firstWrong);
    EXPECT_EQ(wrong, 0u) << "first wrong frame " << firstWrong << " of " << played << ": " << silent
                         << " silent frames, then the sine " << (putIn ? "goes on where it stopped" : "jumps");
    EXPECT_EQ(GenUnderruns, 0u) << "the generator's stream ran dry";
    std::printf("recorded %zu frames of the sine (%.1f s) from frame %zu on, %zu wrong, %llu underruns\n", played,
                played / 44100.0, first, wrong, static_cast<unsigned long long>(GenUnderruns.load()));
}

TEST_F(GeneratorLoop, TypingPassesThroughEveryPrefixAndEmptyMeansZero)
{
    QLineEdit* edit = FGenerator->LabEditFr1;
    edit->selectAll();
    const std::pair<char, float> steps[] = {{'1', 1}, {'0', 10}, {'0', 100}, {'0', 1000}};
    for (const auto& [key, hertz] : steps) {
        QTest::keyClick(edit, key);
        EXPECT_EQ(FreqLeft, hertz) << edit->text().toStdString();
    }
    EXPECT_EQ(FGenerator->TrBarFr1->value(), 61);
    QTest::keyClicks(edit, "x-+. ");
    EXPECT_EQ(edit->text(), "1000") << "only digits and Backspace reach the edit";

    for (const float hertz : {100.0f, 10.0f, 1.0f}) {
        QTest::keyClick(edit, Qt::Key_Backspace);
        EXPECT_EQ(FreqLeft, hertz);
    }
    QTest::keyClick(edit, Qt::Key_Backspace);
    EXPECT_EQ(edit->text(), "0");
    EXPECT_EQ(FreqLeft, 0.0f);
    EXPECT_EQ(FGenerator->TrBarFr1->value(), 1);

    FGenerator->LabEditFr2->setText("25000");
    EXPECT_EQ(FGenerator->LabEditFr2->text(), "20000");
    EXPECT_EQ(FreqRight, 20000.0f);
    EXPECT_EQ(FGenerator->TrBarFr2->value(), 275);
    FGenerator->LabEditFr2->setText("20050");
    EXPECT_EQ(FreqRight, 20050.0f);
    EXPECT_EQ(FGenerator->TrBarFr2->value(), 275);

    // The track bar sets the frequency; the edit follows at the next tick.
    FGenerator->TrBarFr1->setValue(100);
    EXPECT_EQ(FreqLeft, 2640.0f);
    FGenerator->TrBarFr1->setValue(5);
    EXPECT_EQ(FreqLeft, 0.0f);
    FGenerator->TrBarFr1->setValue(20);
    FGenerator->Timer1Timer();
    EXPECT_EQ(edit->text(), "100");
    EXPECT_TRUE(app->messages.empty());
}

TEST_F(GeneratorLoop, PastedJunkKeepsTheFrequencyAndSaysWhy)
{
    SetFrequencies(440, 880);
    QLineEdit* edit = FGenerator->LabEditFr1;
    for (const char* junk : {"12abc", "-5", "99999999999"}) {
        QApplication::clipboard()->setText(junk);
        edit->selectAll();
        edit->paste();
        EXPECT_EQ(edit->text().toStdString(), junk);
        EXPECT_EQ(FreqLeft, 440.0f) << junk;
        EXPECT_FALSE(FGenerator->FreqEditing);
        ASSERT_FALSE(app->messages.empty());
        EXPECT_EQ(app->messages.back(), "'" + std::string(junk) + "' is not a valid integer value.");
        FGenerator->Timer1Timer();
        EXPECT_EQ(edit->text(), "440");
    }
}

// The program's playback stream as pactl lists it: its index and volume.
struct SinkInput {
    long index = -1;
    std::string volume;
};

SinkInput OurSinkInput()
{
    const std::string listing = Pactl("list sink-inputs").output;
    const std::regex block(R"(Sink Input #(\d+)([\s\S]*?)(?=Sink Input #|$))");
    for (auto it = std::sregex_iterator(listing.begin(), listing.end(), block); it != std::sregex_iterator(); ++it) {
        const std::string body = (*it)[2];
        // This process's stream (the tone player's is named alike).
        if (body.find("application.process.id = \"" + std::to_string(getpid()) + "\"") == std::string::npos)
            continue;
        std::smatch volume;
        std::regex_search(body, volume, std::regex(R"(Volume: (.*))"));
        return {std::stol((*it)[1]), volume.size() > 1 ? volume[1].str() : ""};
    }
    return {};
}

TEST_F(GeneratorLoop, OutputVolumeGoesBothWays)
{
    OpenOutput("Test Headset");
    // The track bar takes the stream's volume at the open, or at the next
    // tick where PipeWire does not list the new stream at once.
    EXPECT_TRUE(WaitFor([] { return FGenerator->TrBarVolume->value() == 65535; }, 300));
    EXPECT_EQ(GetOutVolume(), 65535u);
    // The capture tick holds the volume handler off while it refills; stop
    // it so the program's own write is not skipped by chance.
    platform::TimeKillEvent(MMTimerID);
    GenRefillIdle = true;

    FGenerator->TrBarVolume->setValue(32768);
    // 65535 is the server's 100%, so 32768 lies just above its 50% (32768 of 65536).
    SinkInput ours;
    EXPECT_TRUE(testsupport::WaitUntil(
        [&] {
            ours = OurSinkInput();
            return ours.volume.find("front-left: 32769 /  50%") != std::string::npos &&
                   ours.volume.find("front-right: 32769 /  50%") != std::string::npos;
        },
        1000ms))
        << ours.volume;
    ASSERT_GE(ours.index, 0);

    ASSERT_EQ(Pactl("set-sink-input-volume " + std::to_string(ours.index) + " 25%").exitCode, 0);
    // The program reads the volume from the server at every 100 ms tick, so
    // the tick after the change shows it.
    const auto started = std::chrono::steady_clock::now();
    EXPECT_TRUE(testsupport::WaitUntil([] { return GetOutVolume() == 16384; }, 100ms));
    const auto lag = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
    std::printf("the server reported the new volume after %.1f ms\n", lag);
    FGenerator->Timer1Timer(); // the next 100 ms tick
    EXPECT_EQ(FGenerator->TrBarVolume->value(), 16384);
    EXPECT_EQ(FGenerator->LabGetVolume->text(), "25%");
    FGenerator->Timer1Timer();
    EXPECT_EQ(FGenerator->TrBarVolume->value(), 16384) << "reading back does not move the level";
    EXPECT_NE(OurSinkInput().volume.find("25%"), std::string::npos);
}

TEST_F(GeneratorLoop, PlaybackDevicesComingAndGoing)
{
    const int before = FGenerator->CmbBoxAOut->count();
    LoadedModule extra("module-null-sink", "sink_name=extra_out sink_properties=device.description=ExtraOut");
    ASSERT_TRUE(extra.loaded());
    ASSERT_TRUE(WaitFor([&] { return Count(OutputChangedMessage) >= 1; }, 2000));
    // The count that gave the message already held the new sink; a second
    // message would come from the window's next ticks.
    ASSERT_TRUE(WaitForTimerTicks(FGenerator->Timer1, 2));
    EXPECT_EQ(Count(OutputChangedMessage), 1u);
    ASSERT_EQ(FGenerator->CmbBoxAOut->count(), before + 1);

    // Playing into it when it vanishes: the program runs on, the output is
    // closed at the next count change, and another device plays.
    SetFrequencies(1000, 1000);
    OpenOutput("ExtraOut");
    ASSERT_TRUE(extra.unload());
    ASSERT_TRUE(WaitFor([&] { return Count(OutputChangedMessage) >= 2; }, 2000));
    EXPECT_FALSE(WaveOutIsOpen);
    EXPECT_EQ(FGenerator->BtnWOutOpen->text(), "Open");
    EXPECT_EQ(FGenerator->CmbBoxAOut->count(), before);
    OpenOutput("Test Headset");
    ASSERT_TRUE(ChooseSource("Test Headset"));
    EXPECT_TRUE(PeaksAt(93, 93));
    FGenerator->BtnWOutOpenClick();

    // A device that has just gone away: the open fails with the device's text.
    LoadedModule brief("module-null-sink", "sink_name=brief_out sink_properties=device.description=BriefOut");
    ASSERT_TRUE(WaitFor([&] { return FGenerator->CmbBoxAOut->findText("BriefOut") >= 0; }, 2000));
    ASSERT_TRUE(ChooseOutput("BriefOut"));
    FGenerator->Timer1->stop();
    const int sinks = platform::WaveOutGetNumDevs();
    ASSERT_TRUE(brief.unload());
    ASSERT_TRUE(WaitFor([&] { return platform::WaveOutGetNumDevs() < sinks; }, 2000));
    const size_t messagesBefore = app->messages.size();
    FGenerator->BtnWOutOpenClick();
    EXPECT_FALSE(WaveOutIsOpen);
    EXPECT_EQ(FGenerator->BtnWOutOpen->text(), "Open");
    EXPECT_FALSE(FGenerator->ImageOFF->isHidden());
    ASSERT_GT(app->messages.size(), messagesBefore);
    EXPECT_EQ(app->messages.back(), "There is no audio device with this number.");
}

} // namespace
