// The generator's engine playing to one device for the measuring commands:
// the noise for "bands", the test tone for "distortion". The engine is
// refilled every 20 ms on a thread of its own, as the capture tick refills
// it in the program.
#pragma once

#include "cli/options.h"

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace cli {

// What the engine plays.
struct PlayedSound {
    enum class Kind { PinkNoise, WhiteNoise, TestTone } kind = Kind::PinkNoise;
    double toneHz = 997.0;  // TestTone: its frequency
    double toneDbfs = -6.0; // TestTone: its level (0 dBFS: a full-scale sine)
};

PlayedSound NoiseSound(Signal signal);
PlayedSound ToneSound(double hz, double dbfs);

class Player {
public:
    Player() = default;
    ~Player() { Stop(); }
    Player(const Player&) = delete;
    Player& operator=(const Player&) = delete;

    // False with *error set when the device could not be opened.
    bool Start(int deviceId, const PlayedSound& sound, std::string* error);
    // Stops and closes the device, and leaves the engine's flags as a
    // stopped generator has them.
    void Stop();

private:
    void RefillLoop();

    std::mutex lock_;
    std::condition_variable wake_;
    bool refilling_ = false; // under lock_
    std::thread refill_;
};

} // namespace cli
