// The PulseAudio client against the private daemon of scripts/test.sh:
// test_speakers / test_headset (null sinks), test_mic (1000 Hz sine, default
// source), test_line_in (remap of test_headset.monitor). Every test leaves the
// daemon as it found it: other tests share it.
#include "common/pulse_support.h"
#include "platform/soundserver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <optional>
#include <thread>

using namespace std::chrono_literals;
using platform::SinkInfo;
using platform::SourceInfo;
using testsupport::FrameCollector;
using testsupport::Pactl;
using testsupport::WaitUntil;

namespace {

constexpr int SignalThreshold = 500;

// Copies, so that a lookup in a list just fetched outlives that list.
std::optional<SourceInfo> FindSource(const std::vector<SourceInfo>& list, const std::string& name)
{
    auto found = std::find_if(list.begin(), list.end(), [&](const SourceInfo& s) { return s.name == name; });
    return found == list.end() ? std::nullopt : std::optional<SourceInfo>(*found);
}

std::optional<SinkInfo> FindSink(const std::vector<SinkInfo>& list, const std::string& name)
{
    auto found = std::find_if(list.begin(), list.end(), [&](const SinkInfo& s) { return s.name == name; });
    return found == list.end() ? std::nullopt : std::optional<SinkInfo>(*found);
}

std::vector<std::string> Names(const std::vector<SourceInfo>& list)
{
    std::vector<std::string> names;
    for (const auto& s : list)
        names.push_back(s.name + "|" + s.description + "|" + s.monitorOfSink + (s.isDefault ? "|default" : ""));
    return names;
}

std::vector<std::string> Names(const std::vector<SinkInfo>& list)
{
    std::vector<std::string> names;
    for (const auto& s : list)
        names.push_back(s.name + "|" + s.description + (s.isDefault ? "|default" : ""));
    return names;
}

// A sine of fixed frequency for a playback stream's pull callback; runs on
// the server's thread only.
struct ToneSource {
    double frequency;
    double phase = 0.0;

    size_t fill(int16_t* frames, size_t maxFrames)
    {
        const double step = 2.0 * M_PI * frequency / platform::StreamRate;
        for (size_t i = 0; i < maxFrames; ++i) {
            auto value = static_cast<int16_t>(std::lround(12000.0 * std::sin(phase)));
            frames[2 * i] = value;
            frames[2 * i + 1] = value;
            phase = std::fmod(phase + step, 2.0 * M_PI);
        }
        return maxFrames;
    }
};

class PulseServerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!testsupport::HavePrivateServer())
            GTEST_SKIP() << "PULSE_SERVER is not set; scripts/test.sh starts a private sound server";
        server = platform::CreatePulseServer();
        ASSERT_TRUE(server->connected());
    }

    std::unique_ptr<platform::CaptureStream> capture(const std::string& source, FrameCollector& into,
                                                     std::string* error = nullptr)
    {
        return server->openCapture(
            source, [&into](const int16_t* frames, size_t count) { into.add(frames, count); },
            [](const std::string&) {}, error);
    }

    std::unique_ptr<platform::SoundServer> server;
};

TEST_F(PulseServerTest, ListsShowTheTestDevicesWithMonitorsAndDefaults)
{
    auto sources = server->sources();
    auto sinks = server->sinks();
    ASSERT_EQ(sources.size(), 4u) << ::testing::PrintToString(Names(sources));
    ASSERT_EQ(sinks.size(), 2u) << ::testing::PrintToString(Names(sinks));

    const auto mic = FindSource(sources, "test_mic");
    const auto lineIn = FindSource(sources, "test_line_in");
    const auto speakersMonitor = FindSource(sources, "test_speakers.monitor");
    const auto headsetMonitor = FindSource(sources, "test_headset.monitor");
    ASSERT_TRUE(mic && lineIn && speakersMonitor && headsetMonitor);

    EXPECT_EQ(mic->description, "Test Microphone");
    EXPECT_TRUE(mic->isDefault);
    EXPECT_FALSE(mic->isMonitor);
    EXPECT_EQ(lineIn->description, "Test Line In");
    EXPECT_FALSE(lineIn->isMonitor);
    EXPECT_FALSE(lineIn->isDefault);
    EXPECT_TRUE(speakersMonitor->isMonitor);
    EXPECT_EQ(speakersMonitor->monitorOfSink, "test_speakers");
    EXPECT_EQ(speakersMonitor->description, "Monitor of Test Speakers");
    EXPECT_TRUE(headsetMonitor->isMonitor);
    EXPECT_EQ(headsetMonitor->monitorOfSink, "test_headset");
    EXPECT_FALSE(headsetMonitor->isDefault);

    const auto speakers = FindSink(sinks, "test_speakers");
    const auto headset = FindSink(sinks, "test_headset");
    ASSERT_TRUE(speakers && headset);
    EXPECT_EQ(speakers->description, "Test Speakers");
    EXPECT_TRUE(speakers->isDefault);
    EXPECT_EQ(headset->description, "Test Headset");
    EXPECT_FALSE(headset->isDefault);
    // The server's own order: sinks were created speakers first.
    EXPECT_EQ(sinks[0].name, "test_speakers");
}

