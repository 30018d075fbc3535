// The built program as a user runs it: its own process, the private sound
// server, the test display.
#include "common/pulse_support.h"

#include <QFile>
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

} // namespace
