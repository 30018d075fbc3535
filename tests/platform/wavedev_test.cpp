// Wave-in / wave-out devices over the in-process sound server: device ids,
// capabilities, open errors, header filling and draining, volume.
#include "platform/wavedev.h"
#include "support/inprocess_server.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

using namespace platform;

namespace {

constexpr uint32_t BlockBytes = 17640;
constexpr size_t BlockFrames = 4410;

// A buffer with its header, set up the way the capture engine does it:
// fields zeroed, prepared, then queued.
struct Buffer {
    explicit Buffer(uint32_t bytes) : memory(bytes, 0)
    {
        header.data = memory.data();
        header.bufferLength = bytes;
    }
    void rearm()
    {
        header.bytesRecorded = 0;
        header.flags = 0;
    }
    bool done() const { return header.flags.load() & WHDR_DONE; }
    int16_t sample(size_t frame, int channel) const
    {
        int16_t value;
        std::memcpy(&value, memory.data() + frame * 4 + channel * 2, 2);
        return value;
    }
    std::vector<char> memory;
    WaveHeader header;
};

// Checks that `frames` frames of the buffer carry the counting signal from `firstPosition` on.
void ExpectCounting(const Buffer& buffer, size_t frames, uint64_t firstPosition)
{
    for (size_t f = 0; f < frames; ++f) {
        ASSERT_EQ(buffer.sample(f, 0), CountingLeft(firstPosition + f)) << "frame " << f;
        ASSERT_EQ(buffer.sample(f, 1), CountingRight(firstPosition + f)) << "frame " << f;
    }
}

class WaveDevTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        auto owned = std::make_unique<InProcessServer>();
        server = owned.get();
        server->addSource("mic", "USB Microphone", CountingSignal());
        server->addSink("spk", "Speakers");
        server->addSource("line", "Line In", Silence());
        server->addSink("hdmi", "HDMI Output");
        server->setDefaultSource("line");
        server->setDefaultSink("hdmi");
        SetServer(std::move(owned));
    }
    void TearDown() override { ResetServer(); }

    // Opens the microphone ("mic" is wave-in id 1: the default "line" is id 0).
    HWaveIn openMic()
    {
        HWaveIn handle = nullptr;
        EXPECT_EQ(WaveInOpen(&handle, 1, WaveFormat{}), MMSYSERR_NOERROR);
        return handle;
    }

    void queue(HWaveIn handle, Buffer& buffer)
    {
        buffer.rearm();
        ASSERT_EQ(WaveInPrepareHeader(handle, &buffer.header), MMSYSERR_NOERROR);
        ASSERT_EQ(WaveInAddBuffer(handle, &buffer.header), MMSYSERR_NOERROR);
    }

    InProcessServer* server = nullptr;
};

