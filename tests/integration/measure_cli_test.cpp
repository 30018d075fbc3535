// sonalyx-measure as a script runs it: its own process with no DISPLAY,
// against the private sound server and its test devices.
#include "common/measurer_support.h"
#include "common/pulse_support.h"

#include <QJsonArray>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

using testsupport::BandLevel;
using Outcome = testsupport::MeasurerRun;

Outcome Measure(const QStringList& arguments, const QString& server = {})
{
    return testsupport::RunMeasurer(arguments, server);
}

QJsonObject Answer(const Outcome& run)
{
    return testsupport::MeasurerAnswer(run);
}

// One line on standard error naming the cause, and nothing on standard output.
void ExpectFailure(const Outcome& run, int code, const char* cause)
{
    EXPECT_EQ(run.exitCode, code) << run.err.constData();
    EXPECT_TRUE(run.out.isEmpty()) << run.out.constData();
    const QByteArray first = run.err.left(run.err.indexOf('\n'));
    EXPECT_TRUE(first.startsWith("sonalyx-measure: ")) << run.err.constData();
    EXPECT_TRUE(first.contains(cause)) << run.err.constData();
}

QJsonObject Entry(const QJsonArray& list, const QString& name)
{
    for (const QJsonValue& entry : list)
        if (entry.toObject()["name"].toString() == name)
            return entry.toObject();
    return {};
}

class MeasureCli : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!testsupport::HavePrivateServer())
            GTEST_SKIP() << "needs the private sound server of scripts/test.sh";
    }
};

// Both test sinks, the microphone and the line in, and both sinks' loopbacks
// described by their sinks, as the program's own lists show them.
TEST_F(MeasureCli, DevicesListsTheTestDevicesAndTheirLoopbacks)
{
    const Outcome run = Measure({"devices"});
    ASSERT_EQ(run.exitCode, 0) << run.err.constData();
    EXPECT_TRUE(run.err.isEmpty()) << run.err.constData();
    const QJsonObject answer = Answer(run);
    const QJsonArray playback = answer["playback"].toArray(), recording = answer["recording"].toArray();
    EXPECT_EQ(answer["dropped_frames"].toInt(-1), 0);

    ASSERT_GE(playback.size(), 2);
    EXPECT_EQ(playback[0].toObject()["name"].toString(), "test_speakers") << "the default first";
    EXPECT_EQ(playback[0].toObject()["default"].toBool(), true);
    EXPECT_EQ(Entry(playback, "test_speakers")["description"].toString(), "Test Speakers");
    EXPECT_EQ(Entry(playback, "test_headset")["description"].toString(), "Test Headset");
    EXPECT_EQ(Entry(playback, "test_headset")["default"].toBool(true), false);

    EXPECT_EQ(Entry(recording, "test_mic")["description"].toString(), "Test Microphone");
    EXPECT_EQ(Entry(recording, "test_mic")["default"].toBool(), true);
    EXPECT_EQ(Entry(recording, "test_line_in")["description"].toString(), "Test Line In");
    EXPECT_EQ(Entry(recording, "test_line_in")["default"].toBool(true), false);
    EXPECT_EQ(Entry(recording, "test_speakers.monitor")["description"].toString(), "Test Speakers");
    EXPECT_EQ(Entry(recording, "test_headset.monitor")["description"].toString(), "Test Headset");
}

