// Lost audio at the platform layer, on the in-process sound server: the
// frames a wave-in device receives with no buffer queued, the oldest frames
// the recording library lets go unread, the frames the server's overflow
// takes, each counted exactly and matching the gap in the data; a capture
// stream that ends on its own says why; a playback stream that cannot fill
// a period counts an underrun.
#include "platform/reclib.h"
#include "platform/wavedev.h"
#include "support/inprocess_server.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

using namespace platform;

namespace {

constexpr uint32_t BufferFrames = 1000;

class LostAudio : public ::testing::Test {
protected:
    InProcessServer* server = nullptr;

    void SetUp() override
    {
        auto s = std::make_unique<InProcessServer>();
        server = s.get();
        server->addSource("mic", "Test Microphone", CountingSignal());
        server->addSink("speakers", "Test Speakers");
        SetServer(std::move(s));
    }
    void TearDown() override { ResetServer(); }
};

// One wave-in device with one buffer of BufferFrames, recording.
class WaveInLoss : public LostAudio {
protected:
    HWaveIn in = nullptr;
    std::vector<int16_t> memory = std::vector<int16_t>(2 * BufferFrames);
    WaveHeader header;

    void SetUp() override
    {
        LostAudio::SetUp();
        ASSERT_EQ(WaveInOpen(&in, 0, StereoFormat()), MMSYSERR_NOERROR);
        ASSERT_EQ(WaveInStart(in), MMSYSERR_NOERROR);
    }
    void TearDown() override
    {
        WaveInReset(in);
        WaveInClose(in);
        LostAudio::TearDown();
    }
    void Queue()
    {
        header.data = reinterpret_cast<char*>(memory.data());
        header.bufferLength = BufferFrames * FrameBytes;
        header.flags = 0;
        ASSERT_EQ(WaveInPrepareHeader(in, &header), MMSYSERR_NOERROR);
        ASSERT_EQ(WaveInAddBuffer(in, &header), MMSYSERR_NOERROR);
    }
    uint64_t Dropped()
    {
        uint64_t frames = 0;
        EXPECT_EQ(WaveInGetDroppedFrames(in, &frames), MMSYSERR_NOERROR);
        return frames;
    }
    // The buffer holds the counting signal from frame `first` on.
    void ExpectBufferFrom(uint64_t first)
    {
        ASSERT_EQ(header.bytesRecorded.load(), BufferFrames * FrameBytes);
        for (uint32_t f = 0; f < BufferFrames; f += 37) {
            ASSERT_EQ(memory[2 * f], CountingLeft(first + f)) << "frame " << f;
            ASSERT_EQ(memory[2 * f + 1], CountingRight(first + f)) << "frame " << f;
        }
    }
};

TEST_F(WaveInLoss, FramesArrivingWithNoBufferQueuedAreCountedAndAreTheGap)
{
    Queue();
    server->pump(BufferFrames + 700); // 700 frames find no buffer
    ExpectBufferFrom(0);
    EXPECT_EQ(Dropped(), 700u);
    Queue();
    server->pump(BufferFrames);
    ExpectBufferFrom(BufferFrames + 700); // the frames after the lost ones
    EXPECT_EQ(Dropped(), 700u) << "nothing more lost while a buffer was queued";
}

TEST_F(WaveInLoss, NothingIsCountedBeforeStartOrAfterReset)
{
    HWaveIn idle = nullptr;
    ASSERT_EQ(WaveInOpen(&idle, 0, StereoFormat()), MMSYSERR_NOERROR);
    server->pump(500); // not started: not recording, so nothing is missed
    uint64_t frames = 99;
    EXPECT_EQ(WaveInGetDroppedFrames(idle, &frames), MMSYSERR_NOERROR);
    EXPECT_EQ(frames, 0u);
    EXPECT_EQ(WaveInClose(idle), MMSYSERR_NOERROR);
    EXPECT_EQ(WaveInGetDroppedFrames(idle, &frames), MMSYSERR_INVALHANDLE);

    EXPECT_EQ(Dropped(), 500u) << "the started one, with no buffer queued, lost them";
    WaveInReset(in);
    server->pump(500);
    EXPECT_EQ(Dropped(), 500u) << "reset: not recording any more";
}

TEST_F(WaveInLoss, TheServersOverflowIsCountedAndSkipsThoseFrames)
{
    Queue();
    server->overflowCapture("mic", 300);
    server->pump(BufferFrames + 300);
    ExpectBufferFrom(300);
    EXPECT_EQ(Dropped(), 300u);
}

TEST_F(WaveInLoss, AStreamEndingOnItsOwnSaysWhy)
{
    EXPECT_EQ(WaveInEndedBecause(in), "");
    server->killCaptureStreams("mic", "Killed by another program");
    EXPECT_EQ(WaveInEndedBecause(in), "Killed by another program");
    EXPECT_EQ(WaveInEndedBecause(nullptr), "");
}

// The recording library's buffer keeps the newest second (44100 frames).
class RecordingLoss : public LostAudio {
protected:
    uint32_t channel = 0;

