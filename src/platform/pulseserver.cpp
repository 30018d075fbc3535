// PulseAudio client behind platform::SoundServer.
//
// Threads and locks. libpulse runs on its own thread (pa_threaded_mainloop);
// every libpulse callback below runs there with the main-loop lock held.
// The program's threads take that lock only to open or close a stream, to set
// or read a volume on the server, never to read the device lists: the lists
// and the source volumes are kept current by subscription events on the loop
// thread and published into a snapshot guarded by a small mutex of its own,
// which is all that sources(), sinks(), sourceVolume(), changeCount() and
// connected() touch. So a UI thread that reads the lists while holding one of
// the program's locks can never deadlock with a program callback that waits
// for the same lock on the loop thread.
//
// Program callbacks (capture data, playback fill, failure) run on the loop
// thread with the loop lock held and no other lock of ours. They must not call
// back into the server synchronously (open or close a stream, set or read a
// stream or source volume): those calls wait for the loop thread, which is the
// one running the callback; they refuse with an error when called from it.
// Likewise a thread that closes a stream must not hold a lock that the
// stream's own callbacks take.
//
// Losing the server: lists turn empty, changeCount() moves, open streams get
// their failure callback, and a timer on the loop thread tries to connect
// again once a second until the server answers.
//
// A read or write the server refuses ends that stream with the server's text
// (its owner tells the user). A refused subscription or device-list request
// is tried again a second later (see RequestRetry); the user hears of it when
// it keeps failing.
#include "platform/soundserver.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <stdexcept>
#include <sys/time.h>
#include <utility>

namespace platform {
namespace {

constexpr pa_usec_t ReconnectDelayUs = 1000 * 1000;
constexpr pa_usec_t RequestRetryDelayUs = 1000 * 1000;
constexpr int ConnectTimeoutMs = 3000;
constexpr int StreamOpenTimeoutMs = 5000;
constexpr int OperationTimeoutMs = 3000;
// Capture fragments of 25 ms keep the path from a sink to a captured 100 ms
// block short. Not shorter: on PipeWire the shortest latency any stream asks
// for sets the period of the whole graph on that device, and 10 ms made it
// 256 frames (5.8 ms); a node late for such a period, as happens on a busy
// machine, costs every stream on the device that period, which played
// sound then has as a 256-frame hole. 25 ms gives 1024-frame periods.
constexpr pa_usec_t CaptureFragmentUs = 25 * 1000;
// Playback keeps 200 ms queued at the server itself (with latency adjustment
// the server would keep only part of it in the stream's buffer and count
// the rest as the device's): a refill that comes late on a busy machine is
// taken from there instead of leaving the server without sound.
constexpr pa_usec_t PlaybackTargetUs = 200 * 1000;
// How soon a playback stream that got less than it asked for asks again.
constexpr pa_usec_t PlaybackRetryUs = 10 * 1000;

const char* const NotReachableText = ServerGoneText;

uint32_t ParseVersion(const char* text)
{
    unsigned major = 0;
    unsigned minor = 0;
    if (!text || std::sscanf(text, "%u.%u", &major, &minor) < 1)
        return 0;
    return (major << 16) | (minor & 0xFFFF);
}

pa_sample_spec StreamSpec()
{
    pa_sample_spec spec{};
    spec.format = PA_SAMPLE_S16LE;
    spec.rate = StreamRate;
    spec.channels = StreamChannels;
    return spec;
}

// Volumes are mapped linearly onto the server's volume scale: 0.0 is
// PA_VOLUME_MUTED, 1.0 is PA_VOLUME_NORM (what mixers show as 100 %), so 0.5
// reads as 50 % in pactl and pavucontrol. Values above the norm read as 1.0.
pa_volume_t ToPaVolume(float level)
{
    float clamped = std::clamp(level, 0.0f, 1.0f);
    return static_cast<pa_volume_t>(clamped * PA_VOLUME_NORM + 0.5f);
}

float FromPaVolume(pa_volume_t volume)
{
    return std::min(1.0f, static_cast<float>(volume) / PA_VOLUME_NORM);
}

float AverageLevel(const pa_cvolume& volume)
{
    return FromPaVolume(pa_cvolume_avg(&volume));
}

// ---- the main loop, shared by the server and its streams ----

class Loop {
public:
    Loop()
    {
        loop_ = pa_threaded_mainloop_new();
        if (!loop_)
            throw std::runtime_error("cannot create the sound server's main loop");
        pa_threaded_mainloop_set_name(loop_, "pulse-loop");
        if (pa_threaded_mainloop_start(loop_) < 0) {
            pa_threaded_mainloop_free(loop_);
            throw std::runtime_error("cannot start the sound server's main loop");
        }
    }
    ~Loop()
    {
        pa_threaded_mainloop_stop(loop_);
        pa_threaded_mainloop_free(loop_);
    }
    Loop(const Loop&) = delete;
    Loop& operator=(const Loop&) = delete;

