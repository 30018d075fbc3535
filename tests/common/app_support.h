// Runs the real main window and views inside a test: a private settings
// folder, messages recorded instead of shown, shared state reset, forms
// created in start-up order and destroyed at the end.
#pragma once

#include "support/inprocess_server.h"

#include <QString>
#include <QTemporaryDir>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class AppHarness {
public:
    // stopInfoTimer: the test calls TimerInfoTimer itself.
    explicit AppHarness(bool stopInfoTimer);
    ~AppHarness();

    std::vector<std::string> messages;
    QTemporaryDir configDir;

    // Drives the 100 ms tick until the first activation is done; returns the
    // number of ticks it took (0 when it did not happen within maxTicks).
    int TicksUntilStarted(int maxTicks = 10);
};

// Resets the shared state that start-up does not set itself.
void ResetSharedState();

// Installs an in-process sound server with the test microphone playing
// `tone` and the test speakers, both the defaults. The program owns it.
platform::InProcessServer* InstallMicAndSpeakers(platform::SignalFn tone);

// Processes events until cond() holds or timeoutMs passes.
bool WaitFor(const std::function<bool()>& cond, int timeoutMs);

// ---- the running program's analysis, for tests of live capture ----------

// The strongest bin of slice 0 of a channel (1 or 2).
int PeakBin(int channel);
// Blocks analysed so far (the spectrogram's block count).
int32_t BlocksSoFar();
// Waits until `count` further blocks have been analysed.
bool WaitForBlocks(int count, int timeoutMs = 3000);
// While capture is held (paused): waits until a capture tick that began
// after the call has run and handles what the ticks before it posted. Such a
// tick raises the Tag and, stopped at the gate, leaves it raised; ticks run
// one after another, so every tick begun before, and a block in flight with
// it, has ended by then.
bool WaitForAHeldCaptureTick(int timeoutMs = 2000);
// While capture is held on the wave-in device: waits until the device has
// filled both buffers and a tick has run since, which would have taken them
// had capture not been held.
bool WaitForHeldWaveInBlocks(int timeoutMs = 2000);
// Waits until `timer` has fired `ticks` more times.
class QTimer;
bool WaitForTimerTicks(QTimer* timer, int ticks, int timeoutMs = 2000);
// Chooses a recording device in the main window by its listed name.
bool ChooseSource(const QString& device);
