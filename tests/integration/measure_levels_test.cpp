// sonalyx-measure levels as a script runs it, against the private sound
// server: a 1 kHz stereo sine at -23 dBFS played into the headset sink by
// paplay reads -23.0 LUFS through the sink's loopback, and its Leq matches
// what an independent recording of that loopback (parec) computes to.
#include "common/measurer_support.h"
#include "common/pulse_support.h"
#include "platform/calibrations.h"

#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <numbers>
#include <thread>
#include <vector>

namespace {

using Outcome = testsupport::MeasurerRun;

constexpr int Rate = 44100;

// A 16-bit stereo WAV file of `seconds` of a 1 kHz sine whose RMS reads
// `dbfs` on both channels (its peak 32767 * 10^(dbfs/20)); silence for
// dbfs = -inf.
void WriteSineWav(const std::string& path, double dbfs, int seconds)
{
    const double amplitude = std::isfinite(dbfs) ? 32767.0 * std::pow(10.0, dbfs / 20.0) : 0.0;
    const uint32_t frames = static_cast<uint32_t>(Rate * seconds);
    std::vector<int16_t> samples(2 * frames);
    for (uint32_t i = 0; i < frames; ++i)
        samples[2 * i] = samples[2 * i + 1] = static_cast<int16_t>(
            std::lround(amplitude * std::sin(2.0 * std::numbers::pi * 1000.0 * i / Rate)));
    testsupport::WriteStereoWav(path, samples);
}

std::vector<int16_t> ReadRaw(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<int16_t> samples(bytes.size() / 4 * 2);
    std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
    return samples;
}

// The RMS level in dBFS of one channel of what parec recorded, from half a
// second after the tone arrived to the end: the plain sum of squares.
double RecordedDbfs(const std::vector<int16_t>& samples, int channel)
{
    const size_t frames = samples.size() / 2;
    size_t start = 0;
    while (start < frames && samples[2 * start + channel] == 0)
        ++start;
    start += Rate / 2;
    if (start + Rate > frames)
        return NAN;
    double squares = 0;
    for (size_t i = start; i < frames; ++i)
        squares += double(samples[2 * i + channel]) * samples[2 * i + channel];
    return 10.0 * std::log10(squares / double(frames - start) / (32767.0 * 32767.0 / 2.0));
}

class MeasureLevels : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!testsupport::HavePrivateServer())
            GTEST_SKIP() << "needs the private sound server of scripts/test.sh";
        // The loopback carries the played samples as they are.
        testsupport::SetHeadsetLoopbackToUnity();
    }
    QTemporaryDir dir;
};

TEST_F(MeasureLevels, ASineThroughALoopbackReadsItsLoudnessAndLevel)
{
    const std::string wav = dir.filePath("tone.wav").toStdString(), raw = dir.filePath("monitor.raw").toStdString();
    WriteSineWav(wav, -23.0, 16);
    Outcome run;
    {
        testsupport::BackgroundCommand recorder(
            "timeout 13 parec --raw --format=s16le --rate=44100 --channels=2 --latency-msec=50"
            " --device=test_headset.monitor > '" +
            raw + "'");
        testsupport::BackgroundCommand player("paplay --device=test_headset '" + wav + "'");
        std::this_thread::sleep_for(std::chrono::milliseconds(800)); // the tone on its way
        run = testsupport::RunMeasurer({"levels", "--record", "test_headset.monitor", "--seconds", "10"});
    }
    ASSERT_EQ(run.exitCode, 0) << run.err.constData();
    const QJsonObject answer = testsupport::MeasurerAnswer(run);
    EXPECT_EQ(answer["unit"].toString(), "dBFS");
    EXPECT_EQ(answer["weighting"].toString(), "Z");
    EXPECT_EQ(answer["seconds"].toDouble(), 10.0);
    const double integrated = answer["loudness"].toObject()["integrated_lufs"].toDouble();
    EXPECT_NEAR(integrated, -23.0, 0.1) << run.out.constData();
    std::printf("integrated %.2f LUFS\n", integrated);

    const std::vector<int16_t> recorded = ReadRaw(raw);
    for (int channel = 0; channel < 2; ++channel) {
        const char* side = channel ? "right" : "left";
        const double independent = RecordedDbfs(recorded, channel);
        EXPECT_NEAR(independent, -23.0, 0.1) << side << ": the loopback changed the tone";
        EXPECT_NEAR(answer[side].toObject()["leq_db"].toDouble(), independent, 0.1) << side << run.out.constData();
        std::printf("%s: Leq %.3f dB, parec %.3f dB\n", side, answer[side].toObject()["leq_db"].toDouble(),
                    independent);
    }
}