    pa_threaded_mainloop* get() const { return loop_; }
    pa_mainloop_api* api() const { return pa_threaded_mainloop_get_api(loop_); }
    bool inLoopThread() const { return pa_threaded_mainloop_in_thread(loop_) != 0; }
    void signal() const { pa_threaded_mainloop_signal(loop_, 0); }

    // Waits (lock held, released while sleeping) until done() holds or the
    // timeout passes. Everything that can make done() true signals the loop.
    template <typename Done>
    bool waitUntil(Done done, int timeoutMs) const
    {
        struct Expiry {
            const Loop* loop;
            bool expired = false;
        } expiry{this};
        timeval when{};
        gettimeofday(&when, nullptr);
        pa_timeval_add(&when, static_cast<pa_usec_t>(timeoutMs) * 1000);
        auto onExpiry = [](pa_mainloop_api*, pa_time_event*, const timeval*, void* user) {
            auto* e = static_cast<Expiry*>(user);
            e->expired = true;
            e->loop->signal();
        };
        pa_time_event* timer = api()->time_new(api(), &when, onExpiry, &expiry);
        while (!done() && !expiry.expired)
            pa_threaded_mainloop_wait(loop_);
        api()->time_free(timer);
        return done();
    }

private:
    pa_threaded_mainloop* loop_ = nullptr;
};

// Holds the loop lock for a scope. On the loop thread itself the lock is
// already held (callbacks run under it), so nothing is taken there.
class LoopLock {
public:
    explicit LoopLock(const Loop& loop) : loop_(loop), taken_(!loop.inLoopThread())
    {
        if (taken_)
            pa_threaded_mainloop_lock(loop_.get());
    }
    ~LoopLock()
    {
        if (taken_)
            pa_threaded_mainloop_unlock(loop_.get());
    }
    LoopLock(const LoopLock&) = delete;
    LoopLock& operator=(const LoopLock&) = delete;

private:
    const Loop& loop_;
    bool taken_;
};

// Waits for an operation of the server; on timeout the operation is cancelled
// so that its callback, whose data lives on the waiting thread's stack, can
// no longer run. Lock held by the caller.
bool AwaitOperation(const Loop& loop, pa_operation* op, const bool& finished)
{
    if (!op)
        return false;
    bool done = loop.waitUntil([&] { return finished || pa_operation_get_state(op) != PA_OPERATION_RUNNING; },
                               OperationTimeoutMs);
    if (!done || !finished)
        pa_operation_cancel(op);
    pa_operation_unref(op);
    return done && finished;
}

struct SuccessWait {
    const Loop* loop;
    bool finished = false;
    bool success = false;
};

void OnSuccess(pa_context*, int success, void* user)
{
    auto* wait = static_cast<SuccessWait*>(user);
    wait->success = success != 0;
    wait->finished = true;
    wait->loop->signal();
}

std::string ServerErrorText(pa_context* context)
{
    return pa_strerror(pa_context_errno(context));
}

std::string StreamErrorText(pa_context* context, const std::string& device, const char* kind)
{
    if (!context || !PA_CONTEXT_IS_GOOD(pa_context_get_state(context)))
        return NotReachableText;
    int error = pa_context_errno(context);
    if (error == PA_ERR_NOENTITY)
        return "The " + std::string(kind) + " \"" + device + "\" does not exist";
    if (error == PA_ERR_KILLED)
        return "The " + std::string(kind) + " \"" + device + "\" was removed";
    if (error == PA_ERR_CONNECTIONTERMINATED)
        return NotReachableText;
    return "The " + std::string(kind) + " \"" + device + "\" failed: " + pa_strerror(error);
}

// ---- streams ----

// State common to capture and playback: the stream, its failure report and
// the close that guarantees no callback runs afterwards. Guarded by the loop
// lock.
class StreamBase {
protected:
    StreamBase(std::shared_ptr<Loop> loop, std::string device, const char* kind, StreamFailureCallback onFailure)
        : loop_(std::move(loop)), device_(std::move(device)), kind_(kind), onFailure_(std::move(onFailure))
    {
    }

    ~StreamBase() { close(); }

    // Derived streams call this first thing in their destructors, so that no
    // callback runs while their own members are being destroyed.
    void close()
    {
        LoopLock lock(*loop_);
        detach();
    }

    // Makes the 16-bit stereo stream and connects its state callback; then
    // the caller connects the stream itself and calls awaitReady(). Null,
    // with *error set, when the server refuses the stream.
    pa_stream* newStream(pa_context* context, const char* name, std::string* error)
    {
        const pa_sample_spec spec = StreamSpec();
        pa_channel_map map;
        pa_channel_map_init_stereo(&map);
        pa_stream* stream = pa_stream_new(context, name, &spec, &map);
        if (!stream) {
            if (error)
                *error = StreamErrorText(context, device_, kind_);
            return nullptr;
        }
        // A failed stream forgets its context; the error is read from ours.
        context_ = pa_context_ref(context);
        stream_ = stream;
        pa_stream_set_state_callback(stream_, &StreamBase::onState, this);
        return stream;
    }

