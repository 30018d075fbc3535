#include "app/settings.h"
#include "state/usable.h"

#include "analysis/SpTmMap.h"
#include "analysis/SpectGraph.h"
#include "analysis/WaveGraph.h"
#include "platform/dialogs.h"
#include "state/global.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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
    "FormSpect Averaging", "FormSpect PeakHold", "FormSpect PeakDecay", "FormSpect Weighting",
    "FormBands X", "FormBands Y", "FormBands Width", "FormBands Height", "FormBands Show", "FormBands Fraction",
    "FormBands Top", "FormBands Span", "FormBands Averaging", "FormBands Weighting", "FormBands Peak",
    "FormBands Peak Decay",
    "Generator Signal",
    "FormLevels X", "FormLevels Y", "FormLevels Width", "FormLevels Height", "FormLevels Show",
    "FormLevels Weighting", "FormBands SPL", "FormSpect SPL",
    "FormDistortion X", "FormDistortion Y", "FormDistortion Width", "FormDistortion Height", "FormDistortion Show",
    "FormDistortion Size", "FormDistortion Average", "FormDistortion Channel", "FormDistortion Frequency",
    "FormDistortion Level", "FormDistortion Device",
    "FormResponse X", "FormResponse Y", "FormResponse Width", "FormResponse Height", "FormResponse Show",
    "FormResponse Length", "FormResponse Level", "FormResponse Reference", "FormResponse Channel",
    "FormResponse View", "FormResponse Smoothing", "FormResponse Phase", "FormResponse Impulse",
    "FormResponse Playback Device", "FormResponse Recording Device",
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
const Snapshot Unusual{true, true, 2, 3.0f, -1200, 40, 640, 480, 882, 5000, false,
                       1900, -5, 320, 200, 10000, 0.5f, false, false, 7, 8, 9, 10, false};
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

TEST_F(SettingsTest, WriteStoresEveryValueInOrderAndReadsThemBack)
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

// "hex:..." of a little-endian IEEE double, written here byte by byte.
std::string HexOfDouble(double value)
{
    uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    std::string text = "hex:";
    for (int i = 0; i < 8; ++i) {
        char byte[4];
        std::snprintf(byte, sizeof byte, "%02x", static_cast<unsigned>((bits >> (8 * i)) & 0xFF));
        text += (i ? "," : "") + std::string(byte);
    }
    return text;
}

// The file RegistryWrite makes of Unusual, with the line of `name` holding `data` instead.
std::string UnusualFileWith(const std::string& name, const std::string& data, const fs::path& file)
{
    Unusual.apply();
    RegistryWrite();
    std::ifstream in(file, std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    std::string text = all.str();
    const std::string key = "\"" + name + "\"=";
    const size_t at = text.find(key);
    const size_t end = text.find('\n', at);
    text.replace(at + key.size(), end - at - key.size(), data);
    std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
    Defaults.apply();
    return text;
}

TEST_F(SettingsTest, AWronglyTypedThirdValueKeepsItsDefaultAndEveryOtherValueLoads)
{
    // The kinds a dword can be mistaken for; "Window Function" is the third value saved.
    for (const char* data : {"hex:02", "hex:02,00,00,00", "\"2\""}) {
        SCOPED_TRACE(data);
        messages.clear();
        fs::remove_all(file.parent_path());
        const std::string original = UnusualFileWith("Window Function", data, file);
        ASSERT_EQ(valueLines()[2], std::string("\"Window Function\"=") + data);

        RegistryRead();
        Snapshot expected = Unusual;
        expected.windowFunction = 1; // its default
        EXPECT_TRUE(Snapshot::Take() == expected);
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_TRUE(messages[0].starts_with("Invalid data type for 'Window Function'")) << messages[0];
        const fs::path kept = file.string() + ".bad";
        EXPECT_NE(messages[0].find(kept.string()), std::string::npos) << messages[0];
        EXPECT_EQ(read(kept), original);

        RegistryWrite();
        EXPECT_EQ(valueLines()[2], "\"Window Function\"=dword:00000001");
        EXPECT_EQ(valueLines()[4], "\"FormWave X\"=dword:fffffb50") << "the user's value, not the default";
        EXPECT_EQ(read(kept), original) << "the save leaves the copy alone";
        EXPECT_EQ(messages.size(), 1u);
    }
}

TEST_F(SettingsTest, AWronglyTypedDoubleKeepsItsDefault)
{
    for (const char* data : {"dword:00000002", "\"2\"", "hex:00,00,80,3f", "hex:00,00,00,00,00,00,00,40,00"}) {
        SCOPED_TRACE(data);
        messages.clear();
        UnusualFileWith("FormSpect RangeY", data, file);
        RegistryRead();
        Snapshot expected = Unusual;
        expected.spectRangeY = 2.0f;
        EXPECT_TRUE(Snapshot::Take() == expected);
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_TRUE(messages[0].starts_with("Invalid data type for 'FormSpect RangeY'")) << messages[0];
    }
}

TEST_F(SettingsTest, SeveralWronglyTypedValuesGiveOneMessageNamingThemAll)
{
    writeKey("\"Light Background\"=hex:01\n"
             "\"KaSpTm\"=dword:00000005\n"
             "\"FormWave X\"=dword:00000005\n"
             "\"FormSpTm Hight\"=\"300\"\n");
    RegistryRead();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].starts_with("Invalid data type for 'Light Background', 'KaSpTm', 'FormSpTm Hight'"))
        << messages[0];
    EXPECT_EQ(WaveX, 5);
    EXPECT_EQ(KaSpTm, 10.0f);
    EXPECT_EQ(SpTmH, 540);
}