TEST_F(PulseServerTest, VersionsAreTheClientLibrarys)
{
    // "Linked with libpulse 16.1.0" -> 16 << 16 | 1
    std::string text = testsupport::RunCommand("pactl --version").output;
    auto at = text.find("Linked with libpulse ");
    ASSERT_NE(at, std::string::npos) << text;
    unsigned major = 0;
    unsigned minor = 0;
    ASSERT_EQ(std::sscanf(text.c_str() + at + 21, "%u.%u", &major, &minor), 2);
    EXPECT_EQ(server->libraryVersion(), (major << 16) | minor);
    EXPECT_GE(server->builtVersion() >> 16, 4u);
}

TEST_F(PulseServerTest, CapturingTheMicrophoneYieldsItsToneInWholeFrames)
{
    std::atomic<int> callsAfterClose{0};
    std::atomic<bool> closed{false};
    FrameCollector frames;
    std::string error;
    auto stream = server->openCapture(
        "test_mic",
        [&](const int16_t* data, size_t count) {
            if (closed.load())
                ++callsAfterClose;
            frames.add(data, count);
        },
        [](const std::string&) {}, &error);
    ASSERT_TRUE(stream) << error;

    ASSERT_TRUE(WaitUntil([&] { return frames.framesSinceSignal(SignalThreshold) >= 22050; }, 5s));
    stream.reset();
    closed.store(true);

    for (int channel = 0; channel < 2; ++channel) {
        auto samples = frames.channel(channel);
        EXPECT_NEAR(testsupport::ToneFrequency(samples, platform::StreamRate, SignalThreshold, 22050), 1000.0, 5.0)
            << "channel " << channel;
        EXPECT_GT(testsupport::PeakLevel(samples), 4000);
    }

    // A stream opened after the close gets the microphone's next periods;
    // the closed one, were it still fed, would get them as well.
    std::atomic<int> laterCalls{0};
    auto later = server->openCapture(
        "test_mic", [&](const int16_t*, size_t) { ++laterCalls; }, [](const std::string&) {}, &error);
    ASSERT_TRUE(later) << error;
    ASSERT_TRUE(WaitUntil([&] { return laterCalls >= 3; }, 5s));
    EXPECT_EQ(callsAfterClose.load(), 0);
}

TEST_F(PulseServerTest, PlayedToneComesBackThroughLineInAndHeadsetMonitor)
{
    FrameCollector lineIn;
    FrameCollector monitor;
    std::string error;
    auto lineInStream = capture("test_line_in", lineIn, &error);
    ASSERT_TRUE(lineInStream) << error;
    auto monitorStream = capture("test_headset.monitor", monitor, &error);
    ASSERT_TRUE(monitorStream) << error;

    ToneSource tone{3000.0};
    auto playback = server->openPlayback(
        "test_headset", [&tone](int16_t* out, size_t max) { return tone.fill(out, max); }, [](const std::string&) {},
        &error);
    ASSERT_TRUE(playback) << error;

    auto enough = [&] {
        return lineIn.framesSinceSignal(SignalThreshold) >= 22050 &&
               monitor.framesSinceSignal(SignalThreshold) >= 22050;
    };
    // A null sink that nobody listened to closely renders 2 s blocks; the
    // tone can take that long to start coming back.
    ASSERT_TRUE(WaitUntil(enough, 5s));
    for (FrameCollector* got : {&lineIn, &monitor}) {
        for (int channel = 0; channel < 2; ++channel)
            EXPECT_NEAR(testsupport::ToneFrequency(got->channel(channel), platform::StreamRate, SignalThreshold, 22050),
                        3000.0, 10.0);
    }

    // Stream volume: per channel, read back as set.
    ASSERT_TRUE(playback->setVolume(0.5f, 0.25f));
    float left = 0;
    float right = 0;
    ASSERT_TRUE(playback->volume(left, right));
    EXPECT_NEAR(left, 0.5f, 0.001f);
    EXPECT_NEAR(right, 0.25f, 0.001f);
}