    bool awaitReady(std::string* error)
    {
        loop_->waitUntil([&] { return pa_stream_get_state(stream_) != PA_STREAM_CREATING; }, StreamOpenTimeoutMs);
        if (pa_stream_get_state(stream_) == PA_STREAM_READY) {
            opened_ = true;
            // Data or requests that came while the opener waited were held
            // back (see delivering()); serve them from the loop thread once
            // the opener has let go of the lock.
            kick_ = loop_->api()->defer_new(loop_->api(), &StreamBase::onKick, this);
            return true;
        }
        if (error) {
            bool timedOut = pa_stream_get_state(stream_) == PA_STREAM_CREATING;
            *error = timedOut ? "The sound server did not answer in time" : failureText();
        }
        return false;
    }

    std::string failureText() const { return StreamErrorText(context_, device_, kind_); }

    // A read or write refused by the server: the stream delivers nothing
    // more, and its owner learns why. Trying the same call again would only
    // fail again (the stream is in error), so the stream ends here. When the
    // connection itself has gone, that is what the owner is told.
    void failOnIo(bool reading)
    {
        if (failed_)
            return;
        failed_ = true;
        pa_stream_set_read_callback(stream_, nullptr, nullptr);
        pa_stream_set_write_callback(stream_, nullptr, nullptr);
        std::string why;
        if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(context_)))
            why = failureText();
        else if (reading)
            why = ReadFailureText(device_, ServerErrorText(context_));
        else
            why = WriteFailureText(device_, ServerErrorText(context_));
        if (onFailure_)
            onFailure_(why);
    }

    // Program callbacks wait until openCapture/openPlayback has returned: the
    // opener may hold a lock of its own that they take, and it waits for the
    // loop thread while it opens.
    bool delivering() const { return opened_; }

    // Reads what is readable, or writes what is writable, now.
    virtual void pump() = 0;

    // Runs pump() again after `delay` on the loop thread (once, however
    // often asked meanwhile). Loop lock held.
    void pumpLater(pa_usec_t delay)
    {
        if (retry_)
            return;
        timeval when{};
        gettimeofday(&when, nullptr);
        pa_timeval_add(&when, delay);
        retry_ = loop_->api()->time_new(loop_->api(), &when, &StreamBase::onRetry, this);
    }

    std::shared_ptr<Loop> loop_;
    pa_context* context_ = nullptr;
    pa_stream* stream_ = nullptr;

private:
    static void onKick(pa_mainloop_api* api, pa_defer_event* event, void* user)
    {
        auto* self = static_cast<StreamBase*>(user);
        api->defer_free(event);
        self->kick_ = nullptr;
        if (self->stream_ && pa_stream_get_state(self->stream_) == PA_STREAM_READY)
            self->pump();
    }

    static void onRetry(pa_mainloop_api* api, pa_time_event* event, const timeval*, void* user)
    {
        auto* self = static_cast<StreamBase*>(user);
        api->time_free(event);
        self->retry_ = nullptr;
        if (self->stream_ && pa_stream_get_state(self->stream_) == PA_STREAM_READY)
            self->pump();
    }

    static void onState(pa_stream* stream, void* user)
    {
        auto* self = static_cast<StreamBase*>(user);
        pa_stream_state_t state = pa_stream_get_state(stream);
        self->loop_->signal();
        if (!self->opened_ || self->failed_)
            return;
        if (state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED) {
            self->failed_ = true;
            if (self->onFailure_)
                self->onFailure_(self->failureText());
        }
    }

    // Clears every callback and disconnects, under the loop lock: once this
    // returns no callback of this stream runs again.
    void detach()
    {
        if (kick_) {
            loop_->api()->defer_free(kick_);
            kick_ = nullptr;
        }
        if (retry_) {
            loop_->api()->time_free(retry_);
            retry_ = nullptr;
        }
        if (!stream_)
            return;
        pa_stream_set_state_callback(stream_, nullptr, nullptr);
        pa_stream_set_read_callback(stream_, nullptr, nullptr);
        pa_stream_set_write_callback(stream_, nullptr, nullptr);
        pa_stream_set_overflow_callback(stream_, nullptr, nullptr);
        pa_stream_set_underflow_callback(stream_, nullptr, nullptr);
        if (PA_STREAM_IS_GOOD(pa_stream_get_state(stream_)))
            pa_stream_disconnect(stream_);
        pa_stream_unref(stream_);
        stream_ = nullptr;
        pa_context_unref(context_);
        context_ = nullptr;
    }

    std::string device_;
    const char* kind_;
    StreamFailureCallback onFailure_;
    bool opened_ = false;
    bool failed_ = false;
    pa_defer_event* kick_ = nullptr;
    pa_time_event* retry_ = nullptr;
};

class PulseCapture final : public CaptureStream, private StreamBase {
public:
    PulseCapture(std::shared_ptr<Loop> loop, const std::string& source, CaptureCallback onData,
                 StreamFailureCallback onFailure)
        : StreamBase(std::move(loop), source, "recording device", std::move(onFailure)), onData_(std::move(onData))
    {
    }
    ~PulseCapture() override { close(); }

