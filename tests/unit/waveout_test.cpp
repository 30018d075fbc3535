// The generator's playback engine over the in-process sound server: the
// sine and noise buffers against values computed independently, the frame
// counter, open and close, gapless refilling, volume, and a close racing a
// refill.
#include "measure/pinknoise.h"
#include "playback/WaveOut.h"
#include "state/global.h"
#include "support/inprocess_server.h"

#include <gtest/gtest.h>
#include <quadmath.h>

#include <atomic>
#include <cmath>
#include <memory>
#include <random>
#include <thread>
#include <vector>

using namespace platform;

namespace {

constexpr int Frames = 4410;

// sin(pi m f / 44100) times the peak in quadruple precision, rounded halves
// to even.
int16_t QuadSine(uint32_t m, double frequency, double peak = 32767)
{
    static const __float128 pi = strtoflt128("3.14159265358979323846264338327950288419716939937510", nullptr);
    const __float128 value = sinq(pi * m * frequency / 44100) * peak;
    return static_cast<int16_t>(nearbyintq(value));
}

int16_t Left(int k, int frame)
{
    return GenBuffer[GenBufSamples * k + 2 * frame];
}
int16_t Right(int k, int frame)
{
    return GenBuffer[GenBufSamples * k + 2 * frame + 1];
}

class GeneratorFill : public ::testing::Test {
protected:
    void SetUp() override
    {
        BlockLen = Frames;
        GenSampleCounter = 0;
        FreqLeft = 20;
        FreqRight = 50;
        GenSine = true;
        GenNoise = false;
        GenPink = false;
    }
    void TearDown() override
    {
        GenPink = false;
        GenTestTone = false;
        GenSweep = false;
        SetSweepSignal(nullptr);
    }
};

TEST_F(GeneratorFill, SweepPlaysItsSamplesOnBothChannelsFromTheOpenThenSilence)
{
    auto signal = std::make_shared<std::vector<int16_t>>(Frames + 590);
    for (std::size_t i = 0; i < signal->size(); ++i)
        (*signal)[i] = static_cast<int16_t>(static_cast<int>(i % 2001) - 1000);
    SetSweepSignal(signal);
    GenSweep = true; // over the sine the fixture switched on
    FillBuffer(0);
    EXPECT_EQ(SweepFramesQueued(), uint64_t(Frames));
    FillBuffer(1);
    EXPECT_EQ(SweepFramesQueued(), signal->size());
    for (int f = 0; f < Frames; ++f) {
        ASSERT_EQ(Left(0, f), (*signal)[f]) << "frame " << f;
        ASSERT_EQ(Right(0, f), (*signal)[f]) << "frame " << f;
        const int16_t after = f < 590 ? (*signal)[Frames + f] : int16_t{0};
        ASSERT_EQ(Left(1, f), after) << "frame " << Frames + f;
        ASSERT_EQ(Right(1, f), after) << "frame " << Frames + f;
    }
}

TEST_F(GeneratorFill, SinesMatchQuadPrecisionAndRunOnAcrossBuffers)
{
    FillBuffer(0);
    EXPECT_EQ(GenSampleCounter, uint32_t(Frames));
    FillBuffer(1);
    EXPECT_EQ(GenSampleCounter, uint32_t(2 * Frames));
    for (int f = 0; f < Frames; f += 7) {
        ASSERT_EQ(Left(0, f), QuadSine(2 * f, 20)) << "frame " << f;
        ASSERT_EQ(Right(0, f), QuadSine(2 * f, 50)) << "frame " << f;
        ASSERT_EQ(Left(1, f), QuadSine(2 * (Frames + f), 20)) << "frame " << Frames + f;
        ASSERT_EQ(Right(1, f), QuadSine(2 * (Frames + f), 50)) << "frame " << Frames + f;
    }
    // Spot values: 20 Hz reaches 93 at frame 1 and its peak at a quarter period.
    EXPECT_EQ(Left(0, 1), 93);
    EXPECT_EQ(Left(0, 0), 0);
    EXPECT_EQ(Right(0, 441), 0); // 50 Hz: 441 frames are half a period
}

TEST(SineSamples, TheFastPathMatchesTheExtendedEvaluationBitForBit)
{
    std::mt19937 random(11);
    std::uniform_int_distribution<uint32_t> anyM;
    std::uniform_int_distribution<int> anyHertz(0, 20075);
    for (int i = 0; i < 400000; ++i) {
        const uint32_t m = anyM(random) & ~1u; // twice a frame count
        const float hertz = static_cast<float>(anyHertz(random));
        ASSERT_EQ(SineSampleFast(m, hertz), SineSample(m, hertz)) << "m " << m << ", " << hertz << " Hz";
    }
    for (const float odd : {0.5f, 440.25f, -3.0f, 40000.0f})
        EXPECT_EQ(SineSampleFast(123456, odd), SineSample(123456, odd)) << odd;
}

TEST_F(GeneratorFill, ZeroHertzGivesZerosOnThatChannelOnly)
{
    FreqLeft = 0;
    FreqRight = 1000;
    FillBuffer(0);
    int rightNonZero = 0;
    for (int f = 0; f < Frames; ++f) {
        ASSERT_EQ(Left(0, f), 0);
        rightNonZero += Right(0, f) != 0;
    }
    EXPECT_GT(rightNonZero, Frames / 2);
}

TEST_F(GeneratorFill, TheArgumentWrapsAfterTwoToThe31Frames)
{
    FreqLeft = 1000;
    GenSampleCounter = 0x7FFFFFFEu;
    FillBuffer(0);
    // Frames 2^31 - 2 and 2^31 - 1 take m = 2^32 - 4 and 2^32 - 2 unreduced...
    EXPECT_EQ(Left(0, 0), QuadSine(0xFFFFFFFCu, 1000));
    EXPECT_EQ(Left(0, 1), QuadSine(0xFFFFFFFEu, 1000));
    // ...then m starts again at 0: the sine restarts with the counter.
    std::vector<int16_t> wrapped(GenBuffer + 4, GenBuffer + 2 * Frames);
    GenSampleCounter = 0;
    FillBuffer(1);
    for (size_t i = 0; i < wrapped.size(); ++i)
        ASSERT_EQ(wrapped[i], GenBuffer[GenBufSamples + i]) << "sample " << i;
    EXPECT_EQ(GenSampleCounter, uint32_t(Frames));
}

TEST_F(GeneratorFill, NoiseFollowsTheGeneratorFromAKnownState)
{
    GenSine = false;
    GenNoise = true;
    GenSampleCounter = 1234;
    SetNoiseState(0xDEADBEEF);
    FillBuffer(0);
    uint32_t s = 0xDEADBEEF;
    auto next = [&s] {
        s = s * 134775813u + 1u;
        return static_cast<int>((uint64_t(s) * 65534u) >> 32) - 32767;
    };
    for (int f = 0; f < Frames; ++f) {
        ASSERT_EQ(Left(0, f), next()) << "frame " << f;
        ASSERT_EQ(Right(0, f), next()) << "frame " << f;
    }
    EXPECT_EQ(GenSampleCounter, 1234u) << "the frame counter stands still in noise mode";

    int lowest = 0, highest = 0;
    for (int i = 0; i < 50; ++i) {
        FillBuffer(1);
        for (int v = 0; v < GenBufSamples; ++v) {
            lowest = std::min<int>(lowest, GenBuffer[GenBufSamples + v]);
            highest = std::max<int>(highest, GenBuffer[GenBufSamples + v]);
        }
    }
    EXPECT_EQ(lowest, -32767);
    EXPECT_EQ(highest, 32766);
}

TEST_F(GeneratorFill, NoiseWinsOverSineAndSineResumesFromTheCounter)
{
    GenNoise = true; // both flags: the sine runs, the noise is written over it
    SetNoiseState(7);
    FillBuffer(0);
    EXPECT_EQ(GenSampleCounter, uint32_t(Frames));
    SetNoiseState(7);
    EXPECT_EQ(Left(0, 0), static_cast<int>(NoiseRandom(65534)) - 32767);
    EXPECT_EQ(Right(0, 0), static_cast<int>(NoiseRandom(65534)) - 32767);

    GenSine = false; // noise alone: the counter stays
    FillBuffer(0);
    FillBuffer(1);
    EXPECT_EQ(GenSampleCounter, uint32_t(Frames));

    GenSine = true;
    GenNoise = false;
    FillBuffer(1);
    for (int f = 0; f < Frames; f += 11)
        ASSERT_EQ(Left(1, f), QuadSine(2 * (Frames + f), 20)) << "frame " << f;
}

// Pink noise is written over the sine and the white noise: the left channel
// is the pink noise of the left key, the right that of the right key, run
// on from one buffer into the next; the sine's counter still runs below it.
TEST_F(GeneratorFill, PinkNoiseWinsOverBothAndEachChannelHasItsOwnSource)
{
    GenNoise = true;
    GenPink = true;
    SetPinkKeys(11, 12);
    measure::PinkNoise left(11), right(12);
    for (int k = 0; k < 2; ++k) {
        FillBuffer(k);
        for (int f = 0; f < Frames; ++f) {
            ASSERT_EQ(Left(k, f), left.NextSample()) << "buffer " << k << " frame " << f;
            ASSERT_EQ(Right(k, f), right.NextSample()) << "buffer " << k << " frame " << f;
        }
    }
    EXPECT_EQ(GenSampleCounter, uint32_t(2 * Frames));
}

// The test tone: ToneFreq on both channels at the peak its level gives
// (-6 dBFS: 32767 times 10^(-6/20)), whole or fractional hertz; switched
// off, the channels' own sines at full scale come back where the frame
// counter stands.
TEST_F(GeneratorFill, TestToneReplacesBothSinesWhileSet)
{
    const double peak = 32767.0 * std::pow(10.0, -6.0 / 20.0);
    EXPECT_NEAR(ToneAmplitudeFor(-6.0), peak, 1e-9);
    EXPECT_EQ(ToneAmplitudeFor(0.0), 32767.0);
    EXPECT_EQ(ToneAmplitudeFor(3.0), 32767.0); // never above full scale
    GenTestTone = true;
    ToneAmplitude = ToneAmplitudeFor(-6.0);
    for (float hz : {997.0f, 1000.5f}) {
        ToneFreq = hz;
        GenSampleCounter = 0;
        FillBuffer(0);
        FillBuffer(1);
        for (int k = 0; k < 2; ++k)
            for (int f = 0; f < Frames; ++f) {
                const int16_t expected = QuadSine(2 * (k * Frames + f), hz, peak);
                ASSERT_EQ(Left(k, f), expected) << hz << " Hz, frame " << k * Frames + f;
                ASSERT_EQ(Right(k, f), expected) << hz << " Hz, frame " << k * Frames + f;
            }
    }
    GenTestTone = false;
    FillBuffer(0);
    for (int f = 0; f < Frames; f += 7) {
        ASSERT_EQ(Left(0, f), QuadSine(2 * (2 * Frames + f), 20)) << "frame " << f;
        ASSERT_EQ(Right(0, f), QuadSine(2 * (2 * Frames + f), 50)) << "frame " << f;
    }
}

TEST_F(GeneratorFill, WithNeitherFlagTheBufferKeepsItsContents)
{
    FillBuffer(0);
    const std::vector<int16_t> before(GenBuffer, GenBuffer + GenBufSamples);
    GenSine = false;
    FillBuffer(0);
    EXPECT_EQ(std::vector<int16_t>(GenBuffer, GenBuffer + GenBufSamples), before);
}

// ---- the engine on a device ------------------------------------------------

class WaveOutEngine : public GeneratorFill {
protected:
    void SetUp() override
    {
        GeneratorFill::SetUp();
        auto owned = std::make_unique<InProcessServer>();
        server = owned.get();
        server->addSink("spk", "Speakers");
        server->addSink("hdmi", "HDMI Output");
        server->setDefaultSink("hdmi");
        SetServer(std::move(owned));
        std::string error;
        monitor = server->openCapture(
            "hdmi.monitor",
            [this](const int16_t* frames, size_t count) { heard.insert(heard.end(), frames, frames + 2 * count); },
            [](const std::string&) {}, &error);
        ASSERT_NE(monitor, nullptr) << error;
        GenPlaying = true;
    }
    void TearDown() override
    {
        CloseWaveOut();
        GenPlaying = false;
        monitor.reset();
        ResetServer();
    }

