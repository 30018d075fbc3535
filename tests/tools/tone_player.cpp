// Plays a steady sine into a sink until it is stopped (SIGTERM, SIGINT), on
// the program's own playback stream: a test tone for servers without a sine
// module of their own (PipeWire's PulseAudio service), and one that never
// underruns as a shell pipe can.
//
//   tone_player SINK LEFT_HZ [RIGHT_HZ [AMPLITUDE]]    amplitude 0 ... 1, default 0.5
//
// Prints "playing" once the stream is open; exits 1 when it cannot open it.
#include "platform/soundserver.h"

#include <atomic>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

namespace {
std::atomic<bool> stopRequested{false};
void Stop(int)
{
    stopRequested = true;
}
} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s SINK LEFT_HZ [RIGHT_HZ [AMPLITUDE]]\n", argv[0]);
        return 2;
    }
    const std::string sink = argv[1];
    const double left = std::atof(argv[2]);
    const double right = argc > 3 ? std::atof(argv[3]) : left;
    const double amplitude = 32767.0 * (argc > 4 ? std::atof(argv[4]) : 0.5);
    std::signal(SIGTERM, Stop);
    std::signal(SIGINT, Stop);

    uint64_t frame = 0; // touched only by the stream's fill, one thread
    auto fill = [&](int16_t* frames, size_t count) {
        for (size_t i = 0; i < count; ++i, ++frame) {
            const double t = static_cast<double>(frame) / platform::StreamRate;
            frames[2 * i] = static_cast<int16_t>(std::lround(amplitude * std::sin(2 * M_PI * left * t)));
            frames[2 * i + 1] = static_cast<int16_t>(std::lround(amplitude * std::sin(2 * M_PI * right * t)));
        }
        return count;
    };
    std::string error;
    auto stream = platform::Server().openPlayback(sink, fill, {}, &error);
    if (!stream) {
        std::fprintf(stderr, "tone_player: %s\n", error.c_str());
        return 1;
    }
    std::printf("playing\n");
    std::fflush(stdout);
    while (!stopRequested)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    stream.reset();
    platform::ResetServer();
    return 0;
}
