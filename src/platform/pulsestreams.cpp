#include "platform/pulsestreams.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <sys/time.h>
#include <utility>

namespace platform::pulse {
namespace {

constexpr int StreamOpenTimeoutMs = 5000;
// Capture fragments of 20 ms keep the path from a sink to a captured 100 ms
// block short. On PipeWire the shortest latency any stream asks for sets the
// period of the whole graph on that device: 10 ms made it 256 frames
// (5.8 ms), and a node late for such a period, as happens on a busy
// machine, costs every stream on the device that period, which played sound
// then has as a 256-frame hole; 20 ms asks for periods twice as long. Not longer:
// with 25 ms a loopback of a sink the generator was already playing to
// delivered no blocks at all on PipeWire.
constexpr pa_usec_t CaptureFragmentUs = 20 * 1000;
// Playback keeps 200 ms queued at the server itself (with latency adjustment
// the server would keep only part of it in the stream's buffer and count
// the rest as the device's): a refill that comes late on a busy machine is
// taken from there instead of leaving the server without sound.
constexpr pa_usec_t PlaybackTargetUs = 200 * 1000;
// How soon a playback stream that got less than it asked for asks again.
constexpr pa_usec_t PlaybackRetryUs = 10 * 1000;

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

    // The stream's position from the server's last timing report: its own
    // index (what the server has taken from a playback stream, or put into a
    // capture stream) and its device's latency at the moment the server
    // answered. Every reading asks for a fresh report, so only the streams
    // whose clock is read cause any traffic. Empty until the first report.
    std::optional<StreamClock> readClock(bool playback)
    {
        if (loop_->inLoopThread())
            return std::nullopt;
        LoopLock lock(*loop_);
        if (!stream_ || pa_stream_get_state(stream_) != PA_STREAM_READY)
            return std::nullopt;
        requestTimingReport();
        const pa_timing_info* info = pa_stream_get_timing_info(stream_);
        if (!info)
            return std::nullopt;
        const int64_t index = playback ? info->read_index : info->write_index;
        const bool corrupt = playback ? info->read_index_corrupt : info->write_index_corrupt;
        if (corrupt)
            return std::nullopt;
        StreamClock clock;
        clock.queueFrame = static_cast<double>(index) / FrameBytes;
        const pa_usec_t latency = playback ? info->sink_usec : info->source_usec;
        const double latencyFrames = static_cast<double>(latency) * StreamRate / 1e6;
        clock.frame = playback ? clock.queueFrame - latencyFrames : clock.queueFrame + latencyFrames;
        // The report's moment is on the wall clock; carried over to the steady one.
        const pa_usec_t age = pa_timeval_age(&info->timestamp);
        clock.at = std::chrono::steady_clock::now() - std::chrono::microseconds(static_cast<int64_t>(age));
        return clock;
    }

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
    void requestTimingReport()
    {
        if (timingReport_ && pa_operation_get_state(timingReport_) == PA_OPERATION_RUNNING)
            return;
        if (timingReport_)
            pa_operation_unref(timingReport_);
        timingReport_ = pa_stream_update_timing_info(stream_, nullptr, nullptr);
    }

    void detach()
    {
        if (timingReport_) {
            pa_operation_cancel(timingReport_);
            pa_operation_unref(timingReport_);
            timingReport_ = nullptr;
        }
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
    pa_operation* timingReport_ = nullptr;
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
    std::optional<StreamClock> clock() override { return readClock(false); }

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
    std::optional<StreamClock> clock() override { return readClock(true); }

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

} // namespace

std::unique_ptr<CaptureStream> OpenCapture(std::shared_ptr<Loop> loop, pa_context* context, const std::string& source,
                                           CaptureCallback onData, StreamFailureCallback onFailure, std::string* error)
{
    auto stream = std::make_unique<PulseCapture>(std::move(loop), source, std::move(onData), std::move(onFailure));
    if (!stream->open(context, source, error))
        return nullptr;
    return stream;
}

std::unique_ptr<PlaybackStream> OpenPlayback(std::shared_ptr<Loop> loop, pa_context* context, const std::string& sink,
                                             PlaybackCallback fill, StreamFailureCallback onFailure, std::string* error)
{
    auto stream = std::make_unique<PulsePlayback>(std::move(loop), sink, std::move(fill), std::move(onFailure));
    if (!stream->open(context, sink, error))
        return nullptr;
    return stream;
}

} // namespace platform::pulse
