#include "capture/devices.h"

#include "platform/reclib.h"
#include "platform/wavedev.h"

namespace rec = platform::rec;

namespace {
constexpr int NameKeyChars = 31;

std::string NameKey(const std::string& name)
{
    return platform::CutChars(name, NameKeyChars);
}

// The last id in the list whose name matches the key, or -1.
int32_t LastMatch(const std::vector<std::string>& names, const std::string& key)
{
    int32_t match = -1;
    for (size_t id = 0; id < names.size(); ++id)
        if (NameKey(names[id]) == key)
            match = static_cast<int32_t>(id);
    return match;
}
} // namespace

int32_t TableEntry(const std::vector<int32_t>& table, int device)
{
    if (device < 0 || static_cast<size_t>(device) >= table.size())
        return -1;
    return table[device];
}

DeviceMatch MatchDevices(const std::vector<RecordingDevice>& devices, const std::vector<std::string>& waveInNames,
                         const std::vector<std::string>& waveOutNames)
{
    DeviceMatch m;
    m.devWaveIn.assign(devices.size() + 1, -1);
    m.devWaveOut.assign(devices.size() + 1, -1);
    for (size_t i = 0; i < devices.size(); ++i) {
        const int d = static_cast<int>(i) + 1;
        const RecordingDevice& dev = devices[i];
        const std::string key = NameKey(dev.name);
        if (dev.flags & rec::DEVICE_ENABLED) {
            m.comboDevices.push_back(d);
            m.comboNames.push_back(dev.name);
        }
        if (!(dev.flags & rec::DEVICE_LOOPBACK)) {
            m.devWaveIn[d] = LastMatch(waveInNames, key);
        } else {
            m.devWaveOut[d] = LastMatch(waveOutNames, key);
            if (m.devWaveOut[d] == 0)
                m.playbackLoopDev = d;
        }
        if (dev.flags & rec::DEVICE_DEFAULT) {
            m.defaultRecDev = d;
            m.defaultComboIndex = (dev.flags & rec::DEVICE_ENABLED) ? static_cast<int>(m.comboDevices.size()) - 1 : -1;
        }
    }
    return m;
}
