#include "app/settings.h"
#include "state/usable.h"

#include "platform/dialogs.h"
#include "state/global.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>

namespace fs = std::filesystem;

namespace {

// clang-format off
const std::vector<std::string> SavedNames = {
    "IsInstalled", "Light Background", "Window Function", "KaSpTm",
    "FormWave X", "FormWave Y", "FormWave Width", "FormWave Hight", "FormWave RangeX", "FormWave RangeY", "FormWave Show",
    "FormSpect X", "FormSpect Y", "FormSpect Width", "FormSpect Hight", "FormSpect RangeX", "FormSpect RangeY",
    "FormSpect IsLn", "FormSpect Show",
    "FormSpTm X", "FormSpTm Y", "FormSpTm Width", "FormSpTm Hight", "FormSpTm Show",
    "FormSpect Peak", // added after the first 24
};
// clang-format on

// Every variable the settings touch, for comparing whole states.
struct Snapshot {
    bool isInstalled, lightBackground;
    int32_t windowFunction;
    float kaSpTm;
    int32_t waveX, waveY, waveW, waveH, waveRangeX, waveRangeY;
    bool waveShow;
    int32_t spectX, spectY, spectW, spectH, spectRangeX;
    float spectRangeY;
    bool spectIsLn, spectShow;
    int32_t spTmX, spTmY, spTmW, spTmH;
    bool spTmShow;

