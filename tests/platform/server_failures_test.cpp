// Failures of the sound server reach the user, over the in-process server:
// a read or write the server refuses, a subscription to device events or a
// device-list request that fails (tried again, and told when it keeps
// failing), the server's reason for a recording that does not start, and the
// hand-over of messages from the server's thread to the UI thread.
#include "platform/dialogs.h"
#include "platform/reclib.h"
#include "platform/wavedev.h"
#include "support/inprocess_server.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace platform;

namespace {

constexpr size_t Period = 441;

// The messages the user was shown, and on which thread each arrived.
struct Shown {
    std::mutex lock;
    std::vector<std::string> texts;
    std::vector<std::thread::id> threads;

    std::vector<std::string> all()
    {
        std::lock_guard<std::mutex> guard(lock);
        return texts;
    }
    size_t containing(const std::string& part)
    {
        auto copy = all();
        return static_cast<size_t>(
            std::count_if(copy.begin(), copy.end(), [&](const std::string& t) { return t.find(part) != t.npos; }));
    }
};

class ServerFailures : public ::testing::Test {
protected:
    void SetUp() override
    {
        auto owned = std::make_unique<InProcessServer>();
        server = owned.get();
        server->addSource("mic", "USB Microphone", CountingSignal());
        server->addSink("spk", "Speakers", CountingSignal());
        server->setDefaultSource("mic");
        SetServer(std::move(owned));
        SetMessageHook([this](const std::string&, const std::string& text, MsgIcon) {
            std::lock_guard<std::mutex> guard(shown.lock);
            shown.texts.push_back(text);
            shown.threads.push_back(std::this_thread::get_id());
        });
    }
    void TearDown() override
    {
        rec::RecordFree();
        ResetServer();
        SetMessageHook({});
    }

    // Pumps until the device list read through the recording library shows
    // `name` as device `number`, at most `periods` times.
    bool ListedAfterPumps(int number, const std::string& name, int periods)
    {
        for (int i = 0; i <= periods; ++i) {
            rec::DeviceInfo info;
            if (rec::RecordGetDeviceInfo(number, &info) && info.name == name)
                return true;
            server->pump(Period);
        }
        return false;
    }

    InProcessServer* server = nullptr;
    Shown shown;
};

bool CountingProc(uint32_t, const void*, uint32_t, void*)
{
    return true;
}

TEST_F(ServerFailures, ARefusedReadEndsTheLoopbackAndTellsTheServersReason)
{
    ASSERT_TRUE(rec::RecordInit(2)); // the loopback of "Speakers"
    const uint32_t channel = rec::RecordStart(44100, 2, 0, CountingProc, nullptr);
    ASSERT_NE(channel, 0u) << rec::ErrorGetText();
    server->pump(Period);
    EXPECT_TRUE(shown.all().empty());

    server->refuseNextRead("spk.monitor", "Input/Output error");
    server->pump(Period);
    const auto texts = shown.all();
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0], ReadFailureText("spk.monitor", "Input/Output error"));
    EXPECT_NE(texts[0].find("Input/Output error"), std::string::npos);
    EXPECT_EQ(server->captureStreamCount("spk.monitor"), 0);
    // Later periods bring nothing more to the ended recording and no more words.
    std::vector<uint8_t> buffer(4 * Period);
    server->pump(Period);
    EXPECT_EQ(rec::ChannelGetData(channel, buffer.data(), static_cast<uint32_t>(buffer.size())), 4 * Period);
    EXPECT_EQ(rec::ChannelGetData(channel, buffer.data(), static_cast<uint32_t>(buffer.size())), 0u);
    EXPECT_EQ(shown.all().size(), 1u);
}

TEST_F(ServerFailures, ARefusedReadOnTheMicrophoneTellsTheUser)
{
    HWaveIn in = nullptr;
    ASSERT_EQ(WaveInOpen(&in, 0, WaveFormat{}), MMSYSERR_NOERROR);
    ASSERT_EQ(WaveInStart(in), MMSYSERR_NOERROR);
    server->refuseNextRead("mic", "Access denied");
    server->pump(Period);
    EXPECT_EQ(shown.containing(ReadFailureText("mic", "Access denied")), 1u);
    EXPECT_EQ(WaveInClose(in), MMSYSERR_NOERROR);
}

TEST_F(ServerFailures, ARefusedWriteTellsTheUser)
{
    HWaveOut out = nullptr;
    ASSERT_EQ(WaveOutOpen(&out, 0, WaveFormat{}), MMSYSERR_NOERROR);
    server->pump(Period);
    server->refuseNextWrite("spk", "Too large");
    server->pump(Period);
    EXPECT_EQ(shown.containing(WriteFailureText("spk", "Too large")), 1u);
    EXPECT_EQ(server->playbackStreamCount("spk"), 0);
    EXPECT_EQ(WaveOutClose(out), MMSYSERR_NOERROR);
}

