#include "platform/timer.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;

// What a timer's thread shares with the code that kills it. The thread
// sleeps on the condition variable so that a kill wakes it at once instead
// of after the rest of a period.
struct TimerState {
    std::mutex lock;
    std::condition_variable wake;
    bool stopping = false; // under lock
    std::thread thread;    // touched only by TimeSetEvent and TimeKillEvent
};

struct TimerTable {
    std::mutex lock;
    std::map<uint32_t, std::shared_ptr<TimerState>> timers;
    uint32_t nextId = 1;
};

// Never destroyed: a timer still running at exit must not have its thread
// object destroyed while joinable.
TimerTable& Timers()
{
    static auto* table = new TimerTable;
    return *table;
}

// The first deadline after `now` on the grid start + k * period. Deadlines
// that passed while a tick ran are skipped, not made up for.
Clock::time_point NextDeadline(Clock::time_point deadline, Clock::duration period, Clock::time_point now)
{
    deadline += period;
    if (deadline <= now)
        deadline += period * ((now - deadline) / period + 1);
    return deadline;
}

void RunTimer(const std::shared_ptr<TimerState>& state, uint32_t id, Clock::duration period, TimerProc proc, void* user)
{
    Clock::time_point deadline = Clock::now() + period;
    for (;;) {
        {
            std::unique_lock<std::mutex> guard(state->lock);
            if (state->wake.wait_until(guard, deadline, [&] { return state->stopping; }))
                return;
        }
        proc(id, user);
        deadline = NextDeadline(deadline, period, Clock::now());
    }
}

uint32_t TakeId(TimerTable& table)
{
    uint32_t id = table.nextId++;
    while (id == 0 || table.timers.count(id))
        id = table.nextId++;
    return id;
}

} // namespace

uint32_t TimeSetEvent(unsigned periodMs, TimerProc proc, void* user)
{
    if (periodMs == 0 || !proc)
        return 0;
    TimerTable& table = Timers();
    std::lock_guard<std::mutex> guard(table.lock);
    const uint32_t id = TakeId(table);
    auto state = std::make_shared<TimerState>();
    // The thread starts under the table lock, so a kill of this id (which
    // needs the lock) always finds the thread object set.
    state->thread = std::thread(RunTimer, state, id, std::chrono::milliseconds(periodMs), proc, user);
    table.timers[id] = state;
    return id;
}

bool TimeKillEvent(uint32_t timerId)
{
    std::shared_ptr<TimerState> state;
    {
        TimerTable& table = Timers();
        std::lock_guard<std::mutex> guard(table.lock);
        auto it = table.timers.find(timerId);
        if (it == table.timers.end())
            return false;
        state = std::move(it->second);
        table.timers.erase(it);
    }
    {
        std::lock_guard<std::mutex> guard(state->lock);
        state->stopping = true;
    }
    state->wake.notify_all();
    if (state->thread.get_id() == std::this_thread::get_id())
        state->thread.detach(); // killed from its own tick: the loop ends when the tick returns
    else
        state->thread.join();
    return true;
}

} // namespace platform
