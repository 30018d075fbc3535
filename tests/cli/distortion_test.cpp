// The distortion command: its options, and its readings over the in-process
// sound server of sines whose frequency and level are known by
// construction, of the generator's own test tone through a loopback, and of
// silence.
#include "cli/distortion.h"
#include "playback/WaveOut.h"
#include "state/global.h"
#include "support/inprocess_server.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <future>
#include <optional>
#include <regex>

using namespace platform;
using namespace std::chrono_literals;

namespace {

// One channel's samples delivered at once, averaged as the command averages.
std::vector<double> AveragedPowerSpectrum(const std::vector<int16_t>& samples, double sampleRate)
{
    cli::ChannelSpectra spectra(sampleRate);
    spectra.Add(samples.data(), samples.size(), 1, 0);
    return spectra.Average();
}

std::optional<double> Number(const std::string& json, const std::string& key)
{
    std::smatch match;
    if (!std::regex_search(json, match, std::regex("\"" + key + "\": (-?[0-9.]+)")))
        return std::nullopt;
    return std::stod(match[1]);
}

std::vector<std::string> Harmonics(const std::string& json)
{
    std::smatch match;
    std::vector<std::string> values;
    if (!std::regex_search(json, match, std::regex("\"harmonics_db\": \\[([^\\]]*)\\]")))
        return values;
    const std::string list = match[1];
    const std::regex item("(null|-?[0-9.]+)");
    for (auto it = std::sregex_iterator(list.begin(), list.end(), item); it != std::sregex_iterator(); ++it)
        values.push_back((*it)[1]);
    return values;
}

cli::Parsed Parse(std::vector<std::string> args)
{
    args.insert(args.begin(), "distortion");
    return cli::ParseArguments(args);
}

// ---- Options ---------------------------------------------------------------------------

TEST(DistortionOptions, DefaultsAndEveryOption)
{
    const cli::Parsed plain = Parse({"--record", "mic"});
    ASSERT_TRUE(plain.options) << plain.error;
    EXPECT_EQ(plain.options->command, cli::Command::Distortion);
    EXPECT_EQ(plain.options->channel, 0);
    EXPECT_EQ(plain.options->seconds, 3.0);
    EXPECT_TRUE(plain.options->play.empty());

    const cli::Parsed full = Parse({"--record", "speakers.monitor", "--channel", "right", "--play", "speakers",
                                    "--freq", "1000.5", "--level", "-60", "--seconds", "2"});
    ASSERT_TRUE(full.options) << full.error;
    EXPECT_EQ(full.options->channel, 1);
    EXPECT_EQ(full.options->play, "speakers");
    EXPECT_EQ(full.options->toneHz, 1000.5);
    EXPECT_EQ(full.options->toneDbfs, -60.0);
    EXPECT_EQ(full.options->seconds, 2.0);

    for (const char* edge : {"20", "20000"})
        EXPECT_TRUE(Parse({"--record", "m", "--play", "s", "--freq", edge}).options) << edge;
    EXPECT_TRUE(Parse({"--record", "m", "--play", "s", "--level", "0"}).options);
}

TEST(DistortionOptions, WrongValuesAreUsageErrors)
{
    const std::vector<std::vector<std::string>> wrong = {
        {},                                                  // no device
        {"--record", "m", "--freq", "19.9", "--play", "s"},  // below 20 Hz
        {"--record", "m", "--freq", "20001", "--play", "s"}, // above 20 kHz
        {"--record", "m", "--freq", "1k", "--play", "s"},
        {"--record", "m", "--level", "0.5", "--play", "s"}, // above full scale
        {"--record", "m", "--level", "-61", "--play", "s"},
        {"--record", "m", "--level", "nan", "--play", "s"},
        {"--record", "m", "--channel", "centre"},
        {"--record", "m", "--freq", "997"},    // a tone with nowhere to play
        {"--record", "m", "--weighting", "A"}, // not a distortion option
        {"--record", "m", "--signal", "pink", "--play", "s"},
        {"--record", "m", "--seconds", "0"},
        {"--record"},
    };
    for (const auto& args : wrong) {
        const cli::Parsed parsed = Parse(args);
        std::string line;
        for (const auto& a : args)
            line += a + " ";
        EXPECT_FALSE(parsed.options) << line;
        EXPECT_FALSE(parsed.error.empty()) << line;
    }
    EXPECT_NE(std::string(cli::UsageText).find("6 no test tone found"), std::string::npos);
}

// ---- The command over the in-process server ------------------------------------------

class DistortionCommand : public ::testing::Test {
protected:
    InProcessServer* server = nullptr;