    // Loop lock held.
    bool open(pa_context* context, const std::string& source, std::string* error)
    {
        const pa_sample_spec spec = StreamSpec();
        pa_stream* stream = newStream(context, "Sonalyx capture", error);
        if (!stream)
            return false;
        pa_stream_set_read_callback(stream, &PulseCapture::onReadable, this);
        pa_stream_set_overflow_callback(stream, &PulseCapture::onOverflow, this);

        pa_buffer_attr attr{};
        attr.maxlength = static_cast<uint32_t>(-1);
        attr.tlength = attr.prebuf = attr.minreq = static_cast<uint32_t>(-1);
        attr.fragsize = static_cast<uint32_t>(pa_usec_to_bytes(CaptureFragmentUs, &spec));
        // DONT_MOVE: a vanished device ends the stream instead of moving it
        // silently to another one.
        auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE);
        if (pa_stream_connect_record(stream, source.c_str(), &attr, flags) < 0) {
            if (error)
                *error = failureText();
            return false;
        }
        return awaitReady(error);
    }

    uint64_t droppedFrames() const override { return dropped_.load(std::memory_order_relaxed); }

private:
    void pump() override { onReadable(stream_, 0, this); }

    // The server says only that its buffer for this stream overflowed, not
    // by how much: at least the fragment that did not fit is lost.
    static void onOverflow(pa_stream* stream, void* user)
    {
        auto* self = static_cast<PulseCapture*>(user);
        const pa_buffer_attr* attr = pa_stream_get_buffer_attr(stream);
        const uint32_t fragment = attr && attr->fragsize != static_cast<uint32_t>(-1) ? attr->fragsize : FrameBytes;
        self->dropped_.fetch_add(std::max<uint32_t>(fragment / FrameBytes, 1), std::memory_order_relaxed);
    }

    static void onReadable(pa_stream* stream, size_t, void* user)
    {
        auto* self = static_cast<PulseCapture*>(user);
        if (!self->delivering())
            return; // stays queued in the stream until pump()
        while (pa_stream_readable_size(stream) > 0) {
            const void* data = nullptr;
            size_t bytes = 0;
            if (pa_stream_peek(stream, &data, &bytes) < 0) {
                self->failOnIo(true);
                return;
            }
            if (bytes == 0)
                return;
            self->take(static_cast<const uint8_t*>(data), bytes);
            if (pa_stream_drop(stream) < 0) {
                self->failOnIo(true);
                return;
            }
        }
    }

    // Joins the bytes onto a partial frame left from the previous fragment and
    // hands over whole frames only. A hole (data == nullptr) is silence: the
    // server skipped that much, so it is counted as lost too.
    void take(const uint8_t* data, size_t bytes)
    {
        if (!data)
            dropped_.fetch_add(bytes / FrameBytes, std::memory_order_relaxed);
        size_t frameCount = (carryBytes_ + bytes) / FrameBytes;
        size_t consumed = 0;
        if (frameCount > 0) {
            frames_.resize(frameCount * StreamChannels);
            auto* out = reinterpret_cast<uint8_t*>(frames_.data());
            std::memcpy(out, carry_, carryBytes_);
            consumed = frameCount * FrameBytes - carryBytes_;
            CopyOrSilence(out + carryBytes_, data, consumed);
            carryBytes_ = 0;
        }
        size_t left = bytes - consumed;
        CopyOrSilence(carry_ + carryBytes_, data ? data + consumed : nullptr, left);
        carryBytes_ += left;

        if (frameCount > 0 && onData_)
            onData_(frames_.data(), frameCount);
    }

    static void CopyOrSilence(uint8_t* to, const uint8_t* from, size_t bytes)
    {
        if (from)
            std::memcpy(to, from, bytes);
        else
            std::memset(to, 0, bytes);
    }

    CaptureCallback onData_;
    uint8_t carry_[FrameBytes] = {}; // a partial frame, carryBytes_ < FrameBytes
    size_t carryBytes_ = 0;
    std::vector<int16_t> frames_; // reused between fragments
    std::atomic<uint64_t> dropped_{0};
};

class PulsePlayback final : public PlaybackStream, private StreamBase {
public:
    PulsePlayback(std::shared_ptr<Loop> loop, const std::string& sink, PlaybackCallback fill,
                  StreamFailureCallback onFailure)
        : StreamBase(std::move(loop), sink, "playback device", std::move(onFailure)), fill_(std::move(fill))
    {
    }
    ~PulsePlayback() override { close(); }

