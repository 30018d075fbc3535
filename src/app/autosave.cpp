#include "app/autosave.h"

#include "platform/dialogs.h"

SettingsAutosave::SettingsAutosave(std::function<void()> takeLive_, QObject* parent)
    : QObject(parent), takeLive(std::move(takeLive_))
{
    settle.Written(SettingsState());
    timer.setInterval(TickMs);
    connect(&timer, &QTimer::timeout, this, &SettingsAutosave::Tick);
    timer.start();
}

void SettingsAutosave::Stop()
{
    timer.stop();
}

void SettingsAutosave::Tick()
{
    // A message box of a failed write runs the event loop, and this tick with it.
    if (writing)
        return;
    takeLive();
    const std::string state = SettingsState();
    if (!settle.Tick(state))
        return;
    writing = true;
    const std::string failure = WriteSettings();
    // A failed state is not tried again at every tick: the next change, or
    // the close, tries again.
    settle.Written(state);
    if (!failure.empty() && !failureShown) {
        failureShown = true;
        platform::MessageBox("Sonalyx", failure, platform::MsgIcon::Error);
    }
    writing = false;
}