    void SetUp() override
    {
        auto owned = std::make_unique<InProcessServer>();
        server = owned.get();
        // Left 997 Hz at -6 dBFS, right 1500 Hz at -20 dBFS.
        server->addSource("mic", "Test Microphone", Sine(997, Peak(-6), 1500, Peak(-20)));
        server->addSource("quiet", "Quiet Input");
        server->addSink("speakers", "Test Speakers");
        SetServer(std::move(owned));
    }
    void TearDown() override { ResetServer(); }

    static double Peak(double dbfs) { return 32767.0 * std::pow(10.0, dbfs / 20.0); }

    static cli::Options Recording(const std::string& device, double seconds = 1.0)
    {
        cli::Options options;
        options.command = cli::Command::Distortion;
        options.record = device;
        options.seconds = seconds;
        return options;
    }

    // Runs the command while the server delivers a 10 ms period every `pace`.
    cli::Outcome RunPumping(const cli::Options& options, std::chrono::milliseconds pace)
    {
        auto run = std::async(std::launch::async, [&] { return cli::RunDistortion(options); });
        while (run.wait_for(pace) != std::future_status::ready)
            server->pump(441);
        return run.get();
    }
};

TEST_F(DistortionCommand, EachChannelReadsItsOwnSine)
{
    // One second asked for: still one whole transform of 65536 frames.
    const cli::Outcome left = RunPumping(Recording("mic"), 1ms);
    ASSERT_EQ(left.exitCode, cli::ExitOk) << left.error;
    EXPECT_NEAR(*Number(left.json, "fundamental_hz"), 997.0, 0.01) << left.json;
    EXPECT_NEAR(*Number(left.json, "fundamental_dbfs"), -6.0, 0.05) << left.json;
    // A sine rounded to 16 bits: the rounding's noise alone, about 6 dB per
    // bit below the tone.
    EXPECT_LT(*Number(left.json, "thdn_db"), -85.0) << left.json;
    EXPECT_GT(*Number(left.json, "snr_db"), 85.0) << left.json;
    EXPECT_NE(left.json.find("\"clipped\": false"), std::string::npos);
    // 997 Hz: H2 ... H10 all below 20 kHz. Rounding's error repeats with
    // the sine, so it holds harmonics too, but far down.
    const auto harmonics = Harmonics(left.json);
    EXPECT_EQ(harmonics.size(), 9u) << left.json;
    for (const auto& h : harmonics)
        EXPECT_TRUE(h == "null" || std::stod(h) < -110.0) << left.json;

    cli::Options options = Recording("Test Microphone", 2.0);
    options.channel = 1;
    const cli::Outcome right = RunPumping(options, 1ms);
    ASSERT_EQ(right.exitCode, cli::ExitOk) << right.error;
    EXPECT_NEAR(*Number(right.json, "fundamental_hz"), 1500.0, 0.01) << right.json;
    EXPECT_NEAR(*Number(right.json, "fundamental_dbfs"), -20.0, 0.05) << right.json;
    // 1500 Hz: H2 ... H13 below 20 kHz, of which H10 is the last taken.
    EXPECT_EQ(Harmonics(right.json).size(), 9u) << right.json;
}

TEST_F(DistortionCommand, SilenceHoldsNoToneAndUnknownDevicesFail)
{
    const cli::Outcome quiet = RunPumping(Recording("quiet"), 1ms);
    EXPECT_EQ(quiet.exitCode, cli::ExitNoTone);
    EXPECT_EQ(quiet.error, "No test tone found");
    EXPECT_TRUE(quiet.json.empty());

    const cli::Outcome missing = cli::RunDistortion(Recording("No Such Input"));
    EXPECT_EQ(missing.exitCode, cli::ExitNoDevice);
    cli::Options options = Recording("mic");
    options.play = "No Such Speakers";
    EXPECT_EQ(cli::RunDistortion(options).exitCode, cli::ExitNoDevice);
}

TEST_F(DistortionCommand, PlayedTestToneReachesTheLoopbackAtItsFrequencyAndLevel)
{
    cli::Options options = Recording("speakers.monitor", 1.5);
    options.play = "Test Speakers";
    options.toneHz = 2000;
    options.toneDbfs = -10;
    // In real time: the engine refills every 20 ms.
    const cli::Outcome outcome = RunPumping(options, 10ms);
    ASSERT_EQ(outcome.exitCode, cli::ExitOk) << outcome.error;
    EXPECT_NEAR(*Number(outcome.json, "fundamental_hz"), 2000.0, 0.01) << outcome.json;
    EXPECT_NEAR(*Number(outcome.json, "fundamental_dbfs"), -10.0, 0.05) << outcome.json;
    EXPECT_LT(*Number(outcome.json, "thdn_db"), -85.0) << outcome.json;
    // The engine is left as a stopped generator.
    EXPECT_FALSE(WaveOutIsOpen);
    EXPECT_FALSE(GenPlaying);
    EXPECT_FALSE(GenTestTone);
}

TEST(DistortionAveraging, SpectraOfHalfOverlappedTransformsAreAveraged)
{
    // Two and a half transforms: four of them, at 0, 1/2, 1 and 3/2.
    std::vector<int16_t> samples(cli::DistortionFrames * 5 / 2, 0);
    EXPECT_TRUE(AveragedPowerSpectrum(std::vector<int16_t>(cli::DistortionFrames - 1, 1), 44100).empty());
    // A click in the last quarter falls only in the last transform, near
    // its window's peak: its power there is the average's times four.
    samples[cli::DistortionFrames * 2] = 10000;
    const auto averaged = AveragedPowerSpectrum(samples, 44100);
    ASSERT_EQ(averaged.size(), static_cast<std::size_t>(cli::DistortionFrames / 2 + 1));
    std::vector<int16_t> last(samples.end() - cli::DistortionFrames, samples.end());
    const auto alone = AveragedPowerSpectrum(last, 44100);
    for (std::size_t b : {10u, 1000u, 20000u})
        EXPECT_NEAR(averaged[b] * 4, alone[b], 1e-9 * alone[b]) << b;

    // Delivered in pieces of 1000 stereo frames, the right channel holding
    // the samples: the same average, and a run at full scale across two
    // deliveries counts as clipping.
    std::vector<int16_t> stereo(2 * samples.size(), 0);
    for (std::size_t i = 0; i < samples.size(); ++i)
        stereo[2 * i + 1] = samples[i];
    stereo[2 * 999 + 1] = stereo[2 * 1000 + 1] = stereo[2 * 1001 + 1] = -32768;
    cli::ChannelSpectra pieces(44100);
    for (std::size_t at = 0; at < samples.size(); at += 1000)
        pieces.Add(stereo.data() + 2 * at, std::min<std::size_t>(1000, samples.size() - at), 2, 1);
    EXPECT_TRUE(pieces.Clipped());
    EXPECT_FALSE(cli::ChannelSpectra(44100).Clipped());
    const auto piecewise = pieces.Average();
    ASSERT_EQ(piecewise.size(), averaged.size());
    EXPECT_NEAR(piecewise[20000], averaged[20000], 1e-6 * averaged[20000]);
}

} // namespace
