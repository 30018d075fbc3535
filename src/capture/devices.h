// Matching the recording library's device list against the wave-in and
// wave-out devices: the match decides whether a recording device is captured
// on the wave-in path or, for a loopback device, through the library.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct RecordingDevice {
    std::string name; // UTF-8
    uint32_t flags = 0;
};

struct DeviceMatch {
    // Indexed by recording-device number (entry 0 unused); -1 = no match.
    std::vector<int32_t> devWaveIn;
    std::vector<int32_t> devWaveOut;
    // The listed (enabled) devices: combo index -> device number, and names.
    std::vector<int> comboDevices;
    std::vector<std::string> comboNames;
    int defaultRecDev = -1;     // device number of the default device, -1 = none
    int defaultComboIndex = -1; // its combo index, -1 when not listed
    int playbackLoopDev = -1;   // loopback device matching wave-out device 0
};

// Devices are numbered from 1 in the order given. Names are compared on their
// first 31 characters; a later wave-in or wave-out id wins over an earlier one.
DeviceMatch MatchDevices(const std::vector<RecordingDevice>& devices, const std::vector<std::string>& waveInNames,
                         const std::vector<std::string>& waveOutNames);

// Table lookup that reads -1 outside the table (device numbers -1, 0, ...).
int32_t TableEntry(const std::vector<int32_t>& table, int device);