TEST_F(WaveDevTest, ListsInputsAndOutputsDefaultFirst)
{
    ASSERT_EQ(WaveInGetNumDevs(), 2); // monitors are no wave-in devices
    WaveCaps caps;
    ASSERT_EQ(WaveInGetDevCaps(0, &caps), MMSYSERR_NOERROR);
    EXPECT_EQ(caps.productName, "Line In");
    ASSERT_EQ(WaveInGetDevCaps(1, &caps), MMSYSERR_NOERROR);
    EXPECT_EQ(caps.productName, "USB Microphone");
    EXPECT_EQ(WaveInGetDevCaps(2, &caps), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(WaveInGetDevCaps(-1, &caps), MMSYSERR_BADDEVICEID);

    ASSERT_EQ(WaveOutGetNumDevs(), 2);
    ASSERT_EQ(WaveOutGetDevCaps(0, &caps), MMSYSERR_NOERROR);
    EXPECT_EQ(caps.productName, "HDMI Output");
    ASSERT_EQ(WaveOutGetDevCaps(1, &caps), MMSYSERR_NOERROR);
    EXPECT_EQ(caps.productName, "Speakers");

    // Ids follow the server's current default.
    server->setDefaultSource("mic");
    ASSERT_EQ(WaveInGetDevCaps(0, &caps), MMSYSERR_NOERROR);
    EXPECT_EQ(caps.productName, "USB Microphone");
}

TEST_F(WaveDevTest, CapsCutNamesAt31CharactersAndReportTheStreamFormat)
{
    // 40 characters, several of them two-byte UTF-8.
    const std::string longName = "Mikrofon für Übertragung über Äther 1234";
    server->addSource("long", longName);
    WaveCaps caps;
    ASSERT_EQ(WaveInGetDevCaps(2, &caps), MMSYSERR_NOERROR);
    EXPECT_EQ(caps.productName, "Mikrofon für Übertragung über Ä");
    EXPECT_TRUE(caps.formats & WAVE_FORMAT_4S16);
    EXPECT_GE(caps.formats, WAVE_FORMAT_4S16); // the capture engine compares, not bit-tests
    EXPECT_EQ(caps.channels, 2);

    EXPECT_EQ(CutChars("abc", 31), "abc");
    EXPECT_EQ(CutChars("abcdef", 3), "abc");
    EXPECT_EQ(CutChars("äöü", 2), "äö");
    EXPECT_EQ(CutChars("€x", 1), "€");
    EXPECT_EQ(CutChars("abc", 0), "");
}

TEST_F(WaveDevTest, OpenFailuresGiveCodesWithReadableTexts)
{
    HWaveIn in = nullptr;
    EXPECT_EQ(WaveInOpen(&in, 7, WaveFormat{}), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(in, nullptr);

    WaveFormat wrongRate;
    wrongRate.samplesPerSec = 48000;
    wrongRate.avgBytesPerSec = 192000;
    EXPECT_EQ(WaveInOpen(&in, 0, wrongRate), WAVERR_BADFORMAT);
    WaveFormat mono;
    mono.channels = 1;
    EXPECT_EQ(WaveInOpen(&in, 0, mono), WAVERR_BADFORMAT);

    server->failNextOpen("mic", "Device or resource busy");
    const MMResult busy = WaveInOpen(&in, 1, WaveFormat{});
    ASSERT_NE(busy, MMSYSERR_NOERROR);
    EXPECT_EQ(in, nullptr);
    EXPECT_NE(WaveInGetErrorText(busy).find("Device or resource busy"), std::string::npos) << WaveInGetErrorText(busy);
    // The reason belongs to the thread that opened.
    std::string otherThreadText;
    std::thread([&] { otherThreadText = WaveInGetErrorText(busy); }).join();
    EXPECT_EQ(otherThreadText.find("Device or resource busy"), std::string::npos);
    EXPECT_FALSE(otherThreadText.empty());

    server->failNextOpen("hdmi", "Access denied");
    HWaveOut out = nullptr;
    const MMResult denied = WaveOutOpen(&out, 0, WaveFormat{});
    ASSERT_NE(denied, MMSYSERR_NOERROR);
    EXPECT_NE(WaveOutGetErrorText(denied).find("Access denied"), std::string::npos);

    // The failure was one-off: the next open works.
    in = openMic();
    ASSERT_NE(in, nullptr);
    EXPECT_EQ(WaveInClose(in), MMSYSERR_NOERROR);

    server->setReachable(false);
    EXPECT_EQ(WaveInGetNumDevs(), 0);
    EXPECT_EQ(WaveOutGetNumDevs(), 0);
    const MMResult gone = WaveInOpen(&in, 0, WaveFormat{});
    EXPECT_EQ(gone, MMSYSERR_BADDEVICEID);
    EXPECT_NE(WaveInGetErrorText(gone).find("not reachable"), std::string::npos);
}

TEST_F(WaveDevTest, HeadersFillInQueueOrderOnlyAfterStart)
{
    HWaveIn in = openMic();
    Buffer first(BlockBytes), second(BlockBytes);
    queue(in, first);
    queue(in, second);
    EXPECT_TRUE(first.header.flags.load() & WHDR_INQUEUE);

    server->pump(1000); // frames 0..999: not started, dropped
    EXPECT_EQ(first.header.bytesRecorded.load(), 0u);

    ASSERT_EQ(WaveInStart(in), MMSYSERR_NOERROR);
    server->pump(3000); // frames 1000..3999
    EXPECT_EQ(first.header.bytesRecorded.load(), 12000u);
    EXPECT_FALSE(first.done());

    server->pump(3000); // frames 4000..6999: fills the first, spills into the second
    EXPECT_EQ(first.header.bytesRecorded.load(), BlockBytes);
    EXPECT_TRUE(first.done());
    EXPECT_FALSE(first.header.flags.load() & WHDR_INQUEUE);
    EXPECT_EQ(second.header.bytesRecorded.load(), 1590u * 4); // 6000 - 4410 frames
    EXPECT_FALSE(second.done());

    server->pump(BlockFrames);
    EXPECT_TRUE(second.done());
    ExpectCounting(first, BlockFrames, 1000);
    ExpectCounting(second, BlockFrames, 1000 + BlockFrames);

    EXPECT_EQ(WaveInReset(in), MMSYSERR_NOERROR);
    EXPECT_EQ(WaveInClose(in), MMSYSERR_NOERROR);
}

TEST_F(WaveDevTest, AfterAPauseBothBuffersAreDoneInOrderAndTheRestIsDropped)
{
    HWaveIn in = openMic();
    Buffer first(BlockBytes), second(BlockBytes);
    queue(in, first);
    queue(in, second);
    ASSERT_EQ(WaveInStart(in), MMSYSERR_NOERROR);

    server->pump(3 * BlockFrames); // a long pause: more than both buffers hold
    EXPECT_TRUE(first.done());
    EXPECT_TRUE(second.done());
    ExpectCounting(first, BlockFrames, 0);
    ExpectCounting(second, BlockFrames, BlockFrames);

    // Queued again, the first buffer gets live data: the frames that came
    // with no buffer queued are gone.
    queue(in, first);
    server->pump(BlockFrames);
    EXPECT_TRUE(first.done());
    ExpectCounting(first, BlockFrames, 3 * BlockFrames);

    EXPECT_EQ(WaveInClose(in), MMSYSERR_NOERROR);
}

TEST_F(WaveDevTest, ResetReturnsBuffersAndCloseNeedsThem)
{
    HWaveIn in = openMic();
    Buffer first(BlockBytes), second(BlockBytes);
    queue(in, first);
    queue(in, second);
    ASSERT_EQ(WaveInStart(in), MMSYSERR_NOERROR);
    server->pump(100);

    EXPECT_EQ(WaveInClose(in), WAVERR_STILLPLAYING);
    EXPECT_EQ(WaveInUnprepareHeader(in, &first.header), WAVERR_STILLPLAYING);
    EXPECT_EQ(server->captureStreamCount("mic"), 1);

    ASSERT_EQ(WaveInReset(in), MMSYSERR_NOERROR);
    EXPECT_TRUE(first.done());
    EXPECT_TRUE(second.done());
    EXPECT_EQ(first.header.bytesRecorded.load(), 400u); // partial content is reported, not completed
    EXPECT_EQ(WaveInUnprepareHeader(in, &first.header), MMSYSERR_NOERROR);
    EXPECT_EQ(WaveInUnprepareHeader(in, &second.header), MMSYSERR_NOERROR);
    EXPECT_EQ(WaveInAddBuffer(in, &first.header), WAVERR_UNPREPARED);

    ASSERT_EQ(WaveInClose(in), MMSYSERR_NOERROR);
    EXPECT_EQ(server->captureStreamCount("mic"), 0);
    server->pump(BlockFrames);
    EXPECT_EQ(first.header.bytesRecorded.load(), 400u);

    // The handle is gone: every call on it is refused, none crashes.
    EXPECT_EQ(WaveInStart(in), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(WaveInAddBuffer(in, &first.header), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(WaveInClose(in), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(WaveInReset(nullptr), MMSYSERR_INVALHANDLE);
}

TEST_F(WaveDevTest, ADeviceVanishingMidCaptureLeavesHeadersUnfilled)
{
    HWaveIn in = openMic();
    Buffer first(BlockBytes), second(BlockBytes);
    queue(in, first);
    queue(in, second);
    ASSERT_EQ(WaveInStart(in), MMSYSERR_NOERROR);
    server->pump(1000);

    ASSERT_TRUE(server->removeSource("mic"));
    server->pump(2 * BlockFrames);
    EXPECT_EQ(first.header.bytesRecorded.load(), 4000u);
    EXPECT_FALSE(first.done());
    EXPECT_FALSE(second.done());
    EXPECT_EQ(WaveInGetNumDevs(), 1);

    EXPECT_EQ(WaveInReset(in), MMSYSERR_NOERROR);
    EXPECT_EQ(WaveInClose(in), MMSYSERR_NOERROR);
}

TEST_F(WaveDevTest, ThePollingThreadSeesOnlyCompleteBuffers)
{
    // The capture tick's pattern: another thread polls bytesRecorded, takes
    // a full buffer and queues it again while the server keeps delivering.
    HWaveIn in = openMic();
    Buffer buffers[2] = {Buffer(BlockBytes), Buffer(BlockBytes)};
    queue(in, buffers[0]);
    queue(in, buffers[1]);
    ASSERT_EQ(WaveInStart(in), MMSYSERR_NOERROR);

    std::atomic<bool> stop{false};
    std::thread serverThread([&] {
        while (!stop)
            server->pump(441);
    });
    int taken = 0;
    while (taken < 20) {
        for (Buffer& buffer : buffers) {
            if (buffer.header.bytesRecorded.load(std::memory_order_acquire) != BlockBytes)
                continue;
            // A whole block of consecutive frames, whatever was dropped before it.
            const uint16_t start = static_cast<uint16_t>(buffer.sample(0, 0));
            for (size_t f = 1; f < BlockFrames; ++f)
                ASSERT_EQ(static_cast<uint16_t>(buffer.sample(f, 0)), static_cast<uint16_t>(start + f));
            ++taken;
            queue(in, buffer);
        }
        std::this_thread::yield();
    }
    stop = true;
    serverThread.join();
    EXPECT_EQ(WaveInReset(in), MMSYSERR_NOERROR);
    EXPECT_EQ(WaveInClose(in), MMSYSERR_NOERROR);
}

// ---- wave-out ------------------------------------------------------------

class WaveOutTest : public WaveDevTest {
protected:
    void SetUp() override
    {
        WaveDevTest::SetUp();
        std::string error;
        monitor = server->openCapture(
            "hdmi.monitor",
            [this](const int16_t* frames, size_t count) { heard.insert(heard.end(), frames, frames + 2 * count); },
            [](const std::string&) {}, &error);
        ASSERT_NE(monitor, nullptr) << error;
    }
    void TearDown() override
    {
        monitor.reset();
        WaveDevTest::TearDown();
    }

    static void Pattern(Buffer& buffer, int16_t left, int16_t right)
    {
        for (size_t f = 0; f < buffer.memory.size() / 4; ++f) {
            std::memcpy(buffer.memory.data() + 4 * f, &left, 2);
            std::memcpy(buffer.memory.data() + 4 * f + 2, &right, 2);
        }
    }

    void write(HWaveOut out, Buffer& buffer)
    {
        buffer.rearm();
        ASSERT_EQ(WaveOutPrepareHeader(out, &buffer.header), MMSYSERR_NOERROR);
        ASSERT_EQ(WaveOutWrite(out, &buffer.header), MMSYSERR_NOERROR);
    }

    std::unique_ptr<CaptureStream> monitor;
    std::vector<int16_t> heard; // interleaved, filled on the pumping (test) thread
};

TEST_F(WaveOutTest, PlaysQueuedHeadersInOrderAndReportsThemDone)
{
    HWaveOut out = nullptr;
    ASSERT_EQ(WaveOutOpen(&out, 0, WaveFormat{}), MMSYSERR_NOERROR);
    EXPECT_EQ(server->playbackStreamCount("hdmi"), 1);
    Buffer first(BlockBytes), second(BlockBytes);
    Pattern(first, 1000, -1000);
    Pattern(second, 2000, -2000);
    write(out, first);
    write(out, second);

    server->pump(3000);
    EXPECT_FALSE(first.done());
    server->pump(1410);
    EXPECT_TRUE(first.done());
    EXPECT_FALSE(second.done());
    server->pump(BlockFrames);
    EXPECT_TRUE(second.done());
    server->pump(100); // nothing queued: silence

    ASSERT_EQ(heard.size(), 2 * (2 * BlockFrames + 100));
    for (size_t f = 0; f < 2 * BlockFrames + 100; ++f) {
        const int16_t expectLeft = f < BlockFrames ? 1000 : f < 2 * BlockFrames ? 2000 : 0;
        ASSERT_EQ(heard[2 * f], expectLeft) << "frame " << f;
        ASSERT_EQ(heard[2 * f + 1], -expectLeft) << "frame " << f;
    }

    EXPECT_EQ(WaveOutClose(out), MMSYSERR_NOERROR);
    EXPECT_EQ(server->playbackStreamCount("hdmi"), 0);
}

TEST_F(WaveOutTest, ResetReturnsHeadersAndCloseNeedsThem)
{
    HWaveOut out = nullptr;
    ASSERT_EQ(WaveOutOpen(&out, 1, WaveFormat{}), MMSYSERR_NOERROR); // "Speakers"
    Buffer first(BlockBytes);
    EXPECT_EQ(WaveOutWrite(out, &first.header), WAVERR_UNPREPARED);
    write(out, first);
    EXPECT_EQ(WaveOutWrite(out, &first.header), WAVERR_STILLPLAYING);
    server->pump(100);
    EXPECT_EQ(WaveOutClose(out), WAVERR_STILLPLAYING);
    ASSERT_EQ(WaveOutReset(out), MMSYSERR_NOERROR);
    EXPECT_TRUE(first.done());
    EXPECT_EQ(WaveOutUnprepareHeader(out, &first.header), MMSYSERR_NOERROR);
    ASSERT_EQ(WaveOutClose(out), MMSYSERR_NOERROR);
    uint32_t volume = 0;
    EXPECT_EQ(WaveOutGetVolume(out, &volume), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(WaveOutSetVolume(out, 0xFFFFFFFF), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(WaveOutSetVolume(nullptr, 0xFFFFFFFF), MMSYSERR_INVALHANDLE);
}

TEST_F(WaveOutTest, VolumePacksLeftLowAndRightHigh)
{
    HWaveOut out = nullptr;
    ASSERT_EQ(WaveOutOpen(&out, 0, WaveFormat{}), MMSYSERR_NOERROR);
    uint32_t volume = 0;
    ASSERT_EQ(WaveOutGetVolume(out, &volume), MMSYSERR_NOERROR);
    EXPECT_EQ(volume, 0xFFFFFFFFu);

    ASSERT_EQ(WaveOutSetVolume(out, 0x4000FFFF), MMSYSERR_NOERROR); // left full, right a quarter
    ASSERT_EQ(WaveOutGetVolume(out, &volume), MMSYSERR_NOERROR);
    EXPECT_EQ(volume, 0x4000FFFFu);

    Buffer loud(400);
    Pattern(loud, 10000, 10000);
    write(out, loud);
    server->pump(100);
    EXPECT_TRUE(loud.done());
    ASSERT_EQ(heard.size(), 200u);
    EXPECT_EQ(heard[0], 10000);
    EXPECT_EQ(heard[1], 2500);

    EXPECT_EQ(WaveOutClose(out), MMSYSERR_NOERROR);
}

TEST_F(WaveOutTest, ASinkVanishingLeavesHeadersQueuedUntilReset)
{
    HWaveOut out = nullptr;
    ASSERT_EQ(WaveOutOpen(&out, 0, WaveFormat{}), MMSYSERR_NOERROR);
    Buffer first(BlockBytes);
    write(out, first);
    ASSERT_TRUE(server->removeSink("hdmi"));
    server->pump(2 * BlockFrames);
    EXPECT_FALSE(first.done());
    EXPECT_EQ(WaveOutReset(out), MMSYSERR_NOERROR);
    EXPECT_TRUE(first.done());
    EXPECT_EQ(WaveOutClose(out), MMSYSERR_NOERROR);
}

} // namespace
