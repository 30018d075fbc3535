// The settings reach the file a moment after they change, without a close:
// what a crash, a kill or a lost display would otherwise take with them.
#include "common/app_support.h"

#include "app/main.h"
#include "platform/soundserver.h"
#include "state/global.h"
#include "support/inprocess_server.h"
#include "views/SpTmForm.h"

#include <QFile>
#include <QTest>

#include <gtest/gtest.h>

namespace {

class SettingsAutosaveTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        InstallMicAndSpeakers(platform::Sine(1000, 10000, 1000, 10000));
        app = std::make_unique<AppHarness>(false);
        ASSERT_TRUE(WaitFor([] { return Started.load(); }, 5000)) << "first activation";
    }
    void TearDown() override
    {
        app.reset();
        platform::ResetServer();
    }
    QByteArray Stored() const
    {
        QFile file(app->configDir.path() + "/Vortan/Sonalyx.reg");
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    bool StoredSoon(const QByteArray& line) const
    {
        return WaitFor([&] { return Stored().contains(line); }, 3000);
    }
    std::unique_ptr<AppHarness> app;
};

TEST_F(SettingsAutosaveTest, AChangedSettingAndAMovedViewAreWrittenWithinSecondsWithoutAClose)
{
    // The first run's default layout is kept as soon as it is made.
    EXPECT_TRUE(StoredSoon("\"IsInstalled\"=dword:00000001\n")) << Stored().constData();

    FormMain->CmbBoxWindowChange(2);
    EXPECT_TRUE(StoredSoon("\"Window Function\"=dword:00000002\n")) << Stored().constData();

    const QPoint moved = FormSpTm->frameGeometry().topLeft() + QPoint(37, 21);
    FormSpTm->move(moved);
    char x[64], y[64];
    std::snprintf(x, sizeof x, "\"FormSpTm X\"=dword:%08x\n", static_cast<unsigned>(moved.x()));
    std::snprintf(y, sizeof y, "\"FormSpTm Y\"=dword:%08x\n", static_cast<unsigned>(moved.y()));
    EXPECT_TRUE(StoredSoon(x)) << Stored().constData();
    EXPECT_TRUE(StoredSoon(y)) << Stored().constData();
    EXPECT_TRUE(app->messages.empty());
}

} // namespace
