// The PulseAudio main loop that the server and its streams share, its lock,
// and the small conversions and waits both of them use. Internal to the
// PulseAudio client (pulseserver.cpp, pulsestreams.cpp). No Qt in here.
#pragma once

#include "platform/soundserver.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <stdexcept>
#include <string>

namespace platform::pulse {

constexpr int OperationTimeoutMs = 3000;

inline const char* const NotReachableText = ServerGoneText;

inline pa_sample_spec StreamSpec()
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
inline pa_volume_t ToPaVolume(float level)
{
    float clamped = std::clamp(level, 0.0f, 1.0f);
    return static_cast<pa_volume_t>(clamped * PA_VOLUME_NORM + 0.5f);
}

inline float FromPaVolume(pa_volume_t volume)
{
    return std::min(1.0f, static_cast<float>(volume) / PA_VOLUME_NORM);
}

inline float AverageLevel(const pa_cvolume& volume)
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
inline bool AwaitOperation(const Loop& loop, pa_operation* op, const bool& finished)
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

inline void OnSuccess(pa_context*, int success, void* user)
{
    auto* wait = static_cast<SuccessWait*>(user);
    wait->success = success != 0;
    wait->finished = true;
    wait->loop->signal();
}

inline std::string ServerErrorText(pa_context* context)
{
    return pa_strerror(pa_context_errno(context));
}

inline std::string StreamErrorText(pa_context* context, const std::string& device, const char* kind)
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

} // namespace platform::pulse