TEST_F(SettingsTest, BooleansAreZeroOrOne)
{
    writeKey("\"IsInstalled\"=dword:00000001\n"
             "\"FormWave Show\"=dword:00000000\n"
             "\"FormSpect IsLn\"=dword:80000000\n"
             "\"FormSpTm Show\"=dword:00000002\n");
    RegistryRead();
    EXPECT_TRUE(IsInstalled);
    EXPECT_FALSE(WaveShow);
    EXPECT_TRUE(SpectIsLn) << "out of range: the default";
    EXPECT_TRUE(SpTmShow) << "out of range: the default";
}

// Each value no control can set, stored alone: it gets its default and is
// not saved back.
TEST_F(SettingsTest, OutOfRangeAndNonFiniteValuesGetTheirDefaults)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        const char* name;
        std::string data;
    };
    std::vector<Case> cases = {
        {"IsInstalled", "dword:00000002"},      {"Light Background", "dword:ffffffff"},
        {"Window Function", "dword:7fffffff"},  {"Window Function", "dword:00000003"},
        {"Window Function", "dword:ffffffff"},  {"FormWave X", "dword:7fffffff"},
        {"FormWave Y", "dword:fffe7960"}, // -100000
        {"FormWave Width", "dword:00000000"},   {"FormWave Width", "dword:7fffffff"},
        {"FormWave Hight", "dword:ffffffff"},   {"FormWave Hight", "dword:00008000"},
        {"FormWave RangeX", "dword:00000001"},  {"FormWave RangeX", "dword:0000113b"}, // 4411
        {"FormWave RangeX", "dword:ffffffff"},  {"FormWave RangeY", "dword:00000000"},
        {"FormWave RangeY", "dword:00000064"}, // 100
        {"FormWave Show", "dword:00000005"},    {"FormSpect X", "dword:80000000"},
        {"FormSpect Y", "dword:00010000"},      {"FormSpect Width", "dword:fffe7960"},
        {"FormSpect Hight", "dword:00000000"},  {"FormSpect RangeX", "dword:00000000"},
        {"FormSpect RangeX", "dword:00000bb8"}, // 3000
        {"FormSpect RangeX", "dword:7fffffff"}, {"FormSpect IsLn", "dword:00000007"},
        {"FormSpect Show", "dword:ffffffff"},   {"FormSpTm X", "dword:fffe7960"},
        {"FormSpTm Y", "dword:7fffffff"},       {"FormSpTm Width", "dword:00000000"},
        {"FormSpTm Hight", "dword:7fffffff"},   {"FormSpTm Show", "dword:00000002"},
        {"FormSpect Peak", "dword:00000002"},   {"Generator Signal", "dword:00000003"},
        {"Generator Signal", "dword:ffffffff"},
    };
    for (const char* name : {"KaSpTm", "FormSpect RangeY"})
        for (double value : {nan, -nan, inf, -inf, 0.0, -0.0, -2.0, 1e300, -1e100, 1e-300, 21.0, 0.375, 2.5, 200.0})
            cases.push_back({name, HexOfDouble(value)});
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + "=" + c.data);
        Defaults.apply();
        writeKey("\"" + std::string(c.name) + "\"=" + c.data + "\n");
        RegistryRead();
        EXPECT_TRUE(messages.empty());
        EXPECT_TRUE(Snapshot::Take() == Defaults);
        RegistryWrite();
        for (const std::string& line : valueLines())
            EXPECT_NE(line, "\"" + std::string(c.name) + "\"=" + c.data) << "saved back";
    }
}

