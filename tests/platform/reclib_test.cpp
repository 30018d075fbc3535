// The recording library over the in-process sound server: device list and
// flags, init and free, loopback capture through the procedure on the
// library's thread, reads, level, failures of the server.
#include "platform/reclib.h"
#include "support/inprocess_server.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

using namespace platform;
using namespace platform::rec;
using namespace std::chrono_literals;

namespace {

constexpr uint32_t BlockBytes = 17640;
constexpr size_t BlockFrames = 4410;
constexpr uint32_t ReadFailed = static_cast<uint32_t>(-1);

// What the procedure saw, shared between the library's thread and the test.
struct ProcLog {
    std::mutex lock;
    std::condition_variable changed;
    std::vector<std::vector<uint8_t>> blocks; // what each call read with ChannelGetData
    std::vector<uint32_t> lengths;            // the length argument of each call
    bool badArguments = false;
    uint32_t channel = 0;
    bool read = true;                   // read a block per call
    std::chrono::milliseconds stall{0}; // time each call takes
    bool entered = false;

    size_t calls()
    {
        std::lock_guard<std::mutex> guard(lock);
        return lengths.size();
    }
    bool waitForCalls(size_t n)
    {
        std::unique_lock<std::mutex> guard(lock);
        return changed.wait_for(guard, 10s, [&] { return lengths.size() >= n; });
    }
};

bool LoggingProc(uint32_t handle, const void* buffer, uint32_t length, void* user)
{
    auto& log = *static_cast<ProcLog*>(user);
    uint32_t channel;
    std::chrono::milliseconds stall;
    bool read;
    {
        std::lock_guard<std::mutex> guard(log.lock);
        log.entered = true;
        channel = log.channel;
        stall = log.stall;
        read = log.read;
        if (buffer != nullptr || (channel != 0 && handle != channel) || length < BlockBytes)
            log.badArguments = true;
    }
    log.changed.notify_all();
    std::this_thread::sleep_for(stall);
    std::vector<uint8_t> block(BlockBytes);
    if (read) {
        const uint32_t got = ChannelGetData(handle, block.data(), BlockBytes);
        block.resize(got == ReadFailed ? 0 : got);
    }
    {
        std::lock_guard<std::mutex> guard(log.lock);
        log.lengths.push_back(length);
        if (read)
            log.blocks.push_back(std::move(block));
    }
    log.changed.notify_all();
    return true;
}

// Checks that `bytes` carry the counting signal from frame `firstPosition` on.
void ExpectCounting(const std::vector<uint8_t>& bytes, uint64_t firstPosition)
{
    ASSERT_EQ(bytes.size() % 4, 0u);
    for (size_t f = 0; f < bytes.size() / 4; ++f) {
        int16_t left, right;
        std::memcpy(&left, bytes.data() + 4 * f, 2);
        std::memcpy(&right, bytes.data() + 4 * f + 2, 2);
        ASSERT_EQ(left, CountingLeft(firstPosition + f)) << "frame " << f;
        ASSERT_EQ(right, CountingRight(firstPosition + f)) << "frame " << f;
    }
}

class RecLibTest : public ::testing::Test {
protected:
    // Devices: 1 "USB Microphone", 2 loopback of "Speakers", 3 "Line In" (default).
    void SetUp() override
    {
        auto owned = std::make_unique<InProcessServer>();
        server = owned.get();
        server->addSource("mic", "USB Microphone", Silence());
        server->addSink("spk", "Speakers", CountingSignal());
        server->addSource("line", "Line In", CountingSignal());
        server->setDefaultSource("line");
        SetServer(std::move(owned));
    }
    void TearDown() override
    {
        RecordFree();
        ResetServer();
    }

    uint32_t startLoopback()
    {
        EXPECT_TRUE(RecordInit(2));
        const uint32_t channel = RecordStart(44100, 2, 0, LoggingProc, &log);
        EXPECT_NE(channel, 0u) << ErrorGetCode();
        std::lock_guard<std::mutex> guard(log.lock);
        log.channel = channel;
        return channel;
    }