    static Snapshot Take()
    {
        // clang-format off
        return {IsInstalled, LightBackground, WindowFunction.load(), KaSpTm, WaveX, WaveY, WaveW, WaveH,
                WaveRangeX, WaveRangeY, WaveShow, SpectX, SpectY, SpectW, SpectH, SpectRangeX, SpectRangeY,
                SpectIsLn, SpectShow, SpTmX, SpTmY, SpTmW, SpTmH, SpTmShow};
        // clang-format on
    }
    void apply() const
    {
        IsInstalled = isInstalled, LightBackground = lightBackground, WindowFunction = windowFunction;
        KaSpTm = kaSpTm, WaveX = waveX, WaveY = waveY, WaveW = waveW, WaveH = waveH;
        WaveRangeX = waveRangeX, WaveRangeY = waveRangeY, WaveShow = waveShow;
        SpectX = spectX, SpectY = spectY, SpectW = spectW, SpectH = spectH, SpectRangeX = spectRangeX;
        SpectRangeY = spectRangeY, SpectIsLn = spectIsLn, SpectShow = spectShow;
        SpTmX = spTmX, SpTmY = spTmY, SpTmW = spTmW, SpTmH = spTmH, SpTmShow = spTmShow;
    }
    bool operator==(const Snapshot&) const = default;
};

// clang-format off
const Snapshot Defaults{false, false, 1, 10, 0, 100, 310, 270, 4410, 20000, true,
                        0, 370, 310, 270, 5000, 2, true, true, 298, 100, 500, 540, true};
const Snapshot Unusual{true, true, 2, 3.25f, -1200, 40, 640, 480, 8820, 5000, false,
                       1900, -5, 320, 200, 12000, 0.375f, false, false, 7, 8, 9, 10, false};
// clang-format on

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "settings-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        configHome = pattern;
        const char* old = std::getenv("XDG_CONFIG_HOME");
        hadXdg = old != nullptr;
        oldXdg = old ? old : "";
        setenv("XDG_CONFIG_HOME", configHome.c_str(), 1);
        file = configHome / "Vortan" / "Sonalyx.reg";
        platform::SetMessageHook(
            [this](const std::string&, const std::string& text, platform::MsgIcon) { messages.push_back(text); });
        Defaults.apply();
    }
    void TearDown() override
    {
        platform::SetMessageHook({});
        hadXdg ? setenv("XDG_CONFIG_HOME", oldXdg.c_str(), 1) : unsetenv("XDG_CONFIG_HOME");
        fs::remove_all(configHome);
    }

    // A key file holding these value lines.
    void writeKey(const std::string& lines) const
    {
        fs::create_directories(file.parent_path());
        std::ofstream(file) << "Windows Registry Editor Version 5.00\n\n"
                               "[HKEY_CURRENT_USER\\Software\\Vortan\\Sonalyx]\n"
                            << lines;
    }
    static std::string read(const fs::path& path)
    {
        std::ifstream in(path, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    // The lines of the file that hold values.
    std::vector<std::string> valueLines() const
    {
        std::istringstream text(read(file));
        std::vector<std::string> lines;
        for (std::string line; std::getline(text, line);)
            if (line.starts_with('"'))
                lines.push_back(line);
        return lines;
    }

    fs::path configHome, file;
    bool hadXdg = false;
    std::string oldXdg;
    std::vector<std::string> messages;
};

TEST_F(SettingsTest, FirstRunGivesDefaultsAndCreatesEmptyKey)
{
    Unusual.apply();
    IsInstalled = false;
    LightBackground = false;
    RegistryRead();
    EXPECT_TRUE(Snapshot::Take() == Defaults);
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(SettingsPath(), file.string());
    ASSERT_TRUE(fs::exists(file));
    EXPECT_NE(read(file).find("[HKEY_CURRENT_USER\\Software\\Vortan\\Sonalyx]"), std::string::npos);
    EXPECT_TRUE(valueLines().empty());
}

TEST_F(SettingsTest, WriteStoresAll25ValuesInOrderAndReadsThemBack)
{
    Unusual.apply();
    KaSpTm = 10;
    RegistryWrite();
    ASSERT_TRUE(messages.empty()) << messages[0];

    std::vector<std::string> lines = valueLines();
    ASSERT_EQ(lines.size(), SavedNames.size());
    for (size_t i = 0; i < lines.size(); ++i)
        EXPECT_TRUE(lines[i].starts_with("\"" + SavedNames[i] + "\"=")) << lines[i];
    EXPECT_EQ(lines[0], "\"IsInstalled\"=dword:00000001");
    EXPECT_EQ(lines[3], "\"KaSpTm\"=hex:00,00,00,00,00,00,24,40");
    EXPECT_EQ(lines[4], "\"FormWave X\"=dword:fffffb50");
    EXPECT_EQ(lines[10], "\"FormWave Show\"=dword:00000000");

    Snapshot written = Snapshot::Take();
    Defaults.apply();
    RegistryRead();
    EXPECT_TRUE(Snapshot::Take() == written);
    EXPECT_TRUE(messages.empty());
}

TEST_F(SettingsTest, WrongTypeStopsTheLoadAtThatValue)
{
    // Read order: IsInstalled, Window Function, Light Background, KaSpTm, ...
    writeKey("\"FormWave X\"=dword:00000005\n"
             "\"IsInstalled\"=dword:00000001\n"
             "\"Window Function\"=dword:00000002\n"
             "\"Light Background\"=hex:01\n");
    RegistryRead();
    ASSERT_EQ(messages, std::vector<std::string>{"Invalid data type for 'Light Background'"});
    EXPECT_TRUE(IsInstalled);
    EXPECT_EQ(WindowFunction, 2) << "read before the wrongly typed value";
    EXPECT_FALSE(LightBackground);
    EXPECT_EQ(WaveX, 0) << "comes after the stop, keeps its default";
}

TEST_F(SettingsTest, FloatMustBeAnEightByteBinary)
{
    const char* wrong[] = {"hex:00,00,80,3f", "dword:00000002", "\"2\"", "hex:00,00,00,00,00,00,00,40,00"};
    for (const char* data : wrong) {
        SCOPED_TRACE(data);
        messages.clear();
        Defaults.apply();
        writeKey(std::string("\"FormSpect RangeX\"=dword:00000bb8\n"
                             "\"FormSpect RangeY\"=") +
                 data +
                 "\n"
                 "\"FormSpect IsLn\"=dword:00000000\n");
        RegistryRead();
        EXPECT_EQ(messages, std::vector<std::string>{"Invalid data type for 'FormSpect RangeY'"});
        EXPECT_EQ(SpectRangeX, 3000);
        EXPECT_EQ(SpectRangeY, 2.0f);
        EXPECT_TRUE(SpectIsLn);
    }
}

TEST_F(SettingsTest, AnyNonZeroDwordIsTrue)
{
    writeKey("\"IsInstalled\"=dword:00000002\n"
             "\"FormWave Show\"=dword:00000000\n"
             "\"FormSpect IsLn\"=dword:80000000\n"
             "\"FormSpTm Show\"=dword:ffffffff\n");
    RegistryRead();
    EXPECT_TRUE(IsInstalled);
    EXPECT_FALSE(WaveShow);
    EXPECT_TRUE(SpectIsLn);
    EXPECT_TRUE(SpTmShow);
}

TEST_F(SettingsTest, OutOfRangeValuesLoadUnchanged)
{
    writeKey("\"Window Function\"=dword:00000007\n"
             "\"KaSpTm\"=hex:00,00,00,00,00,00,f8,7f\n" // NaN
             "\"FormWave Width\"=dword:00000000\n"
             "\"FormWave RangeX\"=dword:ffffffff\n"
             "\"FormSpect RangeX\"=dword:7fffffff\n"
             "\"FormSpect RangeY\"=hex:7d,c3,94,25,ad,49,b2,d4\n"); // -1e100
    RegistryRead();
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(WindowFunction, 7);
    EXPECT_TRUE(std::isnan(KaSpTm));
    EXPECT_EQ(WaveW, 0);
    EXPECT_EQ(WaveRangeX, -1);
    EXPECT_EQ(SpectRangeX, 2147483647);
    EXPECT_EQ(SpectRangeY, -std::numeric_limits<float>::infinity()) << "too large for a float";

    EXPECT_EQ(UsableKaSpTm(KaSpTm), 10.0f);
    EXPECT_EQ(UsableWaveRangeX(WaveRangeX), 4410);
    EXPECT_EQ(UsableSpectRangeX(SpectRangeX), 5000);
    EXPECT_EQ(UsableSpectRangeY(SpectRangeY), 2.0f);
}

TEST(SettingsFallbacks, ReplaceOnlyUnusableValues)
{
    EXPECT_EQ(UsableWaveRangeX(1), 4410);
    EXPECT_EQ(UsableWaveRangeX(2), 2);
    EXPECT_EQ(UsableWaveRangeY(0), 20000);
    EXPECT_EQ(UsableWaveRangeY(-3), -3);
    EXPECT_EQ(UsableSpectRangeX(0), 5000);
    EXPECT_EQ(UsableSpectRangeX(20001), 5000);
    EXPECT_EQ(UsableSpectRangeX(20000), 20000);
    EXPECT_EQ(UsableSpectRangeY(std::numeric_limits<float>::infinity()), 2.0f);
    EXPECT_EQ(UsableSpectRangeY(0.0f), 2.0f);
    EXPECT_EQ(UsableSpectRangeY(0.5f), 0.5f);
    EXPECT_EQ(UsableKaSpTm(-1.0f), 10.0f);
    EXPECT_EQ(UsableKaSpTm(0.25f), 0.25f);
}

TEST_F(SettingsTest, CorruptFileIsMovedAsideAndDefaultsApply)
{
    const std::string garbage = "this is not a settings file\n\"FormWave X\"=dword:00000009\n";
    fs::create_directories(file.parent_path());
    std::ofstream(file) << garbage;
    Unusual.apply();
    LightBackground = false;
    RegistryRead();

    const std::string bad = file.string() + ".bad";
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find(file.string() + " "), std::string::npos) << messages[0];
    EXPECT_NE(messages[0].find(bad), std::string::npos) << messages[0];
    EXPECT_EQ(read(bad), garbage);
    EXPECT_EQ(WaveX, 0);

    RegistryWrite();
    EXPECT_EQ(messages.size(), 1u);
    EXPECT_EQ(read(bad), garbage);
    EXPECT_EQ(valueLines().size(), 25u);
}

