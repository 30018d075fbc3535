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
#include "platform/pulseloop.h"
#include "platform/pulsestreams.h"
#include "platform/soundserver.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <sys/time.h>
#include <utility>

namespace platform {
namespace {

using namespace pulse;

constexpr pa_usec_t ReconnectDelayUs = 1000 * 1000;
constexpr pa_usec_t RequestRetryDelayUs = 1000 * 1000;
constexpr int ConnectTimeoutMs = 3000;

uint32_t ParseVersion(const char* text)
{
    unsigned major = 0;
    unsigned minor = 0;
    if (!text || std::sscanf(text, "%u.%u", &major, &minor) < 1)
        return 0;
    return (major << 16) | (minor & 0xFFFF);
}

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
        return pulse::OpenCapture(loop_, context_, source, std::move(onData), std::move(onFailure), error);
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
        return pulse::OpenPlayback(loop_, context_, sink, std::move(fill), std::move(onFailure), error);
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
