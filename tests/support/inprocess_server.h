// A sound server that lives inside the test process. Tests script its
// sources (each with a signal), its sinks (each with a monitor source that
// carries what the sink plays), its defaults and its faults, and drive time
// by hand: pump(frames) runs one server period on the calling thread, which
// plays the role of the server thread.
//
// Thread-safe: the test thread scripts and pumps while other threads (the
// recording library's, a timer's) list devices and open or close streams.
// Callbacks never run under the server's own lock, so a callback may call
// back into the server. No Qt in here.
#pragma once

#include "platform/soundserver.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace platform {

// Produces frameCount interleaved stereo frames of a signal, starting at
// frame `position` (frames counted from when the device was added).
using SignalFn = std::function<void(uint64_t position, int16_t* frames, size_t frameCount)>;

SignalFn Silence();
// A sine per channel; amplitudes in sample units (0 ... 32767).
SignalFn Sine(double freqLeft, double ampLeft, double freqRight, double ampRight);
// Every frame different and predictable: left = low 16 bits of the frame
// position, right = their complement. Lets tests check data byte for byte.
SignalFn CountingSignal();
// The sample values CountingSignal gives for frame `position`.
int16_t CountingLeft(uint64_t position);
int16_t CountingRight(uint64_t position);

class InProcessServer final : public SoundServer {
public:
    InProcessServer();
    ~InProcessServer() override;
    InProcessServer(const InProcessServer&) = delete;
    InProcessServer& operator=(const InProcessServer&) = delete;

    // ---- scripting -------------------------------------------------------
    // The first source that is not a monitor and the first sink become the
    // defaults unless defaults were set. Adding a sink also adds its monitor
    // "<sink>.monitor" to the sources, right behind the sources added so far.
    void addSource(const std::string& name, const std::string& description, SignalFn signal = Silence());
    // `played` is what other programs play into the sink; the sink mixes it
    // with every playback stream opened on it.
    void addSink(const std::string& name, const std::string& description, SignalFn played = Silence());
    void setSourceSignal(const std::string& name, SignalFn signal);
    // An empty name means "no default". A name that is not listed is kept
    // and takes effect once such a device exists.
    void setDefaultSource(const std::string& name);
    void setDefaultSink(const std::string& name);
    // Removing a device fails its streams (failure callback) and moves the
    // change counter. A removed default falls back to the first remaining
    // non-monitor source / first sink. Removing a sink removes its monitor.
    bool removeSource(const std::string& name);
    bool removeSink(const std::string& name);
    // Ends the capture streams on `source` with `why` (failure callback), as
    // another program killing them would; the source stays listed.
    void killCaptureStreams(const std::string& source, const std::string& why);
    // The next open of a stream on `device` fails with `text`.
    void failNextOpen(const std::string& device, const std::string& text);
    // false: the server goes away (every stream fails, lists are empty, opens
    // fail, volumes are unknown). true: it is back with the same devices.
    void setReachable(bool reachable);
    // The next pump() refuses the reads of every capture stream on `source`
    // (or the writes of every playback stream on `sink`): those streams end
    // with ReadFailureText / WriteFailureText and the server's `serverText`.
    void refuseNextRead(const std::string& source, const std::string& serverText);
    void refuseNextWrite(const std::string& sink, const std::string& serverText);
    // The subscription to device events fails `attempts` times in a row: the
    // first now, the others as it is tried again at each pump() (the retry a
    // second later of a real server). Meanwhile changes of the devices do not
    // move changeCount(); once it succeeds the counter moves, so clients read
    // the lists again. The user is told as RequestRetry says.
    void failSubscription(int attempts, const std::string& serverText);
    // The same for reading the device lists: sources() and sinks() keep
    // what they were before the first failure until a read succeeds.
    void failListRequests(int attempts, const std::string& serverText);

    // The server's buffer for the capture streams on `source` overflows: the
    // next `frames` frames that would reach them (from the next pump on,
    // while a stream is open on it) never do, and each stream counts them as
    // dropped.
    void overflowCapture(const std::string& source, size_t frames);

    // Runs one server period: pulls `frames` frames from every playback
    // stream, mixes each sink into its monitor, and delivers `frames` frames
    // of every source to every capture stream open on it. A playback stream
    // that fills less than the period, once it has filled anything, counts
    // an underrun.
    void pump(size_t frames);

    // Versions reported as libraryVersion() / builtVersion().
    void setVersions(uint32_t library, uint32_t built);

    int captureStreamCount(const std::string& source) const;
    int playbackStreamCount(const std::string& sink) const;

    // ---- SoundServer -----------------------------------------------------
    bool connected() override;
    uint32_t libraryVersion() override;
    uint32_t builtVersion() override;
    std::vector<SourceInfo> sources() override;
    std::vector<SinkInfo> sinks() override;
    uint64_t changeCount() override;
    std::unique_ptr<CaptureStream> openCapture(const std::string& source, CaptureCallback onData,
                                               StreamFailureCallback onFailure, std::string* error) override;
    std::unique_ptr<PlaybackStream> openPlayback(const std::string& sink, PlaybackCallback fill,
                                                 StreamFailureCallback onFailure, std::string* error) override;
    std::optional<float> sourceVolume(const std::string& source) override;
    bool setSourceVolume(const std::string& source, float level) override;

    struct Core; // shared with the streams, which may outlive the server object

private:
    void retryRequests();

    std::shared_ptr<Core> core_;
};

} // namespace platform
