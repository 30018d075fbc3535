// The wave-in block path on an in-process sound server: the capture tick's
// gate, buffer order after a pause, and loopback block assembly.
#include "app/main_ticks.h"
#include "capture/WaveIn.h"
#include "platform/dialogs.h"
#include "state/global.h"
#include "support/inprocess_server.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {
using platform::CountingLeft;
using platform::CountingRight;

class BlockPath : public ::testing::Test {
protected:
    platform::InProcessServer* server = nullptr;
    std::vector<std::string> messages;

    void SetUp() override
    {
        auto s = std::make_unique<platform::InProcessServer>();
        server = s.get();
        server->addSource("mic", "Test Microphone", platform::CountingSignal());
        platform::SetServer(std::move(s));
        platform::SetMessageHook(
            [this](const std::string&, const std::string& text, platform::MsgIcon) { messages.push_back(text); });
        Started = false;
        Paused = false;
        Loopback = false;
        std::memset(Samples, 0, sizeof Samples);
    }

    void TearDown() override
    {
        WaveInClose();
        Started = false;
        Paused = false;
        Loopback = false;
        platform::SetMessageHook({});
        platform::ResetServer();
    }

    // Runs one tick and tells whether it took a block.
    bool TickTakes()
    {
        const int32_t before = SpTmColumn;
        CaptureTick(0, nullptr);
        return SpTmColumn != before;
    }

    void ExpectNewestBlockIsFrames(uint64_t first)
    {
        for (int f = 0; f < 4410; f += 97) {
            ASSERT_EQ(Sample(1, f), CountingLeft(first + f)) << "frame " << f;
            ASSERT_EQ(Sample(2, f), CountingRight(first + f)) << "frame " << f;
        }
    }
};

TEST_F(BlockPath, GateBeforeTheFirstActivationOpensOnlyDuringADeviceStart)
{
    WaveInOpenDev(0);
    ASSERT_TRUE(InOpen);
    server->pump(4410);
    EXPECT_FALSE(TickTakes()) << "not started and not paused: closed";
    EXPECT_EQ(TrBarVolumeTag, 1) << "a gated tick leaves the Tag raised";
    Paused = true; // as while a device starts
    EXPECT_TRUE(TickTakes());
    EXPECT_EQ(TrBarVolumeTag, 0);
    ExpectNewestBlockIsFrames(0);
}

TEST_F(BlockPath, GateAfterTheFirstActivationOpensOnlyWhenNeitherPausedNorLoopback)
{
    Started = true;
    WaveInOpenDev(0);
    server->pump(4410);
    Paused = true;
    EXPECT_FALSE(TickTakes());
    Paused = false;
    Loopback = true;
    EXPECT_FALSE(TickTakes());
    Loopback = false;
    EXPECT_TRUE(TickTakes());
    EXPECT_FALSE(TickTakes()) << "no second full buffer yet";
}

TEST_F(BlockPath, AfterAPauseBothStaleBuffersAreTakenInOrderThenLiveBlocks)
{
    Started = true;
    Paused = true;
    WaveInOpenDev(0);
    server->pump(4410 * 3); // both buffers fill; the third block finds none queued
    Paused = false;
    EXPECT_TRUE(TickTakes());
    // Buffer 0 went to the previous half, buffer 1 is the newest block; the
    // analysis ran once for both.
    ExpectNewestBlockIsFrames(4410);
    EXPECT_EQ(Sample(1, -4410), CountingLeft(0));
    EXPECT_EQ(Sample(2, -1), CountingRight(4409));
    // Recording resumed after the take: the next block is live data.
    server->pump(4410);
    EXPECT_TRUE(TickTakes());
    ExpectNewestBlockIsFrames(3 * 4410);
}

TEST_F(BlockPath, SampleSlotAfterTheNewestBlockStaysZero)
{
    Started = true;
    WaveInOpenDev(0);
    for (int i = 0; i < 5; ++i) {
        server->pump(4410);
        CaptureTick(0, nullptr);
    }
    EXPECT_EQ(Sample(1, 4410), 0);
    EXPECT_EQ(Sample(2, 4410), 0);
}

TEST_F(BlockPath, OpenFailureShowsTheDeviceText)
{
    server->failNextOpen("mic", "Device or resource busy");
    WaveInOpenDev(0);
    EXPECT_FALSE(InOpen);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find("busy"), std::string::npos) << messages[0];
}

TEST_F(BlockPath, DeviceVanishingMidCaptureTakesNothingMore)
{
    Started = true;
    WaveInOpenDev(0);
    server->pump(4410);
    ASSERT_TRUE(TickTakes());
    // Half a buffer in, the device goes; what it would have recorded after
    // that is more than enough to fill the buffer.
    server->pump(2000);
    server->removeSource("mic");
    server->pump(2 * 4410);
    EXPECT_FALSE(TickTakes());
    WaveInClose();
    EXPECT_FALSE(InOpen);
}

TEST(LoopbackBlock, AShortReadIsSilenceAfterTheBytesDelivered)
{
    std::vector<uint8_t> bytes(17640);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<uint8_t>(i * 7 + 1);
    std::lock_guard<std::mutex> guard(DataLock);
    StoreInterleavedBlock(bytes.data(), 400); // 100 frames
    EXPECT_EQ(Sample(1, 0), static_cast<int16_t>(bytes[0] | bytes[1] << 8));
    EXPECT_EQ(Sample(2, 99), static_cast<int16_t>(bytes[398] | bytes[399] << 8));
    EXPECT_EQ(Sample(1, 100), 0);
    EXPECT_EQ(Sample(2, 4409), 0);
}
} // namespace
