#include "support/inprocess_server.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <map>
#include <mutex>
#include <numbers>
#include <optional>

namespace platform {

namespace {

constexpr uint32_t DefaultVersion = (16u << 16) | 1u;

enum class StreamKind { Capture, Playback };

// What a stream shares with the server. `ended` is set once, either by the
// stream's owner closing it or by the server failing it; after that no
// callback runs. The guard is held around every callback so that closing
// waits for a running one; it is recursive so that a callback may close its
// own stream without deadlocking.
struct StreamState {
    StreamKind kind;
    std::string device;
    CaptureCallback onData;
    PlaybackCallback fill;
    StreamFailureCallback onFailure;

    std::recursive_mutex callbackGuard;
    bool ended = false; // under callbackGuard

    float volumeLeft = 1.0f; // under Core::lock
    float volumeRight = 1.0f;

    std::atomic<uint64_t> dropped{0};   // capture: frames the server lost
    std::atomic<uint64_t> underruns{0}; // playback: periods the stream could not fill
    bool played = false;                // playback: filled anything yet; under callbackGuard
};

using StreamList = std::vector<std::shared_ptr<StreamState>>;

struct Device {
    std::string name;
    std::string description;
    SignalFn signal; // sources: their own signal; sinks: what other programs play
    uint64_t position = 0;
    float volume = 1.0f;
    bool isMonitor = false;
    std::string monitorOfSink;
    size_t overflowFrames = 0; // sources: frames still to be lost to the capture streams
};

// Volumes are fractions 0.0-1.0; anything else (NaN included) is pulled in.
float ClampVolume(float level)
{
    return level >= 0.0f ? std::min(level, 1.0f) : 0.0f;
}

Device MakeDevice(const std::string& name, const std::string& description, SignalFn signal)
{
    Device device;
    device.name = name;
    device.description = description;
    device.signal = std::move(signal);
    return device;
}

int16_t Saturate(int32_t value)
{
    return static_cast<int16_t>(std::clamp<int32_t>(value, INT16_MIN, INT16_MAX));
}

std::vector<int16_t> Generate(Device& device, size_t frames)
{
    std::vector<int16_t> out(frames * StreamChannels, 0);
    if (device.signal)
        device.signal(device.position, out.data(), frames);
    device.position += frames;
    return out;
}

void Scale(std::vector<int16_t>& samples, float volume)
{
    if (volume == 1.0f)
        return;
    for (int16_t& s : samples)
        s = Saturate(static_cast<int32_t>(std::lround(s * volume)));
}

void MixInto(std::vector<int16_t>& mix, const std::vector<int16_t>& add, float left, float right)
{
    for (size_t i = 0; i < mix.size(); ++i) {
        const float gain = (i % 2 == 0) ? left : right;
        const int32_t scaled = gain == 1.0f ? add[i] : static_cast<int32_t>(std::lround(add[i] * gain));
        mix[i] = Saturate(mix[i] + scaled);
    }
}

void FailStreams(const StreamList& streams, const std::string& why)
{
    for (const auto& stream : streams) {
        std::lock_guard<std::recursive_mutex> guard(stream->callbackGuard);
        if (stream->ended)
            continue;
        stream->ended = true;
        if (stream->onFailure)
            stream->onFailure(why);
    }
}

} // namespace

// ---- signals ------------------------------------------------------------

SignalFn Silence()
{
    return [](uint64_t, int16_t* frames, size_t count) { std::fill(frames, frames + count * StreamChannels, 0); };
}

SignalFn Sine(double freqLeft, double ampLeft, double freqRight, double ampRight)
{
    return [=](uint64_t position, int16_t* frames, size_t count) {
        for (size_t i = 0; i < count; ++i) {
            const double t = static_cast<double>(position + i) / StreamRate;
            frames[2 * i] = Saturate(
                static_cast<int32_t>(std::lround(ampLeft * std::sin(2 * std::numbers::pi * freqLeft * t))));
            frames[2 * i + 1] = Saturate(
                static_cast<int32_t>(std::lround(ampRight * std::sin(2 * std::numbers::pi * freqRight * t))));
        }
    };
}

int16_t CountingLeft(uint64_t position)
{
    return static_cast<int16_t>(position & 0xFFFF);
}
int16_t CountingRight(uint64_t position)
{
    return static_cast<int16_t>(~position & 0xFFFF);
}

SignalFn CountingSignal()
{
    return [](uint64_t position, int16_t* frames, size_t count) {
        for (size_t i = 0; i < count; ++i) {
            frames[2 * i] = CountingLeft(position + i);
            frames[2 * i + 1] = CountingRight(position + i);
        }
    };
}

namespace {

// A request of the server scripted to fail a number of times in a row.
struct FailingRequest {
    int attemptsLeft = 0; // failures still to come
    std::string serverText;
    bool failing = false; // the last attempt failed
};

// One attempt of a request scripted to fail; true when it failed.
bool FailsThisTime(FailingRequest& request)
{
    request.failing = request.attemptsLeft > 0;
    if (request.failing)
        --request.attemptsLeft;
    return request.failing;
}

} // namespace

// ---- server state -------------------------------------------------------

struct InProcessServer::Core {
    mutable std::mutex lock;
    bool reachable = true;
    std::vector<Device> sources; // server order, monitors included
    std::vector<Device> sinks;
    std::string defaultSource;
    std::string defaultSink;
    bool defaultSourceChosen = false;
    bool defaultSinkChosen = false;
    uint64_t changes = 0;
    std::map<std::string, std::string> pendingFailures;
    StreamList streams;                               // open and not failed
    std::map<std::string, std::string> refusedReads;  // source -> server's text
    std::map<std::string, std::string> refusedWrites; // sink -> server's text

