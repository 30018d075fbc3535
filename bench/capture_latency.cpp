// Measures the delay from a tone's start at a playback device to the first
// block in the sample history that holds it, through both capture paths:
// the loopback of "Test Headset" (recording library thread) and the ordinary
// recording device "Test Line In" (wave-in buffers polled by the 20 ms tick).
//
// Needs the private sound server of scripts/soundserver.sh (PULSE_SERVER).
// Prints the median and the spread of 15 runs per path.
#include "app/main_ticks.h"
#include "capture/WaveIn.h"
#include "platform/reclib.h"
#include "platform/soundserver.h"
#include "platform/timer.h"
#include "platform/wavedev.h"
#include "state/global.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {
using Clock = std::chrono::steady_clock;
namespace rec = platform::rec;

std::string Run(const std::string& command)
{
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buf[256];
        while (fgets(buf, sizeof buf, pipe))
            out += buf;
        pclose(pipe);
    }
    return out;
}

double NewestBlockRms()
{
    std::lock_guard<std::mutex> guard(DataLock);
    double sum = 0;
    for (int f = 0; f < 4410; ++f)
        sum += double(Sample(1, f)) * Sample(1, f);
    return std::sqrt(sum / 4410);
}

bool WaitForSilence()
{
    const auto until = Clock::now() + std::chrono::seconds(3);
    while (Clock::now() < until) {
        if (NewestBlockRms() < 50)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

// One run: start a tone at the sink, wait for the first block holding it.
double MeasureOnceMs()
{
    WaitForSilence();
    const auto start = Clock::now();
    const std::string module = Run("pactl load-module module-sine sink=test_headset frequency=1000");
    double delayMs = -1;
    while (Clock::now() - start < std::chrono::seconds(2)) {
        if (NewestBlockRms() > 500) {
            delayMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    Run("pactl unload-module " + module);
    return delayMs;
}

void Report(const char* path, std::vector<double> delays)
{
    std::sort(delays.begin(), delays.end());
    std::printf("%-28s median %6.1f ms   min %6.1f ms   max %6.1f ms   (%zu runs)\n", path, delays[delays.size() / 2],
                delays.front(), delays.back(), delays.size());
}

std::vector<double> Measure(int runs)
{
    std::vector<double> delays;
    for (int i = 0; i < runs; ++i) {
        const double d = MeasureOnceMs();
        if (d >= 0)
            delays.push_back(d);
    }
    return delays;
}

int FindRecordingDevice(const std::string& name, uint32_t flag)
{
    rec::DeviceInfo info;
    for (int d = 1; rec::RecordGetDeviceInfo(d, &info); ++d)
        if (info.name == name && (info.flags & flag) == flag)
            return d;
    return -1;
}

int FindWaveIn(const std::string& name)
{
    platform::WaveCaps caps;
    for (int id = 0; id < platform::WaveInGetNumDevs(); ++id)
        if (platform::WaveInGetDevCaps(id, &caps) == platform::MMSYSERR_NOERROR && caps.productName == name)
            return id;
    return -1;
}
} // namespace

int main()
{
    if (!std::getenv("PULSE_SERVER") || !platform::Server().connected()) {
        std::printf("capture_latency: no private sound server (run scripts/soundserver.sh start DIR and set "
                    "PULSE_SERVER)\n");
        return 0;
    }
    constexpr int Runs = 15;
    Started = true;

    // Loopback path.
    const int monitor = FindRecordingDevice("Test Headset", rec::DEVICE_LOOPBACK);
    if (monitor > 0 && rec::RecordInit(monitor)) {
        Loopback = true;
        RecChannel = rec::RecordStart(44100, 2, 0, RecordProc, nullptr);
        const std::vector<double> delays = Measure(Runs);
        rec::RecordFree();
        Loopback = false;
        if (!delays.empty())
            Report("loopback (Test Headset)", delays);
    }

    // Wave-in path.
    const int lineIn = FindWaveIn("Test Line In");
    if (lineIn >= 0) {
        WaveInOpenDev(lineIn);
        const uint32_t timer = platform::TimeSetEvent(20, CaptureTick, nullptr);
        const std::vector<double> delays = Measure(Runs);
        platform::TimeKillEvent(timer);
        WaveInClose();
        if (!delays.empty())
            Report("wave-in (Test Line In)", delays);
    }
    rec::Free();
    return 0;
}
