// The main window's 100 ms tick on an in-process sound server: the first
// activation for each combination of show flags, the default layout, and the
// device-count watch.
#include "common/app_support.h"

#include "app/arrange.h"
#include "app/main.h"
#include "capture/WaveIn.h"
#include "state/global.h"
#include "support/inprocess_server.h"
#include "views/SpTmForm.h"
#include "views/SpectForm.h"
#include "views/WaveForm.h"

#include <gtest/gtest.h>

namespace {

platform::InProcessServer* InstallServer()
{
    auto server = std::make_unique<platform::InProcessServer>();
    platform::InProcessServer* raw = server.get();
    raw->addSource("test_mic", "Test Microphone", platform::Sine(1000, 10000, 1000, 10000));
    raw->addSink("test_speakers", "Test Speakers");
    raw->addSink("test_headset", "Test Headset");
    raw->setDefaultSource("test_mic");
    raw->setDefaultSink("test_speakers");
    platform::SetServer(std::move(server));
    return raw;
}

struct ShowFlags {
    bool wave, spect, sptm, installed;
};

class FirstActivation : public ::testing::TestWithParam<ShowFlags> {
protected:
    void SetUp() override { InstallServer(); }
    void TearDown() override { platform::ResetServer(); }
};

TEST_P(FirstActivation, ShowsOneViewPerTickThenStartsCapture)
{
    const ShowFlags flags = GetParam();
    AppHarness app(true);
    WaveShow = flags.wave;
    SpectShow = flags.spect;
    SpTmShow = flags.sptm;
    IsInstalled = flags.installed;

    const int expectedTicks = 1 + flags.wave + flags.spect;
    EXPECT_EQ(app.TicksUntilStarted(), expectedTicks);
    if (flags.installed) {
        EXPECT_EQ(FormWave->isVisible(), flags.wave);
        EXPECT_EQ(FormSpect->isVisible(), flags.spect);
        EXPECT_EQ(FormSpTm->isVisible(), flags.sptm);
    } else {
        // A first run arranges (and so shows) all three, whatever the flags.
        EXPECT_TRUE(FormWave->isVisible());
        EXPECT_TRUE(FormSpect->isVisible());
        EXPECT_TRUE(FormSpTm->isVisible());
    }
    // The loopback of the first playback device started first, then the
    // default recording device took over on the wave-in path.
    EXPECT_FALSE(Loopback);
    EXPECT_TRUE(InOpen);
    EXPECT_FALSE(Paused);
    EXPECT_EQ(DeviceName, "Test Microphone");
    EXPECT_EQ(FormMain->windowTitle(), "Sonalyx - Test Microphone    ");
    EXPECT_TRUE(app.messages.empty());
}

INSTANTIATE_TEST_SUITE_P(AllShowFlags, FirstActivation,
                         ::testing::Values(ShowFlags{true, true, true, false}, ShowFlags{true, true, true, true},
                                           ShowFlags{false, false, false, true}, ShowFlags{false, false, false, false},
                                           ShowFlags{true, false, true, true}, ShowFlags{false, true, false, true},
                                           ShowFlags{false, false, true, false}));

TEST(FirstActivationGate, WaitsWhilePaused)
{
    InstallServer();
    {
        AppHarness app(true);
        IsInstalled = true;
        WaveShow = SpectShow = SpTmShow = false;
        Paused = true;
        FormMain->TimerInfoTimer();
        EXPECT_FALSE(Started);
        Paused = false;
        EXPECT_EQ(app.TicksUntilStarted(), 1);
    }
    platform::ResetServer();
}

TEST(ArrangeViews, PlacesTheViewsAtTheDefaultLayoutAndStoresTheirGeometry)
{
    InstallServer();
    {
        AppHarness app(true);
        FormMain->setGeometry(0, 40, 1500, 900);
        FormMain->show();
        FormMain->ArrangeViews();
        const QWidget* client = FormMain->centralWidget();
        const int clientTop = client->mapToGlobal(QPoint(0, 0)).y();
        const ViewLayout expected = DefaultViewLayout(client->width(), client->height(), 0, 49, clientTop);
        // The views fill the client area below the control strip, to its
        // last row (one short when the halved height is odd).
        EXPECT_EQ(expected.wave.top(), clientTop + 49);
        EXPECT_NEAR(expected.spect.top() + expected.spect.height(), clientTop + client->height(), 1);
        EXPECT_EQ(FormWave->OuterGeometry(), expected.wave);
        EXPECT_EQ(FormSpect->OuterGeometry(), expected.spect);
        EXPECT_EQ(FormSpTm->OuterGeometry(), expected.sptm);
        EXPECT_EQ(QRect(WaveX, WaveY, WaveW, WaveH), expected.wave);
        EXPECT_EQ(QRect(SpectX, SpectY, SpectW, SpectH), expected.spect);
        EXPECT_EQ(QRect(SpTmX, SpTmY, SpTmW, SpTmH), expected.sptm);
    }
    platform::ResetServer();
}

class DeviceWatch : public ::testing::Test {
protected:
    platform::InProcessServer* server = nullptr;
    void SetUp() override { server = InstallServer(); }
    void TearDown() override { platform::ResetServer(); }
};

TEST_F(DeviceWatch, ComparesTheSumOfInputsAndOutputs)
{
    AppHarness app(true);
    IsInstalled = true;
    ASSERT_GT(app.TicksUntilStarted(), 0);
    // One input added and one output removed within the same tick: the sum
    // stays, so nothing is re-enumerated and nothing is said.
    server->addSource("usb_mic", "USB Microphone");
    server->removeSink("test_headset");
    FormMain->TimerInfoTimer();
    EXPECT_TRUE(app.messages.empty());
    EXPECT_EQ(FormMain->CmbBoxAIn->count(), 3) << "the list was not read again";

    // A further sink: one message, and the list is read again.
    server->addSink("extra", "Extra Speakers");
    FormMain->TimerInfoTimer();
    FormMain->TimerInfoTimer();
    ASSERT_EQ(app.messages.size(), 1u);
    EXPECT_EQ(app.messages[0], "The number of audio devices\rhas changed!");
    EXPECT_EQ(FormMain->CmbBoxAIn->count(), 4); // two mics, two sink monitors
    EXPECT_NE(FormMain->CmbBoxAIn->findText("Extra Speakers"), -1);
    EXPECT_NE(FormMain->CmbBoxAIn->findText("USB Microphone"), -1);
    // The default recording device was started again.
    EXPECT_TRUE(InOpen);
    EXPECT_EQ(DeviceName, "Test Microphone");

    // A second change gives a second message.
    server->removeSink("extra");
    FormMain->TimerInfoTimer();
    EXPECT_EQ(app.messages.size(), 2u);
}

TEST_F(DeviceWatch, ChoosingADeviceSwitchesPathControlsAndCaption)
{
    AppHarness app(true);
    IsInstalled = true;
    ASSERT_GT(app.TicksUntilStarted(), 0);
    const int headset = FormMain->CmbBoxAIn->findText("Test Headset");
    ASSERT_NE(headset, -1);
    FormMain->CmbBoxAInChange(headset);
    EXPECT_TRUE(Loopback);
    EXPECT_FALSE(InOpen);
    EXPECT_FALSE(FormMain->TrBarVolume->isEnabled());
    EXPECT_TRUE(FormMain->ImageMicro->isHidden());
    EXPECT_FALSE(FormMain->ImageSpeaker->isHidden());
    EXPECT_EQ(FormMain->LabLevel->text(), "LoopBack Device");
    EXPECT_EQ(FormMain->LabInpValue->text(), "");
    EXPECT_EQ(FormMain->windowTitle(), "Sonalyx - Test Headset    ");

    const int mic = FormMain->CmbBoxAIn->findText("Test Microphone");
    FormMain->CmbBoxAInChange(mic);
    EXPECT_FALSE(Loopback);
    EXPECT_TRUE(InOpen);
    EXPECT_TRUE(FormMain->TrBarVolume->isEnabled());
    EXPECT_FALSE(FormMain->ImageMicro->isHidden());
    EXPECT_TRUE(FormMain->ImageSpeaker->isHidden());
    EXPECT_EQ(FormMain->LabLevel->text(), "Input Volume");
    EXPECT_EQ(FormMain->BtnPause->text(), "Pause");
    EXPECT_TRUE(app.messages.empty());
}

TEST_F(DeviceWatch, AFailingOpenIsReportedAndTheProgramRunsOn)
{
    AppHarness app(true);
    IsInstalled = true;
    ASSERT_GT(app.TicksUntilStarted(), 0);
    server->failNextOpen("test_mic", "Device or resource busy");
    FormMain->CmbBoxAInChange(FormMain->CmbBoxAIn->findText("Test Microphone"));
    EXPECT_FALSE(InOpen);
    ASSERT_EQ(app.messages.size(), 1u);
    EXPECT_NE(app.messages[0].find("busy"), std::string::npos);
    FormMain->CmbBoxAInChange(FormMain->CmbBoxAIn->findText("Test Microphone"));
    EXPECT_TRUE(InOpen) << "a later start works";
}
} // namespace

namespace {
TEST(FirstActivationWithoutPlayback, StartsTheMicrophoneWithoutComplaint)
{
    auto server = std::make_unique<platform::InProcessServer>();
    server->addSource("test_mic", "Test Microphone");
    platform::SetServer(std::move(server));
    {
        AppHarness app(true);
        IsInstalled = true;
        ASSERT_GT(app.TicksUntilStarted(), 0);
        EXPECT_EQ(PlaybackLoopDev, -1);
        EXPECT_TRUE(app.messages.empty()) << app.messages.front();
        EXPECT_TRUE(InOpen);
        EXPECT_EQ(DeviceName, "Test Microphone");
    }
    platform::ResetServer();
}
} // namespace