// Every value the controls can set loads as it is.
TEST_F(SettingsTest, EveryValueTheControlsCanSetLoads)
{
    for (int position = 1; position <= 4; ++position)
        EXPECT_TRUE(SettingInRange("FormWave RangeX", WaveRangeXAt(position))) << position;
    for (int position = 1; position <= 7; ++position)
        EXPECT_TRUE(SettingInRange("FormWave RangeY", WaveRangeYAt(position))) << position;
    for (int position = 1; position <= 5; ++position)
        EXPECT_TRUE(SettingInRange("FormSpect RangeX", SpectRangeXAt(position))) << position;
    for (int position = 1; position <= 9; ++position)
        EXPECT_TRUE(SettingInRange("FormSpect RangeY", SpectRangeYAt(position))) << position;
    for (int position = sptm::GainTrackMin; position <= sptm::GainTrackMax; ++position)
        EXPECT_TRUE(SettingInRange("KaSpTm", sptm::GainAtPosition(position))) << position;
    for (int item = 0; item < 3; ++item)
        EXPECT_TRUE(SettingInRange("Window Function", item));
    EXPECT_TRUE(SettingInRange("FormSpTm X", -32768));
    EXPECT_TRUE(SettingInRange("FormSpTm Y", 32767));
    EXPECT_TRUE(SettingInRange("FormSpTm Width", 1));
    EXPECT_FALSE(SettingInRange("No Such Value", 0));

    // Through the file: the ends of each track bar's table.
    writeKey("\"KaSpTm\"=" + HexOfDouble(20) +
             "\n\"FormWave RangeX\"=dword:000001b9\n" // 441
             "\"FormSpect RangeY\"=" +
             HexOfDouble(static_cast<float>(0.2)) + "\n");
    RegistryRead();
    EXPECT_EQ(KaSpTm, 20.0f);
    EXPECT_EQ(WaveRangeX, 441);
    EXPECT_EQ(SpectRangeY, 0.2f);
}

TEST(SettingsSaving, WritesOnceAChangeHasRestedAndNotWhenNothingChanged)
{
    SettleBeforeSaving settle(2);
    settle.Written("a");
    for (int tick = 0; tick < 5; ++tick)
        EXPECT_FALSE(settle.Tick("a")) << "nothing changed";
    EXPECT_FALSE(settle.Tick("b")) << "just changed";
    EXPECT_FALSE(settle.Tick("b"));
    EXPECT_TRUE(settle.Tick("b")) << "rested for two ticks";
    settle.Written("b");
    EXPECT_FALSE(settle.Tick("b"));
    // Dragging: a new state at every tick is written once it rests.
    EXPECT_FALSE(settle.Tick("c"));
    EXPECT_FALSE(settle.Tick("d"));
    EXPECT_FALSE(settle.Tick("e"));
    EXPECT_FALSE(settle.Tick("e"));
    EXPECT_TRUE(settle.Tick("e"));
    // Changed and changed back before it was due: nothing to write.
    settle.Written("e");
    EXPECT_FALSE(settle.Tick("f"));
    for (int tick = 0; tick < 4; ++tick)
        EXPECT_FALSE(settle.Tick("e"));
}

