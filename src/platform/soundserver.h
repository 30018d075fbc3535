// The sound server as the rest of the program sees it: lists of sources and
// sinks with their descriptions, defaults and monitor relation, capture and
// playback streams of 16-bit stereo at 44100 Hz, source and stream volumes,
// and a change counter that moves whenever the device set changes.
//
// Two implementations: PulseAudio (the program and the integration tests)
// and an in-process server for unit tests that scripts devices and faults.
// No Qt in here.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform {

inline constexpr int StreamRate = 44100;
inline constexpr int StreamChannels = 2;
inline constexpr int FrameBytes = 4; // interleaved signed 16-bit little-endian, left first

struct SourceInfo {
    std::string name;          // server's name, unique key
    std::string description;   // what a user sees ("Test Microphone")
    bool isMonitor = false;    // a sink's monitor (loopback)
    std::string monitorOfSink; // name of the sink, when isMonitor
    bool isDefault = false;    // the server's default source
};

struct SinkInfo {
    std::string name;
    std::string description;
    bool isDefault = false;
};

// The callbacks below run on the server's own thread. They must not call
// back into the server synchronously (open or close a stream, set or read a
// volume): those wait for that very thread. For the same reason a thread
// that opens or closes a stream or sets or reads a volume must not hold a lock
// that an open stream's callbacks take; the one exception is the stream being
// opened, whose callbacks wait until the open has returned. The lists,
// changeCount(), connected() and sourceVolume() never wait.
// Called on the server's thread with interleaved stereo frames.
using CaptureCallback = std::function<void(const int16_t* frames, size_t frameCount)>;
// Called on the server's thread when a stream ends without being closed
// (device removed, server gone). The stream delivers nothing afterwards.
using StreamFailureCallback = std::function<void(const std::string& why)>;
// Called on the server's thread to fill up to maxFrames interleaved frames;
// returns the number of frames written. A stream plays what it was given
// and asks again; if it runs out before more comes, it plays silence and
// counts an underrun.
using PlaybackCallback = std::function<size_t(int16_t* frames, size_t maxFrames)>;

// One reading of a stream's clock, as the server reported it at the moment
// `at`. `queueFrame` is the stream's own position: frames the server has
// taken from a playback stream, or put into a capture stream (the first frame
// is frame 0). `frame` is the frame the device plays or records at that
// moment: the queue position less the sink's latency for playback, plus the
// source's latency for capture. A sink's monitor gets each frame when the sink
// takes it, not when it is heard, so the queue position is what relates a
// playback stream to a capture of its sink's monitor.
struct StreamClock {
    double frame = 0;
    double queueFrame = 0;
    std::chrono::steady_clock::time_point at;
};

// Closing a stream = destroying it. After the destructor returns no callback
// of that stream runs any more.
class CaptureStream {
public:
    virtual ~CaptureStream() = default;
    // Frames the server lost on this stream before they reached the program
    // (its buffer overflowed, or it skipped ahead and left a hole); never
    // goes back. Any thread.
    virtual uint64_t droppedFrames() const { return 0; }
    // The frame being recorded at the source now; empty while the server has
    // not told yet, and for servers that cannot tell. Not on the server's
    // thread.
    virtual std::optional<StreamClock> clock() { return std::nullopt; }
};

class PlaybackStream {
public:
    virtual ~PlaybackStream() = default;
    // Stream volume as 0.0-1.0 per channel (left, right).
    virtual bool setVolume(float left, float right) = 0;
    virtual bool volume(float& left, float& right) = 0;
    // Times the server ran out of this stream's data and played silence in
    // its place; never goes back. Any thread.
    virtual uint64_t underruns() const { return 0; }
    // The frame being played at the sink now (the first frame written is
    // frame 0); empty as for CaptureStream::clock(). Not on the server's
    // thread.
    virtual std::optional<StreamClock> clock() { return std::nullopt; }
};

class SoundServer {
public:
    virtual ~SoundServer() = default;

    virtual bool connected() = 0;
    // Version of the client library actually loaded, as (major << 16 | minor);
    // and the one the program was built against.
    virtual uint32_t libraryVersion() = 0;
    virtual uint32_t builtVersion() = 0;

    // Lists in the server's own order (by index).
    virtual std::vector<SourceInfo> sources() = 0;
    virtual std::vector<SinkInfo> sinks() = 0;
    // Moves whenever the lists change: a source or sink added or removed, a
    // description or monitor relation changed, another default. A volume
    // change does not move it.
    virtual uint64_t changeCount() = 0;

    // Opens a capture stream on a source. On failure returns null and sets
    // *error to a text a user can read.
    virtual std::unique_ptr<CaptureStream> openCapture(const std::string& source, CaptureCallback onData,
                                                       StreamFailureCallback onFailure, std::string* error) = 0;
    virtual std::unique_ptr<PlaybackStream> openPlayback(const std::string& sink, PlaybackCallback fill,
                                                         StreamFailureCallback onFailure, std::string* error) = 0;

    // Source volume as 0.0-1.0 (the average over its channels; setting it
    // sets all channels). Empty / false when the source does not exist.
    virtual std::optional<float> sourceVolume(const std::string& source) = 0;
    virtual bool setSourceVolume(const std::string& source, float level) = 0;
};

// The server the program uses. Created on first use as a PulseAudio client
// unless a test installed another one first.
SoundServer& Server();
void SetServer(std::unique_ptr<SoundServer> server);
// Tears the current server down (tests, program end).
void ResetServer();

std::unique_ptr<SoundServer> CreatePulseServer();

// ---- failures ----------------------------------------------------------

// Why the streams end when the whole server goes away. Their owners say
// nothing about it: the views' captions say so until the server is back.
inline constexpr const char* ServerGoneText = "The sound server is not reachable";

// Why a stream ends when the server refused one of its reads or writes,
// with the server's own text for it. Its device and the server are still
// there, so nothing else tells the user: the stream's owner does
// (ReportStreamFailure).
std::string ReadFailureText(const std::string& source, const std::string& serverText);
std::string WriteFailureText(const std::string& sink, const std::string& serverText);
// Tells the user why a stream ended by itself when that was a refused read
// or write (a vanished device is told by the program's device watch, a
// vanished server by the captions). Any thread: the message is posted.
void ReportStreamFailure(const std::string& why);
// True for the stream ends ReportStreamFailure tells the user of, so that
// nothing else tells them again.
bool IsReportedStreamFailure(const std::string& why);

// A request of the server that failed (the subscription to device events,
// the reading of the device lists). A failure there is mostly passing (the
// server busy with a device that is coming or going), so the request is
// tried again; the user is told, once, when it keeps failing, with the
// server's text for the last failure. Any thread.
// What the user is told when one of them keeps failing.
inline constexpr const char* SubscriptionFailureText = "The sound server does not report changes of its devices";
inline constexpr const char* ListFailureText = "The sound server's list of devices could not be read";

class RequestRetry {
public:
    // Failures in a row after which the user is told.
    static constexpr int ReportAfter = 3;

    // `failureText` is said to the user, followed by the server's text.
    explicit RequestRetry(std::string failureText);
    // Counts a failed attempt; posts the message when this is the
    // ReportAfter-th in a row (and not again until a success).
    void failed(const std::string& serverText);
    void succeeded();
    int failuresInARow() const { return failures_.load(); }

private:
    const std::string failureText_;
    std::atomic<int> failures_{0};
};
// A PulseAudio client of the server at this address ("unix:/path/native");
// an empty address means the default (PULSE_SERVER, else the session's).
std::unique_ptr<SoundServer> CreatePulseServer(const std::string& serverAddress);

} // namespace platform
