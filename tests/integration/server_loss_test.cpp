// The running program on a PulseAudio daemon of the test's own, which the
// test stops and starts again: while the server is gone the views' captions
// say so, for the microphone and for a loopback; once it is back capture
// resumes on its own and the captions clear. (The shared daemon of
// scripts/test.sh is left alone: the other tests use it.)
#include "common/app_support.h"
#include "common/pulse_support.h"

#include "app/main.h"
#include "capture/WaveIn.h"
#include "platform/soundserver.h"
#include "state/global.h"
#include "views/SpTmForm.h"
#include "views/SpectForm.h"
#include "views/WaveForm.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

bool CaptionsEndWith(const QString& suffix)
{
    return FormWave->windowTitle() == "Waveform" + suffix && FormSpect->windowTitle() == "Spectum" + suffix &&
           FormSpTm->windowTitle() == "Spectrogram" + suffix;
}

std::string Captions()
{
    return (FormWave->windowTitle() + " | " + FormSpect->windowTitle() + " | " + FormSpTm->windowTitle()).toStdString();
}

class ServerLoss : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!testsupport::HavePrivateServer())
            GTEST_SKIP() << "needs the private sound server of scripts/test.sh";
        ASSERT_TRUE(daemon.start());
        platform::SetServer(platform::CreatePulseServer(daemon.address()));
        ASSERT_TRUE(platform::Server().connected());
        app = std::make_unique<AppHarness>(false);
        IsInstalled = true;
        ASSERT_TRUE(WaitFor([] { return Started && InOpen; }, 3000)) << "first activation";
        ASSERT_TRUE(WaitForBlocks(2));
    }
    void TearDown() override
    {
        app.reset();
        platform::ResetServer();
    }

    // Stops the daemon, sees the captions say so, starts it again and sees
    // capture resume with the captions cleared.
    void LoseAndRegainTheServer()
    {
        daemon.stop();
        EXPECT_TRUE(WaitFor([] { return CaptionsEndWith(NoSoundServerCaption); }, 5000)) << Captions();

        ASSERT_TRUE(daemon.start());
        EXPECT_TRUE(WaitFor([] { return CaptionsEndWith("") && InOpen; }, 8000)) << Captions();
        EXPECT_TRUE(WaitForBlocks(3)) << "capture resumed";
        EXPECT_EQ(DeviceName, "Test Microphone");
        EXPECT_TRUE(CaptionsEndWith("")) << Captions();
    }

    testsupport::ScratchDaemon daemon;
    std::unique_ptr<AppHarness> app;
};

TEST_F(ServerLoss, MicrophoneCaptionsSayTheServerIsGoneUntilCaptureResumes)
{
    ASSERT_FALSE(Loopback);
    LoseAndRegainTheServer();
}

TEST_F(ServerLoss, LoopbackCaptionsSayTheServerIsGoneRatherThanTheDevice)
{
    ASSERT_TRUE(ChooseSource("Test Speakers"));
    ASSERT_TRUE(Loopback);
    ASSERT_TRUE(WaitForBlocks(2));
    LoseAndRegainTheServer();
}

} // namespace
