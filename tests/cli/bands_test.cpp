// The bands command over the in-process sound server, whose time the test
// drives: levels of sines known by construction, the lost frames it
// reports, and each way a recording can fail.
#include "cli/bands.h"
#include "playback/WaveOut.h"
#include "state/global.h"
#include "support/inprocess_server.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <future>
#include <regex>
#include <thread>

using namespace platform;
using namespace std::chrono_literals;

namespace {

// A band's level from the answer, by its nominal frequency.
double Level(const std::string& json, const std::string& nominal, const char* channel)
{
    const std::regex band("\\{\"nominal_hz\": " + nominal + ",[^}]*\"" + channel + "\": (-?[0-9.]+)");
    std::smatch match;
    if (!std::regex_search(json, match, band))
        return NAN;
    return std::stod(match[1]);
}

class Bands : public ::testing::Test {
protected:
    InProcessServer* server = nullptr;

    void SetUp() override
    {
        auto owned = std::make_unique<InProcessServer>();
        server = owned.get();
        // Left 1000 Hz at half of full scale, right 250 Hz at a quarter.
        server->addSource("mic", "Test Microphone", Sine(1000, 16384, 250, 8192));
        server->addSink("speakers", "Test Speakers");
        SetServer(std::move(owned));
    }
    void TearDown() override { ResetServer(); }

    static cli::Options Recording(const std::string& device, double seconds = 1.0)
    {
        cli::Options options;
        options.command = cli::Command::Bands;
        options.record = device;
        options.seconds = seconds;
        return options;
    }

    // Runs the command while the server delivers a 10 ms period every
    // `pace` (0: as fast as the command takes them); `during` runs once
    // after the first half second of sound.
    cli::Outcome RunPumping(const cli::Options& options, std::chrono::milliseconds pace,
                            const std::function<void()>& during = {})
    {
        auto run = std::async(std::launch::async, [&] { return cli::RunBands(options); });
        for (int period = 0; run.wait_for(pace) != std::future_status::ready; ++period) {
            server->pump(441);
            if (period == 50 && during)
                during();
        }
        return run.get();
    }
};

// Left -6.02 dBFS in the 1 kHz band, right -12.04 dBFS in the 250 Hz band,
// as the sines' amplitudes say; A-weighted, the 250 Hz band reads 8.6 dB
// less (the standard's table at 250 Hz) and the 1 kHz band the same.
TEST_F(Bands, SinesReadInTheirBandsAtTheirLevels)
{
    const double half = 20 * std::log10(16384 / 32767.0), quarter = 20 * std::log10(8192 / 32767.0);
    cli::Outcome outcome = RunPumping(Recording("Test Microphone"), 1ms);
    ASSERT_EQ(outcome.exitCode, cli::ExitOk) << outcome.error;
    EXPECT_NEAR(Level(outcome.json, "1000", "left_db"), half, 0.1) << outcome.json;
    EXPECT_NEAR(Level(outcome.json, "250", "right_db"), quarter, 0.1);
    EXPECT_LT(Level(outcome.json, "250", "left_db"), half - 40);
    EXPECT_LT(Level(outcome.json, "1000", "right_db"), quarter - 40);
    EXPECT_NE(outcome.json.find("\"dropped_frames\": 0,"), std::string::npos);

    cli::Options weighted = Recording("mic");
    weighted.weighting = measure::Weighting::A;
    outcome = RunPumping(weighted, 1ms);
    ASSERT_EQ(outcome.exitCode, cli::ExitOk) << outcome.error;
    EXPECT_NEAR(Level(outcome.json, "1000", "left_db"), half, 0.1);
    EXPECT_NEAR(Level(outcome.json, "250", "right_db"), quarter - 8.6, 0.15);
    EXPECT_NE(outcome.json.find("\"weighting\": \"A\""), std::string::npos);
}

// Frames the server lost during the recording are reported.
TEST_F(Bands, LostFramesAreReported)
{
    const cli::Outcome outcome = RunPumping(Recording("mic"), 1ms, [this] { server->overflowCapture("mic", 1000); });
    ASSERT_EQ(outcome.exitCode, cli::ExitOk) << outcome.error;
    EXPECT_NE(outcome.json.find("\"dropped_frames\": 1000,"), std::string::npos) << outcome.json.substr(0, 100);
}

// A source that never delivers: exit 5 after 5 s; one that stops for 5 s
// during the recording the same.
TEST_F(Bands, NoSamplesForFiveSecondsIsAFailureOfItsOwn)
{
    const auto start = std::chrono::steady_clock::now();
    const cli::Outcome outcome = cli::RunBands(Recording("mic"));
    EXPECT_EQ(outcome.exitCode, cli::ExitNoSamples);
    EXPECT_EQ(outcome.error, "no samples from 'mic' within 5 s");
    EXPECT_GE(std::chrono::steady_clock::now() - start, 5s);
    EXPECT_TRUE(outcome.json.empty());

    auto stalled = std::async(std::launch::async, [] { return cli::RunBands(Recording("mic", 2)); });
    for (int period = 0; period < 60; ++period) { // 0.6 s of the 2.5 needed, then nothing
        server->pump(441);
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_EQ(stalled.get().exitCode, cli::ExitNoSamples);
}

// A recording whose stream ends (device removed, stream killed) says why.
TEST_F(Bands, ARecordingThatEndsSaysWhy)
{
    const cli::Outcome outcome = RunPumping(Recording("mic", 10), 1ms,
                                            [this] { server->killCaptureStreams("mic", "killed by a test"); });
    EXPECT_EQ(outcome.exitCode, cli::ExitFailed);
    EXPECT_EQ(outcome.error, "the recording from 'mic' ended: killed by a test");

    server->failNextOpen("mic", "refused by a test");
    const cli::Outcome refused = cli::RunBands(Recording("mic"));
    EXPECT_EQ(refused.exitCode, cli::ExitFailed);
    EXPECT_NE(refused.error.find("refused by a test"), std::string::npos) << refused.error;
}

// Pink noise played to the speakers arrives at their loopback in every band,
// and the generator is closed again afterwards.
TEST_F(Bands, PlayedNoiseReachesTheLoopbackAndStopsAfterwards)
{
    cli::Options options = Recording("speakers.monitor");
    options.play = "Test Speakers";
    options.signal = cli::Signal::Pink;
    const cli::Outcome outcome = RunPumping(options, 10ms); // in real time: the engine refills every 20 ms
    ASSERT_EQ(outcome.exitCode, cli::ExitOk) << outcome.error;
    for (const char* band : {"100", "1000", "10000"})
        EXPECT_GT(Level(outcome.json, band, "left_db"), -45) << band << " Hz: " << outcome.json;
    EXPECT_FALSE(WaveOutIsOpen);
    EXPECT_FALSE(GenPlaying);
    EXPECT_EQ(server->captureStreamCount("speakers.monitor"), 0);
}

} // namespace
