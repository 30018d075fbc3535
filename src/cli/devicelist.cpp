#include "cli/devicelist.h"

#include "cli/json.h"
#include "platform/reclib.h"
#include "platform/wavedev.h"

namespace cli {

std::vector<DeviceEntry> PlaybackDevices()
{
    std::vector<DeviceEntry> devices;
    for (const platform::SinkInfo& sink : platform::WaveOutDeviceList())
        devices.push_back({sink.name, platform::CutChars(sink.description, platform::MaxPnameChars), sink.isDefault});
    return devices;
}

std::vector<DeviceEntry> RecordingDevices()
{
    namespace rec = platform::rec;
    std::vector<DeviceEntry> devices;
    rec::DeviceInfo info;
    for (int device = 1; rec::RecordGetDeviceInfo(device, &info); ++device)
        devices.push_back({info.driver, info.name, (info.flags & rec::DEVICE_DEFAULT) != 0});
    return devices;
}

std::optional<size_t> FindDevice(const std::vector<DeviceEntry>& devices, const std::string& text)
{
    for (size_t i = 0; i < devices.size(); ++i)
        if (devices[i].name == text)
            return i;
    for (size_t i = 0; i < devices.size(); ++i)
        if (devices[i].description == text)
            return i;
    return std::nullopt;
}

namespace {

std::string EntriesJson(const std::vector<DeviceEntry>& devices)
{
    std::string text = "[";
    for (size_t i = 0; i < devices.size(); ++i) {
        const DeviceEntry& d = devices[i];
        text += (i ? ", " : "") + std::string("{\"name\": ") + JsonString(d.name) +
                ", \"description\": " + JsonString(d.description) +
                ", \"default\": " + (d.isDefault ? "true" : "false") + "}";
    }
    return text + "]";
}

} // namespace

std::string DevicesJson(const std::vector<DeviceEntry>& playback, const std::vector<DeviceEntry>& recording)
{
    return "{\"playback\": " + EntriesJson(playback) + ", \"recording\": " + EntriesJson(recording) +
           ", \"dropped_frames\": 0}\n";
}

} // namespace cli
