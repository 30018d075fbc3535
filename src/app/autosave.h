// Writes the settings shortly after they change, as well as at close, so
// that a lost display, a crash or a kill loses at most the last couple of
// seconds of what the user set.
#pragma once

#include "app/settings.h"

#include <QObject>
#include <QTimer>

#include <functional>

class SettingsAutosave : public QObject {
public:
    // Every half second `takeLive` copies what lives only in the windows
    // (their geometry) into the shared variables; the settings are written
    // once they differ from what was written last and have rested for a
    // second. The state at construction counts as written.
    SettingsAutosave(std::function<void()> takeLive, QObject* parent);
    // No more writes from here (the close writes for itself).
    void Stop();

private:
    void Tick();

    static constexpr int TickMs = 500;
    std::function<void()> takeLive;
    QTimer timer;
    SettleBeforeSaving settle{2};
    bool writing = false;
    bool failureShown = false;
};