TEST_F(SettingsTest, TheSavedStateChangesWithEveryValue)
{
    Unusual.apply();
    const std::string before = SettingsState();
    KaSpTm = 4;
    EXPECT_NE(SettingsState(), before);
    KaSpTm = 3;
    EXPECT_EQ(SettingsState(), before);
    SpectShowPeak = !SpectShowPeak;
    EXPECT_NE(SettingsState(), before);
}

// Stored geometry on one 1920x1050 screen (below a 30-pixel panel) and a
// 1280x1024 one to its right.
TEST_F(SettingsTest, StoredGeometryIsBroughtOntoTheScreens)
{
    const std::vector<ScreenRect> screens = {{0, 30, 1920, 1050}, {1920, 0, 1280, 1024}};
    WaveX = 100, WaveY = 200, WaveW = 8192, WaveH = 8192;     // too large
    SpectX = 2000, SpectY = 100, SpectW = 2000, SpectH = 300; // on the second screen, too wide
    SpTmX = 298, SpTmY = 100, SpTmW = 500, SpTmH = 540;       // as it was
    EXPECT_TRUE(FitStoredGeometry(screens));
    EXPECT_EQ(std::vector<int32_t>({WaveX, WaveY, WaveW, WaveH}), std::vector<int32_t>({100, 200, 1920, 1050}));
    EXPECT_EQ(std::vector<int32_t>({SpectX, SpectY, SpectW, SpectH}), std::vector<int32_t>({2000, 100, 1280, 300}));
    EXPECT_EQ(std::vector<int32_t>({SpTmX, SpTmY, SpTmW, SpTmH}), std::vector<int32_t>({298, 100, 500, 540}));

    // One view off every screen: all three take the default layout.
    for (auto [x, y] : {std::pair{-32768, -32768}, {-300, 500}, {100, 1070}, {3200, 10}, {500, 10}}) {
        SCOPED_TRACE(std::to_string(x) + "," + std::to_string(y));
        WaveX = 100, WaveY = 200, WaveW = 400, WaveH = 300;
        SpTmX = x, SpTmY = y, SpTmW = 300, SpTmH = 300;
        Snapshot expected = Snapshot::Take();
        expected.waveX = 0, expected.waveY = 100, expected.waveW = 310, expected.waveH = 270;
        expected.spectX = 0, expected.spectY = 370, expected.spectW = 310, expected.spectH = 270;
        expected.spTmX = 298, expected.spTmY = 100, expected.spTmW = 500, expected.spTmH = 540;
        EXPECT_FALSE(FitStoredGeometry(screens));
        EXPECT_TRUE(Snapshot::Take() == expected);
    }
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
    EXPECT_EQ(valueLines().size(), SavedNames.size());
}

TEST_F(SettingsTest, TheLaterPeakValueIsStoredAndAnOlderFileWithoutItLoads)
{
    SpectShowPeak = true;
    RegistryWrite();
    const auto lines = valueLines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "\"FormSpect Peak\"=dword:00000001"), lines.end());
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

// The generator's signal is stored after the octave view's values: each of
// the three choices round-trips, one no button could choose falls back to
// the sine, and a file from before it leaves the sine.
TEST_F(SettingsTest, TheGeneratorSignalRoundTripsAndFallsBackToTheSine)
{
    const auto at = std::find(SavedNames.begin(), SavedNames.end(), "Generator Signal") - SavedNames.begin();
    for (int32_t choice : {GenSignalPinkNoise, GenSignalWhiteNoise, GenSignalSine}) {
        GenSignal = choice;
        RegistryWrite();
        ASSERT_EQ(valueLines().size(), SavedNames.size());
        EXPECT_EQ(valueLines()[at], "\"Generator Signal\"=dword:0000000" + std::to_string(choice));
        GenSignal = -1;
        RegistryRead();
        EXPECT_EQ(GenSignal, choice);
    }
    for (const char* data : {"dword:00000003", "dword:ffffffff"}) {
        writeKey(std::string("\"Generator Signal\"=") + data + "\n");
        GenSignal = GenSignalPinkNoise;
        RegistryRead();
        EXPECT_EQ(GenSignal, GenSignalSine) << data;
    }
    writeKey("\"FormSpect Peak\"=dword:00000001\n");
    GenSignal = GenSignalPinkNoise;
    RegistryRead();
    EXPECT_EQ(GenSignal, GenSignalSine);
    EXPECT_TRUE(messages.empty());
}

