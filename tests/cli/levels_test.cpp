// The levels command over the in-process sound server, whose time the test
// drives: sines whose levels and loudness are known by construction, the
// unit of a calibrated device and its microphone file, and silence.
#include "cli/levels.h"
#include "platform/calibrations.h"
#include "support/inprocess_server.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <future>
#include <optional>
#include <regex>

using namespace platform;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

// A sine's RMS level in dBFS from its amplitude (AES17: 32767 reads 0).
double SineDbfs(double amplitude)
{
    return 20.0 * std::log10(amplitude / 32767.0);
}

// The amplitude of a sine whose RMS reads `dbfs`.
double Amplitude(double dbfs)
{
    return 32767.0 * std::pow(10.0, dbfs / 20.0);
}

// A value of the answer: `key` inside the object `object` ("" for the top
// level); none for null or a missing key.
std::optional<double> Value(const std::string& json, const std::string& object, const std::string& key)
{
    std::string scope = json;
    if (!object.empty()) {
        const size_t at = json.find("\"" + object + "\": {");
        if (at == std::string::npos)
            return std::nullopt;
        scope = json.substr(at, json.find('}', at) - at);
    }
    std::smatch match;
    if (!std::regex_search(scope, match, std::regex("\"" + key + "\": (null|-?[0-9.]+)")) || match[1] == "null")
        return std::nullopt;
    return std::stod(match[1]);
}

class LevelsCommand : public ::testing::Test {
protected:
    InProcessServer* server = nullptr;
    fs::path config;

    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "levels-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        config = pattern;
        setenv("XDG_CONFIG_HOME", config.c_str(), 1);
        auto owned = std::make_unique<InProcessServer>();
        server = owned.get();
        // Left 1000 Hz at half of full scale, right 250 Hz at a quarter.
        server->addSource("mic", "Test Microphone", Sine(1000, 16384, 250, 8192));
        // The loudness meters' reference: 1 kHz on both channels at -23 dBFS.
        server->addSource("tone", "Test Tone", Sine(1000, Amplitude(-23.0), 1000, Amplitude(-23.0)));
        server->addSource("quiet", "Quiet Input");
        server->addSource("loud", "Loud Input", Sine(1000, 40000, 1000, 16384));
        SetServer(std::move(owned));
    }
    void TearDown() override
    {
        ResetServer();
        fs::remove_all(config);
    }

    static cli::Options Recording(const std::string& device, double seconds,
                                  measure::Weighting weighting = measure::Weighting::Z)
    {
        cli::Options options;
        options.command = cli::Command::Levels;
        options.record = device;
        options.seconds = seconds;
        options.weighting = weighting;
        return options;
    }

    // Runs the command while the server delivers a 10 ms period every
    // millisecond.
    cli::Outcome Run(const cli::Options& options)
    {
        auto run = std::async(std::launch::async, [&] { return cli::RunLevels(options); });
        while (run.wait_for(1ms) != std::future_status::ready)
            server->pump(441);
        return run.get();
    }
};