    FailingRequest subscription;
    uint64_t changesWhenUnsubscribed = 0;
    FailingRequest listing;
    std::vector<SourceInfo> staleSources;
    std::vector<SinkInfo> staleSinks;
    RequestRetry subscriptionRetry{SubscriptionFailureText};
    RequestRetry listingRetry{ListFailureText};

    std::vector<SourceInfo> listSources() const
    {
        std::vector<SourceInfo> list;
        for (const Device& d : sources)
            list.push_back(SourceInfo{d.name, d.description, d.isMonitor, d.monitorOfSink, d.name == defaultSource});
        return list;
    }
    std::vector<SinkInfo> listSinks() const
    {
        std::vector<SinkInfo> list;
        for (const Device& d : sinks)
            list.push_back(SinkInfo{d.name, d.description, d.name == defaultSink});
        return list;
    }

    // Streams of `kind` whose device has a refused read or write pending,
    // with the text they end with; the refusals are used up.
    std::vector<std::pair<std::shared_ptr<StreamState>, std::string>> takeRefused()
    {
        std::vector<std::pair<std::shared_ptr<StreamState>, std::string>> refused;
        std::erase_if(streams, [&](const std::shared_ptr<StreamState>& s) {
            auto& table = s->kind == StreamKind::Capture ? refusedReads : refusedWrites;
            auto found = table.find(s->device);
            if (found == table.end())
                return false;
            refused.emplace_back(s, s->kind == StreamKind::Capture ? ReadFailureText(s->device, found->second)
                                                                   : WriteFailureText(s->device, found->second));
            return true;
        });
        refusedReads.clear();
        refusedWrites.clear();
        return refused;
    }

    Device* findSource(const std::string& name)
    {
        auto it = std::find_if(sources.begin(), sources.end(), [&](const Device& d) { return d.name == name; });
        return it == sources.end() ? nullptr : &*it;
    }
    Device* findSink(const std::string& name)
    {
        auto it = std::find_if(sinks.begin(), sinks.end(), [&](const Device& d) { return d.name == name; });
        return it == sinks.end() ? nullptr : &*it;
    }

    // Removes and returns the streams on `device` of the given kind.
    StreamList takeStreams(StreamKind kind, const std::string& device)
    {
        StreamList taken;
        std::erase_if(streams, [&](const std::shared_ptr<StreamState>& s) {
            if (s->kind != kind || s->device != device)
                return false;
            taken.push_back(s);
            return true;
        });
        return taken;
    }

    void unregister(const StreamState* state)
    {
        std::lock_guard<std::mutex> guard(lock);
        std::erase_if(streams, [&](const std::shared_ptr<StreamState>& s) { return s.get() == state; });
    }

    bool registered(const StreamState* state) const
    {
        return std::any_of(streams.begin(), streams.end(),
                           [&](const std::shared_ptr<StreamState>& s) { return s.get() == state; });
    }

    void fallBackDefaults()
    {
        if (!defaultSource.empty() && !findSource(defaultSource)) {
            auto it = std::find_if(sources.begin(), sources.end(), [](const Device& d) { return !d.isMonitor; });
            defaultSource = it == sources.end() ? std::string() : it->name;
        }
        if (!defaultSink.empty() && !findSink(defaultSink))
            defaultSink = sinks.empty() ? std::string() : sinks.front().name;
    }

