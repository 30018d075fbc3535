// A periodic timer on its own thread with absolute deadlines, started and
// killed like a multimedia timer. No Qt in here.
#pragma once

#include <cstdint>

namespace platform {

using TimerProc = void (*)(uint32_t timerId, void* user);

// Calls proc every periodMs milliseconds on a thread of its own; returns the
// timer's id (never 0), or 0 on failure. A late tick is not made up for twice:
// deadlines that passed while proc ran are skipped.
uint32_t TimeSetEvent(unsigned periodMs, TimerProc proc, void* user);
// Stops the timer and waits for a running tick to finish (unless called from
// the tick itself). Returns false for an unknown id.
bool TimeKillEvent(uint32_t timerId);

} // namespace platform
