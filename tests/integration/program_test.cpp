// The built program as a user runs it: its own process, the private sound
// server, the test display.
#include "common/pulse_support.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace {

TEST(TheProgram, TerminationSignalStoresTheSettingsAsAClose)
{
    if (!testsupport::HavePrivateServer())
        GTEST_SKIP() << "needs the private sound server of scripts/test.sh";
    QTemporaryDir config;
    ASSERT_TRUE(config.isValid());
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", config.path());
    env.insert("SONALYX_PAINT_STATS", "1"); // a line per paint: the views are up
    program.setProcessEnvironment(env);
    program.start(SONALYX_BINARY, {});
    ASSERT_TRUE(program.waitForStarted(10000));
    QByteArray log;
    const auto painted = [&](const char* view) { return log.contains(QByteArray("paint ") + view); };
    for (int waited = 0; waited < 30000 && !(painted("Waveform") && painted("Spectrogram")); waited += 100) {
        QTest::qWait(100);
        log += program.readAllStandardError();
    }
    ASSERT_TRUE(painted("Waveform") && painted("Spectrogram")) << log.left(2000).constData();

    program.terminate(); // SIGTERM
    ASSERT_TRUE(program.waitForFinished(30000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);

    QFile settings(config.path() + "/Vortan/Sonalyx.reg");
    ASSERT_TRUE(settings.open(QIODevice::ReadOnly));
    const QByteArray stored = settings.readAll();
    EXPECT_TRUE(stored.contains("\"IsInstalled\"=dword:00000001")) << stored.constData();
    EXPECT_TRUE(stored.contains("\"FormSpTm Show\"=dword:00000001"));
    EXPECT_TRUE(stored.contains("\"FormWave Width\"=dword:"));
}

struct Finished {
    int code;
    QByteArray errors;
};

Finished RunSnapshot(const QString& folder, const QProcessEnvironment& env)
{
    QProcess program;
    program.setProcessEnvironment(env);
    program.start(SONALYX_BINARY, {"--snapshot", folder, "--after", "2"});
    if (!program.waitForStarted(10000) || !program.waitForFinished(60000))
        return {-1, "did not start or end"};
    return {program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -1, program.readAllStandardError()};
}

TEST(TheProgram, SnapshotWritesTheThreePicturesAndTheSpectrumAndEnds)
{
    if (!testsupport::HavePrivateServer())
        GTEST_SKIP() << "needs the private sound server of scripts/test.sh";
    QTemporaryDir config, out;
    ASSERT_TRUE(config.isValid() && out.isValid());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", config.path());
    const QString folder = out.filePath("shots"); // made by the program
    const Finished finished = RunSnapshot(folder, env);
    ASSERT_EQ(finished.code, 0) << finished.errors.constData();
    for (const char* name : {"waveform.png", "spectrum.png", "spectrogram.png"}) {
        const QImage picture(QDir(folder).filePath(name));
        EXPECT_FALSE(picture.isNull()) << name;
        EXPECT_GT(picture.width(), 100) << name;
    }
    QFile csv(QDir(folder).filePath("spectrum.csv"));
    ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = csv.readAll().split('\n');
    ASSERT_EQ(lines.size(), 1860 + 1) << "1860 lines, each ended";
    // The test microphone's 1000 Hz is the strongest bin (93) of its channel.
    int peakBin = 0;
    double peak = -1;
    for (int bin = 0; bin <= 1858; ++bin) {
        const double magnitude = lines[bin + 1].split(',').at(1).toDouble();
        if (magnitude > peak) {
            peak = magnitude;
            peakBin = bin;
        }
    }
    EXPECT_EQ(peakBin, 93);
    QFile settings(config.filePath("Vortan/Sonalyx.reg"));
    if (settings.open(QIODevice::ReadOnly)) {
        EXPECT_FALSE(settings.readAll().contains("IsInstalled")) << "a snapshot writes no settings";
    }
}

TEST(TheProgram, SnapshotWithoutASoundServerEndsWithAMessage)
{
    QTemporaryDir config, out;
    ASSERT_TRUE(config.isValid() && out.isValid());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", config.path());
    env.insert("PULSE_SERVER", "unix:" + out.filePath("no-server-here"));
    const Finished finished = RunSnapshot(out.filePath("shots"), env);
    EXPECT_NE(finished.code, 0);
    EXPECT_TRUE(finished.errors.contains("no device could be started")) << finished.errors.constData();
    EXPECT_FALSE(QDir(out.filePath("shots")).exists()) << "nothing written";
}

TEST(TheProgram, WrongSnapshotArgumentsSayHowToUseThem)
{
    QProcess program;
    program.start(SONALYX_BINARY, {"--snapshot", "/tmp", "--after", "soon"});
    ASSERT_TRUE(program.waitForFinished(30000));
    EXPECT_EQ(program.exitCode(), 2);
    EXPECT_TRUE(program.readAllStandardError().contains("usage: sonalyx"));
}

} // namespace