    // Checks everything that makes an open fail; returns the reason or "".
    std::string openRefusal(const std::string& device, bool exists)
    {
        if (!reachable)
            return "Connection refused";
        auto pending = pendingFailures.find(device);
        if (pending != pendingFailures.end()) {
            std::string text = pending->second;
            pendingFailures.erase(pending);
            return text;
        }
        return exists ? std::string() : "No such entity";
    }

    uint32_t libraryVersion = DefaultVersion;
    uint32_t builtVersion = DefaultVersion;
};

namespace {

using Core = InProcessServer::Core;

void CloseStream(Core& core, StreamState& state)
{
    core.unregister(&state);
    std::lock_guard<std::recursive_mutex> guard(state.callbackGuard);
    state.ended = true;
}

class InProcessCapture final : public CaptureStream {
public:
    InProcessCapture(std::shared_ptr<Core> core, std::shared_ptr<StreamState> state)
        : core_(std::move(core)), state_(std::move(state))
    {
    }
    ~InProcessCapture() override { CloseStream(*core_, *state_); }

    uint64_t droppedFrames() const override { return state_->dropped.load(std::memory_order_relaxed); }

private:
    std::shared_ptr<Core> core_;
    std::shared_ptr<StreamState> state_;
};

class InProcessPlayback final : public PlaybackStream {
public:
    InProcessPlayback(std::shared_ptr<Core> core, std::shared_ptr<StreamState> state)
        : core_(std::move(core)), state_(std::move(state))
    {
    }
    ~InProcessPlayback() override { CloseStream(*core_, *state_); }

    uint64_t underruns() const override { return state_->underruns.load(std::memory_order_relaxed); }

    bool setVolume(float left, float right) override
    {
        std::lock_guard<std::mutex> guard(core_->lock);
        if (!core_->registered(state_.get()))
            return false;
        state_->volumeLeft = ClampVolume(left);
        state_->volumeRight = ClampVolume(right);
        return true;
    }