// The octave view's values: stored after the others and read back; a file
// from before them loads with the view closed and its defaults; a value no
// control could set falls back to its default.
TEST_F(SettingsTest, TheOctaveViewsValuesRoundTripAndFallBack)
{
    BandsShow = true, BandsX = 40, BandsY = 50, BandsW = 600, BandsH = 400, BandsFraction = 4;
    BandsTop = -20, BandsSpan = 60, BandsAveraging = 9, BandsWeighting = 2, BandsPeak = true, BandsPeakDecay = 3;
    BandsSpl = true;
    RegistryWrite();
    const auto lines = valueLines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "\"FormBands Peak Decay\"=dword:00000003"), lines.end());
    BandsShow = false, BandsX = BandsY = BandsW = BandsH = 1, BandsFraction = 1;
    BandsTop = 0, BandsSpan = 100, BandsAveraging = BandsWeighting = BandsPeakDecay = 0, BandsPeak = false;
    RegistryRead();
    EXPECT_TRUE(BandsShow);
    EXPECT_EQ(BandsX, 40);
    EXPECT_EQ(BandsY, 50);
    EXPECT_EQ(BandsW, 600);
    EXPECT_EQ(BandsH, 400);
    EXPECT_EQ(BandsFraction, 4);
    EXPECT_EQ(BandsTop, -20);
    EXPECT_EQ(BandsSpan, 60);
    EXPECT_EQ(BandsAveraging, 9);
    EXPECT_EQ(BandsWeighting, 2);
    EXPECT_TRUE(BandsPeak);
    EXPECT_EQ(BandsPeakDecay, 3);
    EXPECT_TRUE(BandsSpl);
    EXPECT_NE(std::find(lines.begin(), lines.end(), "\"FormBands SPL\"=dword:00000001"), lines.end());

    // Out of range: each gets its default.
    writeKey("\"FormBands Fraction\"=dword:00000005\n\"FormBands Top\"=dword:00000005\n"
             "\"FormBands Span\"=dword:00000000\n\"FormBands Averaging\"=dword:0000000a\n"
             "\"FormBands Weighting\"=dword:ffffffff\n\"FormBands Peak Decay\"=dword:00000004\n"
             "\"FormBands Show\"=dword:00000002\n\"FormBands Width\"=dword:00000000\n"
             "\"FormBands SPL\"=dword:00000002\n");
    RegistryRead();
    EXPECT_TRUE(messages.empty());
    EXPECT_FALSE(BandsShow);
    EXPECT_FALSE(BandsSpl);
    EXPECT_EQ(BandsFraction, 1) << "1/3 octave";
    EXPECT_EQ(BandsTop, 0);
    EXPECT_EQ(BandsSpan, 100);
    EXPECT_EQ(BandsAveraging, 0);
    EXPECT_EQ(BandsWeighting, 0);
    EXPECT_EQ(BandsPeakDecay, 0);
    EXPECT_EQ(BandsW, 520);

    // An older file, the 25 values alone: they load, the view keeps its defaults.
    fs::remove(file);
    Unusual.apply();
    BandsShow = true, BandsFraction = 3;
    RegistryWrite();
    std::string text = read(file);
    text.erase(text.find("\"FormBands X\""));
    std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
    Defaults.apply();
    RegistryRead();
    EXPECT_TRUE(messages.empty());
    EXPECT_TRUE(Snapshot::Take() == Unusual);
    EXPECT_FALSE(BandsShow) << "closed until the user opens it";
    EXPECT_EQ(BandsFraction, 1);
}

