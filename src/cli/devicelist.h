// The devices as the program's own lists show them: playback devices as the
// generator lists them (the default first, names cut to 31 characters),
// recording devices as the main window lists them (the server's order,
// each loopback named after the playback device it carries).
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace cli {

struct DeviceEntry {
    std::string name;        // the server's name, unique
    std::string description; // what the program's list shows
    bool isDefault = false;
};

// Index i is wave-out device id i.
std::vector<DeviceEntry> PlaybackDevices();
std::vector<DeviceEntry> RecordingDevices();

// The index of the device whose server name is `text`, else of the first
// whose description is; none when no device has either.
std::optional<size_t> FindDevice(const std::vector<DeviceEntry>& devices, const std::string& text);

// {"playback": [...], "recording": [...], "dropped_frames": 0}, each entry
// {"name", "description", "default"}.
std::string DevicesJson(const std::vector<DeviceEntry>& playback, const std::vector<DeviceEntry>& recording);

} // namespace cli
