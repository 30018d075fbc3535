// A capture tick that comes late, on the in-process sound server: the full
// buffers reach the history in the order the device filled them, and the
// frames the device had to let go meanwhile are counted as lost, exactly.
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

class LateTick : public ::testing::Test {
protected:
    platform::InProcessServer* server = nullptr;
    uint64_t lostBefore = 0;

    void SetUp() override
    {
        auto s = std::make_unique<platform::InProcessServer>();
        server = s.get();
        server->addSource("mic", "Test Microphone", platform::CountingSignal());
        platform::SetServer(std::move(s));
        platform::SetMessageHook([](const std::string&, const std::string&, platform::MsgIcon) {});
        Started = true;
        Paused = false;
        Loopback = false;
        std::memset(Samples, 0, sizeof Samples);
        WaveInOpenDev(0);
        ASSERT_TRUE(InOpen);
        lostBefore = DroppedFrames;
    }

    void TearDown() override
    {
        WaveInClose();
        Started = false;
        platform::SetMessageHook({});
        platform::ResetServer();
    }

    // The history's block `slot` (0 newest, -1 the one before) holds frames
    // `first` ... of the counting signal.
    static void ExpectBlock(int slot, uint64_t first)
    {
        for (int f = 0; f < 4410; f += 89) {
            ASSERT_EQ(Sample(1, slot * 4410 + f), CountingLeft(first + f)) << "slot " << slot << " frame " << f;
            ASSERT_EQ(Sample(2, slot * 4410 + f), CountingRight(first + f)) << "slot " << slot << " frame " << f;
        }
    }
};

TEST_F(LateTick, BothBuffersGoOverInTheOrderFilledAndTheOverrunIsCounted)
{
    server->pump(4410);
    CaptureTick(0, nullptr); // takes buffer 0: buffer 1 is now the older one queued
    ExpectBlock(0, 0);
    server->pump(2 * 4410 + 1000); // both fill, buffer 1 first; 1000 frames find none queued
    CaptureTick(0, nullptr);
    ExpectBlock(-1, 4410);
    ExpectBlock(0, 2 * 4410);
    EXPECT_EQ(DroppedFrames - lostBefore, 1000u);
    server->pump(4410);
    CaptureTick(0, nullptr);
    ExpectBlock(0, 3 * 4410 + 1000); // the live data after the gap
    EXPECT_EQ(DroppedFrames - lostBefore, 1000u);
}

TEST_F(LateTick, WhatTheDeviceCannotKeepWhilePausedIsNotCounted)
{
    Paused = true;
    server->pump(3 * 4410);
    CaptureTick(0, nullptr); // paused: takes nothing
    Paused = false;
    CaptureTick(0, nullptr); // the two buffers filled while paused
    server->pump(4410);
    CaptureTick(0, nullptr);
    ExpectBlock(0, 3 * 4410); // after the block the device could not keep
    EXPECT_EQ(DroppedFrames - lostBefore, 0u);
}

} // namespace
