// Helpers for tests that talk to the private PulseAudio daemon started by
// scripts/test.sh (PULSE_SERVER names it): running pactl, waiting for a
// condition, starting a throw-away daemon of their own, and measuring tones.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

struct CommandResult {
    int exitCode = -1;
    std::string output; // stdout and stderr together
};

// Runs a shell command and captures what it prints.
CommandResult RunCommand(const std::string& command);
// Runs pactl with these arguments against the server in PULSE_SERVER.
CommandResult Pactl(const std::string& arguments);

// True when scripts/test.sh (or the user) named a private server.
bool HavePrivateServer();

// The test headset's loopback carrying the played samples as they are: its
// sink at 100 % and unmuted.
void SetHeadsetLoopbackToUnity();

// Polls done() every few milliseconds until it holds or the timeout passes;
// returns its last result.
bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);

// A module loaded through pactl and unloaded again when this goes out of
// scope (unless unloaded before), so a test leaves the daemon as it found it.
class LoadedModule {
public:
    LoadedModule(const std::string& name, const std::string& arguments);
    ~LoadedModule();
    LoadedModule(const LoadedModule&) = delete;
    LoadedModule& operator=(const LoadedModule&) = delete;

    bool loaded() const { return index_ >= 0; }
    bool unload();

private:
    long index_ = -1;
};

// A steady sine played into a sink by the project's tone player (a process
// of its own, on the program's playback stream), stopped on destruction.
// Works the same on the PulseAudio daemon and on PipeWire, which has no sine
// module.
class TonePlayer {
public:
    TonePlayer(const std::string& sink, double leftHz, double rightHz = 0, double amplitude = 0.5);
    ~TonePlayer();
    TonePlayer(const TonePlayer&) = delete;
    TonePlayer& operator=(const TonePlayer&) = delete;

    // The stream is open and playing.
    bool playing() const { return pid_ > 0; }

private:
    int pid_ = -1;
};

// Which server the tests run against: "pulseaudio" or "pipewire"
// (SOUND_SERVER, as scripts/test.sh sets it).
std::string SoundServerKind();

// A second private daemon of the test's own, in a temporary directory, for
// tests that stop and restart a server. Stopped and removed on destruction.
class ScratchDaemon {
public:
    ScratchDaemon();
    ~ScratchDaemon();
    ScratchDaemon(const ScratchDaemon&) = delete;
    ScratchDaemon& operator=(const ScratchDaemon&) = delete;

    bool start();
    void stop();
    const std::string& address() const { return address_; } // "unix:DIR/native"

private:
    std::string dir_;
    std::string address_;
};

// Interleaved stereo frames gathered from a capture callback on another
// thread.
class FrameCollector {
public:
    void add(const int16_t* frames, size_t frameCount);
    // Copy of one channel (0 = left, 1 = right) so far.
    std::vector<int16_t> channel(int index) const;
    size_t frameCount() const;
    // Frames after the first one whose magnitude passes the threshold.
    size_t framesSinceSignal(int threshold) const;

private:
    mutable std::mutex lock_;
    std::vector<int16_t> frames_;
};

// Frequency of the strongest tone in samples, from the rising zero crossings
// after the signal starts (first sample above threshold) up to maxSamples of
// them; 0 when there is no signal. A period over 1.5 times the median (a
// dropout) is left out.
double ToneFrequency(const std::vector<int16_t>& samples, int rate, int threshold, size_t maxSamples);

// Largest magnitude in the samples.
int PeakLevel(const std::vector<int16_t>& samples);

// Writes interleaved 16-bit stereo frames at 44100 Hz as a PCM WAV file, for
// paplay to play into a test device.
void WriteStereoWav(const std::string& path, const std::vector<int16_t>& interleaved);

// A shell command (paplay, parec) run on a thread of its own; the destructor
// waits until it ends.
class BackgroundCommand {
public:
    explicit BackgroundCommand(std::string command);
    ~BackgroundCommand();
    BackgroundCommand(const BackgroundCommand&) = delete;
    BackgroundCommand& operator=(const BackgroundCommand&) = delete;

private:
    std::thread thread_;
};

// Path of a file in the source tree (e.g. "scripts/soundserver.sh").
std::string SourcePath(const std::string& relative);

} // namespace testsupport
