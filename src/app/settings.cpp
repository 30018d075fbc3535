#include "app/settings.h"

#include "analysis/SpTmMap.h"
#include "analysis/SpectGraph.h"
#include "analysis/WaveGraph.h"
#include "analysis/screenfit.h"
#include "measure/averaging.h"
#include "measure/octavebands.h"
#include "measure/peakhold.h"
#include "measure/weighting.h"
#include "meters/bandsgeometry.h"
#include "meters/distortiongeometry.h"
#include "meters/responsegeometry.h"
#include "platform/dialogs.h"
#include "platform/keystore.h"
#include "state/global.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <iterator>
#include <limits>
#include <optional>
#include <variant>
#include <vector>

namespace {

using platform::KeyStore;
using platform::KeyValue;
using platform::ValueKind;

// The variable a value is loaded into; its type decides the stored kind:
// integers and bools are dwords, floats 8-byte binary doubles.
using Target = std::variant<int32_t*, std::atomic<int32_t>*, bool*, float*>;

// Whether a loaded value is one the program could have stored itself: a value
// outside it would leave its control blank or reach arithmetic that cannot
// take it, so it gets its default instead.
using RangeCheck = bool (*)(double);

bool IsBool(double value)
{
    return value == 0 || value == 1;
}

bool IsWindowFunction(double value)
{
    return value == 0 || value == 1 || value == 2; // the combo's three items
}

bool IsGain(double value)
{
    // The gain track bar sets whole gains only.
    return value >= sptm::GainTrackMin && value <= sptm::GainTrackMax && value == std::floor(value);
}

// An index of a list of `Count` choices.
template <int Count>
bool IsChoice(double value)
{
    return value >= 0 && value < Count && value == std::floor(value);
}

template <auto& Table>
bool IsInTable(double value)
{
    return std::find(std::begin(Table), std::end(Table), value) != std::end(Table);
}

// Window positions and sizes within what an X display can address; whether
// the window lands on a screen is decided when it is placed (FitToScreens).
bool IsCoordinate(double value)
{
    return value >= -32768 && value <= 32767;
}

bool IsExtent(double value)
{
    return value >= 1 && value <= 32767;
}

bool IsBandsTop(double value)
{
    return bandsview::IsTopChoice(value);
}

bool IsBandsSpan(double value)
{
    return bandsview::IsSpanChoice(value);
}

bool IsGeneratorSignal(double value)
{
    return value == GenSignalSine || value == GenSignalWhiteNoise || value == GenSignalPinkNoise;
}

bool IsToneFrequency(double value)
{
    return value >= distortionview::MinToneHz && value <= distortionview::MaxToneHz;
}

bool IsToneLevel(double value)
{
    return value >= distortionview::MinToneDbfs && value <= distortionview::MaxToneDbfs;
}

// The sweep's level in dBFS.
bool IsSweepLevel(double value)
{
    return value >= responseview::MinLevelDbfs && value <= responseview::MaxLevelDbfs;
}

// A playback device's place in the list; whether that device is still
// there is decided when the list is made.
bool IsDeviceIndex(double value)
{
    return value >= 0 && value <= 1000 && value == std::floor(value);
}

struct Setting {
    const char* name;
    Target target;
    RangeCheck inRange;
};

// In the order in which they are saved. The names are stored exactly like
// this, "Hight" included. Values added later come after the first 24, so
// an older file (without them) loads as before and keeps their defaults.
const std::array<Setting, 76> Settings{{
    {"IsInstalled", &IsInstalled, IsBool},
    {"Light Background", &LightBackground, IsBool},
    {"Window Function", &WindowFunction, IsWindowFunction},
    {"KaSpTm", &KaSpTm, IsGain},
    {"FormWave X", &WaveX, IsCoordinate},
    {"FormWave Y", &WaveY, IsCoordinate},
    {"FormWave Width", &WaveW, IsExtent},
    {"FormWave Hight", &WaveH, IsExtent},
    {"FormWave RangeX", &WaveRangeX, IsInTable<WaveRangeXTable>},
    {"FormWave RangeY", &WaveRangeY, IsInTable<WaveRangeYTable>},
    {"FormWave Show", &WaveShow, IsBool},
    {"FormSpect X", &SpectX, IsCoordinate},
    {"FormSpect Y", &SpectY, IsCoordinate},
    {"FormSpect Width", &SpectW, IsExtent},
    {"FormSpect Hight", &SpectH, IsExtent},
    {"FormSpect RangeX", &SpectRangeX, IsInTable<SpectRangeXTable>},
    {"FormSpect RangeY", &SpectRangeY, IsInTable<SpectRangeYTable>},
    {"FormSpect IsLn", &SpectIsLn, IsBool},
    {"FormSpect Show", &SpectShow, IsBool},
    {"FormSpTm X", &SpTmX, IsCoordinate},
    {"FormSpTm Y", &SpTmY, IsCoordinate},
    {"FormSpTm Width", &SpTmW, IsExtent},
    {"FormSpTm Hight", &SpTmH, IsExtent},
    {"FormSpTm Show", &SpTmShow, IsBool},
    {"FormSpect Peak", &SpectShowPeak, IsBool},
    {"FormSpect Averaging", &SpectAveraging, IsChoice<measure::AveragingCount>},
    {"FormSpect PeakHold", &SpectPeakHold, IsBool},
    {"FormSpect PeakDecay", &SpectPeakDecay, IsChoice<measure::PeakDecayCount>},
    {"FormSpect Weighting", &SpectWeighting, IsChoice<measure::WeightingCount>},
    {"FormBands X", &BandsX, IsCoordinate},
    {"FormBands Y", &BandsY, IsCoordinate},
    {"FormBands Width", &BandsW, IsExtent},
    {"FormBands Height", &BandsH, IsExtent},
    {"FormBands Show", &BandsShow, IsBool},
    {"FormBands Fraction", &BandsFraction, IsChoice<measure::BandFractionCount>},
    {"FormBands Top", &BandsTop, IsBandsTop},
    {"FormBands Span", &BandsSpan, IsBandsSpan},
    {"FormBands Averaging", &BandsAveraging, IsChoice<measure::AveragingCount>},
    {"FormBands Weighting", &BandsWeighting, IsChoice<measure::WeightingCount>},
    {"FormBands Peak", &BandsPeak, IsBool},
    {"FormBands Peak Decay", &BandsPeakDecay, IsChoice<measure::PeakDecayCount>},
    {"Generator Signal", &GenSignal, IsGeneratorSignal},
    {"FormLevels X", &LevelsX, IsCoordinate},
    {"FormLevels Y", &LevelsY, IsCoordinate},
    {"FormLevels Width", &LevelsW, IsExtent},
    {"FormLevels Height", &LevelsH, IsExtent},
    {"FormLevels Show", &LevelsShow, IsBool},
    {"FormLevels Weighting", &LevelsWeighting, IsChoice<measure::WeightingCount>},
    {"FormBands SPL", &BandsSpl, IsBool},
    {"FormSpect SPL", &SpectSpl, IsBool},
    {"FormDistortion X", &DistortionX, IsCoordinate},
    {"FormDistortion Y", &DistortionY, IsCoordinate},
    {"FormDistortion Width", &DistortionW, IsExtent},
    {"FormDistortion Height", &DistortionH, IsExtent},
    {"FormDistortion Show", &DistortionShow, IsBool},
    {"FormDistortion Size", &DistortionSize, IsInTable<distortionview::SizeChoices>},
    {"FormDistortion Average", &DistortionAverage, IsInTable<distortionview::AverageCounts>},
    {"FormDistortion Channel", &DistortionChannel, IsChoice<distortionview::ChannelChoiceCount>},
    {"FormDistortion Frequency", &DistortionToneHz, IsToneFrequency},
    {"FormDistortion Level", &DistortionToneDbfs, IsToneLevel},
    {"FormDistortion Device", &DistortionDevice, IsDeviceIndex},
    {"FormResponse X", &ResponseX, IsCoordinate},
    {"FormResponse Y", &ResponseY, IsCoordinate},
    {"FormResponse Width", &ResponseW, IsExtent},
    {"FormResponse Height", &ResponseH, IsExtent},
    {"FormResponse Show", &ResponseShow, IsBool},
    {"FormResponse Length", &ResponseLength, IsInTable<responseview::LengthChoices>},
    {"FormResponse Level", &ResponseLevel, IsSweepLevel},
    {"FormResponse Reference", &ResponseReferenceChoice, IsChoice<responseview::ReferenceChoiceCount>},
    {"FormResponse Channel", &ResponseChannel, IsChoice<responseview::ChannelChoiceCount>},
    {"FormResponse View", &ResponseView, IsChoice<responseview::ViewChoiceCount>},
    {"FormResponse Smoothing", &ResponseSmoothing, IsChoice<responseview::SmoothingChoiceCount>},
    {"FormResponse Phase", &ResponsePhaseMode, IsChoice<responseview::PhaseChoiceCount>},
    {"FormResponse Impulse", &ResponseImpulseMode, IsChoice<responseview::ImpulseChoiceCount>},
    {"FormResponse Playback Device", &ResponsePlayDevice, IsDeviceIndex},
    {"FormResponse Recording Device", &ResponseRecordDevice, IsDeviceIndex},
}};

// The load reads "Window Function" before "Light Background"; otherwise it
// follows the save order.
constexpr std::array<size_t, 76> ReadOrder{0,  2,  1,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15, 16, 17, 18,
                                           19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32, 33, 34, 35, 36, 37,
                                           38, 39, 40, 41, 42, 43, 44, 45, 46, 47, 48, 49, 50, 51, 52, 53, 54, 55, 56,
                                           57, 58, 59, 60, 61, 62, 63, 64, 65, 66, 67, 68, 69, 70, 71, 72, 73, 74, 75};

template <class... Fs>
struct Overloaded : Fs... {
    using Fs::operator()...;
};

void SetDefaultGeometry()
{
    WaveX = 0, WaveY = 100, WaveW = 310, WaveH = 270;
    SpectX = 0, SpectY = 370, SpectW = 310, SpectH = 270;
    SpTmX = 298, SpTmY = 100, SpTmW = 500, SpTmH = 540;
}

void SetDefaultBandsGeometry()
{
    BandsX = 320, BandsY = 150, BandsW = 520, BandsH = 330;
}

void SetDefaultLevelsGeometry()
{
    LevelsX = 360, LevelsY = 120, LevelsW = 560, LevelsH = 440;
}

void SetDefaultDistortionGeometry()
{
    DistortionX = 380, DistortionY = 140, DistortionW = 820, DistortionH = 560;
}

void SetDefaultResponseGeometry()
{
    ResponseX = 400, ResponseY = 120, ResponseW = 900, ResponseH = 620;
}

void SetDefaults()
{
    // IsInstalled and LightBackground keep their start values.
    WindowFunction = 1;
    KaSpTm = 10;
    SetDefaultGeometry();
    WaveRangeX = 4410, WaveRangeY = 20000;
    WaveShow = true;
    SpectRangeX = 5000, SpectRangeY = 2;
    SpectIsLn = true, SpectShow = true, SpectShowPeak = false;
    SpectAveraging = 0, SpectPeakHold = false, SpectPeakDecay = 0, SpectWeighting = 0;
    SpTmShow = true;
    SetDefaultBandsGeometry();
    BandsShow = false, BandsFraction = 1, BandsTop = 0, BandsSpan = 100;
    BandsAveraging = 0, BandsWeighting = 0, BandsPeak = false, BandsPeakDecay = 0;
    GenSignal = GenSignalSine;
    SetDefaultLevelsGeometry();
    LevelsShow = false, LevelsWeighting = 0;
    BandsSpl = false;
    SpectSpl = false;
    SetDefaultDistortionGeometry();
    DistortionShow = false, DistortionChannel = 0, DistortionSize = distortionview::DefaultSize;
    DistortionAverage = 1, DistortionDevice = 0;
    DistortionToneHz = static_cast<float>(distortionview::DefaultToneHz);
    DistortionToneDbfs = static_cast<float>(distortionview::DefaultToneDbfs);
    SetDefaultResponseGeometry();
    ResponseShow = false, ResponseLength = responseview::DefaultLengthSeconds;
    ResponseLevel = static_cast<float>(responseview::DefaultLevelDbfs);
    ResponseReferenceChoice = responseview::ReferenceGenerated, ResponseChannel = 0;
    ResponseView = responseview::ViewMagnitude, ResponseSmoothing = 0;
    ResponsePhaseMode = responseview::PhaseWrapped, ResponseImpulseMode = responseview::ImpulseLinear;
    ResponsePlayDevice = 0, ResponseRecordDevice = 0;
}

// Cuts one view's stored geometry to the screens; false when no screen holds it.
bool FitView(int32_t& x, int32_t& y, int32_t& w, int32_t& h, const std::vector<ScreenRect>& screens)
{
    const std::optional<ScreenRect> place = FitToScreens({x, y, w, h}, screens);
    if (place)
        x = place->x, y = place->y, w = place->width, h = place->height;
    return place.has_value();
}

// Narrows like the hardware does (round to nearest, overflow to infinity)
// without the undefined behaviour of casting an out-of-range double.
float NarrowToFloat(double value)
{
    constexpr double RoundsToInfinity = 0x1.ffffffp127; // halfway between FLT_MAX and 2^128
    constexpr float Infinity = std::numeric_limits<float>::infinity();
    if (std::isnan(value))
        return std::signbit(value) ? -std::numeric_limits<float>::quiet_NaN() : std::numeric_limits<float>::quiet_NaN();
    if (std::fabs(value) >= RoundsToInfinity)
        return value > 0 ? Infinity : -Infinity;
    if (std::fabs(value) > std::numeric_limits<float>::max())
        return value > 0 ? std::numeric_limits<float>::max() : -std::numeric_limits<float>::max();
    return static_cast<float>(value);
}

double DoubleFromLittleEndian(const std::vector<uint8_t>& bytes)
{
    uint64_t bits = 0;
    for (size_t i = 8; i-- > 0;)
        bits = (bits << 8) | bytes[i];
    return std::bit_cast<double>(bits);
}

std::vector<uint8_t> LittleEndianFromDouble(double value)
{
    uint64_t bits = std::bit_cast<uint64_t>(value);
    std::vector<uint8_t> bytes(8);
    for (uint8_t& byte : bytes) {
        byte = static_cast<uint8_t>(bits & 0xFF);
        bits >>= 8;
    }
    return bytes;
}

// The stored value as a number, in the type of its variable; none when it
// has the wrong kind.
std::optional<double> StoredNumber(const KeyValue& value, const Target& target)
{
    if (std::holds_alternative<float*>(target)) {
        if (value.kind != ValueKind::Binary || value.bytes.size() != 8)
            return std::nullopt;
        return NarrowToFloat(DoubleFromLittleEndian(value.bytes));
    }
    if (value.kind != ValueKind::Dword)
        return std::nullopt;
    if (std::holds_alternative<bool*>(target))
        return value.dword;
    return static_cast<int32_t>(value.dword);
}

// Only called with a number the variable's range check accepted, so every
// conversion is exact.
void Assign(const Target& target, double number)
{
    std::visit(Overloaded{
                   [&](int32_t* v) { *v = static_cast<int32_t>(number); },
                   [&](std::atomic<int32_t>* v) { v->store(static_cast<int32_t>(number)); },
                   [&](bool* v) { *v = number != 0; },
                   [&](float* v) { *v = static_cast<float>(number); },
               },
               target);
}

void Store(KeyStore& store, const Setting& setting)
{
    std::visit(Overloaded{
                   [&](int32_t* v) { store.setDword(setting.name, static_cast<uint32_t>(*v)); },
                   [&](std::atomic<int32_t>* v) { store.setDword(setting.name, static_cast<uint32_t>(v->load())); },
                   [&](bool* v) { store.setDword(setting.name, *v ? 1 : 0); },
                   [&](float* v) { store.setBinary(setting.name, LittleEndianFromDouble(*v)); },
               },
               setting.target);
}

void ShowError(const std::string& text)
{
    platform::MessageBox("Sonalyx", text, platform::MsgIcon::Error);
}

// Tells the user what went wrong with the file itself; false when the key
// could not be read, so there is nothing to load.
bool ReportLoad(platform::LoadResult result, const KeyStore& store)
{
    switch (result) {
    case platform::LoadResult::Ok: return true;
    case platform::LoadResult::Missing:
        if (!store.error().empty())
            ShowError("The settings file " + store.path() + " could not be created: " + store.error());
        return true;
    case platform::LoadResult::Corrupt:
        if (store.movedTo().empty())
            ShowError("The settings file " + store.path() + " could not be read (" + store.error() +
                      "). The default settings are used.");
        else
            ShowError("The settings file " + store.path() + " could not be read (" + store.error() +
                      ") and was moved to " + store.movedTo() + ". The default settings are used.");
        return false;
    case platform::LoadResult::Failed:
        ShowError("The settings file " + store.path() + " could not be opened: " + store.error() +
                  ". The default settings are used.");
        return false;
    }
    return false;
}

// One message for the whole load, naming every wrongly typed value, and
// where the file as it was is kept: the next save replaces it.
void ReportWrongKinds(const std::vector<std::string>& names, KeyStore& store)
{
    std::string list;
    for (const std::string& name : names)
        list += (list.empty() ? "'" : ", '") + name + "'";
    std::string text = "Invalid data type for " + list + ". ";
    text += names.size() == 1 ? "It has its default value" : "They have their default values";
    if (const std::string kept = store.copyAside(); !kept.empty())
        text += "; the file as it was is kept as " + kept + ".";
    else
        text += "; the file as it was could not be kept (" + store.error() + ") and is replaced at the next save.";
    ShowError(text);
}

// The text a setting is stored as, for telling whether anything changed.
std::string StoredText(const Setting& setting)
{
    return std::visit(Overloaded{
                          [](int32_t* v) { return std::to_string(*v); },
                          [](std::atomic<int32_t>* v) { return std::to_string(v->load()); },
                          [](bool* v) { return std::string(*v ? "1" : "0"); },
                          [](float* v) { return std::to_string(std::bit_cast<uint32_t>(*v)); },
                      },
                      setting.target);
}

} // namespace