// The opener may hold a lock of its own that the new stream's callbacks take:
// they must wait until the open has returned instead of deadlocking with it.
// (A lock that another open stream's callbacks take must not be held while
// calling the server at all.)
TEST_F(PulseServerTest, CallbacksWaitForTheOpenerToReturn)
{
    std::mutex playbackLock;
    std::mutex captureLock;
    std::atomic<int> fills{0};
    std::atomic<int> captures{0};
    std::string error;
    std::unique_ptr<platform::PlaybackStream> playback;
    std::unique_ptr<platform::CaptureStream> capture;
    {
        std::lock_guard<std::mutex> hold(playbackLock);
        playback = server->openPlayback(
            "test_speakers",
            [&](int16_t*, size_t) {
                std::lock_guard<std::mutex> guard(playbackLock);
                ++fills;
                return size_t{0};
            },
            [](const std::string&) {}, &error);
        ASSERT_TRUE(playback) << error;
        EXPECT_EQ(fills.load(), 0);
    }
    {
        std::lock_guard<std::mutex> hold(captureLock);
        capture = server->openCapture(
            "test_speakers.monitor",
            [&](const int16_t*, size_t) {
                std::lock_guard<std::mutex> guard(captureLock);
                ++captures;
            },
            [](const std::string&) {}, &error);
        ASSERT_TRUE(capture) << error;
        EXPECT_EQ(captures.load(), 0);
    }
    EXPECT_TRUE(WaitUntil([&] { return fills.load() > 0 && captures.load() > 0; }, 3s));
}

TEST_F(PulseServerTest, SourceVolumeTravelsBothWaysQuickly)
{
    struct Restore {
        ~Restore() { Pactl("set-source-volume test_line_in 100%"); }
    } restore;

    ASSERT_TRUE(server->setSourceVolume("test_line_in", 0.5f));
    EXPECT_NE(Pactl("get-source-volume test_line_in").output.find("32768 /"), std::string::npos)
        << Pactl("get-source-volume test_line_in").output;
    EXPECT_NEAR(server->sourceVolume("test_line_in").value_or(-1), 0.5f, 0.001f);

    ASSERT_EQ(Pactl("set-source-volume test_line_in 30%").exitCode, 0);
    const auto changed = std::chrono::steady_clock::now();
    bool seen = WaitUntil([&] { return std::fabs(server->sourceVolume("test_line_in").value_or(-1) - 0.3f) < 0.01f; },
                          100ms);
    auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - changed);
    EXPECT_TRUE(seen) << "after " << took.count() << " ms";

    // Above the norm reads as full; unknown sources have no volume.
    ASSERT_EQ(Pactl("set-source-volume test_line_in 150%").exitCode, 0);
    EXPECT_TRUE(WaitUntil([&] { return server->sourceVolume("test_line_in").value_or(-1) == 1.0f; }, 1s));
    EXPECT_FALSE(server->sourceVolume("no_such_source").has_value());
    EXPECT_FALSE(server->setSourceVolume("no_such_source", 0.5f));
}

TEST_F(PulseServerTest, LoadedSinkShowsAndUnloadRestoresTheLists)
{
    const auto sourcesBefore = Names(server->sources());
    const auto sinksBefore = Names(server->sinks());
    const uint64_t countBefore = server->changeCount();
    {
        // The shell takes one level of quoting, the module arguments the next.
        testsupport::LoadedModule extra(
            "module-null-sink", "sink_name=test_extra sink_properties=\\\"device.description=\\'Test Extra\\'\\\"");
        ASSERT_TRUE(extra.loaded());
        ASSERT_TRUE(WaitUntil([&] { return FindSink(server->sinks(), "test_extra").has_value(); }, 2s));
        EXPECT_GT(server->changeCount(), countBefore);
        EXPECT_EQ(FindSink(server->sinks(), "test_extra")->description, "Test Extra");
        const auto monitor = FindSource(server->sources(), "test_extra.monitor");
        ASSERT_TRUE(monitor.has_value());
        EXPECT_EQ(monitor->monitorOfSink, "test_extra");

        const uint64_t countLoaded = server->changeCount();
        ASSERT_TRUE(extra.unload());
        ASSERT_TRUE(WaitUntil([&] { return !FindSink(server->sinks(), "test_extra"); }, 2s));
        EXPECT_GT(server->changeCount(), countLoaded);
    }
    EXPECT_EQ(Names(server->sources()), sourcesBefore);
    EXPECT_EQ(Names(server->sinks()), sinksBefore);
    // What another client sees is the same as before, too.
    EXPECT_EQ(Pactl("list short sinks").output.find("test_extra"), std::string::npos);
}