TEST_F(SettingsTest, TheLaterPeakValueIsStoredAndAnOlderFileWithoutItLoads)
{
    SpectShowPeak = true;
    RegistryWrite();
    EXPECT_EQ(valueLines().back(), "\"FormSpect Peak\"=dword:00000001");
    SpectShowPeak = false;
    RegistryRead();
    EXPECT_TRUE(SpectShowPeak);

    // A file of the 24 values alone: they load, the peak readout keeps its default.
    Unusual.apply();
    RegistryWrite();
    std::string text = read(file);
    const size_t peak = text.find("\"FormSpect Peak\"");
    ASSERT_NE(peak, std::string::npos);
    text.erase(peak, text.find('\n', peak) + 1 - peak);
    std::ofstream(file, std::ios::binary) << text;
    Defaults.apply();
    SpectShowPeak = true;
    RegistryRead();
    EXPECT_TRUE(messages.empty());
    EXPECT_TRUE(Snapshot::Take() == Unusual);
    EXPECT_FALSE(SpectShowPeak) << "the default";
}

TEST_F(SettingsTest, UnknownValuesAndOtherKeysSurviveAWrite)
{
    writeKey("\"Recent File\"=\"/home/me/song.wav\"\n"
             "\"FormWave X\"=dword:00000009\n"
             "\"Future Option\"=hex:01,02\n"
             "\n[HKEY_CURRENT_USER\\Software\\Vortan\\Other]\n\"Keep\"=dword:00000003\n");
    RegistryRead();
    WaveX = 11;
    RegistryWrite();
    ASSERT_TRUE(messages.empty());

    const std::string text = read(file);
    EXPECT_NE(text.find("\"Recent File\"=\"/home/me/song.wav\"\n"), std::string::npos);
    EXPECT_NE(text.find("\"Future Option\"=hex:01,02\n"), std::string::npos);
    EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Software\\Vortan\\Other]\n\"Keep\"=dword:00000003\n"), std::string::npos);
    EXPECT_NE(text.find("\"FormWave X\"=dword:0000000b\n"), std::string::npos);
    EXPECT_EQ(valueLines().size(), 25u + 3u);
    EXPECT_EQ(std::distance(fs::directory_iterator(file.parent_path()), fs::directory_iterator()), 1)
        << "no temporary file left beside the settings";
}

TEST_F(SettingsTest, UnwritableFolderReportsTheFailure)
{
    std::ofstream(configHome / "blocker") << "a file where the folder should be";
    setenv("XDG_CONFIG_HOME", (configHome / "blocker").c_str(), 1);

    Unusual.apply();
    IsInstalled = false;
    LightBackground = false;
    RegistryRead();
    EXPECT_TRUE(Snapshot::Take() == Defaults);
    messages.clear();

    RegistryWrite();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].starts_with("The settings could not be saved to " + SettingsPath() + ": ")) << messages[0];
    EXPECT_EQ(read(configHome / "blocker"), "a file where the folder should be");
}

} // namespace