bool SettingInRange(std::string_view name, double value)
{
    for (const Setting& setting : Settings)
        if (name == setting.name)
            return setting.inRange(value);
    return false;
}

std::string SettingsState()
{
    std::string state;
    for (const Setting& setting : Settings)
        state += StoredText(setting) + ";";
    return state;
}

bool SettleBeforeSaving::Tick(const std::string& current)
{
    stillTicks = current == seen ? stillTicks + 1 : 0;
    seen = current;
    return current != written && stillTicks >= settleTicks;
}

void SettleBeforeSaving::Written(const std::string& state)
{
    written = state;
}

bool FitStoredGeometry(const std::vector<ScreenRect>& screens)
{
    const bool wave = FitView(WaveX, WaveY, WaveW, WaveH, screens);
    const bool spect = FitView(SpectX, SpectY, SpectW, SpectH, screens);
    const bool sptm = FitView(SpTmX, SpTmY, SpTmW, SpTmH, screens);
    // The octave and levels views are not part of the default layout: off
    // every screen, such a view alone goes back to its default place.
    if (!FitView(BandsX, BandsY, BandsW, BandsH, screens))
        SetDefaultBandsGeometry();
    if (!FitView(LevelsX, LevelsY, LevelsW, LevelsH, screens))
        SetDefaultLevelsGeometry();
    if (!FitView(DistortionX, DistortionY, DistortionW, DistortionH, screens))
        SetDefaultDistortionGeometry();
    if (!FitView(ResponseX, ResponseY, ResponseW, ResponseH, screens))
        SetDefaultResponseGeometry();
    if (wave && spect && sptm)
        return true;
    SetDefaultGeometry();
    return false;
}