// Silence has no loudness: null, and exit 0. Played as a file of zeros, so
// that the sink runs on either server.
TEST_F(MeasureLevels, SilenceReadsNullLoudnessAndSucceeds)
{
    const std::string wav = dir.filePath("silence.wav").toStdString();
    WriteSineWav(wav, -INFINITY, 5);
    Outcome run;
    {
        testsupport::BackgroundCommand player("paplay --device=test_headset '" + wav + "'");
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        run = testsupport::RunMeasurer({"levels", "--record", "Test Headset", "--seconds", "2"});
    }
    ASSERT_EQ(run.exitCode, 0) << run.err.constData();
    const QJsonObject answer = testsupport::MeasurerAnswer(run);
    EXPECT_TRUE(answer["loudness"].toObject()["integrated_lufs"].isNull()) << run.out.constData();
    EXPECT_TRUE(answer["left"].toObject()["leq_db"].isNull()) << run.out.constData();
}

// A calibration stored for the loopback (by the name the program lists it
// under) turns the -23 dBFS tone into 94 dB SPL.
TEST_F(MeasureLevels, ACalibratedDeviceReadsInDbSpl)
{
    const std::string wav = dir.filePath("tone.wav").toStdString();
    WriteSineWav(wav, -23.0, 6);
    ASSERT_EQ(platform::SaveCalibration("Test Headset", {117.0, ""}), "");
    Outcome run;
    {
        testsupport::BackgroundCommand player("paplay --device=test_headset '" + wav + "'");
        std::this_thread::sleep_for(std::chrono::milliseconds(800));
        run = testsupport::RunMeasurer(
            {"levels", "--record", "test_headset.monitor", "--seconds", "3", "--weighting", "A"});
    }
    platform::SaveCalibration("Test Headset", {});
    ASSERT_EQ(run.exitCode, 0) << run.err.constData();
    const QJsonObject answer = testsupport::MeasurerAnswer(run);
    EXPECT_EQ(answer["unit"].toString(), "dB SPL");
    EXPECT_NEAR(answer["left"].toObject()["leq_db"].toDouble(), 94.0, 0.1) << run.out.constData();
    EXPECT_NEAR(answer["left"].toObject()["sample_peak_dbfs"].toDouble(), -23.0, 0.1);
}

TEST_F(MeasureLevels, WrongArgumentsAndDevicesFailAsInBands)
{
    const std::pair<QStringList, const char*> cases[] = {
        {{"levels"}, "levels needs --record DEVICE"},
        {{"levels", "--record", "test_mic", "--play", "test_headset"}, "unknown option '--play'"},
        {{"levels", "--record", "test_mic", "--fraction", "3"}, "unknown option '--fraction'"},
        {{"levels", "--record", "test_mic", "--weighting", "B"}, "--weighting wants Z, A or C"},
        {{"levels", "--record", "test_mic", "--seconds", "-1"}, "--seconds wants"},
    };
    for (const auto& [arguments, cause] : cases) {
        const Outcome run = testsupport::RunMeasurer(arguments);
        EXPECT_EQ(run.exitCode, 2) << arguments.join(' ').toStdString();
        EXPECT_TRUE(run.err.startsWith(QByteArray("sonalyx-measure: ") + cause)) << run.err.constData();
        EXPECT_TRUE(run.out.isEmpty());
    }
    const Outcome missing = testsupport::RunMeasurer({"levels", "--record", "No Such Microphone"});
    EXPECT_EQ(missing.exitCode, 4);
    EXPECT_TRUE(missing.err.startsWith("sonalyx-measure: no recording device named 'No Such Microphone'"))
        << missing.err.constData();
}

} // namespace
