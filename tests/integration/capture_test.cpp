// The running program against the private PulseAudio daemon: blocks at ten
// per second, known tones at their bins through both capture paths, device
// choice, the input level both ways, hot-plugged and vanishing devices.
#include "common/live_program.h"

#include "app/main.h"
#include "app/main_ticks.h"
#include "capture/WaveIn.h"
#include "platform/soundserver.h"
#include "platform/timer.h"
#include "state/global.h"

#include <QTest>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <mutex>
#include <thread>

using namespace std::chrono_literals;
using testsupport::LoadedModule;
using testsupport::Pactl;

namespace {

class LiveCapture : public LiveProgram {
protected:
    static bool SourceListed(const std::string& name)
    {
        const auto sources = platform::Server().sources();
        return std::any_of(sources.begin(), sources.end(), [&](const auto& s) { return s.name == name; });
    }

    size_t DeviceMessages() const
    {
        size_t n = 0;
        for (const std::string& m : app->messages)
            n += m == "The number of audio devices\rhas changed!";
        return n;
    }
};

TEST_F(LiveCapture, TestMicrophoneGivesTenBlocksPerSecondPeakingAtBin93)
{
    EXPECT_EQ(DeviceName, "Test Microphone");
    ASSERT_TRUE(WaitForBlocks(3));
    const int32_t start = BlocksSoFar();
    QTest::qWait(2000);
    const int32_t blocks = BlocksSoFar() - start;
    EXPECT_GE(blocks, 18);
    EXPECT_LE(blocks, 22);
    EXPECT_EQ(PeakBin(1), 93);
    EXPECT_EQ(PeakBin(2), 93);
    EXPECT_TRUE(app->messages.empty());
}

TEST_F(LiveCapture, ToneIntoTheHeadsetShowsAtBin279ThroughLineInAndLoopback)
{
    testsupport::TonePlayer tone("test_headset", 3000);
    ASSERT_TRUE(tone.playing());

    ASSERT_TRUE(ChooseSource("Test Line In"));
    EXPECT_FALSE(Loopback);
    EXPECT_TRUE(InOpen);
    EXPECT_EQ(FormMain->windowTitle(), "Sonalyx - Test Line In    ");
    EXPECT_FALSE(FormMain->ImageMicro->isHidden());
    EXPECT_TRUE(FormMain->ImageSpeaker->isHidden());
    EXPECT_TRUE(FormMain->TrBarVolume->isEnabled());
    EXPECT_EQ(FormMain->LabLevel->text(), "Input Volume");
    ASSERT_TRUE(WaitForBlocks(3));
    EXPECT_EQ(PeakBin(1), 279);
    EXPECT_EQ(PeakBin(2), 279);

    ASSERT_TRUE(ChooseSource("Test Headset"));
    EXPECT_TRUE(Loopback);
    EXPECT_FALSE(InOpen);
    EXPECT_EQ(FormMain->windowTitle(), "Sonalyx - Test Headset    ");
    EXPECT_TRUE(FormMain->ImageMicro->isHidden());
    EXPECT_FALSE(FormMain->ImageSpeaker->isHidden());
    EXPECT_FALSE(FormMain->TrBarVolume->isEnabled());
    EXPECT_EQ(FormMain->LabLevel->text(), "LoopBack Device");
    ASSERT_TRUE(WaitForBlocks(3));
    // Each call of the recording procedure reads a whole block (the 100 ms
    // tick marks "nothing read" in between).
    EXPECT_TRUE(WaitFor([] { return LoopbackBytes.load() == 17640u; }, 1000)) << LoopbackBytes.load();
    EXPECT_EQ(PeakBin(1), 279);
    EXPECT_EQ(PeakBin(2), 279);
    EXPECT_TRUE(app->messages.empty());
}

TEST_F(LiveCapture, InputLevelGoesBothWays)
{
    // The capture tick holds the level handler off while it runs; stop it so
    // the program's own write is not skipped by chance.
    platform::TimeKillEvent(MMTimerID);
    TrBarVolumeTag = 0;

    FormMain->TrBarVolume->setValue(37);
    ASSERT_TRUE(testsupport::WaitUntil(
        [] { return Pactl("get-source-volume test_mic").output.find("37%") != std::string::npos; }, 1000ms))
        << Pactl("get-source-volume test_mic").output;

    ASSERT_EQ(Pactl("set-source-volume test_mic 55%").exitCode, 0);
    // The client's cached volume follows within the tick's period, and the
    // next 100 ms tick shows it.
    EXPECT_TRUE(testsupport::WaitUntil(
        [] { return std::fabs(platform::Server().sourceVolume("test_mic").value_or(0) - 0.55f) < 0.01f; }, 100ms));
    FormMain->TimerInfoTimer();
    EXPECT_EQ(FormMain->TrBarVolume->value(), 55);
    EXPECT_EQ(FormMain->LabInpValue->text(), "55%");

    Pactl("set-source-volume test_mic 100%");
}

TEST_F(LiveCapture, AFurtherSinkGivesOneMessageAndANewList)
{
    const int before = FormMain->CmbBoxAIn->count();
    {
        LoadedModule sink("module-null-sink", "sink_name=extra_sink sink_properties=device.description=Extra");
        ASSERT_TRUE(sink.loaded());
        ASSERT_TRUE(WaitFor([&] { return DeviceMessages() >= 1; }, 2000));
        // A second message would come from a later tick's device watch once
        // the client knows the sink's monitor too.
        ASSERT_TRUE(WaitFor([] { return SourceListed("extra_sink.monitor"); }, 2000));
        ASSERT_TRUE(WaitForTimerTicks(FormMain->TimerInfo, 2));
        EXPECT_EQ(DeviceMessages(), 1u);
        EXPECT_EQ(FormMain->CmbBoxAIn->count(), before + 1);
        EXPECT_NE(FormMain->CmbBoxAIn->findText("Extra"), -1);
        EXPECT_EQ(DeviceName, "Test Microphone") << "the default device was started again";
        EXPECT_TRUE(InOpen);
    }
    ASSERT_TRUE(WaitFor([&] { return DeviceMessages() >= 2; }, 2000));
    EXPECT_EQ(FormMain->CmbBoxAIn->count(), before);
}

TEST_F(LiveCapture, UnloadingTheCapturedDeviceLeavesTheProgramRunning)
{
    {
        // A recording device of its own (what it hears does not matter here).
        LoadedModule mic("module-remap-source", "source_name=extra_mic master=test_speakers.monitor "
                                                "source_properties=device.description=ExtraMic");
        ASSERT_TRUE(mic.loaded());
        ASSERT_TRUE(WaitFor([&] { return DeviceMessages() >= 1; }, 2000));
        ASSERT_TRUE(ChooseSource("ExtraMic"));
        EXPECT_TRUE(InOpen);
        ASSERT_TRUE(WaitForBlocks(2));
        ASSERT_TRUE(mic.unload());
        // The device watch notices, reads the list again and restarts the
        // default device.
        ASSERT_TRUE(WaitFor([&] { return DeviceMessages() >= 2; }, 2000));
    }
    EXPECT_EQ(DeviceName, "Test Microphone");
    ASSERT_TRUE(WaitForBlocks(3));
    EXPECT_EQ(PeakBin(1), 93);

    // The same with a loopback device.
    {
        LoadedModule sink("module-null-sink", "sink_name=gone_sink sink_properties=device.description=GoneSink");
        ASSERT_TRUE(WaitFor([&] { return DeviceMessages() >= 3; }, 2000));
        ASSERT_TRUE(ChooseSource("GoneSink"));
        EXPECT_TRUE(Loopback);
        ASSERT_TRUE(WaitForBlocks(2));
        ASSERT_TRUE(sink.unload());
        ASSERT_TRUE(WaitFor([&] { return DeviceMessages() >= 4; }, 2000));
    }
    EXPECT_FALSE(Loopback);
    ASSERT_TRUE(WaitForBlocks(3)) << "a later start works";
}

TEST_F(LiveCapture, FifteenExtraSinksAreListedAndEachStarts)
{
    const int devicesBefore = NumInDevs + NumOutDevs;
    std::vector<std::unique_ptr<LoadedModule>> sinks;
    for (int i = 1; i <= 15; ++i) {
        const std::string n = std::to_string(i);
        sinks.push_back(std::make_unique<LoadedModule>(
            "module-null-sink", "sink_name=many" + n + " sink_properties=device.description=Many" + n));
        ASSERT_TRUE(sinks.back()->loaded());
    }
    // The device watch settles once it has counted all fifteen.
    ASSERT_TRUE(WaitFor([&] { return NumInDevs + NumOutDevs == devicesBefore + 15; }, 3000));
    ASSERT_GE(FormMain->CmbBoxAIn->findText("Many15"), 0);
    for (int i = 1; i <= 15; ++i) {
        const QString name = QString("Many%1").arg(i);
        ASSERT_TRUE(ChooseSource(name)) << name.toStdString();
        EXPECT_TRUE(Loopback);
        EXPECT_GT(RecChannel.load(), 1u);
        EXPECT_TRUE(WaitForBlocks(1)) << name.toStdString();
        EXPECT_EQ(FormMain->CmbBoxAIn->currentText(), name);
    }
    const size_t messagesBefore = DeviceMessages();
    sinks.clear();
    ASSERT_TRUE(
        WaitFor([&] { return DeviceMessages() > messagesBefore && FormMain->CmbBoxAIn->findText("Many1") < 0; }, 3000));
}
} // namespace