TEST_F(PulseServerTest, UnloadingACapturedDeviceFiresTheFailureCallback)
{
    testsupport::LoadedModule doomed("module-null-sink", "sink_name=test_doomed");
    ASSERT_TRUE(doomed.loaded());
    ASSERT_TRUE(WaitUntil([&] { return FindSource(server->sources(), "test_doomed.monitor").has_value(); }, 2s));

    std::mutex whyLock;
    std::string why;
    std::atomic<int> failures{0};
    std::string error;
    auto stream = server->openCapture(
        "test_doomed.monitor", [](const int16_t*, size_t) {},
        [&](const std::string& text) {
            std::lock_guard<std::mutex> guard(whyLock);
            why = text;
            ++failures;
        },
        &error);
    ASSERT_TRUE(stream) << error;

    ASSERT_TRUE(doomed.unload());
    ASSERT_TRUE(WaitUntil([&] { return failures.load() > 0; }, 3s));
    {
        std::lock_guard<std::mutex> guard(whyLock);
        EXPECT_NE(why.find("test_doomed.monitor"), std::string::npos) << why;
    }
    stream.reset(); // must not hang on a dead stream
    EXPECT_EQ(failures.load(), 1);
    EXPECT_TRUE(WaitUntil([&] { return !FindSource(server->sources(), "test_doomed.monitor"); }, 2s));
    EXPECT_EQ(server->sources().size(), 4u);
}

TEST_F(PulseServerTest, OpeningAnUnknownDeviceFailsWithAText)
{
    std::string error;
    FrameCollector unused;
    EXPECT_EQ(capture("no_such_source", unused, &error), nullptr);
    EXPECT_NE(error.find("no_such_source"), std::string::npos) << error;

    error.clear();
    auto playback = server->openPlayback(
        "no_such_sink", [](int16_t*, size_t) { return size_t{0}; }, [](const std::string&) {}, &error);
    EXPECT_EQ(playback, nullptr);
    EXPECT_NE(error.find("no_such_sink"), std::string::npos) << error;
}

// A server of the test's own, stopped and started again under a client.
TEST(PulseServerLoss, ServerGoingAwayEmptiesListsFailsStreamsAndReconnects)
{
    if (!testsupport::HavePrivateServer())
        GTEST_SKIP() << "PULSE_SERVER is not set; scripts/test.sh starts a private sound server";
    testsupport::ScratchDaemon daemon;
    ASSERT_TRUE(daemon.start());
    auto server = platform::CreatePulseServer(daemon.address());
    ASSERT_TRUE(server->connected());
    ASSERT_EQ(server->sources().size(), 4u);

    std::atomic<int> failures{0};
    std::string error;
    auto stream = server->openCapture(
        "test_mic", [](const int16_t*, size_t) {}, [&](const std::string&) { ++failures; }, &error);
    ASSERT_TRUE(stream) << error;

    const uint64_t countBefore = server->changeCount();
    daemon.stop();
    ASSERT_TRUE(WaitUntil([&] { return !server->connected(); }, 3s));
    EXPECT_TRUE(WaitUntil([&] { return failures.load() == 1; }, 3s));
    EXPECT_TRUE(server->sources().empty());
    EXPECT_TRUE(server->sinks().empty());
    EXPECT_GT(server->changeCount(), countBefore);
    EXPECT_FALSE(server->sourceVolume("test_mic").has_value());
    EXPECT_EQ(server->openCapture(
                  "test_mic", [](const int16_t*, size_t) {}, [](const std::string&) {}, &error),
              nullptr);
    EXPECT_EQ(error, "The sound server is not reachable");
    stream.reset();

    const uint64_t countLost = server->changeCount();
    ASSERT_TRUE(daemon.start());
    ASSERT_TRUE(WaitUntil([&] { return server->connected() && server->sources().size() == 4u; }, 5s))
        << "connected " << server->connected() << ", " << server->sources().size() << " sources";
    EXPECT_GT(server->changeCount(), countLost);
    auto again = server->openCapture(
        "test_mic", [](const int16_t*, size_t) {}, [](const std::string&) {}, &error);
    EXPECT_TRUE(again) << error;
}

TEST(PulseServerLoss, AbsentServerGivesEmptyListsAndClearErrors)
{
    if (!testsupport::HavePrivateServer())
        GTEST_SKIP() << "PULSE_SERVER is not set; scripts/test.sh starts a private sound server";
    auto server = platform::CreatePulseServer("unix:/nonexistent/sonalyx/native");
    EXPECT_FALSE(server->connected());
    EXPECT_TRUE(server->sources().empty());
    EXPECT_TRUE(server->sinks().empty());
    std::string error;
    auto playback = server->openPlayback(
        "test_speakers", [](int16_t*, size_t) { return size_t{0}; }, [](const std::string&) {}, &error);
    EXPECT_EQ(playback, nullptr);
    EXPECT_EQ(error, "The sound server is not reachable");
    EXPECT_FALSE(server->setSourceVolume("test_mic", 0.5f));
    EXPECT_GT(server->libraryVersion(), 0u);
}

} // namespace