    // Plays `ms` milliseconds, refilling every 20 ms as the capture tick does.
    void Play(int ms)
    {
        for (int t = 0; t < ms; t += 10) {
            server->pump(441);
            if (t % 20 == 10)
                RefillWaveOut();
        }
    }

    InProcessServer* server = nullptr;
    std::unique_ptr<CaptureStream> monitor;
    std::vector<int16_t> heard;
};

TEST_F(WaveOutEngine, PlaysBothSinesWithoutAGapOnTheDefaultDevice)
{
    std::string error;
    ASSERT_TRUE(OpenWaveOut(WAVE_MAPPER, &error)) << error;
    EXPECT_EQ(server->playbackStreamCount("hdmi"), 1);
    Play(3000);
    ASSERT_EQ(heard.size(), size_t(2 * 441 * 300));
    for (size_t n = 0; n < heard.size() / 2; ++n) {
        ASSERT_EQ(heard[2 * n], SineSample(uint32_t(2 * n), 20)) << "frame " << n;
        ASSERT_EQ(heard[2 * n + 1], SineSample(uint32_t(2 * n), 50)) << "frame " << n;
    }
}

TEST_F(WaveOutEngine, OpenWhenOpenAndCloseWhenClosedDoNothing)
{
    std::string error;
    ASSERT_TRUE(OpenWaveOut(1, &error)) << error; // "Speakers"
    EXPECT_TRUE(OpenWaveOut(0, &error));
    EXPECT_EQ(server->playbackStreamCount("spk"), 1);
    EXPECT_EQ(server->playbackStreamCount("hdmi"), 0);
    CloseWaveOut();
    EXPECT_FALSE(WaveOutIsOpen);
    EXPECT_EQ(server->playbackStreamCount("spk"), 0);
    CloseWaveOut();
    RefillWaveOut();
    EXPECT_FALSE(WaveOutIsOpen);

    server->failNextOpen("hdmi", "Access denied");
    EXPECT_FALSE(OpenWaveOut(0, &error));
    EXPECT_NE(error.find("Access denied"), std::string::npos) << error;
    EXPECT_FALSE(WaveOutIsOpen);
    EXPECT_FALSE(OpenWaveOut(7, &error));
    EXPECT_FALSE(error.empty());
}

TEST_F(WaveOutEngine, VolumeActsOnlyWhileOpen)
{
    SetOutVolume(1000); // closed: nothing happens, nothing is reported
    EXPECT_FALSE(GetOutVolume().has_value());
    std::string error;
    ASSERT_TRUE(OpenWaveOut(0, &error)) << error;
    EXPECT_EQ(GetOutVolume(), 65535u);
    SetOutVolume(16384);
    EXPECT_EQ(GetOutVolume(), 16384u);
    Play(200);
    ASSERT_FALSE(heard.empty());
    EXPECT_NEAR(heard[2 * 441], SineSample(2 * 441, 20) * 16384.0 / 65535, 1.0);
    CloseWaveOut();
    SetOutVolume(65535);
    EXPECT_FALSE(GetOutVolume().has_value());
}

TEST_F(WaveOutEngine, TheDeviceListGrowsWithTheServer)
{
    for (int i = 0; i < 14; ++i)
        server->addSink("extra" + std::to_string(i), "Extra " + std::to_string(i));
    const std::vector<std::string> names = ListWaveOutDevices();
    ASSERT_EQ(names.size(), 16u);
    ASSERT_EQ(OutCaps.size(), 16u);
    EXPECT_EQ(names[0], "HDMI Output");
    EXPECT_EQ(names[15], "Extra 13");
    EXPECT_EQ(OutCaps[15].productName, "Extra 13");
    std::string error;
    ASSERT_TRUE(OpenWaveOut(15, &error)) << error;
    EXPECT_EQ(server->playbackStreamCount("extra13"), 1);
}

TEST_F(WaveOutEngine, AVanishedDeviceClosesAndAnotherPlays)
{
    std::string error;
    ASSERT_TRUE(OpenWaveOut(0, &error)) << error;
    Play(100);
    ASSERT_TRUE(server->removeSink("hdmi"));
    monitor.reset();
    Play(500); // nothing is done: the refill finds no finished buffer
    CloseWaveOut();
    EXPECT_FALSE(WaveOutIsOpen);

    heard.clear();
    monitor = server->openCapture(
        "spk.monitor",
        [this](const int16_t* frames, size_t count) { heard.insert(heard.end(), frames, frames + 2 * count); },
        [](const std::string&) {}, &error);
    ASSERT_TRUE(OpenWaveOut(0, &error)) << error; // "Speakers" is the only one left
    Play(200);
    ASSERT_EQ(heard.size(), size_t(2 * 441 * 20));
    EXPECT_EQ(heard[2], SineSample(2, 20));
}

TEST_F(WaveOutEngine, ARefillOnTheTickThreadNeverMeetsACloseOrOpen)
{
    std::atomic<bool> stop{false};
    std::thread tick([&] {
        while (!stop) {
            RefillWaveOut();
            std::this_thread::yield();
        }
    });
    std::string error;
    for (int i = 0; i < 200; ++i) {
        ASSERT_TRUE(OpenWaveOut(i % 2, &error)) << error;
        server->pump(4410);
        SetOutVolume(static_cast<uint32_t>(i * 300));
        CloseWaveOut();
    }
    stop = true;
    tick.join();
    EXPECT_FALSE(WaveOutIsOpen);
}

} // namespace
