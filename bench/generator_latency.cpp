// Measures how long the generator takes to be heard: from OpenWaveOut on
// "Test Headset" to the first non-silent frame on that sink's monitor, with
// the 20 ms capture tick refilling the output as in the program; then, over
// 5 s of steady playing, how far the generated frames run ahead of those
// heard on the monitor.
//
// Needs the private sound server of scripts/soundserver.sh (PULSE_SERVER).
// Prints the median and the spread of 15 runs, and the lead's range.
#include "app/main_ticks.h"
#include "platform/soundserver.h"
#include "platform/timer.h"
#include "platform/wavedev.h"
#include "playback/WaveOut.h"
#include "state/global.h"

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

std::atomic<int64_t> firstSound{0};   // steady clock ticks of the first loud frame, 0 = none yet
std::atomic<uint64_t> heardFrames{0}; // frames heard since the first loud one

void Listen(const int16_t* frames, size_t count)
{
    if (firstSound != 0) {
        heardFrames += count;
        return;
    }
    for (size_t i = 0; i < 2 * count; ++i)
        if (frames[i] > 1000 || frames[i] < -1000) {
            int64_t none = 0;
            firstSound.compare_exchange_strong(none, Clock::now().time_since_epoch().count());
            heardFrames = count - i / 2;
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
// How many milliseconds of generated sine lie ahead of what the monitor has
// heard, sampled every 10 ms over 5 s of playing.
void MeasureLead(int device)
{
    firstSound = 0;
    std::string error;
    if (!OpenWaveOut(device, &error))
        return;
    while (firstSound == 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::seconds(1));
    std::vector<double> leads;
    for (int i = 0; i < 500; ++i) {
        // Frame 0 of the sine is silent: the first loud frame heard is frame 1.
        const double lead = (double(GenSampleCounter) - 1 - double(heardFrames)) / 44.1;
        leads.push_back(lead);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    CloseWaveOut();
    std::sort(leads.begin(), leads.end());
    std::printf("generated ahead of the monitor while playing: min %.1f ms   median %.1f ms   max %.1f ms\n",
                leads.front(), leads[leads.size() / 2], leads.back());
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
    if (!delays.empty()) {
        std::sort(delays.begin(), delays.end());
        std::printf(
            "OpenWaveOut to the first sound on the monitor: median %.1f ms   min %.1f ms   max %.1f ms   (%zu runs)\n",
            delays[delays.size() / 2], delays.front(), delays.back(), delays.size());
    }
    MeasureLead(headset);
    platform::TimeKillEvent(timer);
    GenPlaying = false;
    monitor.reset();
    return delays.empty() ? 1 : 0;
}
