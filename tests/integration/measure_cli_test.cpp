// sonalyx-measure as a script runs it: its own process with no DISPLAY,
// against the private sound server and its test devices.
#include "common/pulse_support.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <gtest/gtest.h>

#include <string>

namespace {

struct Outcome {
    int exitCode = -1;
    QByteArray out, err;
};

// Runs the measurer with these arguments, without a display, against the
// server in `server` (the private one when empty).
Outcome Measure(const QStringList& arguments, const QString& server = {}, int timeoutMs = 60000)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    if (!server.isEmpty())
        env.insert("PULSE_SERVER", server);
    process.setProcessEnvironment(env);
    process.start(SONALYX_MEASURE, arguments);
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return {};
    }
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1, process.readAllStandardOutput(),
            process.readAllStandardError()};
}

QJsonObject Answer(const Outcome& run)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(run.out, &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << run.out.constData();
    return document.object();
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

} // namespace
