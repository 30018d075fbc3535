// Where the calibrations live: per recording device the offset that turns
// dBFS into dB SPL and the measurement microphone's response file. They are
// kept in a key file of their own beside the settings file
// ($XDG_CONFIG_HOME/Vortan/SonalyxCalibration.reg), so that the settings'
// autosave, which rewrites its own file whole, never races with a
// calibration being stored. The window and sonalyx-measure both read it.
//
// A device is known by the name the program's device list shows for it
// (the main window's recording box; "description" in `sonalyx-measure
// devices`). Any character may appear in it. No Qt in here.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace platform {

inline constexpr std::string_view CalibrationKey = "HKEY_CURRENT_USER\\Software\\Vortan\\Sonalyx\\Calibration";

struct DeviceCalibration {
    std::optional<double> offsetDb; // dB SPL = dBFS + offsetDb; none: the device reads dBFS
    std::string micFile;            // the microphone's response file; empty: none
    bool operator==(const DeviceCalibration&) const = default;
};

// The calibration file beside KeyStore::DefaultPath(); read at each call.
std::string CalibrationsPath();

// The device's calibration; an uncalibrated device (or no file) gives the
// empty one. *error (when given) says why the file could not be read; an
// unreadable file is moved aside as the settings file is.
DeviceCalibration LoadCalibration(std::string_view device, std::string* error = nullptr);
// Stores the device's calibration, leaving every other device's as it is.
// Empty on success, otherwise why it failed (the file is then unchanged).
std::string SaveCalibration(std::string_view device, const DeviceCalibration& calibration);

// The value names a device's offset and microphone file are stored under.
// Names of the key file compare without regard to case and cannot hold line
// ends, so the device's name is written with '%', quotes, backslashes,
// control characters and capital letters as %XX: different devices never
// share a value, and the name stays readable.
std::string OffsetValueName(std::string_view device);
std::string MicFileValueName(std::string_view device);

} // namespace platform