    void SetUp() override
    {
        LostAudio::SetUp();
        ASSERT_TRUE(rec::RecordInit(1)); // the microphone, first in the server's order
        channel = rec::RecordStart(44100, 2, 0, nullptr, nullptr);
        ASSERT_NE(channel, 0u);
    }
    void TearDown() override
    {
        rec::RecordFree();
        LostAudio::TearDown();
    }
    // Reads `frames` frames and checks they are the counting signal from `first` on.
    void ExpectReadFrom(uint64_t first, uint32_t frames)
    {
        std::vector<int16_t> data(2 * frames);
        ASSERT_EQ(rec::ChannelGetData(channel, data.data(), frames * FrameBytes), frames * FrameBytes);
        for (uint32_t f = 0; f < frames; f += 41) {
            ASSERT_EQ(data[2 * f], CountingLeft(first + f)) << "frame " << f;
            ASSERT_EQ(data[2 * f + 1], CountingRight(first + f)) << "frame " << f;
        }
    }
};

TEST_F(RecordingLoss, TheOldestFramesLetGoUnreadAreCountedAndAreTheGap)
{
    for (int block = 0; block < 11; ++block) // a second and a block, in server periods
        server->pump(4410);
    EXPECT_EQ(rec::ChannelGetDroppedFrames(channel), 4410u);
    ExpectReadFrom(4410, 4410);
    server->pump(4410); // room again: nothing more lost
    EXPECT_EQ(rec::ChannelGetDroppedFrames(channel), 4410u);
}

TEST_F(RecordingLoss, OnePeriodLongerThanTheBufferKeepsItsNewestSecond)
{
    server->pump(2 * 44100);
    EXPECT_EQ(rec::ChannelGetDroppedFrames(channel), 44100u);
    ExpectReadFrom(44100, 100);
}

TEST_F(RecordingLoss, TheServersOverflowCountsToo)
{
    server->overflowCapture("mic", 250);
    server->pump(1000);
    EXPECT_EQ(rec::ChannelGetDroppedFrames(channel), 250u);
    ExpectReadFrom(250, 750);
}

TEST_F(RecordingLoss, AStreamEndingOnItsOwnSaysWhyAndAStoppedOneNamesNoChannel)
{
    EXPECT_EQ(rec::ChannelEndedBecause(channel), "");
    server->removeSource("mic");
    EXPECT_EQ(rec::ChannelEndedBecause(channel), "No such entity");
    EXPECT_TRUE(rec::ChannelStop(channel));
    EXPECT_EQ(rec::ChannelEndedBecause(channel), "");
    EXPECT_EQ(rec::ChannelGetDroppedFrames(channel), 0u);
    EXPECT_EQ(rec::ErrorGetCode(), rec::ERROR_HANDLE);
}

TEST_F(LostAudio, APlaybackStreamThatCannotFillAPeriodCountsAnUnderrun)
{
    size_t giving = 256;
    std::string error;
    auto stream = Server().openPlayback(
        "speakers", [&](int16_t*, size_t maxFrames) { return std::min(giving, maxFrames); }, {}, &error);
    ASSERT_TRUE(stream) << error;
    server->pump(256);
    EXPECT_EQ(stream->underruns(), 0u);
    server->pump(512);
    server->pump(300);
    EXPECT_EQ(stream->underruns(), 2u);
}

TEST_F(LostAudio, AWaveOutDeviceWhoseBuffersComeTooLateCountsAnUnderrun)
{
    HWaveOut out = nullptr;
    ASSERT_EQ(WaveOutOpen(&out, 0, StereoFormat()), MMSYSERR_NOERROR);
    const auto underruns = [&] {
        uint64_t count = 99;
        EXPECT_EQ(WaveOutGetUnderruns(out, &count), MMSYSERR_NOERROR);
        return count;
    };
    server->pump(500);
    EXPECT_EQ(underruns(), 0u) << "nothing written yet: silence is no gap";
    std::vector<int16_t> sound(2 * 1000, 1);
    WaveHeader header;
    header.data = reinterpret_cast<char*>(sound.data());
    header.bufferLength = 1000 * FrameBytes;
    ASSERT_EQ(WaveOutPrepareHeader(out, &header), MMSYSERR_NOERROR);
    ASSERT_EQ(WaveOutWrite(out, &header), MMSYSERR_NOERROR);
    server->pump(1000);
    EXPECT_EQ(underruns(), 0u) << "the period was filled from the queue";
    server->pump(256);
    EXPECT_EQ(underruns(), 1u) << "the queue ran dry in the middle of the sound";
    WaveOutReset(out);
    EXPECT_EQ(WaveOutClose(out), MMSYSERR_NOERROR);
    uint64_t count = 0;
    EXPECT_EQ(WaveOutGetUnderruns(out, &count), MMSYSERR_INVALHANDLE);
}

} // namespace