    InProcessServer* server = nullptr;
    ProcLog log;
    ProcLog fresh; // a second recording's, after the first was freed
};

TEST_F(RecLibTest, ListsEverySourceWithFlagsAndLoopbackNames)
{
    DeviceInfo info;
    ASSERT_TRUE(RecordGetDeviceInfo(1, &info));
    EXPECT_EQ(info.name, "USB Microphone");
    EXPECT_EQ(info.driver, "mic");
    EXPECT_EQ(info.flags, DEVICE_ENABLED);
    EXPECT_EQ(ErrorGetCode(), OK);

    ASSERT_TRUE(RecordGetDeviceInfo(2, &info));
    EXPECT_EQ(info.name, "Speakers"); // the sink's name, to match the playback device
    EXPECT_EQ(info.driver, "spk.monitor");
    EXPECT_EQ(info.flags, DEVICE_ENABLED | DEVICE_LOOPBACK);

    ASSERT_TRUE(RecordGetDeviceInfo(3, &info));
    EXPECT_EQ(info.name, "Line In");
    EXPECT_EQ(info.flags, DEVICE_ENABLED | DEVICE_DEFAULT);

    EXPECT_FALSE(RecordGetDeviceInfo(4, &info));
    EXPECT_EQ(ErrorGetCode(), ERROR_DEVICE);
    EXPECT_FALSE(RecordGetDeviceInfo(0, &info));
    EXPECT_FALSE(RecordGetDeviceInfo(-1, &info));

    // The list follows the server's changes.
    server->addSink("hdmi", "HDMI Output");
    ASSERT_TRUE(RecordGetDeviceInfo(4, &info));
    EXPECT_EQ(info.name, "HDMI Output");
    server->removeSink("spk");
    ASSERT_TRUE(RecordGetDeviceInfo(2, &info));
    EXPECT_EQ(info.name, "Line In");
    EXPECT_FALSE(RecordGetDeviceInfo(4, &info));
}

TEST_F(RecLibTest, InitAcceptsListedDevicesAndTheDefault)
{
    // -1 is the default device: the first activation initialises it when no
    // playback device has a loopback, and must not be told off for it.
    EXPECT_TRUE(RecordInit(-1));
    EXPECT_EQ(ErrorGetCode(), OK);
    EXPECT_TRUE(RecordFree());
    EXPECT_FALSE(RecordInit(-2));
    EXPECT_EQ(ErrorGetCode(), ERROR_DEVICE);
    EXPECT_FALSE(RecordInit(0));
    EXPECT_FALSE(RecordInit(4));
    EXPECT_EQ(ErrorGetCode(), ERROR_DEVICE);

    EXPECT_TRUE(RecordInit(1));
    EXPECT_EQ(ErrorGetCode(), OK);
    EXPECT_FALSE(RecordInit(1));
    EXPECT_EQ(ErrorGetCode(), ERROR_ALREADY);
    EXPECT_TRUE(RecordFree());
    EXPECT_EQ(RecordStart(44100, 2, 0, LoggingProc, &log), 0u);
    EXPECT_EQ(ErrorGetCode(), ERROR_INIT);

    server->setReachable(false);
    EXPECT_FALSE(RecordInit(1));
    EXPECT_EQ(ErrorGetCode(), ERROR_DRIVER);
}

TEST_F(RecLibTest, ErrorCodesBelongToTheCallingThread)
{
    EXPECT_FALSE(RecordInit(9));
    int otherThread = -2;
    std::thread([&] { otherThread = ErrorGetCode(); }).join();
    EXPECT_EQ(otherThread, OK);
    EXPECT_EQ(ErrorGetCode(), ERROR_DEVICE);
}

TEST_F(RecLibTest, LoopbackDataReachTheProcedureBlockByBlock)
{
    const uint32_t channel = startLoopback();
    ASSERT_NE(channel, 1u); // 1 is the program's "names no channel"
    EXPECT_EQ(server->captureStreamCount("spk.monitor"), 1);

    // Each block arrives in two parts, all but its last frame first. The
    // frame that completes it brings its call; a call for the part would
    // come before that one and read less than a block. Whether the
    // library's thread runs between the two parts is up to the scheduler,
    // so there are many rounds.
    constexpr size_t Rounds = 40;
    for (size_t k = 1; k <= Rounds; ++k) {
        server->pump(BlockFrames - 1);
        std::this_thread::yield();
        server->pump(1);
        ASSERT_TRUE(log.waitForCalls(k));
    }
    server->pump(2 * BlockFrames);
    ASSERT_TRUE(log.waitForCalls(Rounds + 2));
    std::lock_guard<std::mutex> guard(log.lock);
    EXPECT_FALSE(log.badArguments);
    ASSERT_EQ(log.blocks.size(), Rounds + 2);
    for (size_t k = 0; k < Rounds + 2; ++k) {
        ASSERT_EQ(log.blocks[k].size(), BlockBytes) << "call " << k;
        ExpectCounting(log.blocks[k], k * BlockFrames);
    }
}

TEST_F(RecLibTest, ReadsDeliverWhatIsBufferedUpToOneSecond)
{
    log.read = false; // the test reads for itself
    const uint32_t channel = startLoopback();
    std::vector<uint8_t> buffer(4 * 44100 * 2);

    server->pump(1000);
    EXPECT_EQ(ChannelGetData(channel, buffer.data(), BlockBytes), 4000u);
    ExpectCounting(std::vector<uint8_t>(buffer.begin(), buffer.begin() + 4000), 0);
    EXPECT_EQ(ChannelGetData(channel, buffer.data(), BlockBytes), 0u);
    EXPECT_EQ(ErrorGetCode(), OK);

    server->pump(1000);
    EXPECT_EQ(ChannelGetData(channel, buffer.data(), 400), 400u);
    ExpectCounting(std::vector<uint8_t>(buffer.begin(), buffer.begin() + 400), 1000);
    EXPECT_EQ(ChannelGetData(channel, buffer.data(), BlockBytes), 3600u);
    ExpectCounting(std::vector<uint8_t>(buffer.begin(), buffer.begin() + 3600), 1100);

    // Two seconds unread: only the newest second is kept.
    server->pump(2 * 44100);
    const uint32_t kept = ChannelGetData(channel, buffer.data(), static_cast<uint32_t>(buffer.size()));
    EXPECT_GE(kept, 4u * 44100 * 9 / 10);
    EXPECT_LE(kept, 4u * 44100 * 11 / 10);
    const uint64_t end = 2000 + 2 * 44100;
    ExpectCounting(std::vector<uint8_t>(buffer.begin(), buffer.begin() + kept), end - kept / 4);
}

TEST_F(RecLibTest, UnknownHandlesFailHarmlessly)
{
    uint8_t buffer[16];
    EXPECT_EQ(ChannelGetData(1, buffer, sizeof buffer), ReadFailed);
    EXPECT_EQ(ErrorGetCode(), ERROR_HANDLE);
    EXPECT_FALSE(ChannelStop(1));
    EXPECT_EQ(ErrorGetCode(), ERROR_HANDLE);
    EXPECT_FALSE(StreamFree(0));

    const uint32_t channel = startLoopback();
    EXPECT_EQ(ChannelGetData(1, buffer, sizeof buffer), ReadFailed);
    EXPECT_TRUE(ChannelStop(channel));
    EXPECT_EQ(server->captureStreamCount("spk.monitor"), 0);
    EXPECT_FALSE(StreamFree(channel)); // already ended
}

TEST_F(RecLibTest, FreeWhileTheProcedureRunsWaitsForIt)
{
    log.stall = 200ms;
    const uint32_t channel = startLoopback();
    ASSERT_NE(channel, 0u);
    server->pump(2 * BlockFrames);
    {
        std::unique_lock<std::mutex> guard(log.lock);
        ASSERT_TRUE(log.changed.wait_for(guard, 10s, [&] { return log.entered; }));
    }
    EXPECT_TRUE(RecordFree()); // returns once the running call has returned
    const size_t calls = log.calls();
    EXPECT_GE(calls, 1u);
    {
        std::lock_guard<std::mutex> guard(log.lock);
        // The call that was running could still read its block.
        ASSERT_FALSE(log.blocks.empty());
        EXPECT_EQ(log.blocks.front().size(), BlockBytes);
    }
    EXPECT_EQ(server->captureStreamCount("spk.monitor"), 0);
    uint8_t buffer[16];
    EXPECT_EQ(ChannelGetData(channel, buffer, sizeof buffer), ReadFailed);

    // The sound after the free reaches a fresh recording's procedure; the
    // freed one, were it still fed, would have been called for it first.
    server->pump(4 * BlockFrames);
    ASSERT_TRUE(RecordInit(2));
    ASSERT_NE(RecordStart(44100, 2, 0, LoggingProc, &fresh), 0u);
    server->pump(BlockFrames);
    ASSERT_TRUE(fresh.waitForCalls(1));
    EXPECT_EQ(log.calls(), calls);
}

TEST_F(RecLibTest, TheServerGoingAwayStopsTheCallsUntilAFreshStart)
{
    log.read = false; // the test sees for itself what reaches the recording
    const uint32_t channel = startLoopback();
    server->pump(BlockFrames);
    ASSERT_TRUE(log.waitForCalls(1));
    std::vector<uint8_t> buffer(4 * BlockBytes);
    ASSERT_EQ(ChannelGetData(channel, buffer.data(), static_cast<uint32_t>(buffer.size())), BlockBytes);

    server->setReachable(false);
    DeviceInfo info;
    EXPECT_FALSE(RecordGetDeviceInfo(1, &info));
    EXPECT_EQ(ErrorGetCode(), ERROR_DRIVER);
    float level = 0;
    EXPECT_FALSE(RecordGetInput(0, &level));
    EXPECT_EQ(ErrorGetCode(), ERROR_DRIVER);

    server->setReachable(true);
    ASSERT_TRUE(RecordGetDeviceInfo(2, &info));
    EXPECT_EQ(info.name, "Speakers");
    server->pump(2 * BlockFrames);
    // The old recording stays stopped: nothing reached it, so no call can come.
    const uint32_t reached = ChannelGetData(channel, buffer.data(), static_cast<uint32_t>(buffer.size()));
    EXPECT_TRUE(reached == ReadFailed || reached == 0) << reached;
    EXPECT_EQ(log.calls(), 1u);

    EXPECT_TRUE(RecordFree());
    startLoopback();
    server->pump(BlockFrames);
    EXPECT_TRUE(log.waitForCalls(2));
}

TEST_F(RecLibTest, ARemovedDeviceStopsTheCallsAndFailsTheNextStart)
{
    log.read = false; // the test sees for itself what reaches the recording
    const uint32_t channel = startLoopback();
    server->removeSink("spk");
    // A device of the same name coming back does not revive the recording.
    server->addSink("spk", "Speakers", CountingSignal());
    server->pump(2 * BlockFrames);
    // Nothing reached the recording, so no call can come.
    uint8_t buffer[16];
    const uint32_t reached = ChannelGetData(channel, buffer, sizeof buffer);
    EXPECT_TRUE(reached == ReadFailed || reached == 0) << reached;
    EXPECT_EQ(log.calls(), 0u);
    EXPECT_TRUE(RecordFree());

    // Initialised on a device that then vanished: the start reports it.
    ASSERT_TRUE(RecordInit(1));
    server->removeSource("mic");
    EXPECT_EQ(RecordStart(44100, 2, 0, LoggingProc, &log), 0u);
    EXPECT_EQ(ErrorGetCode(), ERROR_DEVICE);
}

TEST_F(RecLibTest, StartAcceptsOnlyTheStreamFormat)
{
    ASSERT_TRUE(RecordInit(3));
    EXPECT_EQ(RecordStart(48000, 2, 0, LoggingProc, &log), 0u);
    EXPECT_EQ(ErrorGetCode(), ERROR_FORMAT);
    EXPECT_EQ(RecordStart(44100, 1, 0, LoggingProc, &log), 0u);
    const uint32_t channel = RecordStart(44100, 2, 0, LoggingProc, &log);
    EXPECT_NE(channel, 0u);
    EXPECT_EQ(RecordStart(44100, 2, 0, LoggingProc, &log), 0u);
    EXPECT_EQ(ErrorGetCode(), ERROR_ALREADY);
}

TEST_F(RecLibTest, InputLevelIsTheInitialisedSourcesVolume)
{
    float level = -1;
    EXPECT_FALSE(RecordGetInput(0, &level));
    EXPECT_EQ(ErrorGetCode(), ERROR_INIT);

    ASSERT_TRUE(RecordInit(1));
    ASSERT_TRUE(RecordGetInput(0, &level));
    EXPECT_FLOAT_EQ(level, 1.0f);

    ASSERT_TRUE(RecordSetInput(-1, 0, 0.25f));
    EXPECT_FLOAT_EQ(server->sourceVolume("mic").value(), 0.25f);
    EXPECT_FLOAT_EQ(server->sourceVolume("line").value(), 1.0f);
    ASSERT_TRUE(RecordGetInput(0, &level));
    EXPECT_FLOAT_EQ(level, 0.25f);

    EXPECT_TRUE(RecordSetInput(-1, 0, -1.0f)); // negative: unchanged
    EXPECT_TRUE(RecordSetInput(-1, 0, 7.0f));  // above full: full
    ASSERT_TRUE(RecordGetInput(0, &level));
    EXPECT_FLOAT_EQ(level, 1.0f);
    EXPECT_FALSE(RecordGetInput(3, &level));
    EXPECT_EQ(ErrorGetCode(), ERROR_ILLPARAM);
}

TEST_F(RecLibTest, VersionsComeFromTheServer)
{
    server->setVersions(0x00100002, 0x000F0000);
    EXPECT_EQ(GetVersion(), 0x00100002u);
    EXPECT_EQ(BuiltVersion(), 0x000F0000u);
}

} // namespace