// Left -6.02 dBFS and right -12.04 dBFS as the sines' amplitudes say, as
// Leq, as the Fast maximum and as the sample peak (a sine's peak stands
// 3.01 dB above its RMS, which AES17's convention takes back); the Slow
// maximum 2.5 s after the tone began is 10 lg(1 - e^-2.5) below it. With A
// the 250 Hz tone reads 8.6 dB lower, with C 0.0 (the standard's table).
TEST_F(LevelsCommand, SinesReadAtTheLevelsTheirAmplitudesGive)
{
    const double left = SineDbfs(16384), right = SineDbfs(8192);
    cli::Outcome outcome = Run(Recording("Test Microphone", 2.0));
    ASSERT_EQ(outcome.exitCode, cli::ExitOk) << outcome.error;
    const std::string& json = outcome.json;
    EXPECT_NE(json.find("{\"seconds\": 2.0, \"unit\": \"dBFS\", \"weighting\": \"Z\", \"mic_file\": null"),
              std::string::npos)
        << json;
    EXPECT_NEAR(*Value(json, "left", "leq_db"), left, 0.02) << json;
    EXPECT_NEAR(*Value(json, "right", "leq_db"), right, 0.02);
    EXPECT_NEAR(*Value(json, "left", "fast_max_db"), left, 0.05);
    EXPECT_NEAR(*Value(json, "right", "fast_max_db"), right, 0.05);
    EXPECT_NEAR(*Value(json, "left", "slow_max_db"), left + 10 * std::log10(1 - std::exp(-2.5)), 0.05);
    EXPECT_NEAR(*Value(json, "left", "sample_peak_dbfs"), left, 0.01);
    EXPECT_NEAR(*Value(json, "right", "sample_peak_dbfs"), right, 0.01);
    EXPECT_EQ(*Value(json, "left", "clipped_samples"), 0);
    EXPECT_EQ(*Value(json, "", "dropped_frames"), 0);

    outcome = Run(Recording("mic", 1.0, measure::Weighting::A));
    ASSERT_EQ(outcome.exitCode, cli::ExitOk) << outcome.error;
    EXPECT_NE(outcome.json.find("\"weighting\": \"A\""), std::string::npos);
    EXPECT_NEAR(*Value(outcome.json, "left", "leq_db"), left, 0.1);
    EXPECT_NEAR(*Value(outcome.json, "right", "leq_db"), right - 8.6, 0.2);
    EXPECT_NEAR(*Value(outcome.json, "right", "sample_peak_dbfs"), right, 0.01) << "the peak is not weighted";
    outcome = Run(Recording("mic", 1.0, measure::Weighting::C));
    ASSERT_EQ(outcome.exitCode, cli::ExitOk) << outcome.error;
    EXPECT_NEAR(*Value(outcome.json, "right", "leq_db"), right, 0.2);
}

// 1 kHz at -23 dBFS on both channels reads -23.0 LUFS integrated, momentary
// and short-term; its true peak is its amplitude, which by AES17's
// convention reads as its RMS, -23 dBTP. Full-scale samples are counted as
// clipped.
TEST_F(LevelsCommand, TheReferenceToneReadsMinus23Lufs)
{
    const cli::Outcome outcome = Run(Recording("Test Tone", 4.0));
    ASSERT_EQ(outcome.exitCode, cli::ExitOk) << outcome.error;
    const std::string& json = outcome.json;
    EXPECT_NEAR(*Value(json, "loudness", "integrated_lufs"), -23.0, 0.1) << json;
    EXPECT_NEAR(*Value(json, "loudness", "momentary_max_lufs"), -23.0, 0.1);
    EXPECT_NEAR(*Value(json, "loudness", "short_term_max_lufs"), -23.0, 0.1);
    EXPECT_NEAR(*Value(json, "loudness", "loudness_range_lu"), 0.0, 0.1);
    const double peak = -23.0;
    EXPECT_NEAR(*Value(json, "loudness", "true_peak_max_dbtp"), peak, 0.2);
    EXPECT_NEAR(*Value(json, "left", "true_peak_dbtp"), peak, 0.2);
    EXPECT_NEAR(*Value(json, "right", "true_peak_dbtp"), peak, 0.2);

    const cli::Outcome loud = Run(Recording("Loud Input", 1.0));
    ASSERT_EQ(loud.exitCode, cli::ExitOk) << loud.error;
    EXPECT_GT(*Value(loud.json, "left", "clipped_samples"), 1000) << loud.json;
    EXPECT_EQ(*Value(loud.json, "right", "clipped_samples"), 0);
    EXPECT_NEAR(*Value(loud.json, "left", "sample_peak_dbfs"), 0.0, 0.01);
}

// Silence has no level and no loudness: null, and still a measurement.
TEST_F(LevelsCommand, SilenceReadsNullAndSucceeds)
{
    const cli::Outcome outcome = Run(Recording("Quiet Input", 1.0));
    ASSERT_EQ(outcome.exitCode, cli::ExitOk) << outcome.error;
    const std::string& json = outcome.json;
    EXPECT_NE(json.find("\"integrated_lufs\": null"), std::string::npos) << json;
    for (const char* key : {"leq_db", "fast_max_db", "slow_max_db", "sample_peak_dbfs", "true_peak_dbtp"})
        EXPECT_EQ(Value(json, "left", key), std::nullopt) << key << ": " << json;
    EXPECT_EQ(Value(json, "loudness", "momentary_max_lufs"), std::nullopt) << json;
}

