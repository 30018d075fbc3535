// The built program started with view geometry in its settings file that
// no screen can show: huge, far negative and zero sizes and positions.
#include "common/pulse_support.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRect>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

// The geometry xwininfo reports for a window (or the root with "-root").
QRect WindowInfo(const QStringList& which)
{
    QProcess info;
    info.start("xwininfo", which);
    if (!info.waitForFinished(10000))
        return {};
    const QString text = QString::fromLatin1(info.readAllStandardOutput());
    const auto number = [&text](const char* label) {
        const QRegularExpressionMatch m = QRegularExpression(QString(label) + ":\\s+(-?\\d+)").match(text);
        return m.hasMatch() ? m.captured(1).toInt() : 0;
    };
    return {number("Absolute upper-left X"), number("Absolute upper-left Y"), number("Width"), number("Height")};
}

struct Started {
    QProcess program;
    QByteArray log;
};

// Starts the program with this settings file and waits for the views' first paints.
bool StartWith(Started& run, const QTemporaryDir& config, const QByteArray& values)
{
    QDir(config.path()).mkpath("Vortan");
    QFile file(config.path() + "/Vortan/Sonalyx.reg");
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write("Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\Vortan\\Sonalyx]\n"
               "\"IsInstalled\"=dword:00000001\n" +
               values);
    file.close();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", config.path());
    env.insert("SONALYX_PAINT_STATS", "1");
    run.program.setProcessEnvironment(env);
    run.program.start(SONALYX_BINARY, {});
    if (!run.program.waitForStarted(10000))
        return false;
    const auto painted = [&run](const char* view) { return run.log.contains(QByteArray("paint ") + view); };
    QElapsedTimer clock;
    clock.start();
    const auto allPainted = [&] { return painted("Waveform") && painted("Spectrum") && painted("Spectrogram"); };
    while (!allPainted() && clock.elapsed() < 30000 && run.program.state() == QProcess::Running) {
        run.program.waitForReadyRead(100);
        run.log += run.program.readAllStandardError();
    }
    return allPainted();
}

// Each view no larger than the screen, no smaller than its least size, and
// its title on the screen where the user can grab it.
void ExpectViewsOnScreen()
{
    const QRect screen = WindowInfo({"-root"});
    ASSERT_FALSE(screen.isEmpty());
    // The window titles ("Spectum" is how the program spells it).
    for (const char* title : {"Waveform", "Spectum", "Spectrogram"}) {
        SCOPED_TRACE(title);
        const QRect view = WindowInfo({"-name", title});
        EXPECT_GE(view.width(), 300);
        EXPECT_GE(view.height(), 200);
        EXPECT_LE(view.width(), screen.width());
        EXPECT_LE(view.height(), screen.height());
        const QRect title_(view.x(), view.y(), view.width(), 20);
        EXPECT_GE(title_.intersected(screen).width(), 40) << view.x() << "," << view.y();
        EXPECT_EQ(title_.intersected(screen).height(), 20) << view.x() << "," << view.y();
    }
}

class StoredGeometry : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!testsupport::HavePrivateServer())
            GTEST_SKIP() << "needs the private sound server of scripts/test.sh";
        ASSERT_TRUE(config.isValid());
    }
    void TearDown() override
    {
        run.program.terminate();
        run.program.waitForFinished(30000);
    }
    QTemporaryDir config;
    Started run;
};

TEST_F(StoredGeometry, BeyondWhatADisplayCanAddressGivesTheDefaults)
{
    ASSERT_TRUE(StartWith(run, config,
                          "\"FormWave X\"=dword:00000000\n\"FormWave Y\"=dword:00000064\n"
                          "\"FormWave Width\"=dword:7fffffff\n\"FormWave Hight\"=dword:7fffffff\n"
                          "\"FormSpect X\"=dword:fffe7960\n\"FormSpect Y\"=dword:fffe7960\n" // -100000
                          "\"FormSpect Width\"=dword:00000136\n\"FormSpect Hight\"=dword:0000010e\n"
                          "\"FormSpTm X\"=dword:0000012a\n\"FormSpTm Y\"=dword:00000064\n"
                          "\"FormSpTm Width\"=dword:00000000\n\"FormSpTm Hight\"=dword:00000000\n"))
        << run.log.left(2000).constData();
    ExpectViewsOnScreen();
}

TEST_F(StoredGeometry, OffTheScreenOrLargerThanItIsBroughtBack)
{
    ASSERT_TRUE(StartWith(run, config,
                          "\"FormWave X\"=dword:00000064\n\"FormWave Y\"=dword:00000064\n"
                          "\"FormWave Width\"=dword:00002000\n\"FormWave Hight\"=dword:00002000\n" // 8192
                          "\"FormSpect X\"=dword:ffffec78\n\"FormSpect Y\"=dword:ffffec78\n"       // -5000
                          "\"FormSpect Width\"=dword:00000136\n\"FormSpect Hight\"=dword:0000010e\n"
                          "\"FormSpTm X\"=dword:00007530\n\"FormSpTm Y\"=dword:00000064\n" // 30000
                          "\"FormSpTm Width\"=dword:000001f4\n\"FormSpTm Hight\"=dword:0000021c\n"))
        << run.log.left(2000).constData();
    ExpectViewsOnScreen();
}

} // namespace
