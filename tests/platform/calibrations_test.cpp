#include "platform/calibrations.h"
#include "platform/keystore.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include <cmath>
#include <cstdlib>

namespace fs = std::filesystem;
using platform::DeviceCalibration;
using platform::LoadCalibration;
using platform::SaveCalibration;

namespace {

// Each test has its own configuration folder, as the program would under
// another user.
class CalibrationsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "calibrations-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir = pattern;
        const char* old = std::getenv("XDG_CONFIG_HOME");
        oldConfig = old ? std::optional<std::string>(old) : std::nullopt;
        setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
    }
    void TearDown() override
    {
        if (oldConfig)
            setenv("XDG_CONFIG_HOME", oldConfig->c_str(), 1);
        else
            unsetenv("XDG_CONFIG_HOME");
        fs::remove_all(dir);
    }
    static std::string Read(const fs::path& path)
    {
        std::ifstream in(path, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    fs::path dir;
    std::optional<std::string> oldConfig;
};

TEST_F(CalibrationsTest, LivesBesideTheSettingsInAFileOfItsOwn)
{
    EXPECT_EQ(platform::CalibrationsPath(), (dir / "Vortan" / "SonalyxCalibration.reg").string());
    // Asking about a device never calibrated creates nothing.
    EXPECT_EQ(LoadCalibration("USB Mic"), DeviceCalibration{});
    EXPECT_FALSE(fs::exists(platform::CalibrationsPath()));

    ASSERT_EQ(SaveCalibration("USB Mic", {114.0, "/home/u/mic.txt"}), "");
    EXPECT_FALSE(fs::exists(dir / "Vortan" / "Sonalyx.reg")); // the settings file is not touched
    const std::string text = Read(platform::CalibrationsPath());
    EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Software\\Vortan\\Sonalyx\\Calibration]"), std::string::npos);
    // 114.0 as a little-endian double.
    EXPECT_NE(text.find("\"Offset:%55%53%42 %4Dic\"=hex:00,00,00,00,00,80,5c,40"), std::string::npos) << text;
}

TEST_F(CalibrationsTest, EachDeviceKeepsItsOwnAcrossRestarts)
{
    ASSERT_EQ(SaveCalibration("Device X", {114.0, "/mics/x.txt"}), "");
    ASSERT_EQ(SaveCalibration("Device Z", {std::nullopt, "/mics/z.txt"}), "");
    // Each call reads the file anew, as a restarted program does.
    EXPECT_EQ(LoadCalibration("Device X"), (DeviceCalibration{114.0, "/mics/x.txt"}));
    EXPECT_EQ(LoadCalibration("Device Y"), DeviceCalibration{});
    EXPECT_EQ(LoadCalibration("Device Z"), (DeviceCalibration{std::nullopt, "/mics/z.txt"}));

    // A new calibration of X changes X alone; clearing it leaves dBFS again.
    ASSERT_EQ(SaveCalibration("Device X", {120.5, ""}), "");
    EXPECT_EQ(LoadCalibration("Device X"), (DeviceCalibration{120.5, ""}));
    EXPECT_EQ(LoadCalibration("Device Z"), (DeviceCalibration{std::nullopt, "/mics/z.txt"}));
    ASSERT_EQ(SaveCalibration("Device X", {}), "");
    EXPECT_EQ(LoadCalibration("Device X"), DeviceCalibration{});
}

// Device names come from the sound server and may hold anything: quotes and
// backslashes (the key file's escapes), line ends (its line structure),
// and letters that differ only in case (its names ignore case).
TEST_F(CalibrationsTest, AnyDeviceNameIsStoredSafelyAndApart)
{
    const std::vector<std::string> names = {"Say \"hi\" \\ there",
                                            "ends in a backslash\\",
                                            "two\nlines\r\n",
                                            "%41",
                                            "A",
                                            "a",
                                            "Mic",
                                            "MIC",
                                            "mic",
                                            "Mikrofon \xE2\x80\x93 Stereo",
                                            std::string("nul\0inside", 10),
                                            "=hex:00"};
    for (size_t i = 0; i < names.size(); ++i)
        ASSERT_EQ(SaveCalibration(names[i], {100.0 + static_cast<double>(i), "file " + names[i]}), "") << i;
    for (size_t i = 0; i < names.size(); ++i)
        EXPECT_EQ(LoadCalibration(names[i]), (DeviceCalibration{100.0 + static_cast<double>(i), "file " + names[i]}))
            << i;
    // The file still reads as a whole, and no name was taken for another.
    platform::KeyStore store(platform::CalibrationsPath(), platform::CalibrationKey);
    EXPECT_EQ(store.load(), platform::LoadResult::Ok) << store.error();
    EXPECT_EQ(LoadCalibration("b"), DeviceCalibration{});
    EXPECT_EQ(LoadCalibration("two lines"), DeviceCalibration{});
}

TEST_F(CalibrationsTest, ValuesNoCalibrationCouldHaveSetAreNoCalibration)
{
    // A NaN offset is refused on the way in...
    EXPECT_NE(SaveCalibration("X", {std::nan(""), ""}), "");
    EXPECT_EQ(LoadCalibration("X"), DeviceCalibration{});
    // ... and offsets of the wrong size or beyond reason read as none on the way out.
    fs::create_directories(dir / "Vortan");
    std::ofstream(platform::CalibrationsPath()) << "Windows Registry Editor Version 5.00\n\n"
                                                   "[HKEY_CURRENT_USER\\Software\\Vortan\\Sonalyx\\Calibration]\n"
                                                   "\"Offset:short\"=hex:00,00,80,5c\n"
                                                   "\"Offset:huge\"=hex:00,00,00,00,00,00,f0,7f\n" // +infinity
                                                   "\"Offset:dword\"=dword:00000072\n"
                                                   "\"Offset:good\"=hex:00,00,00,00,00,80,5c,40\n";
    EXPECT_EQ(LoadCalibration("short").offsetDb, std::nullopt);
    EXPECT_EQ(LoadCalibration("huge").offsetDb, std::nullopt);
    EXPECT_EQ(LoadCalibration("dword").offsetDb, std::nullopt);
    EXPECT_EQ(LoadCalibration("good").offsetDb, 114.0);
}

TEST_F(CalibrationsTest, AnUnreadableFileIsSetAsideAndSaid)
{
    fs::create_directories(dir / "Vortan");
    std::ofstream(platform::CalibrationsPath()) << "not a key file\n";
    std::string error;
    EXPECT_EQ(LoadCalibration("X", &error), DeviceCalibration{});
    EXPECT_NE(error.find("SonalyxCalibration.reg"), std::string::npos) << error;
    EXPECT_TRUE(fs::exists(platform::CalibrationsPath() + ".bad"));
    ASSERT_EQ(SaveCalibration("X", {94.0, ""}), "");
    EXPECT_EQ(LoadCalibration("X"), (DeviceCalibration{94.0, ""}));
}

} // namespace
