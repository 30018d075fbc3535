// The main window tells the user what the sound server refused or lost, on
// an in-process server: the server's reason after a recording's error code,
// a refused read handed over from the server's thread, and the views'
// captions while the server is gone.
#include "common/app_support.h"

#include "app/main.h"
#include "capture/WaveIn.h"
#include "state/global.h"
#include "support/inprocess_server.h"
#include "views/SpTmForm.h"
#include "views/SpectForm.h"
#include "views/WaveForm.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

namespace {

class ServerFailuresInTheWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        server = InstallMicAndSpeakers(platform::Sine(1000, 10000, 1000, 10000));
        app = std::make_unique<AppHarness>(true);
        IsInstalled = true;
        ASSERT_GT(app->TicksUntilStarted(), 0);
    }
    void TearDown() override
    {
        app.reset();
        platform::ResetServer();
    }

    static bool CaptionsEndWith(const QString& suffix)
    {
        return FormWave->windowTitle() == "Waveform" + suffix && FormSpect->windowTitle() == "Spectum" + suffix &&
               FormSpTm->windowTitle() == "Spectrogram" + suffix;
    }

    size_t MessagesContaining(const std::string& part) const
    {
        return static_cast<size_t>(std::count_if(app->messages.begin(), app->messages.end(),
                                                 [&](const std::string& m) { return m.find(part) != m.npos; }));
    }

    platform::InProcessServer* server = nullptr;
    std::unique_ptr<AppHarness> app;
};

TEST_F(ServerFailuresInTheWindow, ALoopbackThatDoesNotStartShowsTheServersReasonAfterTheCode)
{
    server->failNextOpen("test_speakers.monitor", "Access denied");
    FormMain->CmbBoxAInChange(FormMain->CmbBoxAIn->findText("Test Speakers"));
    ASSERT_EQ(app->messages.size(), 1u);
    EXPECT_EQ(app->messages[0], "Couldn't start recording!ErrorCode -1\r\nAccess denied");
}

TEST_F(ServerFailuresInTheWindow, ADeviceThatCannotBeInitialisedShowsWhyAfterTheCode)
{
    server->setReachable(false);
    FormMain->StartSource();
    ASSERT_FALSE(app->messages.empty());
    EXPECT_EQ(app->messages.back(),
              "Can''t initialize recording device\r\n\r\n(Error Code: 3)\r\n" + std::string(platform::ServerGoneText));
}

TEST_F(ServerFailuresInTheWindow, ARefusedReadReachesTheUserOnTheUiThread)
{
    FormMain->CmbBoxAInChange(FormMain->CmbBoxAIn->findText("Test Speakers"));
    ASSERT_TRUE(Loopback);
    ASSERT_TRUE(app->messages.empty());
    server->refuseNextRead("test_speakers.monitor", "Input/Output error");
    // The server's thread: the message must wait for the UI thread.
    std::thread([this] { server->pump(441); }).join();
    EXPECT_TRUE(app->messages.empty()) << "shown on the server's thread";
    ASSERT_TRUE(WaitFor([&] { return !app->messages.empty(); }, 2000));
    EXPECT_EQ(app->messages,
              std::vector<std::string>{platform::ReadFailureText("test_speakers.monitor", "Input/Output error")});
}

TEST_F(ServerFailuresInTheWindow, CaptionsSayTheServerIsGoneUntilItIsBack)
{
    ASSERT_FALSE(Loopback); // the microphone, not only a loopback, must say so
    FormMain->TimerInfoTimer();
    ASSERT_TRUE(CaptionsEndWith(""));
    server->setReachable(false);
    FormMain->TimerInfoTimer();
    EXPECT_TRUE(CaptionsEndWith(NoSoundServerCaption)) << FormWave->windowTitle().toStdString();
    FormMain->TimerInfoTimer();
    EXPECT_TRUE(CaptionsEndWith(NoSoundServerCaption));

    server->setReachable(true);
    FormMain->TimerInfoTimer();
    EXPECT_TRUE(CaptionsEndWith("")) << FormWave->windowTitle().toStdString();
    EXPECT_TRUE(InOpen) << "capture started again";
}

} // namespace