    bool volume(float& left, float& right) override
    {
        std::lock_guard<std::mutex> guard(core_->lock);
        if (!core_->registered(state_.get()))
            return false;
        left = state_->volumeLeft;
        right = state_->volumeRight;
        return true;
    }

private:
    std::shared_ptr<Core> core_;
    std::shared_ptr<StreamState> state_;
};

// One sink's share of a period: what it plays, and the streams to pull.
struct SinkPeriod {
    std::string name;
    std::vector<int16_t> mix;
    std::vector<std::shared_ptr<StreamState>> streams;
    std::vector<std::pair<float, float>> volumes;
};

struct SourcePeriod {
    std::vector<int16_t> data;
    size_t lost = 0; // frames at the period's start the streams lose to an overflow
    StreamList streams;
};

void PullPlayback(SinkPeriod& sink, size_t frames)
{
    std::vector<int16_t> played(frames * StreamChannels);
    for (size_t i = 0; i < sink.streams.size(); ++i) {
        StreamState& stream = *sink.streams[i];
        std::fill(played.begin(), played.end(), 0);
        {
            std::lock_guard<std::recursive_mutex> guard(stream.callbackGuard);
            if (stream.ended || !stream.fill)
                continue;
            const size_t written = std::min(stream.fill(played.data(), frames), frames);
            // As a real server: a stream that never played cannot run dry.
            stream.played = stream.played || written > 0;
            if (written < frames && stream.played)
                stream.underruns.fetch_add(1, std::memory_order_relaxed);
            std::fill(played.begin() + static_cast<ptrdiff_t>(written * StreamChannels), played.end(), 0);
        }
        MixInto(sink.mix, played, sink.volumes[i].first, sink.volumes[i].second);
    }
}

void DeliverCapture(const SourcePeriod& source, size_t frames)
{
    for (const auto& stream : source.streams) {
        std::lock_guard<std::recursive_mutex> guard(stream->callbackGuard);
        if (stream->ended)
            continue;
        stream->dropped.fetch_add(source.lost, std::memory_order_relaxed);
        if (stream->onData && frames > source.lost)
            stream->onData(source.data.data() + source.lost * StreamChannels, frames - source.lost);
    }
}

} // namespace

// ---- scripting ----------------------------------------------------------

InProcessServer::InProcessServer() : core_(std::make_shared<Core>())
{
    // Each server counts from its own base, so that a client comparing
    // counters cannot take a fresh server for the one it listed before.
    static std::atomic<uint64_t> instances{0};
    core_->changes = (instances.fetch_add(1) + 1) << 32;
}

InProcessServer::~InProcessServer() = default;

void InProcessServer::addSource(const std::string& name, const std::string& description, SignalFn signal)
{
    std::lock_guard<std::mutex> guard(core_->lock);
    core_->sources.push_back(MakeDevice(name, description, std::move(signal)));
    if (core_->defaultSource.empty() && !core_->defaultSourceChosen)
        core_->defaultSource = name;
    ++core_->changes;
}

void InProcessServer::addSink(const std::string& name, const std::string& description, SignalFn played)
{
    std::lock_guard<std::mutex> guard(core_->lock);
    core_->sinks.push_back(MakeDevice(name, description, std::move(played)));
    Device monitor = MakeDevice(name + ".monitor", "Monitor of " + description, Silence());
    monitor.isMonitor = true;
    monitor.monitorOfSink = name;
    core_->sources.push_back(std::move(monitor));
    if (core_->defaultSink.empty() && !core_->defaultSinkChosen)
        core_->defaultSink = name;
    ++core_->changes;
}

void InProcessServer::setSourceSignal(const std::string& name, SignalFn signal)
{
    std::lock_guard<std::mutex> guard(core_->lock);
    if (Device* source = core_->findSource(name))
        source->signal = std::move(signal);
}

void InProcessServer::setDefaultSource(const std::string& name)
{
    std::lock_guard<std::mutex> guard(core_->lock);
    core_->defaultSource = name;
    core_->defaultSourceChosen = true;
    ++core_->changes;
}

void InProcessServer::setDefaultSink(const std::string& name)
{
    std::lock_guard<std::mutex> guard(core_->lock);
    core_->defaultSink = name;
    core_->defaultSinkChosen = true;
    ++core_->changes;
}

bool InProcessServer::removeSource(const std::string& name)
{
    StreamList failed;
    {
        std::lock_guard<std::mutex> guard(core_->lock);
        const auto removed = std::erase_if(core_->sources, [&](const Device& d) { return d.name == name; });
        if (removed == 0)
            return false;
        failed = core_->takeStreams(StreamKind::Capture, name);
        core_->fallBackDefaults();
        ++core_->changes;
    }
    FailStreams(failed, "No such entity");
    return true;
}

bool InProcessServer::removeSink(const std::string& name)
{
    StreamList failed;
    {
        std::lock_guard<std::mutex> guard(core_->lock);
        const auto removed = std::erase_if(core_->sinks, [&](const Device& d) { return d.name == name; });
        if (removed == 0)
            return false;
        failed = core_->takeStreams(StreamKind::Playback, name);
        std::erase_if(core_->sources, [&](const Device& d) {
            if (!d.isMonitor || d.monitorOfSink != name)
                return false;
            StreamList monitorStreams = core_->takeStreams(StreamKind::Capture, d.name);
            failed.insert(failed.end(), monitorStreams.begin(), monitorStreams.end());
            return true;
        });
        core_->fallBackDefaults();
        ++core_->changes;
    }
    FailStreams(failed, "No such entity");
    return true;
}

void InProcessServer::killCaptureStreams(const std::string& source, const std::string& why)
{
    StreamList failed;
    {
        std::lock_guard<std::mutex> guard(core_->lock);
        failed = core_->takeStreams(StreamKind::Capture, source);
    }
    FailStreams(failed, why);
}

void InProcessServer::failNextOpen(const std::string& device, const std::string& text)
{
    std::lock_guard<std::mutex> guard(core_->lock);
    core_->pendingFailures[device] = text;
}

void InProcessServer::setReachable(bool reachable)
{
    StreamList failed;
    {
        std::lock_guard<std::mutex> guard(core_->lock);
        if (core_->reachable == reachable)
            return;
        core_->reachable = reachable;
        if (!reachable)
            failed.swap(core_->streams);
        ++core_->changes;
    }
    FailStreams(failed, "Connection terminated");
}

void InProcessServer::refuseNextRead(const std::string& source, const std::string& serverText)
{
    std::lock_guard<std::mutex> guard(core_->lock);
    core_->refusedReads[source] = serverText;
}

void InProcessServer::refuseNextWrite(const std::string& sink, const std::string& serverText)
{
    std::lock_guard<std::mutex> guard(core_->lock);
    core_->refusedWrites[sink] = serverText;
}

void InProcessServer::failSubscription(int attempts, const std::string& serverText)
{
    bool failed = false;
    {
        std::lock_guard<std::mutex> guard(core_->lock);
        if (!core_->subscription.failing)
            core_->changesWhenUnsubscribed = core_->changes;
        core_->subscription.attemptsLeft = attempts;
        core_->subscription.serverText = serverText;
        failed = FailsThisTime(core_->subscription);
    }
    if (failed)
        core_->subscriptionRetry.failed(serverText);
}

void InProcessServer::failListRequests(int attempts, const std::string& serverText)
{
    bool failed = false;
    {
        std::lock_guard<std::mutex> guard(core_->lock);
        if (!core_->listing.failing && core_->reachable) {
            core_->staleSources = core_->listSources();
            core_->staleSinks = core_->listSinks();
        }
        core_->listing.attemptsLeft = attempts;
        core_->listing.serverText = serverText;
        failed = FailsThisTime(core_->listing);
    }
    if (failed)
        core_->listingRetry.failed(serverText);
}

// The retries of failing requests, at the start of a period.
void InProcessServer::retryRequests()
{
    std::optional<bool> subscriptionFailed;
    std::optional<bool> listingFailed;
    std::string subscriptionText;
    std::string listingText;
    {
        std::lock_guard<std::mutex> guard(core_->lock);
        if (!core_->reachable)
            return;
        if (core_->subscription.failing) {
            subscriptionFailed = FailsThisTime(core_->subscription);
            subscriptionText = core_->subscription.serverText;
            if (!*subscriptionFailed)
                ++core_->changes; // events were missed: clients read the lists again
        }
        if (core_->listing.failing) {
            listingFailed = FailsThisTime(core_->listing);
            listingText = core_->listing.serverText;
            if (!*listingFailed)
                ++core_->changes; // the lists read at last
        }
    }
    if (subscriptionFailed)
        *subscriptionFailed ? core_->subscriptionRetry.failed(subscriptionText) : core_->subscriptionRetry.succeeded();
    if (listingFailed)
        *listingFailed ? core_->listingRetry.failed(listingText) : core_->listingRetry.succeeded();
}

void InProcessServer::pump(size_t frames)
{
    if (frames == 0)
        return;
    retryRequests();
    std::vector<std::pair<std::shared_ptr<StreamState>, std::string>> refused;
    {
        std::lock_guard<std::mutex> guard(core_->lock);
        if (core_->reachable)
            refused = core_->takeRefused();
    }
    for (const auto& [stream, why] : refused)
        FailStreams({stream}, why);

    std::vector<SinkPeriod> sinks;
    {
        std::lock_guard<std::mutex> guard(core_->lock);
        if (!core_->reachable)
            return;
        for (Device& sink : core_->sinks) {
            SinkPeriod period{sink.name, Generate(sink, frames), {}, {}};
            for (const auto& s : core_->streams) {
                if (s->kind == StreamKind::Playback && s->device == sink.name) {
                    period.streams.push_back(s);
                    period.volumes.emplace_back(s->volumeLeft, s->volumeRight);
                }
            }
            sinks.push_back(std::move(period));
        }
    }
    for (SinkPeriod& sink : sinks)
        PullPlayback(sink, frames);

    std::vector<SourcePeriod> sources;
    {
        std::lock_guard<std::mutex> guard(core_->lock);
        if (!core_->reachable)
            return;
        for (Device& source : core_->sources) {
            SourcePeriod period;
            if (source.isMonitor) {
                auto played = std::find_if(sinks.begin(), sinks.end(),
                                           [&](const SinkPeriod& p) { return p.name == source.monitorOfSink; });
                period.data = played != sinks.end() ? played->mix : std::vector<int16_t>(frames * StreamChannels, 0);
                source.position += frames;
            } else {
                period.data = Generate(source, frames);
            }
            Scale(period.data, source.volume);
            for (const auto& s : core_->streams)
                if (s->kind == StreamKind::Capture && s->device == source.name)
                    period.streams.push_back(s);
            if (!period.streams.empty()) {
                period.lost = std::min(source.overflowFrames, frames);
                source.overflowFrames -= period.lost;
            }
            sources.push_back(std::move(period));
        }
    }
    for (const SourcePeriod& source : sources)
        DeliverCapture(source, frames);
}

void InProcessServer::overflowCapture(const std::string& source, size_t frames)
{
    std::lock_guard<std::mutex> guard(core_->lock);
    Device* device = core_->findSource(source);
    if (!device)
        return;
    device->overflowFrames += frames;
}

int InProcessServer::captureStreamCount(const std::string& source) const
{
    std::lock_guard<std::mutex> guard(core_->lock);
    return static_cast<int>(std::count_if(core_->streams.begin(), core_->streams.end(), [&](const auto& s) {
        return s->kind == StreamKind::Capture && s->device == source;
    }));
}

int InProcessServer::playbackStreamCount(const std::string& sink) const
{
    std::lock_guard<std::mutex> guard(core_->lock);
    return static_cast<int>(std::count_if(core_->streams.begin(), core_->streams.end(), [&](const auto& s) {
        return s->kind == StreamKind::Playback && s->device == sink;
    }));
}

void InProcessServer::setVersions(uint32_t library, uint32_t built)
{
    std::lock_guard<std::mutex> guard(core_->lock);
    core_->libraryVersion = library;
    core_->builtVersion = built;
}

// ---- SoundServer --------------------------------------------------------

bool InProcessServer::connected()
{
    std::lock_guard<std::mutex> guard(core_->lock);
    return core_->reachable;
}

uint32_t InProcessServer::libraryVersion()
{
    std::lock_guard<std::mutex> guard(core_->lock);
    return core_->libraryVersion;
}

uint32_t InProcessServer::builtVersion()
{
    std::lock_guard<std::mutex> guard(core_->lock);
    return core_->builtVersion;
}

std::vector<SourceInfo> InProcessServer::sources()
{
    std::lock_guard<std::mutex> guard(core_->lock);
    if (!core_->reachable)
        return {};
    return core_->listing.failing ? core_->staleSources : core_->listSources();
}

std::vector<SinkInfo> InProcessServer::sinks()
{
    std::lock_guard<std::mutex> guard(core_->lock);
    if (!core_->reachable)
        return {};
    return core_->listing.failing ? core_->staleSinks : core_->listSinks();
}

uint64_t InProcessServer::changeCount()
{
    std::lock_guard<std::mutex> guard(core_->lock);
    return core_->subscription.failing ? core_->changesWhenUnsubscribed : core_->changes;
}

std::unique_ptr<CaptureStream> InProcessServer::openCapture(const std::string& source, CaptureCallback onData,
                                                            StreamFailureCallback onFailure, std::string* error)
{
    std::lock_guard<std::mutex> guard(core_->lock);
    const std::string refusal = core_->openRefusal(source, core_->findSource(source) != nullptr);
    if (!refusal.empty()) {
        if (error)
            *error = refusal;
        return nullptr;
    }
    auto state = std::make_shared<StreamState>();
    state->kind = StreamKind::Capture;
    state->device = source;
    state->onData = std::move(onData);
    state->onFailure = std::move(onFailure);
    core_->streams.push_back(state);
    return std::make_unique<InProcessCapture>(core_, std::move(state));
}

std::unique_ptr<PlaybackStream> InProcessServer::openPlayback(const std::string& sink, PlaybackCallback fill,
                                                              StreamFailureCallback onFailure, std::string* error)
{
    std::lock_guard<std::mutex> guard(core_->lock);
    const std::string refusal = core_->openRefusal(sink, core_->findSink(sink) != nullptr);
    if (!refusal.empty()) {
        if (error)
            *error = refusal;
        return nullptr;
    }
    auto state = std::make_shared<StreamState>();
    state->kind = StreamKind::Playback;
    state->device = sink;
    state->fill = std::move(fill);
    state->onFailure = std::move(onFailure);
    core_->streams.push_back(state);
    return std::make_unique<InProcessPlayback>(core_, std::move(state));
}

std::optional<float> InProcessServer::sourceVolume(const std::string& source)
{
    std::lock_guard<std::mutex> guard(core_->lock);
    const Device* device = core_->reachable ? core_->findSource(source) : nullptr;
    if (!device)
        return std::nullopt;
    return device->volume;
}

bool InProcessServer::setSourceVolume(const std::string& source, float level)
{
    std::lock_guard<std::mutex> guard(core_->lock);
    Device* device = core_->reachable ? core_->findSource(source) : nullptr;
    if (!device)
        return false;
    device->volume = ClampVolume(level); // the lists stay as they are: no change counted
    return true;
}

} // namespace platform