std::string SettingsPath()
{
    return KeyStore::DefaultPath();
}

void RegistryRead()
{
    SetDefaults();
    KeyStore store(SettingsPath());
    if (!ReportLoad(store.load(), store))
        return;
    std::vector<std::string> wrongKinds;
    for (size_t index : ReadOrder) {
        const Setting& setting = Settings[index];
        const std::optional<KeyValue> value = store.value(setting.name);
        if (!value)
            continue;
        const std::optional<double> number = StoredNumber(*value, setting.target);
        if (!number)
            wrongKinds.push_back(setting.name);
        else if (setting.inRange(*number))
            Assign(setting.target, *number);
    }
    if (!wrongKinds.empty())
        ReportWrongKinds(wrongKinds, store);
}

std::string WriteSettings()
{
    KeyStore store(SettingsPath());
    // Reloading keeps whatever else the file holds now. A file that became
    // unreadable meanwhile is moved aside and reported like at start.
    platform::LoadResult result = store.load();
    if (result == platform::LoadResult::Corrupt)
        ReportLoad(result, store);
    for (const Setting& setting : Settings)
        Store(store, setting);
    if (std::string failure = store.save(); !failure.empty())
        return "The settings could not be saved to " + store.path() + ": " + failure;
    return {};
}

void RegistryWrite()
{
    if (const std::string failure = WriteSettings(); !failure.empty())
        ShowError(failure);
}
