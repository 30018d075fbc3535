// Measures how long the generator takes to be heard: from OpenWaveOut on
// "Test Headset" to the first non-silent frame on that sink's monitor, with
// the 20 ms capture tick refilling the output as in the program.
//
// Needs the private sound server of scripts/soundserver.sh (PULSE_SERVER).
// Prints the median and the spread of 15 runs.
#include "app/global.h"
#include "app/main_ticks.h"
#include "generator/WaveOut.h"
#include "platform/soundserver.h"
#include "platform/timer.h"
#include "platform/wavedev.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {
using Clock = std::chrono::steady_clock;

int FindWaveOut(const std::string& name)
{
    platform::WaveCaps caps;
    for (int id = 0; id < platform::WaveOutGetNumDevs(); ++id)
        if (platform::WaveOutGetDevCaps(id, &caps) == platform::MMSYSERR_NOERROR && caps.productName == name)
            return id;
    return -1;
}

std::atomic<int64_t> firstSound{0}; // steady clock ticks of the first loud frame, 0 = none yet

void Listen(const int16_t* frames, size_t count)
{
    for (size_t i = 0; i < 2 * count; ++i)
        if (frames[i] > 1000 || frames[i] < -1000) {
            int64_t none = 0;
            firstSound.compare_exchange_strong(none, Clock::now().time_since_epoch().count());
            return;
        }
}

double MeasureOnceMs(int device)
{
    firstSound = 0;
    std::string error;
    const auto start = Clock::now();
    if (!OpenWaveOut(device, &error)) {
        std::printf("open failed: %s\n", error.c_str());
        return -1;
    }
    while (firstSound == 0 && Clock::now() - start < std::chrono::seconds(2))
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const int64_t heard = firstSound;
    CloseWaveOut();
    std::this_thread::sleep_for(std::chrono::milliseconds(300)); // silence again
    if (heard == 0)
        return -1;
    return std::chrono::duration<double, std::milli>(Clock::duration(heard) - start.time_since_epoch()).count();
}
} // namespace

int main()
{
    if (!std::getenv("PULSE_SERVER") || !platform::Server().connected()) {
        std::printf("generator_latency: no private sound server (run scripts/soundserver.sh start DIR and set "
                    "PULSE_SERVER)\n");
        return 0;
    }
    const int headset = FindWaveOut("Test Headset");
    if (headset < 0) {
        std::printf("generator_latency: no \"Test Headset\"\n");
        return 1;
    }
    std::string error;
    auto monitor = platform::Server().openCapture("test_headset.monitor", Listen, {}, &error);
    if (!monitor) {
        std::printf("generator_latency: %s\n", error.c_str());
        return 1;
    }
    GenPlaying = true;
    GenSine = true;
    FreqLeft = 1000;
    FreqRight = 1000;
    const uint32_t timer = platform::TimeSetEvent(20, CaptureTick, nullptr);
    std::vector<double> delays;
    for (int run = 0; run < 15; ++run)
        if (const double d = MeasureOnceMs(headset); d >= 0)
            delays.push_back(d);
    platform::TimeKillEvent(timer);
    GenPlaying = false;
    monitor.reset();
    if (delays.empty())
        return 1;
    std::sort(delays.begin(), delays.end());
    std::printf("OpenWaveOut to the first sound on the monitor: median %.1f ms   min %.1f ms   max %.1f ms   (%zu runs)\n",
                delays[delays.size() / 2], delays.front(), delays.back(), delays.size());
    return 0;
}
