// Settings persistence: the 38 named values of the key
// "Software\Vortan\Sonalyx", kept in the key store file (see
// platform/keystore.h). Integers and bools are dwords; floats are 8-byte
// binary values holding a little-endian IEEE double.
//
// A stored value is loaded only when it is one the program could have
// stored itself (SettingInRange); any other value gets its default, so it is
// neither used nor saved back. Window geometry is only checked for what an X
// display can address here; whether it lies on a screen is decided where the
// views are placed.
#pragma once

#include "analysis/screenfit.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Sets the defaults, then loads every value that exists and is in range. A
// value of the wrong kind keeps its default and the load goes on; one message
// "Invalid data type for '<name>', ..." names them all, and the file as it was
// is copied beside itself (Sonalyx.reg.bad, .bad.1, ...) before any save
// replaces it. UI thread, at start.
void RegistryRead();
// Writes all 38 values in their fixed order, keeping anything else the file
// holds. Empty on success, else the message telling why it failed.
std::string WriteSettings();
// WriteSettings, reporting a failure in a message box. UI thread.
void RegistryWrite();
// Cuts the views' stored geometry to the available screen areas
// (FitToScreens). When one of the three views' geometry fits no screen,
// those three get their default geometry and the result is false: the
// caller then arranges the default layout. The octave view, which that
// layout leaves alone, alone gets its default place when it fits no screen.
bool FitStoredGeometry(const std::vector<ScreenRect>& screens);
// Whether `value` is one the control behind the setting `name` can set
// (for geometry: one an X display can address). Unknown names: false.
bool SettingInRange(std::string_view name, double value);
// The 38 values as they would be stored, in one string, for telling whether
// anything changed since the last save.
std::string SettingsState();

// Decides when changed settings are written: once they differ from what was
// written last and have stayed the same for `settleTicks` ticks in a row, so a
// window being dragged is written once it rests, not at every step.
class SettleBeforeSaving {
public:
    explicit SettleBeforeSaving(int settleTicks) : settleTicks(settleTicks) {}
    // Called at every tick with the current state; true when it is due to be written.
    bool Tick(const std::string& current);
    void Written(const std::string& state);

private:
    int settleTicks;
    int stillTicks = 0;
    std::string seen;
    std::string written;
};
// The settings file in use: read from the environment at each call.
std::string SettingsPath();
