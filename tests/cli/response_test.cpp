// The response command and the sweep recorder over the in-process sound
// server: the options, a file that cannot be written, and the ways a
// recording fails: a device that vanishes, a source that delivers nothing.
// What the command measures is checked against the real servers
// (tests/integration/measure_response_test.cpp).
#include "cli/response.h"
#include "playback/WaveOut.h"
#include "playback/sweeprecording.h"
#include "state/global.h"
#include "support/inprocess_server.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <future>
#include <thread>
#include <unistd.h>

using namespace platform;
using namespace std::chrono_literals;

namespace {

cli::Parsed Parse(std::vector<std::string> args)
{
    args.insert(args.begin(), "response");
    return cli::ParseArguments(args);
}

// ---- Options -------------------------------------------------------------------------

TEST(ResponseOptions, DefaultsAndEveryOption)
{
    const cli::Parsed plain = Parse({"--play", "speakers", "--record", "speakers.monitor"});
    ASSERT_TRUE(plain.options) << plain.error;
    EXPECT_EQ(plain.options->command, cli::Command::Response);
    EXPECT_EQ(plain.options->seconds, 4.0);
    EXPECT_EQ(plain.options->sweepDbfs, -6.0);
    EXPECT_EQ(plain.options->reference, measure::ResponseReference::Generated);
    EXPECT_EQ(plain.options->channel, 0);
    EXPECT_TRUE(plain.options->responseFile.empty());
    EXPECT_TRUE(plain.options->impulseFile.empty());

    const cli::Parsed full = Parse({"--play", "s", "--record", "m", "--seconds", "16", "--level", "-40", "--channel",
                                    "right", "--out", "r.txt", "--ir", "r.wav"});
    ASSERT_TRUE(full.options) << full.error;
    EXPECT_EQ(full.options->seconds, 16.0);
    EXPECT_EQ(full.options->sweepDbfs, -40.0);
    EXPECT_EQ(full.options->channel, 1);
    EXPECT_EQ(full.options->responseFile, "r.txt");
    EXPECT_EQ(full.options->impulseFile, "r.wav");
    EXPECT_TRUE(Parse({"--play", "s", "--record", "m", "--seconds", "1", "--level", "0"}).options);

    // A recorded reference: the measured channel is the other one.
    const cli::Parsed left = Parse({"--play", "s", "--record", "m", "--reference", "left"});
    ASSERT_TRUE(left.options) << left.error;
    EXPECT_EQ(left.options->reference, measure::ResponseReference::Left);
    EXPECT_EQ(left.options->channel, 1);
    const cli::Parsed right = Parse({"--play", "s", "--record", "m", "--reference", "right", "--channel", "left"});
    ASSERT_TRUE(right.options) << right.error;
    EXPECT_EQ(right.options->channel, 0);
}

TEST(ResponseOptions, WrongValuesAreUsageErrors)
{
    const std::vector<std::vector<std::string>> wrong = {
        {"--record", "m"},                                    // nothing to play to
        {"--play", "s"},                                      // nothing to record
        {"--play", "s", "--record", "m", "--seconds", "0.9"}, // shorter than 1 s
        {"--play", "s", "--record", "m", "--seconds", "16.5"},
        {"--play", "s", "--record", "m", "--level", "0.1"}, // above full scale
        {"--play", "s", "--record", "m", "--level", "-40.5"},
        {"--play", "s", "--record", "m", "--level", "nan"},
        {"--play", "s", "--record", "m", "--reference", "both"},
        {"--play", "s", "--record", "m", "--reference", "left", "--channel", "left"},
        {"--play", "s", "--record", "m", "--channel", "centre"},
        {"--play", "s", "--record", "m", "--out", "same", "--ir", "same"},
        {"--play", "s", "--record", "m", "--freq", "997"}, // a distortion option
        {"--play", "s", "--record", "m", "--ir"},
    };
    for (const auto& args : wrong) {
        const cli::Parsed parsed = Parse(args);
        std::string line;
        for (const auto& a : args)
            line += a + " ";
        EXPECT_FALSE(parsed.options) << line;
        EXPECT_FALSE(parsed.error.empty()) << line;
    }
    EXPECT_NE(std::string(cli::UsageText).find("7 no sweep found"), std::string::npos);
    EXPECT_NE(std::string(cli::UsageText).find("8 the recording clipped"), std::string::npos);
}

// ---- The command and the recorder over the in-process server -------------------------

// A folder of the test's own, removed with everything in it.
class ScratchFolder {
public:
    ScratchFolder()
    {
        path_ = std::filesystem::temp_directory_path() /
                ("sonalyx-response-" + std::to_string(::getpid()) + "-" + std::to_string(counter_++));
        std::filesystem::create_directories(path_);
    }
    ~ScratchFolder() { std::filesystem::remove_all(path_); }
    std::string file(const std::string& name) const { return (path_ / name).string(); }
    std::string path() const { return path_.string(); }

private:
    static inline int counter_ = 0;
    std::filesystem::path path_;
};

class ResponseCommand : public ::testing::Test {
protected:
    InProcessServer* server = nullptr;

    void SetUp() override
    {
        auto owned = std::make_unique<InProcessServer>();
        server = owned.get();
        server->addSource("mic", "Test Microphone", Sine(1000, 8000, 1000, 8000));
        server->addSource("quiet", "Quiet Input");
        server->addSink("speakers", "Test Speakers");
        SetServer(std::move(owned));
    }
    void TearDown() override { ResetServer(); }