// The levels view's values: stored last and read back; a file from before
// them loads with the view closed and its defaults; a value no control
// could set falls back to its default, and a place off every screen to the
// view's default place while the three views keep theirs.
TEST_F(SettingsTest, TheLevelsViewsValuesRoundTripAndFallBack)
{
    LevelsShow = true, LevelsX = 30, LevelsY = 60, LevelsW = 610, LevelsH = 470, LevelsWeighting = 2;
    RegistryWrite();
    const auto lines = valueLines();
    ASSERT_EQ(lines.size(), SavedNames.size());
    EXPECT_NE(std::find(lines.begin(), lines.end(), "\"FormLevels Weighting\"=dword:00000002"), lines.end());
    LevelsShow = false, LevelsX = LevelsY = LevelsW = LevelsH = 1, LevelsWeighting = 0;
    RegistryRead();
    EXPECT_TRUE(LevelsShow);
    EXPECT_EQ(std::vector<int32_t>({LevelsX, LevelsY, LevelsW, LevelsH}), std::vector<int32_t>({30, 60, 610, 470}));
    EXPECT_EQ(LevelsWeighting, 2);

    writeKey("\"FormLevels Weighting\"=dword:00000003\n\"FormLevels Show\"=dword:00000002\n"
             "\"FormLevels Height\"=dword:00000000\n\"FormLevels X\"=dword:00010000\n");
    RegistryRead();
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(LevelsWeighting, 0) << "Z";
    EXPECT_FALSE(LevelsShow);
    EXPECT_EQ(LevelsH, 440);
    EXPECT_EQ(LevelsX, 360);

    // An older file, up to the generator's signal: it loads, the view
    // keeps its defaults.
    fs::remove(file);
    Unusual.apply();
    LevelsShow = true, LevelsWeighting = 1;
    RegistryWrite();
    std::string text = read(file);
    text.erase(text.find("\"FormLevels X\""));
    std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
    Defaults.apply();
    RegistryRead();
    EXPECT_TRUE(messages.empty());
    EXPECT_TRUE(Snapshot::Take() == Unusual);
    EXPECT_FALSE(LevelsShow) << "closed until the user opens it";
    EXPECT_EQ(LevelsWeighting, 0);

    const std::vector<ScreenRect> screens = {{0, 30, 1920, 1050}};
    Defaults.apply();
    LevelsX = 4000, LevelsY = 40, LevelsW = 500, LevelsH = 400;
    EXPECT_TRUE(FitStoredGeometry(screens));
    EXPECT_EQ(std::vector<int32_t>({LevelsX, LevelsY, LevelsW, LevelsH}), std::vector<int32_t>({360, 120, 560, 440}));
    EXPECT_TRUE(Snapshot::Take() == Defaults);
}