    // Loop lock held.
    bool open(pa_context* context, const std::string& sink, std::string* error)
    {
        const pa_sample_spec spec = StreamSpec();
        pa_stream* stream = newStream(context, "Sonalyx playback", error);
        if (!stream)
            return false;
        pa_stream_set_write_callback(stream, &PulsePlayback::onWritable, this);
        pa_stream_set_underflow_callback(stream, &PulsePlayback::onUnderflow, this);

        pa_buffer_attr attr{};
        attr.maxlength = static_cast<uint32_t>(-1);
        attr.tlength = static_cast<uint32_t>(pa_usec_to_bytes(PlaybackTargetUs, &spec));
        attr.prebuf = attr.minreq = attr.fragsize = static_cast<uint32_t>(-1);
        auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_DONT_MOVE);
        if (pa_stream_connect_playback(stream, sink.c_str(), &attr, flags, nullptr, nullptr) < 0) {
            if (error)
                *error = failureText();
            return false;
        }
        return awaitReady(error);
    }

    bool setVolume(float left, float right) override
    {
        if (loop_->inLoopThread())
            return false;
        LoopLock lock(*loop_);
        if (!ready())
            return false;
        pa_cvolume volume;
        pa_cvolume_init(&volume);
        volume.channels = 2;
        volume.values[0] = ToPaVolume(left);
        volume.values[1] = ToPaVolume(right);
        SuccessWait wait{loop_.get()};
        pa_operation* op = pa_context_set_sink_input_volume(context_, pa_stream_get_index(stream_), &volume, OnSuccess,
                                                            &wait);
        return AwaitOperation(*loop_, op, wait.finished) && wait.success;
    }

    bool volume(float& left, float& right) override
    {
        if (loop_->inLoopThread())
            return false;
        LoopLock lock(*loop_);
        if (!ready())
            return false;
        struct Query {
            const Loop* loop;
            bool finished = false;
            bool found = false;
            pa_cvolume volume{};
        } query{loop_.get()};
        auto onInfo = [](pa_context*, const pa_sink_input_info* info, int eol, void* user) {
            auto* q = static_cast<Query*>(user);
            if (eol == 0 && info) {
                q->volume = info->volume;
                q->found = true;
                return;
            }
            q->finished = true;
            q->loop->signal();
        };
        pa_operation* op = pa_context_get_sink_input_info(context_, pa_stream_get_index(stream_), onInfo, &query);
        if (!AwaitOperation(*loop_, op, query.finished) || !query.found || query.volume.channels == 0)
            return false;
        left = FromPaVolume(query.volume.values[0]);
        right = FromPaVolume(query.volume.values[query.volume.channels > 1 ? 1 : 0]);
        return true;
    }

    uint64_t underruns() const override { return underruns_.load(std::memory_order_relaxed); }

private:
    bool ready() const { return stream_ && pa_stream_get_state(stream_) == PA_STREAM_READY; }

    static void onUnderflow(pa_stream*, void* user)
    {
        static_cast<PulsePlayback*>(user)->underruns_.fetch_add(1, std::memory_order_relaxed);
    }

    void pump() override { onWritable(stream_, pa_stream_writable_size(stream_), this); }

    // Pull model: the program fills what it has, and only that is written.
    // Silence made up for the rest would be a gap in the middle of the
    // sound. The rest is asked for again shortly (the server itself asks
    // only as it plays, and a stream that has not started yet does not
    // play). Should the server run dry after all, it says so (onUnderflow).
    static void onWritable(pa_stream* stream, size_t requested, void* user)
    {
        auto* self = static_cast<PulsePlayback*>(user);
        if (!self->delivering())
            return; // pump() asks again once the stream is open
        while (requested >= FrameBytes) {
            void* buffer = nullptr;
            size_t bytes = requested / FrameBytes * FrameBytes;
            if (pa_stream_begin_write(stream, &buffer, &bytes) < 0 || !buffer) {
                self->failOnIo(false);
                return;
            }
            bytes = bytes / FrameBytes * FrameBytes;
            if (bytes == 0) {
                pa_stream_cancel_write(stream);
                return;
            }
            size_t maxFrames = bytes / FrameBytes;
            auto* frames = static_cast<int16_t*>(buffer);
            const size_t filled = self->fill_ ? std::min(self->fill_(frames, maxFrames), maxFrames) : 0;
            if (filled == 0) {
                pa_stream_cancel_write(stream);
            } else if (pa_stream_write(stream, buffer, filled * FrameBytes, nullptr, 0, PA_SEEK_RELATIVE) < 0) {
                self->failOnIo(false);
                return;
            }
            if (filled < maxFrames) {
                self->pumpLater(PlaybackRetryUs);
                return;
            }
            requested -= bytes;
        }
    }

    PlaybackCallback fill_;
    std::atomic<uint64_t> underruns_{0};
};

// ---- the server ----

struct DeviceSet {
    std::vector<SourceInfo> sources;
    std::vector<SinkInfo> sinks;
    std::map<std::string, float> sourceVolumes;
};

bool SameSource(const SourceInfo& a, const SourceInfo& b)
{
    return a.name == b.name && a.description == b.description && a.isMonitor == b.isMonitor &&
           a.monitorOfSink == b.monitorOfSink && a.isDefault == b.isDefault;
}

bool SameSink(const SinkInfo& a, const SinkInfo& b)
{
    return a.name == b.name && a.description == b.description && a.isDefault == b.isDefault;
}

