// The parts of the in-process sound server other tests lean on without
// looking: monitors mixing what their sink plays, defaults falling back,
// streams closing from inside their own callback.
#include "support/inprocess_server.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

using namespace platform;

namespace {

std::unique_ptr<PlaybackStream> Constant(InProcessServer& server, const std::string& sink, int16_t value)
{
    return server.openPlayback(
        sink,
        [value](int16_t* frames, size_t maxFrames) {
            const size_t half = maxFrames / 2; // the rest is left to the server's silence
            std::fill(frames, frames + 2 * half, value);
            return half;
        },
        [](const std::string&) {}, nullptr);
}

TEST(InProcessServer, AMonitorCarriesTheSinksMixWithVolumesAndSaturation)
{
    InProcessServer server;
    server.addSink("spk", "Speakers", [](uint64_t, int16_t* frames, size_t count) {
        std::fill(frames, frames + 2 * count, 20000); // another program playing
    });
    const auto sources = server.sources();
    ASSERT_EQ(sources.size(), 1u);
    EXPECT_EQ(sources[0].name, "spk.monitor");
    EXPECT_EQ(sources[0].description, "Monitor of Speakers");
    EXPECT_TRUE(sources[0].isMonitor);
    EXPECT_EQ(sources[0].monitorOfSink, "spk");

    auto first = Constant(server, "spk", 10000);
    auto second = Constant(server, "spk", 8000);
    ASSERT_TRUE(first && second);
    ASSERT_TRUE(second->setVolume(1.0f, 0.5f));

    std::vector<int16_t> heard;
    auto monitor = server.openCapture(
        "spk.monitor", [&](const int16_t* f, size_t n) { heard.assign(f, f + 2 * n); }, [](const std::string&) {},
        nullptr);
    server.pump(4);
    // First half: 20000 + 10000 + 8000 saturates left, 20000 + 10000 + 4000 right;
    // second half: only the other program.
    EXPECT_EQ(heard, (std::vector<int16_t>{32767, 32767, 32767, 32767, 20000, 20000, 20000, 20000}));

    ASSERT_TRUE(server.setSourceVolume("spk.monitor", 0.5f));
    server.pump(4);
    EXPECT_EQ(heard[6], 10000);
}

TEST(InProcessServer, DefaultsFallBackWhenTheirDeviceGoes)
{
    InProcessServer server;
    server.addSink("a", "A");
    server.addSource("mic", "Mic");
    server.addSource("line", "Line");
    server.addSink("b", "B");
    server.setDefaultSource("line");
    server.setDefaultSink("b");

    const uint64_t before = server.changeCount();
    server.removeSource("line");
    server.removeSink("b");
    EXPECT_GT(server.changeCount(), before);
    for (const SourceInfo& s : server.sources())
        EXPECT_EQ(s.isDefault, s.name == "mic") << s.name; // never a monitor
    ASSERT_EQ(server.sinks().size(), 1u);
    EXPECT_TRUE(server.sinks()[0].isDefault);
}

TEST(InProcessServer, GoingAwayFailsStreamsOnceAndComingBackRestoresTheLists)
{
    InProcessServer server;
    server.addSource("mic", "Mic");
    int failures = 0;
    std::string why;
    auto stream = server.openCapture(
        "mic", [](const int16_t*, size_t) {},
        [&](const std::string& w) {
            ++failures;
            why = w;
        },
        nullptr);
    server.setReachable(false);
    server.setReachable(false);
    EXPECT_EQ(failures, 1);
    EXPECT_FALSE(why.empty());
    EXPECT_FALSE(server.connected());
    EXPECT_TRUE(server.sources().empty());
    EXPECT_FALSE(server.sourceVolume("mic").has_value());
    std::string error;
    EXPECT_EQ(server.openCapture("mic", {}, {}, &error), nullptr);
    EXPECT_FALSE(error.empty());

    server.setReachable(true);
    EXPECT_EQ(server.sources().size(), 1u);
    EXPECT_NE(server.openCapture("mic", {}, {}, nullptr), nullptr);
    stream.reset(); // closing a failed stream is fine
}

TEST(InProcessServer, AStreamMayBeClosedFromItsOwnCallback)
{
    InProcessServer server;
    server.addSource("mic", "Mic");
    std::unique_ptr<CaptureStream> stream;
    int calls = 0;
    stream = server.openCapture(
        "mic",
        [&](const int16_t*, size_t) {
            ++calls;
            stream.reset();
        },
        [](const std::string&) {}, nullptr);
    server.pump(10);
    server.pump(10);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(server.captureStreamCount("mic"), 0);
}

} // namespace
