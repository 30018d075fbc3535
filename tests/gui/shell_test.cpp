// Handing documents, addresses and the sound settings over to the desktop.
#include "desktop/shell.h"

#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

// Stands in for the desktop's handlers of the schemes a test registers.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened.push_back(url); }
};

TEST(OpenDocument, FilesGoAsLocalUrlsAndAddressesAsTheyAre)
{
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler("file", &catcher, "open");
    QDesktopServices::setUrlHandler("https", &catcher, "open");
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString song = dir.filePath("a song.wav");
    QFile(song).open(QIODevice::WriteOnly);

    EXPECT_TRUE(desktop::OpenDocument(song.toStdString()));
    EXPECT_TRUE(desktop::OpenDocument("https://example.org/sonalyx?x=1"));
    // Relative paths are taken from the working folder.
    const QString previous = QDir::currentPath();
    QDir::setCurrent(dir.path());
    EXPECT_TRUE(desktop::OpenDocument("a song.wav"));
    QDir::setCurrent(previous);
    EXPECT_FALSE(desktop::OpenDocument(dir.filePath("missing.wav").toStdString()));
    EXPECT_FALSE(desktop::OpenDocument(""));

    QDesktopServices::unsetUrlHandler("file");
    QDesktopServices::unsetUrlHandler("https");
    ASSERT_EQ(catcher.opened.size(), 3);
    EXPECT_EQ(catcher.opened[0], QUrl::fromLocalFile(song));
    EXPECT_EQ(catcher.opened[1], QUrl("https://example.org/sonalyx?x=1"));
    EXPECT_EQ(catcher.opened[2], QUrl::fromLocalFile(song));
}

class SoundSettings : public ::testing::Test {
protected:
    QTemporaryDir bin;
    QByteArray savedPath = qgetenv("PATH");
    void SetUp() override
    {
        ASSERT_TRUE(bin.isValid());
        qputenv("PATH", bin.path().toUtf8());
    }
    void TearDown() override { qputenv("PATH", savedPath); }
    // A tool that writes the arguments it was started with.
    QString InstallRecordingTool()
    {
        const QString log = bin.filePath("args.txt");
        QFile tool(bin.filePath("pavucontrol"));
        tool.open(QIODevice::WriteOnly);
        tool.write(QString("#!/bin/sh\necho \"$@\" > '%1'\n").arg(log).toUtf8());
        tool.close();
        tool.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return log;
    }
};

TEST_F(SoundSettings, EachPageStartsTheToolOnItsTab)
{
    const QString log = InstallRecordingTool();
    const std::pair<desktop::SoundSettingsPage, const char*> pages[] = {
        {desktop::SoundSettingsPage::RecordingDevices, "--tab=4"},
        {desktop::SoundSettingsPage::PlaybackDevices, "--tab=3"},
        {desktop::SoundSettingsPage::VolumeMixer, "--tab=1"},
    };
    for (const auto& [page, tab] : pages) {
        QFile::remove(log);
        std::string why;
        ASSERT_TRUE(desktop::OpenSoundSettings(page, &why)) << why;
        ASSERT_TRUE(QTest::qWaitFor([&] { return QFile::exists(log) && QFileInfo(log).size() > 0; }, 5000));
        QFile args(log);
        args.open(QIODevice::ReadOnly);
        EXPECT_EQ(args.readAll().trimmed(), QByteArray(tab));
    }
}

TEST_F(SoundSettings, AMissingToolIsExplainedInsteadOfStarted)
{
    std::string why;
    EXPECT_FALSE(desktop::OpenSoundSettings(desktop::SoundSettingsPage::VolumeMixer, &why));
    EXPECT_NE(why.find("pavucontrol"), std::string::npos) << why;
    EXPECT_NE(why.find("not installed"), std::string::npos) << why;
}

} // namespace

#include "shell_test.moc"