    static cli::Options Measuring(const std::string& play, const std::string& record)
    {
        cli::Options options;
        options.command = cli::Command::Response;
        options.play = play;
        options.record = record;
        options.seconds = 1.0;
        return options;
    }

    // Runs the command while the server delivers a 10 ms period every 10 ms,
    // as a sound card would.
    cli::Outcome RunPumping(const cli::Options& options)
    {
        auto run = std::async(std::launch::async, [&] { return cli::RunResponse(options); });
        while (run.wait_for(10ms) != std::future_status::ready)
            server->pump(441);
        return run.get();
    }

    // Polls the recorder as the program's tick would, pumping the server
    // while `pumping` says so, until it is done or failed.
    SweepRecording::State PollUntilEnd(SweepRecording& recording, const std::function<bool(int)>& pumping)
    {
        SweepRecording::State state = SweepRecording::State::Recording;
        for (int tick = 0; tick < 1000 && state == SweepRecording::State::Recording; ++tick) {
            if (pumping(tick))
                server->pump(441);
            std::this_thread::sleep_for(10ms);
            state = recording.Poll();
        }
        return state;
    }

    static measure::ExponentialSweep ShortSweep()
    {
        measure::SweepParameters parameters;
        parameters.seconds = 1.0;
        return measure::ExponentialSweep(parameters);
    }

    static void ExpectEngineStopped()
    {
        EXPECT_FALSE(WaveOutIsOpen);
        EXPECT_FALSE(GenPlaying);
        EXPECT_FALSE(GenSweep);
    }
};

TEST_F(ResponseCommand, UnwritableFileFailsWithItsReasonAndLeavesNoPartialFile)
{
    ScratchFolder dir;
    cli::Options options = Measuring("speakers", "speakers.monitor");
    // A folder where the file should be: it cannot be replaced.
    options.impulseFile = dir.path();
    options.responseFile = dir.file("response.txt");
    const cli::Outcome outcome = RunPumping(options);
    EXPECT_EQ(outcome.exitCode, cli::ExitFailed);
    EXPECT_TRUE(outcome.error.starts_with("the impulse response could not be written to")) << outcome.error;
    EXPECT_TRUE(outcome.json.empty());
    ExpectEngineStopped();
    // The text, written first, is whole; no temporary is left beside it.
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        left.push_back(entry.path().filename().string());
    EXPECT_EQ(left, std::vector<std::string>{"response.txt"});
}

TEST_F(ResponseCommand, RecorderFailsNamingAVanishedDevice)
{
    {
        SweepRecording recording;
        std::string error;
        ASSERT_TRUE(recording.Start(Server(), "mic", 0, ShortSweep(), true, &error)) << error;
        EXPECT_TRUE(GenSweep && GenPlaying && WaveOutIsOpen);
        const auto state = PollUntilEnd(recording, [&](int tick) {
            if (tick == 20)
                server->removeSource("mic");
            return true;
        });
        EXPECT_EQ(state, SweepRecording::State::Failed);
        EXPECT_NE(recording.Error().find("mic"), std::string::npos) << recording.Error();
        EXPECT_FALSE(recording.TimedOut());
    }
    ExpectEngineStopped();
    {
        SweepRecording recording;
        std::string error;
        ASSERT_TRUE(recording.Start(Server(), "quiet", 0, ShortSweep(), true, &error)) << error;
        const auto state = PollUntilEnd(recording, [&](int tick) {
            if (tick == 20)
                server->removeSink("speakers");
            return true;
        });
        EXPECT_EQ(state, SweepRecording::State::Failed);
        EXPECT_NE(recording.Error().find("speakers"), std::string::npos) << recording.Error();
    }
    ExpectEngineStopped();
}

TEST_F(ResponseCommand, RecorderTimesOutWhenNothingArrivesAndRefusesAGeneratorInUse)
{
    SweepRecording recording;
    std::string error;
    ASSERT_TRUE(recording.Start(Server(), "mic", 0, ShortSweep(), true, &error)) << error;
    const auto started = std::chrono::steady_clock::now();
    // A few periods, then nothing.
    const auto state = PollUntilEnd(recording, [](int tick) { return tick < 5; });
    EXPECT_EQ(state, SweepRecording::State::Failed);
    EXPECT_TRUE(recording.TimedOut());
    EXPECT_EQ(recording.Error(), "no samples from 'mic' within 5 s");
    EXPECT_GE(std::chrono::steady_clock::now() - started, 5s);

    // Another recorder cannot start while this one holds the engine.
    SweepRecording second;
    EXPECT_FALSE(second.Start(Server(), "mic", 0, ShortSweep(), true, &error));
    EXPECT_FALSE(error.empty());
    recording.Stop();
    ExpectEngineStopped();
}

TEST(SweepRecordingMedian, MiddleValueOrMeanOfTheMiddleTwo)
{
    EXPECT_EQ(SweepRecording::Median({}), 0.0);
    EXPECT_EQ(SweepRecording::Median({5.0, -1.0, 441.0}), 5.0);
    EXPECT_EQ(SweepRecording::Median({4.0, 1.0, 3.0, 2.0}), 2.5);
}

} // namespace