// Each wrong argument: code 2, the cause, then the usage.
TEST_F(MeasureCli, WrongArgumentsExitWithTwoAndTheUsage)
{
    const std::pair<QStringList, const char*> cases[] = {
        {{}, "no command"},
        {{"measure"}, "unknown command 'measure'"},
        {{"devices", "--all"}, "devices takes no arguments"},
        {{"bands"}, "bands needs --record DEVICE"},
        {{"bands", "--record"}, "--record needs a value"},
        {{"bands", "--record", "test_mic", "--seconds", "0"}, "--seconds wants"},
        {{"bands", "--record", "test_mic", "--seconds", "five"}, "--seconds wants"},
        {{"bands", "--record", "test_mic", "--fraction", "2"}, "--fraction wants 1, 3, 6, 12 or 24"},
        {{"bands", "--record", "test_mic", "--weighting", "B"}, "--weighting wants Z, A or C"},
        {{"bands", "--record", "test_mic", "--play", "test_headset", "--signal", "brown"}, "--signal wants pink"},
        {{"bands", "--record", "test_mic", "--signal", "pink"}, "--signal needs --play DEVICE"},
        {{"bands", "--record", "test_mic", "--loud", "yes"}, "unknown option '--loud'"},
    };
    for (const auto& [arguments, cause] : cases) {
        SCOPED_TRACE(arguments.join(' ').toStdString());
        const Outcome run = Measure(arguments);
        ExpectFailure(run, 2, cause);
        EXPECT_TRUE(run.err.contains("\nusage: sonalyx-measure devices\n")) << run.err.constData();
    }
    const Outcome help = Measure({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.out.startsWith("usage: sonalyx-measure devices\n")) << help.out.constData();
    EXPECT_TRUE(help.err.isEmpty());
}

// A socket nobody listens on: code 3 for both commands.
TEST_F(MeasureCli, NoSoundServerExitsWithThree)
{
    const QString nowhere = "unix:/nonexistent/sonalyx-test/native";
    ExpectFailure(Measure({"devices"}, nowhere), 3, "the sound server does not answer");
    ExpectFailure(Measure({"bands", "--record", "test_mic"}, nowhere), 3, "the sound server does not answer");
}

// ---- bands -----------------------------------------------------------------

std::vector<BandLevel> Bands(const QJsonObject& answer)
{
    return testsupport::BandLevels(answer);
}

// The test microphone's tone, known by construction: on PulseAudio the
// server's sine module, 1000 Hz at half of full scale (-6.02 dBFS); on
// PipeWire the tone player scripts/soundserver.sh starts, 1000 Hz at a
// quarter (-12.04 dBFS).
double MicrophoneToneDbfs()
{
    const double amplitude = testsupport::SoundServerKind() == "pipewire" ? 0.25 : 0.5;
    return 20.0 * std::log10(amplitude * 32768.0 / 32767.0);
}

// The tone reads in the 1 kHz band at its level within 0.2 dB, on both
// channels, and every other band lies far below it; the device found by its
// description and by its server name alike.
TEST_F(MeasureCli, BandsReadTheMicrophonesToneInItsBandAtItsLevel)
{
    for (const char* device : {"Test Microphone", "test_mic"}) {
        SCOPED_TRACE(device);
        const Outcome run = Measure({"bands", "--record", device});
        ASSERT_EQ(run.exitCode, 0) << run.err.constData();
        const QJsonObject answer = Answer(run);
        EXPECT_EQ(answer["fraction"].toInt(), 3);
        EXPECT_EQ(answer["weighting"].toString(), "Z");
        EXPECT_EQ(answer["seconds"].toDouble(), 5.0);
        EXPECT_GE(answer["dropped_frames"].toInt(-1), 0);
        const std::vector<BandLevel> bands = Bands(answer);
        ASSERT_FALSE(bands.empty());
        for (const BandLevel& band : bands) {
            if (band.nominal == 1000) {
                EXPECT_NEAR(band.left, MicrophoneToneDbfs(), 0.2);
                EXPECT_NEAR(band.right, MicrophoneToneDbfs(), 0.2);
            } else {
                EXPECT_LT(band.left, MicrophoneToneDbfs() - 15) << band.nominal << " Hz";
                EXPECT_LT(band.right, MicrophoneToneDbfs() - 15) << band.nominal << " Hz";
            }
        }
    }
    // In octaves, A-weighted: the tone is in the 1 kHz octave, where A is 0 dB.
    const Outcome octaves = Measure(
        {"bands", "--record", "test_mic", "--seconds", "2", "--fraction", "1", "--weighting", "A"});
    ASSERT_EQ(octaves.exitCode, 0) << octaves.err.constData();
    const QJsonObject answer = Answer(octaves);
    EXPECT_EQ(answer["fraction"].toInt(), 1);
    EXPECT_EQ(answer["weighting"].toString(), "A");
    int octavesWithTheTone = 0;
    for (const BandLevel& band : Bands(answer)) {
        if (band.nominal == 1000) {
            EXPECT_NEAR(band.left, MicrophoneToneDbfs(), 0.2);
            ++octavesWithTheTone;
        }
    }
    EXPECT_EQ(octavesWithTheTone, 1);
}

// Pink noise played through the headset and read at its loopback for 30 s
// reads flat.
TEST_F(MeasureCli, PinkNoiseThroughALoopbackReadsFlat)
{
    const Outcome run = Measure(
        {"bands", "--play", "test_headset", "--signal", "pink", "--record", "Test Headset", "--seconds", "30"});
    ASSERT_EQ(run.exitCode, 0) << run.err.constData();
    testsupport::ExpectFlatPinkNoise(Bands(Answer(run)));
}

// White noise rises 3 dB per octave in 1/3 octaves, read for 10 s.
TEST_F(MeasureCli, WhiteNoiseThroughALoopbackRisesThreeDecibelsPerOctave)
{
    const Outcome run = Measure({"bands", "--play", "Test Headset", "--signal", "white", "--record",
                                 "test_headset.monitor", "--seconds", "10"});
    ASSERT_EQ(run.exitCode, 0) << run.err.constData();
    testsupport::ExpectWhiteNoiseSlope(Bands(Answer(run)));
}

TEST_F(MeasureCli, AMissingDeviceExitsWithFour)
{
    ExpectFailure(Measure({"bands", "--record", "No Such Microphone"}), 4,
                  "no recording device named 'No Such Microphone'");
    ExpectFailure(Measure({"bands", "--record", "test_mic", "--play", "no_such_sink"}), 4,
                  "no playback device named 'no_such_sink'");
    ExpectFailure(Measure({"bands", "--record", "Test Microphone", "--play", "Test Microphone"}), 4,
                  "no playback device named 'Test Microphone'");
}

// A suspended source delivers nothing: after 5 s the measurer gives up.
// PipeWire keeps its sources running (a suspended one, a pipe nobody
// writes to, deliver silence), so there the in-process server's test of the
// command (tests/cli) stands for this one.
TEST_F(MeasureCli, NoSamplesWithinFiveSecondsExitsWithFive)
{
    if (testsupport::SoundServerKind() == "pipewire")
        GTEST_SKIP() << "PipeWire has no source that delivers nothing";
    ASSERT_EQ(testsupport::Pactl("suspend-source test_line_in 1").exitCode, 0);
    const Outcome run = Measure({"bands", "--record", "Test Line In", "--seconds", "1"});
    testsupport::Pactl("suspend-source test_line_in 0");
    ExpectFailure(run, 5, "no samples from 'Test Line In' within 5 s");
}

} // namespace
