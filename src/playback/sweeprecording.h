// Plays the response measurement's sweep through the generator's engine to
// one playback device while recording one source, and keeps the recording
// until the sweep and its silence have arrived. The sound server's stream
// clocks tell where in the recording the sweep's first frame arrives with no
// delay, so that the delay measured from the recording is the path's own,
// the same from one measurement to the next, and not the moment the
// playback happened to start after the capture. No Qt.
#pragma once

#include "measure/sweep.h"
#include "platform/soundserver.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct SweepTake {
    std::vector<int16_t> stereo; // interleaved left, right, from the capture's first frame
    double offsetFrames = 0;     // the recording frame at which the sweep's first frame arrives with no delay
                                 // (from the sound server's stream clocks); 0 when unknown
    bool offsetKnown = false;
};

class SweepRecording {
public:
    // Nothing captured for this long ends the recording as failed.
    static constexpr double NoSamplesSeconds = 5.0;
    // Recorded past the sweep's end where the clocks place it, for a path
    // whose delay the server does not know of (converters, air).
    static constexpr double EndMarginSeconds = 0.25;
    // Recorded past the sweep's end after the engine opened when the clocks
    // say nothing.
    static constexpr double UnknownOffsetMarginSeconds = 1.5;

    SweepRecording() = default;
    ~SweepRecording();
    SweepRecording(const SweepRecording&) = delete;
    SweepRecording& operator=(const SweepRecording&) = delete;

    // Opens a capture of `source` (the server's source name, loopback
    // monitors included) and then the engine on playback device
    // `outDeviceId` (the engine's device id; WAVE_MAPPER for the default)
    // playing `sweep` (both channels). `refillOwnThread`: the recorder
    // refills the engine itself (the command); false when something else
    // does (the program's tick). False with *error set (a text for the user)
    // on failure; nothing is left open then. Waits for the capture's first
    // frames (up to half a second) before the sweep starts, so that the
    // recording holds all of it.
    bool Start(platform::SoundServer& server, const std::string& source, int outDeviceId,
               const measure::ExponentialSweep& sweep, bool refillOwnThread, std::string* error);

    enum class State { Recording, Done, Failed };
    // Call every 20...100 ms from the owner's thread: reads the stream
    // clocks, checks for the end, a vanished device (capture stream ended,
    // playback device gone) and a time-out (nothing captured for 5 s).
    State Poll();
    double Progress() const;   // 0 ... 1
    std::string Error() const; // when Failed: one line naming the cause
    // True when Failed because nothing arrived for NoSamplesSeconds.
    bool TimedOut() const { return timedOut_; }
    SweepTake Take(); // when Done
    // Closes capture and engine, clears GenSweep/GenPlaying and the sweep signal.
    void Stop();

    // The clock readings so far, as offsets (recording frame of the played
    // frame 0), in the order taken.
    std::vector<double> OffsetReadings() const { return offsets_; }
    // The median of the values (the mean of the middle two for an even
    // count); 0 for none.
    static double Median(std::vector<double> values);

private:
    using Clock = std::chrono::steady_clock;

    void Reset(const std::string& source, const measure::ExponentialSweep& sweep);
    bool OpenCapture(platform::SoundServer& server, std::string* error);
    static std::string SinkName(int outDeviceId);
    bool PlaySweep(int outDeviceId, const measure::ExponentialSweep& sweep, bool refillOwnThread, std::string* error);
    void AwaitFirstFrames();
    void OnFrames(const int16_t* frames, std::size_t count);
    void OnCaptureEnded(const std::string& why);
    void ReadClocks();
    uint64_t FramesWanted() const;
    State Fail(const std::string& why);
    void RefillLoop();
    void StopRefilling();

    std::string source_;
    std::string sink_;           // the playback device's server name, for messages
    bool monitorSource_ = false; // a sink's monitor: see ReadClocks()
    std::unique_ptr<platform::CaptureStream> capture_;
    uint64_t totalFrames_ = 0; // the sweep with its silence

    mutable std::mutex lock_; // what the capture's callbacks hand over
    std::vector<int16_t> recorded_;
    bool captureEnded_ = false;
    std::string captureWhy_;

    // The owner's thread only.
    bool armed_ = false; // the engine's sweep flags are ours to clear
    bool engineOpen_ = false;
    uint64_t framesAtEngineOpen_ = 0;
    uint64_t framesSeen_ = 0;
    Clock::time_point lastArrival_;
    std::vector<double> offsets_;
    std::atomic<double> progress_{0.0};
    State state_ = State::Recording;
    std::string error_;
    bool timedOut_ = false;

    std::mutex refillLock_;
    std::condition_variable refillWake_;
    bool refilling_ = false; // under refillLock_
    std::thread refill_;
};
