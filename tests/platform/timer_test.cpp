// The periodic timer: ticks arrive, a kill stops them and waits for a
// running tick, a late tick is not made up for. Bounds are generous: only
// lower bounds on elapsed time (a sleep never ends early) are asserted.
#include "platform/timer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

using namespace platform;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

template <class Predicate>
bool WaitFor(Predicate done, std::chrono::milliseconds limit = 10s)
{
    const auto end = Clock::now() + limit;
    while (!done()) {
        if (Clock::now() > end)
            return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

void Count(uint32_t, void* user)
{
    static_cast<std::atomic<int>*>(user)->fetch_add(1);
}

// Waits until a fresh timer of `periodMs` has ticked `ticks` times: a timer
// of that period still running would have ticked meanwhile as well.
void LetATimerOfThePeriodTick(unsigned periodMs, int ticks)
{
    std::atomic<int> witness{0};
    const uint32_t id = TimeSetEvent(periodMs, Count, &witness);
    ASSERT_NE(id, 0u);
    EXPECT_TRUE(WaitFor([&] { return witness >= ticks; }));
    TimeKillEvent(id);
}

TEST(Timer, TicksUntilKilled)
{
    std::atomic<int> ticks{0};
    const uint32_t id = TimeSetEvent(5, Count, &ticks);
    ASSERT_NE(id, 0u);
    ASSERT_TRUE(WaitFor([&] { return ticks >= 5; }));
    ASSERT_TRUE(TimeKillEvent(id));
    const int afterKill = ticks;
    LetATimerOfThePeriodTick(5, 3);
    EXPECT_EQ(ticks, afterKill);
    EXPECT_FALSE(TimeKillEvent(id)); // already gone
}

TEST(Timer, RefusesBadArgumentsAndUnknownIds)
{
    std::atomic<int> ticks{0};
    EXPECT_EQ(TimeSetEvent(0, Count, &ticks), 0u);
    EXPECT_EQ(TimeSetEvent(20, nullptr, nullptr), 0u);
    EXPECT_FALSE(TimeKillEvent(0));
    EXPECT_FALSE(TimeKillEvent(123456));
}

struct SlowTick {
    std::atomic<bool> inTick{false};
    std::atomic<bool> finished{false};
};

void Slow(uint32_t, void* user)
{
    auto& state = *static_cast<SlowTick*>(user);
    state.inTick = true;
    std::this_thread::sleep_for(100ms);
    state.finished = true;
}

TEST(Timer, KillWaitsForTheRunningTick)
{
    SlowTick state;
    const uint32_t id = TimeSetEvent(1, Slow, &state);
    ASSERT_TRUE(WaitFor([&] { return state.inTick.load(); }));
    ASSERT_TRUE(TimeKillEvent(id));
    EXPECT_TRUE(state.finished);
}

struct SelfKill {
    std::atomic<uint32_t> id{0};
    std::atomic<int> ticks{0};
    std::atomic<bool> killed{false};
};

void KillItself(uint32_t id, void* user)
{
    auto& state = *static_cast<SelfKill*>(user);
    state.ticks++;
    state.killed = TimeKillEvent(id);
}

TEST(Timer, ATickMayKillItsOwnTimer)
{
    SelfKill state;
    state.id = TimeSetEvent(2, KillItself, &state);
    ASSERT_TRUE(WaitFor([&] { return state.killed.load(); }));
    LetATimerOfThePeriodTick(2, 3);
    EXPECT_EQ(state.ticks, 1);
    EXPECT_FALSE(TimeKillEvent(state.id));
}

struct Stamps {
    std::atomic<int> count{0};
    Clock::time_point at[6];
};

void StallFirst(uint32_t, void* user)
{
    auto& stamps = *static_cast<Stamps*>(user);
    const int n = stamps.count;
    if (n >= 6)
        return;
    stamps.at[n] = Clock::now();
    stamps.count = n + 1;
    if (n == 0)
        std::this_thread::sleep_for(200ms); // twenty periods missed
}

TEST(Timer, MissedDeadlinesAreSkippedNotMadeUp)
{
    Stamps stamps;
    const uint32_t id = TimeSetEvent(10, StallFirst, &stamps);
    ASSERT_TRUE(WaitFor([&] { return stamps.count >= 6; }));
    ASSERT_TRUE(TimeKillEvent(id));
    // Made-up ticks would follow each other at once; skipped ones leave at
    // least a period between the ticks after the stall.
    EXPECT_GE(stamps.at[5] - stamps.at[1], 25ms);
}

} // namespace
