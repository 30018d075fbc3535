#include "app/settings.h"

#include "platform/dialogs.h"
#include "platform/keystore.h"
#include "state/global.h"

#include <array>
#include <bit>
#include <cmath>
#include <limits>
#include <variant>

namespace {

using platform::KeyStore;
using platform::KeyValue;
using platform::ValueKind;

// The variable a value is loaded into; its type decides the stored kind:
// integers and bools are dwords, floats 8-byte binary doubles.
using Target = std::variant<int32_t*, std::atomic<int32_t>*, bool*, float*>;

struct Setting {
    const char* name;
    Target target;
};

// In the order in which they are saved. The names are stored exactly like
// this, "Hight" included. Values added later come after the first 24, so
// an older file (without them) loads as before and keeps their defaults.
const std::array<Setting, 25> Settings{{
    {"IsInstalled", &IsInstalled},
    {"Light Background", &LightBackground},
    {"Window Function", &WindowFunction},
    {"KaSpTm", &KaSpTm},
    {"FormWave X", &WaveX},
    {"FormWave Y", &WaveY},
    {"FormWave Width", &WaveW},
    {"FormWave Hight", &WaveH},
    {"FormWave RangeX", &WaveRangeX},
    {"FormWave RangeY", &WaveRangeY},
    {"FormWave Show", &WaveShow},
    {"FormSpect X", &SpectX},
    {"FormSpect Y", &SpectY},
    {"FormSpect Width", &SpectW},
    {"FormSpect Hight", &SpectH},
    {"FormSpect RangeX", &SpectRangeX},
    {"FormSpect RangeY", &SpectRangeY},
    {"FormSpect IsLn", &SpectIsLn},
    {"FormSpect Show", &SpectShow},
    {"FormSpTm X", &SpTmX},
    {"FormSpTm Y", &SpTmY},
    {"FormSpTm Width", &SpTmW},
    {"FormSpTm Hight", &SpTmH},
    {"FormSpTm Show", &SpTmShow},
    {"FormSpect Peak", &SpectShowPeak},
}};

// The load reads "Window Function" before "Light Background"; otherwise it
// follows the save order. The order matters when a wrongly typed value stops it.
constexpr std::array<size_t, 25> ReadOrder{0,  2,  1,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12,
                                           13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24};

template <class... Fs>
struct Overloaded : Fs... {
    using Fs::operator()...;
};

void SetDefaults()
{
    // IsInstalled and LightBackground keep their start values.
    WindowFunction = 1;
    KaSpTm = 10;
    WaveX = 0, WaveY = 100, WaveW = 310, WaveH = 270;
    WaveRangeX = 4410, WaveRangeY = 20000;
    WaveShow = true;
    SpectX = 0, SpectY = 370, SpectW = 310, SpectH = 270;
    SpectRangeX = 5000, SpectRangeY = 2;
    SpectIsLn = true, SpectShow = true, SpectShowPeak = false;
    SpTmX = 298, SpTmY = 100, SpTmW = 500, SpTmH = 540;
    SpTmShow = true;
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

// Stores the value in its variable; false when it has the wrong kind.
bool Load(const KeyValue& value, const Target& target)
{
    if (std::holds_alternative<float*>(target)) {
        if (value.kind != ValueKind::Binary || value.bytes.size() != 8)
            return false;
        *std::get<float*>(target) = NarrowToFloat(DoubleFromLittleEndian(value.bytes));
        return true;
    }
    if (value.kind != ValueKind::Dword)
        return false;
    const auto asSigned = static_cast<int32_t>(value.dword);
    std::visit(Overloaded{
                   [&](int32_t* v) { *v = asSigned; },
                   [&](std::atomic<int32_t>* v) { v->store(asSigned); },
                   [&](bool* v) { *v = value.dword != 0; },
                   [](float*) {},
               },
               target);
    return true;
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

} // namespace

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
    for (size_t index : ReadOrder) {
        const Setting& setting = Settings[index];
        std::optional<KeyValue> value = store.value(setting.name);
        if (value && !Load(*value, setting.target)) {
            ShowError("Invalid data type for '" + std::string(setting.name) + "'");
            return;
        }
    }
}

void RegistryWrite()
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
        ShowError("The settings could not be saved to " + store.path() + ": " + failure);
}
