// The built program on a display of its own that the test takes away, as a
// crashed or logged-out X server does.
#include "common/pulse_support.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>
#include <xcb/xcb.h>

namespace {

// An Xvfb on the first free display number, which it picks itself.
class PrivateDisplay {
public:
    PrivateDisplay()
    {
        server.start("Xvfb", {"-displayfd", "1", "-screen", "0", "1280x1024x24", "-nolisten", "tcp"});
        if (!server.waitForStarted(10000))
            return;
        QByteArray out;
        QElapsedTimer clock;
        clock.start();
        while (!out.contains('\n') && clock.elapsed() < 10000)
            if (server.waitForReadyRead(100))
                out += server.readAllStandardOutput();
        if (out.contains('\n'))
            name = ":" + QString::fromLatin1(out.trimmed());
    }
    ~PrivateDisplay() { Kill(); }
    void Kill()
    {
        if (server.state() != QProcess::NotRunning) {
            server.kill();
            server.waitForFinished(10000);
        }
    }
    QString name; // empty when the server did not start

private:
    QProcess server;
};

// What xwininfo says of the window named `title` on `display`.
QString WindowInfo(const QString& display, const QString& title)
{
    QProcess info;
    info.start("xwininfo", {"-display", display, "-name", title});
    return info.waitForFinished(10000) ? QString::fromLatin1(info.readAllStandardOutput()) : QString();
}

// The X window named `title` on `display`, as xwininfo finds it; 0 if none.
uint32_t WindowNamed(const QString& display, const QString& title)
{
    const QRegularExpressionMatch id = QRegularExpression("Window id: (0x[0-9a-f]+)").match(WindowInfo(display, title));
    return id.hasMatch() ? id.captured(1).toUInt(nullptr, 16) : 0;
}

// Moves a top-level window as a user dragging it would; without a window
// manager the X server applies the request at once.
bool MoveWindow(const QString& display, uint32_t window, int x, int y)
{
    xcb_connection_t* connection = xcb_connect(display.toLatin1().constData(), nullptr);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return false;
    }
    const uint32_t place[] = {static_cast<uint32_t>(x), static_cast<uint32_t>(y)};
    xcb_configure_window(connection, window, XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y, place);
    const bool sent = xcb_flush(connection) > 0;
    xcb_disconnect(connection);
    return sent;
}

TEST(LostDisplay, TheProgramEndsWithoutACrashAndKeepsWhatWasSetSecondsBefore)
{
    if (!testsupport::HavePrivateServer())
        GTEST_SKIP() << "needs the private sound server of scripts/test.sh";
    PrivateDisplay display;
    ASSERT_FALSE(display.name.isEmpty()) << "Xvfb did not start";
    QTemporaryDir config;
    ASSERT_TRUE(config.isValid());
    // Not a first run: no default layout moves the views once they are up.
    ASSERT_TRUE(QDir(config.path()).mkpath("Vortan"));
    QFile prepared(config.path() + "/Vortan/Sonalyx.reg");
    ASSERT_TRUE(prepared.open(QIODevice::WriteOnly));
    prepared.write("Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\Vortan\\Sonalyx]\n"
                   "\"IsInstalled\"=dword:00000001\n");
    prepared.close();
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", display.name);
    env.insert("XDG_CONFIG_HOME", config.path());
    env.insert("SONALYX_PAINT_STATS", "1"); // a line per paint: the views are up
    program.setProcessEnvironment(env);
    program.start(SONALYX_BINARY, {});
    ASSERT_TRUE(program.waitForStarted(10000));
    QByteArray log;
    const auto painted = [&](const char* view) { return log.contains(QByteArray("paint ") + view); };
    QElapsedTimer clock;
    clock.start();
    while (!(painted("Waveform") && painted("Spectrogram")) && clock.elapsed() < 30000) {
        program.waitForReadyRead(100);
        log += program.readAllStandardError();
    }
    ASSERT_TRUE(painted("Waveform") && painted("Spectrogram")) << log.left(2000).constData();

    const uint32_t spectrogram = WindowNamed(display.name, "Spectrogram");
    ASSERT_NE(spectrogram, 0u);
    // A request that meets the program still placing its window is undone by
    // that placement: ask again until the window stays where it was moved.
    const QRegularExpression movedThere("upper-left X:\\s+123\\s");
    const auto isThere = [&] { return WindowInfo(display.name, "Spectrogram").contains(movedThere); };
    QElapsedTimer moving;
    moving.start();
    bool stayed = false;
    while (!stayed && moving.elapsed() < 10000) {
        ASSERT_TRUE(MoveWindow(display.name, spectrogram, 123, 77));
        QTest::qWait(300);
        stayed = isThere();
    }
    ASSERT_TRUE(stayed) << WindowInfo(display.name, "Spectrogram").toStdString();
    // The user's last change, three seconds before the display goes.
    QTest::qWait(3000);
    display.Kill();

    ASSERT_TRUE(program.waitForFinished(30000)) << "still running without its display";
    log += program.readAllStandardError();
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit) << log.right(2000).constData();
    EXPECT_NE(program.exitCode(), 0) << "losing the display is no normal end";

    QFile settings(config.path() + "/Vortan/Sonalyx.reg");
    ASSERT_TRUE(settings.open(QIODevice::ReadOnly));
    const QByteArray stored = settings.readAll();
    EXPECT_TRUE(stored.contains("\"FormSpTm X\"=dword:0000007b")) << stored.constData();
    EXPECT_TRUE(stored.contains("\"FormSpTm Y\"=dword:0000004d")) << stored.constData();
    EXPECT_TRUE(stored.contains("\"IsInstalled\"=dword:00000001")) << stored.constData();
}

} // namespace
