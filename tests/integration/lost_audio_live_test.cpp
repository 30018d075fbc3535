// Lost audio in the running program on the private sound server: a capture
// tick held up for more than the buffers hold loses what the clock says it
// must, on the wave-in path and on loopback, and the window and the
// snapshot say so; undisturbed capture loses nothing.
#include "common/live_program.h"

#include "app/main.h"
#include "app/main_ticks.h"
#include "app/snapshot.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <mutex>
#include <thread>

using namespace std::chrono_literals;

namespace {

constexpr double Rate = 44100.0;

class LiveLoss : public LiveProgram {
protected:
    // Holds the history's lock for `stall`, as a capture tick (or the
    // loopback procedure) that cannot get on would; returns how long it was
    // held in fact. Holding up the tick is the fault itself, not a wait.
    static double StallSeconds(std::chrono::milliseconds stall)
    {
        const auto from = std::chrono::steady_clock::now();
        {
            std::lock_guard<std::mutex> guard(DataLock);
            std::this_thread::sleep_for(stall);
        }
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
    }

    static QJsonObject Summary()
    {
        return QJsonDocument::fromJson(QByteArray::fromStdString(SnapshotSummary())).object();
    }

    QString ShownLoss()
    {
        FormMain->TimerInfoTimer();
        return FormMain->LabLost->isHidden() ? QString() : FormMain->LabLost->text();
    }

    // Lets capture run for `seconds` (SONALYX_NODROP_SECONDS when set) and
    // checks that every block arrived and nothing was lost.
    void ExpectNoLossOver(int seconds)
    {
        if (const char* asked = std::getenv("SONALYX_NODROP_SECONDS"))
            seconds = std::max(1, std::atoi(asked));
        ASSERT_TRUE(WaitForBlocks(2));
        const uint64_t blocks = CapturedBlocks;
        const auto from = std::chrono::steady_clock::now();
        WaitFor([] { return false; }, seconds * 1000); // the program runs meanwhile
        const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
        const double arrived = static_cast<double>(CapturedBlocks - blocks);
        EXPECT_EQ(DeviceDroppedFrames(), 0u) << "over " << elapsed << " s";
        EXPECT_NEAR(arrived, elapsed * 10, 3) << "blocks over " << elapsed << " s";
        std::printf("%s: %.0f blocks in %.1f s, %llu frames lost\n", DeviceName.c_str(), arrived, elapsed,
                    static_cast<unsigned long long>(DeviceDroppedFrames()));
    }
};

TEST_F(LiveLoss, ATickHeldUpForASecondLosesWhatTheWaveInBuffersCannotHold)
{
    ASSERT_EQ(DeviceName, "Test Microphone");
    ASSERT_TRUE(WaitForBlocks(3));
    EXPECT_EQ(ShownLoss(), "");
    const double stalled = StallSeconds(1200ms);
    ASSERT_TRUE(WaitFor([] { return DeviceDroppedFrames() > 0; }, 3000)) << "nothing counted";
    ASSERT_TRUE(WaitForBlocks(2));
    // Two 100 ms buffers held between 100 and 200 ms of room when the tick
    // stopped (less while a full one waited for the next tick); the rest of
    // the stall is lost, give or take a fragment.
    const double lost = static_cast<double>(DeviceDroppedFrames()) / Rate;
    EXPECT_GE(lost, stalled - 0.2 - 0.05) << "stalled " << stalled << " s";
    EXPECT_LE(lost, stalled - 0.1 + 0.07) << "stalled " << stalled << " s";
    EXPECT_EQ(ShownLoss().toStdString(), LostAudioText(DeviceDroppedFrames()));
    EXPECT_EQ(Summary()["dropped_frames"].toInteger(-1), static_cast<qint64>(DeviceDroppedFrames()));
}

TEST_F(LiveLoss, AProcedureHeldUpLongerThanTheLoopbackBufferLosesTheExcess)
{
    testsupport::TonePlayer tone("test_headset", 1000);
    ASSERT_TRUE(tone.playing());
    ASSERT_TRUE(ChooseSource("Test Headset"));
    ASSERT_TRUE(Loopback);
    ASSERT_TRUE(WaitForBlocks(3));
    EXPECT_EQ(DeviceDroppedFrames(), 0u);
    const double stalled = StallSeconds(1700ms);
    ASSERT_TRUE(WaitFor([] { return DeviceDroppedFrames() > 0; }, 3000)) << "nothing counted";
    ASSERT_TRUE(WaitForBlocks(2));
    // The procedure holds one block read when it stops and the library keeps
    // the newest second; the rest is lost, give or take a server period.
    const double lost = static_cast<double>(DeviceDroppedFrames()) / Rate;
    EXPECT_GE(lost, stalled - 1.1 - 0.1) << "stalled " << stalled << " s";
    EXPECT_LE(lost, stalled - 1.0 + 0.1) << "stalled " << stalled << " s";
    EXPECT_EQ(ShownLoss().toStdString(), LostAudioText(DeviceDroppedFrames()));
    EXPECT_EQ(Summary()["dropped_frames"].toInteger(-1), static_cast<qint64>(DeviceDroppedFrames()));
}

TEST_F(LiveLoss, UndisturbedWaveInCaptureLosesNothing)
{
    ExpectNoLossOver(5);
    EXPECT_EQ(ShownLoss(), "");
}

TEST_F(LiveLoss, UndisturbedLoopbackCaptureLosesNothing)
{
    testsupport::TonePlayer tone("test_headset", 1000);
    ASSERT_TRUE(tone.playing());
    ASSERT_TRUE(ChooseSource("Test Headset"));
    ExpectNoLossOver(5);
}

} // namespace