// The spectrum's instrument choices: stored after the earlier values, read
// back; an older file without them, or with values no list holds, gives
// their defaults (no averaging, no peak hold, hold, Z).
TEST_F(SettingsTest, TheSpectrumsInstrumentChoicesRoundTripAndFallBackToTheirDefaults)
{
    SpectAveraging = 9, SpectPeakHold = true, SpectPeakDecay = 3, SpectWeighting = 2;
    RegistryWrite();
    const std::vector<std::string> lines = valueLines();
    ASSERT_EQ(lines.size(), SavedNames.size());
    EXPECT_EQ(lines[25], "\"FormSpect Averaging\"=dword:00000009");
    EXPECT_EQ(lines[26], "\"FormSpect PeakHold\"=dword:00000001");
    EXPECT_EQ(lines[27], "\"FormSpect PeakDecay\"=dword:00000003");
    EXPECT_EQ(lines[28], "\"FormSpect Weighting\"=dword:00000002");
    SpectAveraging = 0, SpectPeakHold = false, SpectPeakDecay = 0, SpectWeighting = 0;
    RegistryRead();
    EXPECT_EQ(SpectAveraging, 9);
    EXPECT_TRUE(SpectPeakHold);
    EXPECT_EQ(SpectPeakDecay, 3);
    EXPECT_EQ(SpectWeighting, 2);

    // The 25 values of the file before them.
    std::string text = read(file);
    text.erase(text.find("\"FormSpect Averaging\""));
    std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
    RegistryRead();
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(SpectAveraging, 0);
    EXPECT_FALSE(SpectPeakHold);
    EXPECT_EQ(SpectPeakDecay, 0);
    EXPECT_EQ(SpectWeighting, 0);

    const std::pair<const char*, const char*> outOfRange[] = {
        {"FormSpect Averaging", "dword:0000000a"}, {"FormSpect Averaging", "dword:ffffffff"},
        {"FormSpect PeakHold", "dword:00000002"},  {"FormSpect PeakDecay", "dword:00000004"},
        {"FormSpect PeakDecay", "dword:80000000"}, {"FormSpect Weighting", "dword:00000003"},
    };
    for (const auto& [name, data] : outOfRange) {
        SCOPED_TRACE(std::string(name) + "=" + data);
        SpectAveraging = 5, SpectPeakHold = true, SpectPeakDecay = 2, SpectWeighting = 1;
        writeKey("\"" + std::string(name) + "\"=" + data + "\n");
        RegistryRead();
        EXPECT_TRUE(messages.empty());
        EXPECT_EQ(SpectAveraging, 0);
        EXPECT_FALSE(SpectPeakHold);
        EXPECT_EQ(SpectPeakDecay, 0);
        EXPECT_EQ(SpectWeighting, 0);
    }
    for (int choice = 0; choice < 10; ++choice)
        EXPECT_TRUE(SettingInRange("FormSpect Averaging", choice));
    for (int choice = 0; choice < 4; ++choice)
        EXPECT_TRUE(SettingInRange("FormSpect PeakDecay", choice));
    for (int choice = 0; choice < 3; ++choice)
        EXPECT_TRUE(SettingInRange("FormSpect Weighting", choice));
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
    EXPECT_EQ(valueLines().size(), SavedNames.size() + 3u);
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

// The spectrum's dB SPL choice: stored last, read back, off in a file from
// before it and for a value no check box could set.
TEST_F(SettingsTest, TheSpectrumsSplChoiceRoundTripsAndFallsBack)
{
    SpectSpl = true;
    RegistryWrite();
    const auto lines = valueLines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "\"FormSpect SPL\"=dword:00000001"), lines.end());
    SpectSpl = false;
    RegistryRead();
    EXPECT_TRUE(SpectSpl);

    writeKey("\"FormBands SPL\"=dword:00000001\n");
    RegistryRead();
    EXPECT_FALSE(SpectSpl) << "an older file";
    writeKey("\"FormSpect SPL\"=dword:00000002\n");
    RegistryRead();
    EXPECT_TRUE(messages.empty());
    EXPECT_FALSE(SpectSpl);
}

TEST_F(SettingsTest, TheDistortionWindowsValuesRoundTripAndFallBack)
{
    DistortionShow = true, DistortionX = 25, DistortionY = 70, DistortionW = 900, DistortionH = 600;
    DistortionSize = 131072, DistortionAverage = 8, DistortionChannel = 2;
    DistortionToneHz = 1234.5f, DistortionToneDbfs = -20.5f, DistortionDevice = 3;
    RegistryWrite();
    const auto lines = valueLines();
    ASSERT_EQ(lines.size(), SavedNames.size());
    EXPECT_NE(std::find(lines.begin(), lines.end(), "\"FormDistortion Device\"=dword:00000003"), lines.end());
    Defaults.apply();
    DistortionShow = false, DistortionX = DistortionY = DistortionW = DistortionH = 1;
    DistortionSize = 16384, DistortionAverage = 1, DistortionChannel = 0;
    DistortionToneHz = 997.0f, DistortionToneDbfs = -6.0f, DistortionDevice = 0;
    RegistryRead();
    EXPECT_TRUE(DistortionShow);
    EXPECT_EQ(std::vector<int32_t>({DistortionX, DistortionY, DistortionW, DistortionH}),
              std::vector<int32_t>({25, 70, 900, 600}));
    EXPECT_EQ(DistortionSize, 131072);
    EXPECT_EQ(DistortionAverage, 8);
    EXPECT_EQ(DistortionChannel, 2);
    EXPECT_EQ(DistortionToneHz, 1234.5f);
    EXPECT_EQ(DistortionToneDbfs, -20.5f);
    EXPECT_EQ(DistortionDevice, 3);

    // Values no control offers: each falls back to its default alone.
    writeKey("\"FormDistortion Size\"=dword:00008001\n\"FormDistortion Average\"=dword:00000003\n"
             "\"FormDistortion Channel\"=dword:00000003\n\"FormDistortion Device\"=dword:ffffffff\n"
             "\"FormDistortion Show\"=dword:00000001\n");
    RegistryRead();
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(DistortionSize, 65536);
    EXPECT_EQ(DistortionAverage, 1);
    EXPECT_EQ(DistortionChannel, 0);
    EXPECT_EQ(DistortionDevice, 0);
    EXPECT_TRUE(DistortionShow) << "the valid value beside them loads";

    // A tone outside 20 Hz ... 20 kHz or 0 ... -60 dBFS: the defaults.
    DistortionToneHz = 19.0f, DistortionToneDbfs = 3.0f;
    RegistryWrite();
    DistortionToneHz = 500.0f, DistortionToneDbfs = -10.0f;
    RegistryRead();
    EXPECT_EQ(DistortionToneHz, 997.0f);
    EXPECT_EQ(DistortionToneDbfs, -6.0f);
}