// Volumes excluded: a volume change is not a change of the device set.
bool SameDevices(const DeviceSet& a, const DeviceSet& b)
{
    return std::equal(a.sources.begin(), a.sources.end(), b.sources.begin(), b.sources.end(), SameSource) &&
           std::equal(a.sinks.begin(), a.sinks.end(), b.sinks.begin(), b.sinks.end(), SameSink);
}

class PulseServer final : public SoundServer {
public:
    explicit PulseServer(std::string address) : loop_(std::make_shared<Loop>()), address_(std::move(address))
    {
        LoopLock lock(*loop_);
        reconnectTimer_ = loop_->api()->time_new(loop_->api(), nullptr, &PulseServer::onReconnectTimer, this);
        retryTimer_ = loop_->api()->time_new(loop_->api(), nullptr, &PulseServer::onRetryTimer, this);
        connect();
        // The program lists devices right at start-up: wait for the first
        // complete lists (or for the connection to fail).
        loop_->waitUntil([&] { return listed_ || !context_; }, ConnectTimeoutMs);
    }

    // Streams still open get their failure callback from here, on the thread
    // that destroys the server (with the loop lock held).
    ~PulseServer() override
    {
        LoopLock lock(*loop_);
        loop_->api()->time_free(reconnectTimer_);
        dropContext();
        loop_->api()->time_free(retryTimer_);
    }

    bool connected() override { return ready_.load(std::memory_order_acquire); }
    uint32_t libraryVersion() override { return ParseVersion(pa_get_library_version()); }
    uint32_t builtVersion() override { return ParseVersion(pa_get_headers_version()); }

    std::vector<SourceInfo> sources() override
    {
        std::lock_guard<std::mutex> guard(publishedLock_);
        return published_.sources;
    }

    std::vector<SinkInfo> sinks() override
    {
        std::lock_guard<std::mutex> guard(publishedLock_);
        return published_.sinks;
    }

    uint64_t changeCount() override { return changeCount_.load(std::memory_order_acquire); }

    std::optional<float> sourceVolume(const std::string& source) override
    {
        std::lock_guard<std::mutex> guard(publishedLock_);
        auto found = published_.sourceVolumes.find(source);
        if (found == published_.sourceVolumes.end())
            return std::nullopt;
        return found->second;
    }

    bool setSourceVolume(const std::string& source, float level) override
    {
        if (loop_->inLoopThread())
            return false;
        LoopLock lock(*loop_);
        auto channels = sourceChannels_.find(source);
        if (!ready_ || channels == sourceChannels_.end())
            return false;
        pa_cvolume volume;
        pa_cvolume_set(&volume, channels->second, ToPaVolume(level));
        SuccessWait wait{loop_.get()};
        pa_operation* op = pa_context_set_source_volume_by_name(context_, source.c_str(), &volume, OnSuccess, &wait);
        if (!AwaitOperation(*loop_, op, wait.finished) || !wait.success)
            return false;
        // Seen at once by sourceVolume(); the change event confirms it.
        std::lock_guard<std::mutex> guard(publishedLock_);
        published_.sourceVolumes[source] = AverageLevel(volume);
        return true;
    }

    std::unique_ptr<CaptureStream> openCapture(const std::string& source, CaptureCallback onData,
                                               StreamFailureCallback onFailure, std::string* error) override
    {
        if (!mayWait(error))
            return nullptr;
        LoopLock lock(*loop_);
        if (!ready_) {
            setError(error, NotReachableText);
            return nullptr;
        }
        auto stream = std::make_unique<PulseCapture>(loop_, source, std::move(onData), std::move(onFailure));
        if (!stream->open(context_, source, error))
            return nullptr;
        return stream;
    }

    std::unique_ptr<PlaybackStream> openPlayback(const std::string& sink, PlaybackCallback fill,
                                                 StreamFailureCallback onFailure, std::string* error) override
    {
        if (!mayWait(error))
            return nullptr;
        LoopLock lock(*loop_);
        if (!ready_) {
            setError(error, NotReachableText);
            return nullptr;
        }
        auto stream = std::make_unique<PulsePlayback>(loop_, sink, std::move(fill), std::move(onFailure));
        if (!stream->open(context_, sink, error))
            return nullptr;
        return stream;
    }

private:
    static void setError(std::string* error, const std::string& text)
    {
        if (error)
            *error = text;
    }

    bool mayWait(std::string* error) const
    {
        if (!loop_->inLoopThread())
            return true;
        setError(error, "A sound stream cannot be opened from the sound server's own thread");
        return false;
    }

    // ---- connection (loop lock held) ----