// A device calibrated in the program reads in dB SPL, found by the name its
// list shows; other devices stay in dBFS. Its microphone file with +3 dB at
// 1 kHz (0 dB at 250 Hz) lowers the 1 kHz tone's weighted levels by 3.0 dB
// and leaves the 250 Hz tone's alone; peaks and loudness stay as they are.
TEST_F(LevelsCommand, ACalibratedDeviceReadsInDbSplWithoutItsMicrophone)
{
    const double left = SineDbfs(16384), right = SineDbfs(8192);
    ASSERT_EQ(SaveCalibration("Test Microphone", {100.0, ""}), "");
    cli::Outcome outcome = Run(Recording("mic", 1.0));
    ASSERT_EQ(outcome.exitCode, cli::ExitOk) << outcome.error;
    EXPECT_NE(outcome.json.find("\"unit\": \"dB SPL\""), std::string::npos) << outcome.json;
    EXPECT_NEAR(*Value(outcome.json, "left", "leq_db"), 100.0 + left, 0.02);
    EXPECT_NEAR(*Value(outcome.json, "left", "fast_max_db"), 100.0 + left, 0.05);
    EXPECT_NEAR(*Value(outcome.json, "left", "sample_peak_dbfs"), left, 0.01);
    const cli::Outcome other = Run(Recording("Test Tone", 1.0));
    EXPECT_NE(other.json.find("\"unit\": \"dBFS\""), std::string::npos) << other.json;

    const fs::path mic = config / "mic.txt";
    std::ofstream(mic) << "* made for the test\nFreq dB\n100 0\n250 0\n1000 3.0\n8000 3.0\n";
    ASSERT_EQ(SaveCalibration("Test Microphone", {100.0, mic.string()}), "");
    outcome = Run(Recording("mic", 2.0, measure::Weighting::A));
    ASSERT_EQ(outcome.exitCode, cli::ExitOk) << outcome.error;
    const std::string& json = outcome.json;
    EXPECT_NE(json.find("\"mic_file\": \"" + mic.string() + "\""), std::string::npos) << json;
    EXPECT_NEAR(*Value(json, "left", "leq_db"), 100.0 + left - 3.0, 0.05) << json;
    EXPECT_NEAR(*Value(json, "left", "fast_max_db"), 100.0 + left - 3.0, 0.07);
    EXPECT_NEAR(*Value(json, "right", "leq_db"), 100.0 + right - 8.6, 0.25);
    EXPECT_NEAR(*Value(json, "left", "sample_peak_dbfs"), left, 0.01);

    // A microphone file that went bad is a failure, not a silent dBFS.
    std::ofstream(mic) << "1000 3.0\n500 2.0\n";
    const cli::Outcome refused = Run(Recording("mic", 1.0));
    EXPECT_EQ(refused.exitCode, cli::ExitFailed);
    EXPECT_NE(refused.error.find("line 2"), std::string::npos) << refused.error;
    EXPECT_TRUE(refused.json.empty());
}

TEST_F(LevelsCommand, UnknownDevicesAndEndedRecordingsFailAsInBands)
{
    const cli::Outcome missing = cli::RunLevels(Recording("No Such Input", 1.0));
    EXPECT_EQ(missing.exitCode, cli::ExitNoDevice);
    EXPECT_EQ(missing.error, "no recording device named 'No Such Input'");

    auto run = std::async(std::launch::async, [] { return cli::RunLevels(Recording("mic", 10.0)); });
    for (int period = 0; run.wait_for(1ms) != std::future_status::ready; ++period) {
        server->pump(441);
        if (period == 50)
            server->killCaptureStreams("mic", "killed by a test");
    }
    const cli::Outcome ended = run.get();
    EXPECT_EQ(ended.exitCode, cli::ExitFailed);
    EXPECT_EQ(ended.error, "the recording from 'mic' ended: killed by a test");
}

} // namespace