TEST_F(SettingsTest, TheResponseWindowsValuesRoundTripAndFallBack)
{
    ResponseShow = true, ResponseX = 30, ResponseY = 60, ResponseW = 1000, ResponseH = 700;
    ResponseLength = 16, ResponseLevel = -12.5f, ResponseReferenceChoice = 2, ResponseChannel = 1;
    ResponseView = 3, ResponseSmoothing = 5, ResponsePhaseMode = 1, ResponseImpulseMode = 1;
    ResponsePlayDevice = 2, ResponseRecordDevice = 4;
    RegistryWrite();
    const auto lines = valueLines();
    ASSERT_EQ(lines.size(), SavedNames.size());
    EXPECT_EQ(lines.back(), "\"FormResponse Recording Device\"=dword:00000004") << "stored last";
    Defaults.apply();
    ResponseShow = false, ResponseX = ResponseY = ResponseW = ResponseH = 1;
    ResponseLength = 4, ResponseLevel = -6.0f, ResponseReferenceChoice = 0, ResponseChannel = 0;
    ResponseView = 0, ResponseSmoothing = 0, ResponsePhaseMode = 0, ResponseImpulseMode = 0;
    ResponsePlayDevice = 0, ResponseRecordDevice = 0;
    RegistryRead();
    EXPECT_TRUE(ResponseShow);
    EXPECT_EQ(std::vector<int32_t>({ResponseX, ResponseY, ResponseW, ResponseH}),
              std::vector<int32_t>({30, 60, 1000, 700}));
    EXPECT_EQ(
        std::vector<int32_t>({ResponseLength, ResponseReferenceChoice, ResponseChannel, ResponseView, ResponseSmoothing,
                              ResponsePhaseMode, ResponseImpulseMode, ResponsePlayDevice, ResponseRecordDevice}),
        std::vector<int32_t>({16, 2, 1, 3, 5, 1, 1, 2, 4}));
    EXPECT_EQ(ResponseLevel, -12.5f);

    // Values no control offers: each falls back to its default alone.
    writeKey("\"FormResponse Length\"=dword:00000003\n\"FormResponse Reference\"=dword:00000003\n"
             "\"FormResponse Channel\"=dword:00000002\n\"FormResponse View\"=dword:00000004\n"
             "\"FormResponse Smoothing\"=dword:00000006\n\"FormResponse Phase\"=dword:00000002\n"
             "\"FormResponse Impulse\"=dword:ffffffff\n\"FormResponse Playback Device\"=dword:ffffffff\n"
             "\"FormResponse Recording Device\"=dword:00100000\n\"FormResponse Show\"=dword:00000001\n");
    RegistryRead();
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(
        std::vector<int32_t>({ResponseLength, ResponseReferenceChoice, ResponseChannel, ResponseView, ResponseSmoothing,
                              ResponsePhaseMode, ResponseImpulseMode, ResponsePlayDevice, ResponseRecordDevice}),
        std::vector<int32_t>({4, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_TRUE(ResponseShow) << "the valid value beside them loads";

    // A level above 0 or below -40 dBFS: the default.
    for (float level : {0.5f, -40.5f}) {
        ResponseLevel = level;
        RegistryWrite();
        ResponseLevel = -20.0f;
        RegistryRead();
        EXPECT_EQ(ResponseLevel, -6.0f) << level;
    }
}