TEST_F(ServerFailures, ServerOrDeviceGoneIsLeftToTheCaptionsAndTheDeviceWatch)
{
    ASSERT_TRUE(rec::RecordInit(2));
    ASSERT_NE(rec::RecordStart(44100, 2, 0, CountingProc, nullptr), 0u);
    HWaveIn in = nullptr;
    ASSERT_EQ(WaveInOpen(&in, 0, WaveFormat{}), MMSYSERR_NOERROR);
    server->removeSource("mic");
    server->setReachable(false);
    EXPECT_TRUE(shown.all().empty());
    WaveInClose(in);
}

TEST_F(ServerFailures, ARecordingThatDoesNotStartKeepsTheServersReason)
{
    ASSERT_TRUE(rec::RecordInit(2));
    server->failNextOpen("spk.monitor", "Access denied");
    EXPECT_EQ(rec::RecordStart(44100, 2, 0, CountingProc, nullptr), 0u);
    EXPECT_EQ(rec::ErrorGetCode(), rec::ERROR_UNKNOWN);
    EXPECT_EQ(rec::ErrorGetText(), "Access denied");

    // Every failure has words, and a success clears them.
    EXPECT_FALSE(rec::RecordInit(2));
    EXPECT_EQ(rec::ErrorGetCode(), rec::ERROR_ALREADY);
    EXPECT_FALSE(rec::ErrorGetText().empty());
    EXPECT_TRUE(rec::RecordFree());
    EXPECT_TRUE(rec::ErrorGetText().empty());
    server->setReachable(false);
    EXPECT_FALSE(rec::RecordInit(2));
    EXPECT_EQ(rec::ErrorGetText(), ServerGoneText);
}

TEST_F(ServerFailures, AFailedSubscriptionIsTriedAgainAndChangesAreSeenAfterwards)
{
    rec::DeviceInfo info;
    ASSERT_TRUE(rec::RecordGetDeviceInfo(2, &info)); // listed once: read again only on a change
    server->failSubscription(2, "Timeout");
    server->addSource("usb", "Headset Mic");
    EXPECT_FALSE(rec::RecordGetDeviceInfo(3, &info)) << "a change seen without a subscription";
    // The first retry fails too, the second succeeds: the new device is
    // listed, and a passing failure is not worth a word.
    EXPECT_TRUE(ListedAfterPumps(3, "Headset Mic", 3));
    EXPECT_TRUE(shown.all().empty());
}

TEST_F(ServerFailures, ASubscriptionThatKeepsFailingIsToldOnceWithTheServersText)
{
    server->failSubscription(6, "Timeout");
    for (int i = 0; i < 8; ++i)
        server->pump(Period);
    const auto texts = shown.all();
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0], std::string(SubscriptionFailureText) + ": Timeout");
    server->addSource("usb", "Headset Mic");
    EXPECT_TRUE(ListedAfterPumps(3, "Headset Mic", 1)) << "subscribed again";
}

TEST_F(ServerFailures, AFailedListRequestKeepsTheOldListsUntilARetryReadsThem)
{
    rec::DeviceInfo info;
    ASSERT_TRUE(rec::RecordGetDeviceInfo(2, &info));
    server->failListRequests(1, "Internal error");
    server->addSource("usb", "Headset Mic");
    EXPECT_FALSE(rec::RecordGetDeviceInfo(3, &info)) << "a failed read published a list";
    ASSERT_TRUE(rec::RecordGetDeviceInfo(1, &info));
    EXPECT_EQ(info.name, "USB Microphone") << "the old list stays";
    EXPECT_TRUE(ListedAfterPumps(3, "Headset Mic", 1));
    EXPECT_TRUE(shown.all().empty());
}

TEST_F(ServerFailures, AListRequestThatKeepsFailingIsToldOnceWithTheServersText)
{
    server->failListRequests(5, "Internal error");
    for (int i = 0; i < 3; ++i)
        server->pump(Period);
    EXPECT_EQ(shown.all(), std::vector<std::string>{std::string(ListFailureText) + ": Internal error"});
    // After a success a new run of failures is told again.
    for (int i = 0; i < 3; ++i)
        server->pump(Period);
    server->failListRequests(3, "Bad state");
    server->pump(Period);
    server->pump(Period);
    EXPECT_EQ(shown.containing("Bad state"), 1u);
}

TEST(PostedMessages, WaitForTheUiThreadWhileAWakerIsInstalled)
{
    std::vector<std::thread::id> shownOn;
    SetMessageHook([&](const std::string&, const std::string&, MsgIcon) {
        shownOn.push_back(std::this_thread::get_id()); // this thread only, or TSan objects
    });
    std::atomic<int> wakes{0};
    SetPostedMessageWaker([&] { ++wakes; });
    std::thread([] { PostMessageBox("Sonalyx", "from the server's thread", MsgIcon::Warning); }).join();
    EXPECT_EQ(wakes.load(), 1);
    EXPECT_TRUE(shownOn.empty()) << "shown before the UI thread asked";
    ShowPostedMessages();
    ASSERT_EQ(shownOn.size(), 1u);
    EXPECT_EQ(shownOn[0], std::this_thread::get_id());

    // Uninstalling shows what is still queued rather than losing it.
    std::thread([] { PostMessageBox("Sonalyx", "late", MsgIcon::Warning); }).join();
    SetPostedMessageWaker({});
    EXPECT_EQ(shownOn.size(), 2u);
    SetMessageHook({});
}

} // namespace
