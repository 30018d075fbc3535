#include "capture/devices.h"
#include "platform/reclib.h"

#include <gtest/gtest.h>

namespace {
using platform::rec::DEVICE_DEFAULT;
using platform::rec::DEVICE_ENABLED;
using platform::rec::DEVICE_LOOPBACK;

const std::string Long40 = "Analog Input Microphone Array Very Long Name"; // 44 characters

TEST(MatchDevices, WaveInDevicesMatchOnTheFirst31Characters)
{
    const std::vector<RecordingDevice> devices = {
        {Long40, DEVICE_ENABLED | DEVICE_DEFAULT},
        {"Line In", DEVICE_ENABLED},
        {"Unknown Device", DEVICE_ENABLED},
    };
    // The wave-in name differs from the recording name only after character 31.
    const std::string sameStart = Long40.substr(0, 31) + " - different tail";
    const DeviceMatch m = MatchDevices(devices, {"Line In", sameStart}, {});
    EXPECT_EQ(m.devWaveIn[1], 1);
    EXPECT_EQ(m.devWaveIn[2], 0);
    EXPECT_EQ(m.devWaveIn[3], -1);
    EXPECT_EQ(m.devWaveOut[1], -1);
    EXPECT_EQ(m.defaultRecDev, 1);
    EXPECT_EQ(m.defaultComboIndex, 0);
}

TEST(MatchDevices, NamesShorterThanTheKeyMustMatchWhole)
{
    const DeviceMatch m = MatchDevices({{"Mic", DEVICE_ENABLED}}, {"Mic 2", "Mi"}, {});
    EXPECT_EQ(m.devWaveIn[1], -1);
}

TEST(MatchDevices, TheLaterWaveInIdWins)
{
    const std::string a = Long40.substr(0, 31) + "A";
    const std::string b = Long40.substr(0, 31) + "B";
    const DeviceMatch m = MatchDevices({{Long40, DEVICE_ENABLED}}, {a, "Other", b, "Else"}, {});
    EXPECT_EQ(m.devWaveIn[1], 2);
}

TEST(MatchDevices, LoopbackMatchedToWaveOutZeroIsThePlaybackLoopback)
{
    const std::vector<RecordingDevice> devices = {
        {"Test Microphone", DEVICE_ENABLED | DEVICE_DEFAULT},
        {"Test Headset", DEVICE_ENABLED | DEVICE_LOOPBACK},
        {"Test Speakers", DEVICE_ENABLED | DEVICE_LOOPBACK},
    };
    const DeviceMatch m = MatchDevices(devices, {"Test Microphone"}, {"Test Speakers", "Test Headset"});
    EXPECT_EQ(m.devWaveOut[2], 1);
    EXPECT_EQ(m.devWaveOut[3], 0);
    EXPECT_EQ(m.devWaveIn[2], -1) << "loopback devices are never matched to wave-in";
    EXPECT_EQ(m.playbackLoopDev, 3);
    EXPECT_EQ(m.defaultRecDev, 1);
}

TEST(MatchDevices, NoLoopbackOfTheFirstPlaybackDevice)
{
    const DeviceMatch m = MatchDevices({{"Test Headset", DEVICE_ENABLED | DEVICE_LOOPBACK}}, {},
                                       {"Test Speakers", "Test Headset"});
    EXPECT_EQ(m.playbackLoopDev, -1);
    EXPECT_EQ(m.defaultRecDev, -1);
    EXPECT_EQ(m.defaultComboIndex, -1);
}

TEST(MatchDevices, ComboIndexMapsToTheDeviceWhenADisabledDeviceComesFirst)
{
    const std::vector<RecordingDevice> devices = {
        {"Disabled Mic", 0},
        {"Line In", DEVICE_ENABLED},
        {"USB Mic", DEVICE_ENABLED | DEVICE_DEFAULT},
    };
    const DeviceMatch m = MatchDevices(devices, {"USB Mic", "Line In"}, {});
    ASSERT_EQ(m.comboDevices, (std::vector<int>{2, 3}));
    EXPECT_EQ(m.comboNames, (std::vector<std::string>{"Line In", "USB Mic"}));
    EXPECT_EQ(m.defaultRecDev, 3);
    EXPECT_EQ(m.defaultComboIndex, 1);
}

TEST(MatchDevices, TablesGrowWithTheDeviceCount)
{
    std::vector<RecordingDevice> devices;
    std::vector<std::string> waveOut;
    for (int i = 0; i < 40; ++i) {
        devices.push_back({"Sink " + std::to_string(i), DEVICE_ENABLED | DEVICE_LOOPBACK});
        waveOut.push_back("Sink " + std::to_string(39 - i));
    }
    const DeviceMatch m = MatchDevices(devices, {}, waveOut);
    ASSERT_EQ(m.devWaveOut.size(), 41u);
    EXPECT_EQ(m.devWaveOut[40], 0);
    EXPECT_EQ(m.playbackLoopDev, 40);
    EXPECT_EQ(TableEntry(m.devWaveOut, 41), -1);
    EXPECT_EQ(TableEntry(m.devWaveOut, -1), -1);
}
} // namespace
