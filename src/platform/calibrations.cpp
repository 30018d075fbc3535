#include "platform/calibrations.h"

#include "platform/keystore.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include <sys/stat.h>

namespace platform {
namespace {

constexpr std::string_view FileName = "SonalyxCalibration.reg";
// Far beyond any microphone and sound card; a stored value outside it was
// not written by us and counts as no calibration.
constexpr double OffsetLimitDb = 1000.0;

bool NeedsEscape(unsigned char c)
{
    return c == '%' || c == '"' || c == '\\' || c < 0x20 || c == 0x7F || (c >= 'A' && c <= 'Z');
}

std::string EscapedDevice(std::string_view device)
{
    static constexpr char Hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(device.size());
    for (char ch : device) {
        const auto c = static_cast<unsigned char>(ch);
        if (NeedsEscape(c)) {
            out += '%';
            out += Hex[c >> 4];
            out += Hex[c & 0xF];
        } else {
            out += ch;
        }
    }
    return out;
}

std::vector<uint8_t> DoubleBytes(double value)
{
    uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    std::vector<uint8_t> bytes(8);
    for (size_t i = 0; i < 8; ++i, bits >>= 8)
        bytes[i] = static_cast<uint8_t>(bits & 0xFF);
    return bytes;
}

std::optional<double> BytesDouble(const std::vector<uint8_t>& bytes)
{
    if (bytes.size() != 8)
        return std::nullopt;
    uint64_t bits = 0;
    for (size_t i = 8; i-- > 0;)
        bits = (bits << 8) | bytes[i];
    double value = 0.0;
    std::memcpy(&value, &bits, sizeof value);
    if (!std::isfinite(value) || std::fabs(value) > OffsetLimitDb)
        return std::nullopt;
    return value;
}

bool FileExists(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

std::optional<std::vector<uint8_t>> BinaryValue(const KeyStore& store, const std::string& name)
{
    const std::optional<KeyValue> value = store.value(name);
    if (!value || value->kind != ValueKind::Binary)
        return std::nullopt;
    return value->bytes;
}

} // namespace

std::string CalibrationsPath()
{
    const std::string settings = KeyStore::DefaultPath();
    return settings.substr(0, settings.rfind('/') + 1) + std::string(FileName);
}

std::string OffsetValueName(std::string_view device)
{
    return "Offset:" + EscapedDevice(device);
}

std::string MicFileValueName(std::string_view device)
{
    return "MicFile:" + EscapedDevice(device);
}

DeviceCalibration LoadCalibration(std::string_view device, std::string* error)
{
    DeviceCalibration calibration;
    const std::string path = CalibrationsPath();
    // Reading alone creates nothing: a device never calibrated leaves no file.
    if (!FileExists(path))
        return calibration;
    KeyStore store(path, CalibrationKey);
    const LoadResult result = store.load();
    if ((result == LoadResult::Corrupt || result == LoadResult::Failed) && error)
        *error = path + ": " + store.error();
    if (auto offset = BinaryValue(store, OffsetValueName(device)))
        calibration.offsetDb = BytesDouble(*offset);
    if (auto mic = BinaryValue(store, MicFileValueName(device)))
        calibration.micFile.assign(mic->begin(), mic->end());
    return calibration;
}

std::string SaveCalibration(std::string_view device, const DeviceCalibration& calibration)
{
    if (calibration.offsetDb && !BytesDouble(DoubleBytes(*calibration.offsetDb)))
        return "the offset " + std::to_string(*calibration.offsetDb) + " dB is no level a device can stand for";
    KeyStore store(CalibrationsPath(), CalibrationKey);
    if (store.load() == LoadResult::Failed)
        return store.path() + ": " + store.error();
    // An empty value stands for "none": the key file has no way to remove one.
    store.setBinary(OffsetValueName(device),
                    calibration.offsetDb ? DoubleBytes(*calibration.offsetDb) : std::vector<uint8_t>{});
    store.setBinary(MicFileValueName(device),
                    std::vector<uint8_t>(calibration.micFile.begin(), calibration.micFile.end()));
    const std::string why = store.save();
    return why.empty() ? why : store.path() + ": " + why;
}

} // namespace platform