    void connect()
    {
        pa_proplist* props = pa_proplist_new();
        pa_proplist_sets(props, PA_PROP_APPLICATION_NAME, "Sonalyx");
        pa_proplist_sets(props, PA_PROP_APPLICATION_ID, "com.vortan.Sonalyx");
        context_ = pa_context_new_with_proplist(loop_->api(), "Sonalyx", props);
        pa_proplist_free(props);
        if (!context_) {
            scheduleReconnect();
            return;
        }
        pa_context_set_state_callback(context_, &PulseServer::onContextState, this);
        pa_context_set_subscribe_callback(context_, &PulseServer::onEvent, this);
        // No autospawn: starting a daemon is the session's business, and a
        // reconnect attempt once a second must stay cheap.
        const char* server = address_.empty() ? nullptr : address_.c_str();
        if (pa_context_connect(context_, server, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
            connectionLost();
    }

    void dropContext()
    {
        if (!context_)
            return;
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_set_subscribe_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
        context_ = nullptr;
        ready_.store(false, std::memory_order_release);
        refreshing_ = false;
        refreshAgain_ = false;
        // A new connection starts its requests afresh.
        subscribeRetryDue_ = false;
        refreshRetryDue_ = false;
        subscribeRetry_.succeeded();
        refreshRetry_.succeeded();
        loop_->api()->time_restart(retryTimer_, nullptr);
    }

    void scheduleReconnect()
    {
        timeval when{};
        gettimeofday(&when, nullptr);
        pa_timeval_add(&when, ReconnectDelayUs);
        loop_->api()->time_restart(reconnectTimer_, &when);
    }

    void connectionLost()
    {
        bool wasReady = ready_.load(std::memory_order_relaxed);
        dropContext();
        sourceChannels_.clear();
        publish(DeviceSet{}, wasReady);
        scheduleReconnect();
        loop_->signal();
    }

    static void onReconnectTimer(pa_mainloop_api* api, pa_time_event* timer, const timeval*, void* user)
    {
        api->time_restart(timer, nullptr);
        auto* self = static_cast<PulseServer*>(user);
        if (!self->context_)
            self->connect();
    }

    static void onContextState(pa_context* context, void* user)
    {
        auto* self = static_cast<PulseServer*>(user);
        switch (pa_context_get_state(context)) {
        case PA_CONTEXT_READY: {
            self->ready_.store(true, std::memory_order_release);
            self->subscribe();
            self->requestRefresh();
            break;
        }
        case PA_CONTEXT_FAILED:
        case PA_CONTEXT_TERMINATED:
            // Unref'ing the context inside its own state callback is safe:
            // libpulse holds a reference for the duration of the call.
            self->connectionLost();
            break;
        default: break;
        }
        self->loop_->signal();
    }

    static void onEvent(pa_context*, pa_subscription_event_type_t, uint32_t, void* user)
    {
        static_cast<PulseServer*>(user)->requestRefresh();
    }

    // ---- requests tried again (loop thread) ----
    //
    // Without the subscription the lists would go stale without a sign, and
    // a failed list request would leave them so, while the server is there
    // and mostly answers the next time: both are tried again a second later.

    void subscribe()
    {
        auto mask = static_cast<pa_subscription_mask_t>(PA_SUBSCRIPTION_MASK_SINK | PA_SUBSCRIPTION_MASK_SOURCE |
                                                        PA_SUBSCRIPTION_MASK_SERVER);
        pa_operation* op = pa_context_subscribe(context_, mask, &PulseServer::onSubscribed, this);
        if (!op) {
            subscribeFailed();
            return;
        }
        pa_operation_unref(op);
    }

    static void onSubscribed(pa_context* context, int success, void* user)
    {
        auto* self = static_cast<PulseServer*>(user);
        if (context != self->context_)
            return;
        if (!success) {
            self->subscribeFailed();
            return;
        }
        // Events missed while unsubscribed: read the lists again.
        if (self->subscribeRetry_.failuresInARow() > 0)
            self->requestRefresh();
        self->subscribeRetry_.succeeded();
    }

    // A request that fails because the connection is going is not counted:
    // the reconnect starts everything afresh.
    bool connectionGood() const { return context_ && PA_CONTEXT_IS_GOOD(pa_context_get_state(context_)); }

    void subscribeFailed()
    {
        if (!connectionGood())
            return;
        subscribeRetry_.failed(ServerErrorText(context_));
        subscribeRetryDue_ = true;
        scheduleRetry();
    }

    void refreshFailed()
    {
        if (!connectionGood())
            return;
        refreshRetry_.failed(ServerErrorText(context_));
        refreshRetryDue_ = true;
        scheduleRetry();
    }

    void scheduleRetry()
    {
        timeval when{};
        gettimeofday(&when, nullptr);
        pa_timeval_add(&when, RequestRetryDelayUs);
        loop_->api()->time_restart(retryTimer_, &when);
    }

    static void onRetryTimer(pa_mainloop_api* api, pa_time_event* timer, const timeval*, void* user)
    {
        api->time_restart(timer, nullptr);
        auto* self = static_cast<PulseServer*>(user);
        if (!self->context_ || !self->ready_.load(std::memory_order_relaxed))
            return; // the reconnect starts everything afresh
        if (std::exchange(self->subscribeRetryDue_, false))
            self->subscribe();
        if (std::exchange(self->refreshRetryDue_, false))
            self->requestRefresh();
    }

    // ---- device lists (loop thread) ----
    //
    // Any event re-reads sinks, sources and server info as one set; events
    // that arrive meanwhile fold into one more read afterwards.

    void requestRefresh()
    {
        if (refreshing_) {
            refreshAgain_ = true;
            return;
        }
        refreshing_ = true;
        staging_ = DeviceSet{};
        stagingChannels_.clear();
        defaultSink_.clear();
        defaultSource_.clear();
        pendingReplies_ = 0;
        stagingFailed_ = false;
        track(pa_context_get_sink_info_list(context_, &PulseServer::onSink, this));
        track(pa_context_get_source_info_list(context_, &PulseServer::onSource, this));
        track(pa_context_get_server_info(context_, &PulseServer::onServer, this));
        if (pendingReplies_ == 0) {
            refreshing_ = false;
            refreshFailed();
        }
    }

    // A request the server did not take fails the whole set: a part of the
    // lists is never published as if it were all of them.
    void track(pa_operation* op)
    {
        if (!op) {
            stagingFailed_ = true;
            return;
        }
        ++pendingReplies_;
        pa_operation_unref(op);
    }

    static void onSink(pa_context* context, const pa_sink_info* info, int eol, void* user)
    {
        auto* self = static_cast<PulseServer*>(user);
        if (context != self->context_)
            return;
        if (eol == 0 && info) {
            self->staging_.sinks.push_back(SinkInfo{info->name, info->description ? info->description : info->name});
            return;
        }
        self->replyDone(eol < 0);
    }

    static void onSource(pa_context* context, const pa_source_info* info, int eol, void* user)
    {
        auto* self = static_cast<PulseServer*>(user);
        if (context != self->context_)
            return;
        if (eol == 0 && info) {
            SourceInfo source;
            source.name = info->name;
            source.description = info->description ? info->description : info->name;
            source.isMonitor = info->monitor_of_sink != PA_INVALID_INDEX;
            if (source.isMonitor && info->monitor_of_sink_name)
                source.monitorOfSink = info->monitor_of_sink_name;
            self->staging_.sourceVolumes[source.name] = AverageLevel(info->volume);
            self->stagingChannels_[source.name] = info->volume.channels;
            self->staging_.sources.push_back(std::move(source));
            return;
        }
        self->replyDone(eol < 0);
    }

    static void onServer(pa_context* context, const pa_server_info* info, void* user)
    {
        auto* self = static_cast<PulseServer*>(user);
        if (context != self->context_)
            return;
        if (info) {
            self->defaultSink_ = info->default_sink_name ? info->default_sink_name : "";
            self->defaultSource_ = info->default_source_name ? info->default_source_name : "";
        }
        self->replyDone(info == nullptr);
    }

    void replyDone(bool failed)
    {
        stagingFailed_ = stagingFailed_ || failed;
        if (--pendingReplies_ > 0)
            return;
        if (stagingFailed_) {
            // The lists published before stay until a complete set is read.
            listed_ = true; // the first listing is over, if not a success
            refreshing_ = false;
            loop_->signal();
            refreshAgain_ = false;
            refreshFailed();
            return;
        }
        refreshRetry_.succeeded();
        for (auto& sink : staging_.sinks)
            sink.isDefault = sink.name == defaultSink_;
        for (auto& source : staging_.sources)
            source.isDefault = source.name == defaultSource_;
        sourceChannels_ = stagingChannels_;
        publish(std::move(staging_), false);
        listed_ = true;
        refreshing_ = false;
        loop_->signal();
        if (refreshAgain_) {
            refreshAgain_ = false;
            requestRefresh();
        }
    }

    void publish(DeviceSet next, bool forceChange)
    {
        std::lock_guard<std::mutex> guard(publishedLock_);
        bool changed = forceChange || !SameDevices(published_, next);
        published_ = std::move(next);
        if (changed)
            changeCount_.fetch_add(1, std::memory_order_acq_rel);
    }

    std::shared_ptr<Loop> loop_;
    const std::string address_;

    // Loop thread, or any thread holding the loop lock.
    pa_context* context_ = nullptr;
    pa_time_event* reconnectTimer_ = nullptr;
    pa_time_event* retryTimer_ = nullptr;
    RequestRetry subscribeRetry_{SubscriptionFailureText};
    RequestRetry refreshRetry_{ListFailureText};
    bool subscribeRetryDue_ = false;
    bool refreshRetryDue_ = false;
    bool stagingFailed_ = false;
    bool listed_ = false;
    bool refreshing_ = false;
    bool refreshAgain_ = false;
    int pendingReplies_ = 0;
    DeviceSet staging_;
    std::map<std::string, uint8_t> stagingChannels_;
    std::map<std::string, uint8_t> sourceChannels_;
    std::string defaultSink_;
    std::string defaultSource_;

    // Read by any thread without the loop lock.
    std::atomic<bool> ready_{false};
    std::atomic<uint64_t> changeCount_{0};
    std::mutex publishedLock_;
    DeviceSet published_;
};

} // namespace

std::unique_ptr<SoundServer> CreatePulseServer()
{
    return CreatePulseServer(std::string());
}

std::unique_ptr<SoundServer> CreatePulseServer(const std::string& serverAddress)
{
    return std::make_unique<PulseServer>(serverAddress);
}

} // namespace platform
