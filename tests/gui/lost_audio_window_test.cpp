// Lost audio in the running program on the in-process sound server: buffers
// withheld from the wave-in device and the server's overflow each raise the
// count by exactly the frames lost; the main window shows it while it is not
// zero, the snapshot's summary carries it, a device change starts it again
// at zero; a capture stream that ends on its own is
// told once; the generator's sound running dry in the middle is counted
// and shown in its window.
#include "common/app_support.h"

#include "app/main.h"
#include "app/main_ticks.h"
#include "app/snapshot.h"
#include "capture/WaveIn.h"
#include "generator/Generator.h"
#include "playback/WaveOut.h"
#include "state/global.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <memory>
#include <mutex>

namespace {

class LostAudioWindow : public ::testing::Test {
protected:
    platform::InProcessServer* server = nullptr;
    std::unique_ptr<AppHarness> app;

    void SetUp() override
    {
        server = InstallMicAndSpeakers(platform::CountingSignal());
        app = std::make_unique<AppHarness>(true);
        ASSERT_GT(app->TicksUntilStarted(), 0);
        ASSERT_TRUE(InOpen) << "the test microphone on the wave-in path";
        ASSERT_EQ(DeviceDroppedFrames(), 0u);
    }
    void TearDown() override
    {
        app.reset();
        platform::ResetServer();
    }

    // Fills both wave-in buffers and `extra` frames more while the tick
    // cannot take a buffer (it waits for the history's lock).
    void PumpWithTickHeld(size_t extra)
    {
        std::lock_guard<std::mutex> guard(DataLock);
        server->pump(2 * 4410 + extra);
    }

    bool BlocksTaken(uint64_t count, uint64_t from)
    {
        return WaitFor([&] { return CapturedBlocks.load() >= from + count; }, 3000);
    }

    QString ShownLoss()
    {
        FormMain->TimerInfoTimer();
        return FormMain->LabLost->isHidden() ? QString() : FormMain->LabLost->text();
    }

    static QJsonObject SnapshotSummary()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("snapshot.json");
        EXPECT_EQ(WriteSnapshotSummary(path.toStdString()), "");
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        return QJsonDocument::fromJson(file.readAll()).object();
    }
};

TEST_F(LostAudioWindow, WithheldBuffersCountTheFramesLostAndTheWindowAndSnapshotSayIt)
{
    EXPECT_EQ(ShownLoss(), "");
    EXPECT_EQ(SnapshotSummary()["dropped_frames"].toInteger(-1), 0);

    const uint64_t before = CapturedBlocks;
    PumpWithTickHeld(4410);
    ASSERT_TRUE(BlocksTaken(2, before)) << "both held buffers reach the history";
    ASSERT_TRUE(WaitFor([] { return DeviceDroppedFrames() >= 4410; }, 3000));
    EXPECT_EQ(DeviceDroppedFrames(), 4410u);
    EXPECT_EQ(ShownLoss(), "Lost audio: 4410 frames (0.10 s)");
    const QJsonObject summary = SnapshotSummary();
    EXPECT_EQ(summary["dropped_frames"].toInteger(-1), 4410);
    EXPECT_EQ(summary["device"].toString(), "Test Microphone");

    // A reading that took its mark before the gap sees it; one after, not.
    const uint64_t mark = DroppedFrames;
    server->pump(4410);
    ASSERT_TRUE(BlocksTaken(3, before));
    EXPECT_EQ(DroppedFramesSince(mark), 0u);

    ASSERT_TRUE(ChooseSource("Test Speakers"));
    EXPECT_EQ(DeviceDroppedFrames(), 0u) << "another device starts at 0";
    EXPECT_EQ(ShownLoss(), "");
}

