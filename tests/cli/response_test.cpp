// The response command and the sweep recorder over the in-process sound
// server: the options, a sweep through a sink's loopback (a path of unity
// gain, so flat by construction) with its text and WAV files, and the ways a
// recording fails: a device that vanishes, a source that delivers nothing.
#include "cli/response.h"
#include "measure/responsefile.h"
#include "platform/wavfile.h"
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
#include <regex>
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

std::vector<double> Numbers(const std::string& json, const std::string& key)
{
    std::vector<double> values;
    const std::regex item("\"" + key + "\": (-?[0-9.]+)");
    for (auto it = std::sregex_iterator(json.begin(), json.end(), item); it != std::sregex_iterator(); ++it)
        values.push_back(std::stod((*it)[1]));
    return values;
}

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

TEST_F(ResponseCommand, LoopbackIsFlatAndItsFilesHoldWhatThePrintedAnswerSays)
{
    ScratchFolder dir;
    cli::Options options = Measuring("Test Speakers", "speakers.monitor");
    options.responseFile = dir.file("response.txt");
    options.impulseFile = dir.file("impulse.wav");
    const cli::Outcome outcome = RunPumping(options);
    ASSERT_EQ(outcome.exitCode, cli::ExitOk) << outcome.error;
    ExpectEngineStopped();
    // The in-process server has no stream clocks.
    EXPECT_NE(outcome.warning.find("did not tell its stream clocks"), std::string::npos) << outcome.warning;
    EXPECT_NE(outcome.json.find("\"clipped\": false"), std::string::npos);

    // 20 Hz * 2^(i/48) up to 20 kHz, of a path that passes every sample as it is.
    const std::vector<double> hz = Numbers(outcome.json, "hz");
    const std::vector<double> db = Numbers(outcome.json, "db");
    const std::vector<double> deg = Numbers(outcome.json, "deg");
    ASSERT_EQ(hz.size(), 479u);
    ASSERT_EQ(db.size(), hz.size());
    ASSERT_EQ(deg.size(), hz.size());
    for (std::size_t i = 0; i < hz.size(); ++i) {
        EXPECT_NEAR(hz[i], 20.0 * std::exp2(i / 48.0), 1e-3) << i;
        EXPECT_NEAR(db[i], 0.0, 0.1) << hz[i];
        EXPECT_NEAR(deg[i], 0.0, 2.0) << hz[i];
    }

    const measure::ResponseParse text = measure::LoadResponseFile(options.responseFile);
    ASSERT_TRUE(text.ok) << text.message;
    ASSERT_EQ(text.curve.Size(), hz.size());
    for (std::size_t i = 0; i < hz.size(); ++i) {
        EXPECT_NEAR(text.curve.hz[i], hz[i], 1e-5 * hz[i]);
        EXPECT_NEAR(text.curve.db[i], db[i], 1e-3);
        EXPECT_NEAR(text.curve.degrees[i], deg[i], 1e-2);
    }

    // The impulse response starts at zero delay: its peak, of unity gain,
    // lies where the delay says.
    const std::vector<double> delay = Numbers(outcome.json, "delay_samples");
    ASSERT_EQ(delay.size(), 1u);
    const WavRead wav = ReadMonoWav(options.impulseFile);
    ASSERT_TRUE(wav.ok) << wav.message;
    EXPECT_EQ(wav.sampleRate, 44100);
    const auto peak = std::max_element(wav.samples.begin(), wav.samples.end(),
                                       [](float a, float b) { return std::fabs(a) < std::fabs(b); });
    EXPECT_EQ(peak - wav.samples.begin(), std::lround(delay[0]));
    EXPECT_NEAR(*peak, 1.0, 0.1);
}

TEST_F(ResponseCommand, SilenceHoldsNoSweepAndUnknownDevicesFail)
{
    const cli::Outcome quiet = RunPumping(Measuring("speakers", "quiet"));
    EXPECT_EQ(quiet.exitCode, cli::ExitNoSweep);
    EXPECT_TRUE(quiet.error.starts_with("No sweep found in the recording")) << quiet.error;
    EXPECT_TRUE(quiet.json.empty());
    ExpectEngineStopped();

    EXPECT_EQ(cli::RunResponse(Measuring("speakers", "No Such Input")).exitCode, cli::ExitNoDevice);
    EXPECT_EQ(cli::RunResponse(Measuring("No Such Speakers", "mic")).exitCode, cli::ExitNoDevice);
}

TEST_F(ResponseCommand, UnwritableFileFailsWithItsReasonAndLeavesNothing)
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

TEST(ResponseImpulse, FirstSampleIsAtZeroDelay)
{
    measure::WindowedImpulse impulse;
    impulse.startLag = 100;
    impulse.samples = {0.25, 1.0, -0.5};
    // The played frame 0 arrives at recording frame 90.4: the window starts
    // ten samples after zero delay.
    const std::vector<float> later = cli::ImpulseFromZeroDelay(impulse, 90.4);
    ASSERT_EQ(later.size(), 13u);
    EXPECT_EQ(later[9], 0.0f);
    EXPECT_EQ(later[11], 1.0f);
    // Arrival at frame 101: what came before it is left out.
    const std::vector<float> earlier = cli::ImpulseFromZeroDelay(impulse, 101);
    ASSERT_EQ(earlier.size(), 2u);
    EXPECT_EQ(earlier[0], 1.0f);
    EXPECT_EQ(earlier[1], -0.5f);
}

} // namespace