TEST_F(LostAudioWindow, TheServersOverflowCountsOnBothCapturePaths)
{
    const uint64_t before = CapturedBlocks;
    server->overflowCapture("test_mic", 1234);
    server->pump(4410 + 1234);
    ASSERT_TRUE(BlocksTaken(1, before));
    ASSERT_TRUE(WaitFor([] { return DeviceDroppedFrames() >= 1234; }, 3000));
    EXPECT_EQ(DeviceDroppedFrames(), 1234u);
    EXPECT_EQ(ShownLoss(), "Lost audio: 1234 frames (0.03 s)");
    EXPECT_EQ(SnapshotSummary()["dropped_frames"].toInteger(-1), 1234);

    ASSERT_TRUE(ChooseSource("Test Speakers"));
    ASSERT_TRUE(Loopback);
    server->overflowCapture("test_speakers.monitor", 999);
    const uint64_t loopbackStart = CapturedBlocks;
    server->pump(2 * 4410 + 999);
    ASSERT_TRUE(BlocksTaken(2, loopbackStart));
    ASSERT_TRUE(WaitFor([] { return DeviceDroppedFrames() >= 999; }, 3000));
    EXPECT_EQ(DeviceDroppedFrames(), 999u);
    EXPECT_EQ(ShownLoss(), "Lost audio: 999 frames (0.02 s)");
}

TEST_F(LostAudioWindow, ACaptureStreamEndingOnItsOwnIsToldOnce)
{
    server->killCaptureStreams("test_mic", "Killed by another program");
    for (int tick = 0; tick < 10; ++tick)
        FormMain->TimerInfoTimer();
    ASSERT_EQ(app->messages.size(), 1u);
    EXPECT_EQ(app->messages[0], "Capture from \"Test Microphone\" has stopped: Killed by another program");
}

TEST_F(LostAudioWindow, ARemovedDeviceIsToldAsADeviceChangeOnly)
{
    server->removeSource("test_mic");
    for (int tick = 0; tick < 10; ++tick)
        FormMain->TimerInfoTimer();
    ASSERT_EQ(app->messages.size(), 1u);
    EXPECT_EQ(app->messages[0], "The number of audio devices\rhas changed!");
}

TEST_F(LostAudioWindow, TheGeneratorRunningDryIsCountedAndShownInItsWindow)
{
    FGenerator->show();
    ASSERT_TRUE(GenPlaying);
    FGenerator->BtnWOutOpenClick();
    ASSERT_TRUE(WaveOutIsOpen);
    FGenerator->Timer1Timer();
    EXPECT_TRUE(FGenerator->LabUnderruns->isHidden());
    server->pump(4410); // a buffer played and refilled: no gap
    ASSERT_TRUE(WaitFor([] { return GenRefillIdle.load(); }, 3000));
    EXPECT_EQ(GenUnderruns, 0u);

    GenPlaying = false; // the tick stops refilling, as one that falls behind
    server->pump(3 * 4410);
    GenPlaying = true;
    ASSERT_TRUE(WaitFor([] { return GenUnderruns > 0; }, 3000));
    FGenerator->Timer1Timer();
    EXPECT_FALSE(FGenerator->LabUnderruns->isHidden());
    EXPECT_EQ(FGenerator->LabUnderruns->text().toStdString(), UnderrunText(GenUnderruns));

    FGenerator->BtnWOutOpenClick(); // closed and opened again: a new count
    FGenerator->BtnWOutOpenClick();
    ASSERT_TRUE(WaveOutIsOpen);
    FGenerator->Timer1Timer();
    EXPECT_TRUE(FGenerator->LabUnderruns->isHidden());
    FGenerator->close();
}

TEST(LostAudioText, SaysNothingForNoneAndCountsOtherwise)
{
    EXPECT_EQ(UnderrunText(0), "");
    EXPECT_EQ(UnderrunText(3), "Underruns: 3");
    EXPECT_EQ(LostAudioText(0), "");
    EXPECT_EQ(LostAudioText(1), "Lost audio: 1 frame (0.00 s)");
    EXPECT_EQ(LostAudioText(44100 * 3 / 2), "Lost audio: 66150 frames (1.50 s)");
}

} // namespace
