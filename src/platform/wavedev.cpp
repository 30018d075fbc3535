#include "platform/wavedev.h"

#include "platform/soundserver.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>

namespace platform {

namespace {

// Every source and sink delivers 44.1 and 48 kHz, mono or stereo, 8 or
// 16 bits (the server converts), so every device reports the same flags.
constexpr uint32_t WAVE_FORMAT_4M08 = 0x0100;
constexpr uint32_t WAVE_FORMAT_4S08 = 0x0200;
constexpr uint32_t WAVE_FORMAT_4M16 = 0x0400;
constexpr uint32_t WAVE_FORMAT_48M08 = 0x1000;
constexpr uint32_t WAVE_FORMAT_48S08 = 0x2000;
constexpr uint32_t WAVE_FORMAT_48M16 = 0x4000;
constexpr uint32_t WAVE_FORMAT_48S16 = 0x8000;
constexpr uint32_t SupportedFormats = WAVE_FORMAT_4M08 | WAVE_FORMAT_4S08 | WAVE_FORMAT_4M16 | WAVE_FORMAT_4S16 |
                                      WAVE_FORMAT_48M08 | WAVE_FORMAT_48S08 | WAVE_FORMAT_48M16 | WAVE_FORMAT_48S16;

// The only stream format the devices open with.
bool IsStreamFormat(const WaveFormat& f)
{
    return f.formatTag == 1 && f.channels == StreamChannels && f.samplesPerSec == StreamRate && f.bitsPerSample == 16 &&
           f.blockAlign == FrameBytes && f.avgBytesPerSec == StreamRate * FrameBytes;
}

// The server's reason for the last failed open on this thread. The thread
// that opens a device is the one that asks for the error text, so keeping it
// per thread ties the text to that open without any sharing between threads.
struct OpenFailure {
    MMResult code = MMSYSERR_NOERROR;
    std::string detail;
};
thread_local OpenFailure lastWaveInFailure;
thread_local OpenFailure lastWaveOutFailure;

std::string BaseErrorText(MMResult result)
{
    switch (result) {
    case MMSYSERR_NOERROR: return "The operation completed successfully.";
    case MMSYSERR_ERROR: return "The sound server could not open the device.";
    case MMSYSERR_BADDEVICEID: return "There is no audio device with this number.";
    case MMSYSERR_ALLOCATED: return "The audio device is already in use.";
    case MMSYSERR_INVALHANDLE: return "The audio device handle is not valid.";
    case MMSYSERR_NODRIVER: return "The sound server is not reachable.";
    case MMSYSERR_INVALPARAM: return "An invalid parameter was passed to an audio device function.";
    case WAVERR_BADFORMAT: return "The audio format is not supported (44100 Hz, 16-bit stereo PCM only).";
    case WAVERR_STILLPLAYING: return "Buffers are still queued on the audio device; reset it first.";
    case WAVERR_UNPREPARED: return "The audio buffer header was not prepared.";
    default: return "Unknown audio device error " + std::to_string(result) + ".";
    }
}

std::string ErrorText(MMResult result, const OpenFailure& last)
{
    std::string text = BaseErrorText(result);
    if (result != MMSYSERR_NOERROR && last.code == result && !last.detail.empty())
        text += " Reason: " + last.detail;
    return text;
}

MMResult RecordOpenFailure(OpenFailure& last, MMResult code, std::string detail)
{
    last.code = code;
    last.detail = std::move(detail);
    return code;
}

// Wave-in devices: sources that are not monitors, the default one first.
std::vector<SourceInfo> WaveInSources()
{
    std::vector<SourceInfo> inputs;
    for (SourceInfo& source : Server().sources())
        if (!source.isMonitor)
            inputs.push_back(std::move(source));
    std::stable_partition(inputs.begin(), inputs.end(), [](const SourceInfo& s) { return s.isDefault; });
    return inputs;
}

// Wave-out devices: sinks, the default one first.
std::vector<SinkInfo> WaveOutSinks()
{
    std::vector<SinkInfo> outputs = Server().sinks();
    std::stable_partition(outputs.begin(), outputs.end(), [](const SinkInfo& s) { return s.isDefault; });
    return outputs;
}

template <class Info>
const Info* ById(const std::vector<Info>& list, int id)
{
    return id >= 0 && static_cast<size_t>(id) < list.size() ? &list[static_cast<size_t>(id)] : nullptr;
}

void FillCaps(WaveCaps* caps, const std::string& description)
{
    caps->productName = CutChars(description, MaxPnameChars);
    caps->formats = SupportedFormats;
    caps->channels = StreamChannels;
}

// The detail for a bad device id: an empty list usually means the server is gone.
std::string MissingDeviceDetail()
{
    return Server().connected() ? std::string() : "the sound server is not reachable";
}

MMResult StreamOpenFailure(OpenFailure& last, const std::string& why)
{
    const MMResult code = Server().connected() ? MMSYSERR_ERROR : MMSYSERR_NODRIVER;
    return RecordOpenFailure(last, code, why);
}

void MarkDone(WaveHeader* hdr)
{
    hdr->flags.fetch_and(~WHDR_INQUEUE, std::memory_order_relaxed);
    hdr->flags.fetch_or(WHDR_DONE, std::memory_order_release);
}

MMResult Prepare(WaveHeader* hdr)
{
    if (!hdr || (!hdr->data && hdr->bufferLength > 0))
        return MMSYSERR_INVALPARAM;
    if (hdr->flags.load(std::memory_order_acquire) & WHDR_INQUEUE)
        return WAVERR_STILLPLAYING;
    hdr->flags.fetch_or(WHDR_PREPARED, std::memory_order_relaxed);
    return MMSYSERR_NOERROR;
}

MMResult Unprepare(WaveHeader* hdr)
{
    if (!hdr)
        return MMSYSERR_INVALPARAM;
    if (hdr->flags.load(std::memory_order_acquire) & WHDR_INQUEUE)
        return WAVERR_STILLPLAYING;
    hdr->flags.fetch_and(~WHDR_PREPARED, std::memory_order_relaxed);
    return MMSYSERR_NOERROR;
}

// Checks a header about to be queued: prepared, not queued already, with memory.
MMResult Queueable(const WaveHeader* hdr)
{
    if (!hdr || (!hdr->data && hdr->bufferLength > 0))
        return MMSYSERR_INVALPARAM;
    const uint32_t flags = hdr->flags.load(std::memory_order_acquire);
    if (!(flags & WHDR_PREPARED))
        return WAVERR_UNPREPARED;
    if (flags & WHDR_INQUEUE)
        return WAVERR_STILLPLAYING;
    return MMSYSERR_NOERROR;
}

void Enqueue(std::deque<WaveHeader*>& queue, WaveHeader* hdr)
{
    hdr->flags.fetch_and(~WHDR_DONE, std::memory_order_relaxed);
    if (hdr->bufferLength == 0) {
        MarkDone(hdr);
        return;
    }
    hdr->flags.fetch_or(WHDR_INQUEUE, std::memory_order_relaxed);
    queue.push_back(hdr);
}

void MarkAllDone(std::deque<WaveHeader*>& queue)
{
    for (WaveHeader* hdr : queue)
        MarkDone(hdr);
    queue.clear();
}

// Live handles. A handle is only dereferenced after it is found here, so a
// stale or null handle gives MMSYSERR_INVALHANDLE instead of a crash. The
// map holds shared pointers, so a device stays alive while a call on another
// thread still uses it. Never destroyed: devices left open at exit must not
// outlive the server they would close their streams on.
template <class Device>
class Registry {
public:
    void add(const std::shared_ptr<Device>& device)
    {
        std::lock_guard<std::mutex> guard(lock_);
        live_[device.get()] = device;
    }
    std::shared_ptr<Device> find(Device* handle)
    {
        std::lock_guard<std::mutex> guard(lock_);
        auto it = live_.find(handle);
        return it == live_.end() ? nullptr : it->second;
    }
    void remove(Device* handle)
    {
        std::lock_guard<std::mutex> guard(lock_);
        live_.erase(handle);
    }

private:
    std::mutex lock_;
    std::map<Device*, std::shared_ptr<Device>> live_;
};

} // namespace

// ---- devices ------------------------------------------------------------
//
// Locking: `lock_` guards the queue and state and is the only lock the
// stream callbacks take. `streamUse_` serialises calls on the stream object
// with its destruction; it is never taken by a callback, so destroying the
// stream (which waits for a running callback) cannot deadlock with one.

class WaveInDevice {
public:
    MMResult open(const std::string& source, std::string* error)
    {
        auto stream = Server().openCapture(
            source, [this](const int16_t* frames, size_t count) { onData(frames, count); },
            [this](const std::string& why) { onFailure(why); }, error);
        if (!stream)
            return MMSYSERR_ERROR;
        std::lock_guard<std::mutex> guard(streamUse_);
        stream_ = std::move(stream);
        return MMSYSERR_NOERROR;
    }

    MMResult addBuffer(WaveHeader* hdr)
    {
        if (const MMResult check = Queueable(hdr); check != MMSYSERR_NOERROR)
            return check;
        std::lock_guard<std::mutex> guard(lock_);
        if (closed_)
            return MMSYSERR_INVALHANDLE;
        hdr->bytesRecorded.store(0, std::memory_order_relaxed);
        Enqueue(queue_, hdr);
        return MMSYSERR_NOERROR;
    }

    MMResult start()
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (closed_)
            return MMSYSERR_INVALHANDLE;
        started_ = true;
        return MMSYSERR_NOERROR;
    }

    MMResult reset()
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (closed_)
            return MMSYSERR_INVALHANDLE;
        started_ = false;
        MarkAllDone(queue_);
        return MMSYSERR_NOERROR;
    }

    // Frames lost since the open: those that came while recording with no
    // buffer queued, and those the server lost on the way.
    uint64_t droppedFrames()
    {
        uint64_t lost = noBufferFrames_.load(std::memory_order_relaxed);
        std::lock_guard<std::mutex> guard(streamUse_);
        if (stream_)
            lost += stream_->droppedFrames();
        return lost;
    }

    // Why the stream ended on its own; empty while it runs.
    std::string endedBecause()
    {
        std::lock_guard<std::mutex> guard(lock_);
        return ended_ ? (endedWhy_.empty() ? std::string("the stream ended") : endedWhy_) : std::string();
    }

    MMResult close()
    {
        {
            std::lock_guard<std::mutex> guard(lock_);
            if (closed_)
                return MMSYSERR_INVALHANDLE;
            if (!queue_.empty())
                return WAVERR_STILLPLAYING;
            closed_ = true;
            started_ = false;
        }
        std::lock_guard<std::mutex> guard(streamUse_);
        stream_.reset();
        return MMSYSERR_NOERROR;
    }

private:
    // Server thread: copies into the queued headers in order; what arrives
    // before start, after a failure or with no header queued is dropped, and
    // while recording the last of these is counted as lost: the poller did
    // not hand a buffer back in time.
    void onData(const int16_t* frames, size_t count)
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (!started_ || ended_ || closed_)
            return;
        const char* from = reinterpret_cast<const char*>(frames);
        size_t left = count * FrameBytes;
        while (left > 0 && !queue_.empty()) {
            WaveHeader* hdr = queue_.front();
            // The byte count is stored last: once a poller sees the buffer
            // full it may re-queue it and rewrite the header.
            const uint32_t length = hdr->bufferLength;
            const uint32_t have = hdr->bytesRecorded.load(std::memory_order_relaxed);
            const uint32_t take = static_cast<uint32_t>(std::min<size_t>(left, length - have));
            std::memcpy(hdr->data + have, from, take);
            from += take;
            left -= take;
            if (have + take == length) {
                queue_.pop_front();
                MarkDone(hdr);
            }
            hdr->bytesRecorded.store(have + take, std::memory_order_release);
        }
        if (left > 0)
            noBufferFrames_.fetch_add(left / FrameBytes, std::memory_order_relaxed);
    }

    // The stream ended (device or server gone, or a read refused): queued
    // headers stay queued and unfilled.
    void onFailure(const std::string& why)
    {
        {
            std::lock_guard<std::mutex> guard(lock_);
            ended_ = true;
            endedWhy_ = why;
        }
        ReportStreamFailure(why);
    }

    std::mutex lock_;
    std::deque<WaveHeader*> queue_;
    bool started_ = false;
    bool ended_ = false;
    std::string endedWhy_;
    bool closed_ = false;
    std::atomic<uint64_t> noBufferFrames_{0};
    std::mutex streamUse_;
    std::unique_ptr<CaptureStream> stream_; // last: destroyed first, before what its callbacks use
};

class WaveOutDevice {
public:
    MMResult open(const std::string& sink, std::string* error)
    {
        auto stream = Server().openPlayback(
            sink, [this](int16_t* frames, size_t maxFrames) { return fill(frames, maxFrames); },
            // A sink that goes away just stops pulling: queued headers stay
            // queued. A write the server refused is told to the user.
            [this](const std::string& why) { onFailure(why); }, error);
        if (!stream)
            return MMSYSERR_ERROR;
        std::lock_guard<std::mutex> guard(streamUse_);
        stream_ = std::move(stream);
        return MMSYSERR_NOERROR;
    }

    MMResult write(WaveHeader* hdr)
    {
        if (const MMResult check = Queueable(hdr); check != MMSYSERR_NOERROR)
            return check;
        std::lock_guard<std::mutex> guard(lock_);
        if (closed_)
            return MMSYSERR_INVALHANDLE;
        Enqueue(queue_, hdr);
        return MMSYSERR_NOERROR;
    }

    MMResult reset()
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (closed_)
            return MMSYSERR_INVALHANDLE;
        MarkAllDone(queue_);
        frontOffset_ = 0;
        return MMSYSERR_NOERROR;
    }

    MMResult close()
    {
        {
            std::lock_guard<std::mutex> guard(lock_);
            if (closed_)
                return MMSYSERR_INVALHANDLE;
            if (!queue_.empty())
                return WAVERR_STILLPLAYING;
            closed_ = true;
        }
        std::lock_guard<std::mutex> guard(streamUse_);
        stream_.reset();
        return MMSYSERR_NOERROR;
    }

    MMResult setVolume(uint32_t packed)
    {
        const float left = static_cast<float>(packed & 0xFFFF) / 65535.0f;
        const float right = static_cast<float>(packed >> 16) / 65535.0f;
        std::lock_guard<std::mutex> guard(streamUse_);
        if (!stream_)
            return MMSYSERR_INVALHANDLE;
        return stream_->setVolume(left, right) ? MMSYSERR_NOERROR : MMSYSERR_ERROR;
    }

    uint64_t underruns()
    {
        std::lock_guard<std::mutex> guard(streamUse_);
        return stream_ ? stream_->underruns() : 0;
    }

    std::optional<StreamClock> clock()
    {
        std::lock_guard<std::mutex> guard(streamUse_);
        return stream_ ? stream_->clock() : std::nullopt;
    }

    // Why the stream ended on its own; empty while it runs.
    std::string endedBecause()
    {
        std::lock_guard<std::mutex> guard(lock_);
        return ended_ ? (endedWhy_.empty() ? std::string("the stream ended") : endedWhy_) : std::string();
    }

    MMResult getVolume(uint32_t* packed)
    {
        float left = 0, right = 0;
        {
            std::lock_guard<std::mutex> guard(streamUse_);
            if (!stream_)
                return MMSYSERR_INVALHANDLE;
            if (!stream_->volume(left, right))
                return MMSYSERR_ERROR;
        }
        *packed = ToLevel(left) | (ToLevel(right) << 16);
        return MMSYSERR_NOERROR;
    }

private:
    static uint32_t ToLevel(float fraction)
    {
        const float clamped = fraction >= 0.0f ? std::min(fraction, 1.0f) : 0.0f;
        return static_cast<uint32_t>(std::lround(clamped * 65535.0f));
    }

    // Server thread: hands over the queued headers in order, as much of
    // them as there is; a header is done once it has been handed over in
    // full. Nothing is made up when the queue runs short: the server keeps
    // what it was given and asks again, so a refill that comes a little late
    // costs nothing, where silence put in would be a gap in the sound.
    size_t fill(int16_t* frames, size_t maxFrames)
    {
        char* to = reinterpret_cast<char*>(frames);
        const size_t wanted = maxFrames * FrameBytes;
        size_t given = 0;
        {
            std::lock_guard<std::mutex> guard(lock_);
            while (!closed_ && given < wanted && !queue_.empty()) {
                WaveHeader* hdr = queue_.front();
                const size_t take = std::min<size_t>(wanted - given, hdr->bufferLength - frontOffset_);
                std::memcpy(to + given, hdr->data + frontOffset_, take);
                given += take;
                frontOffset_ += take;
                if (frontOffset_ == hdr->bufferLength) {
                    queue_.pop_front();
                    frontOffset_ = 0;
                    MarkDone(hdr);
                }
            }
        }
        return given / FrameBytes;
    }

    void onFailure(const std::string& why)
    {
        {
            std::lock_guard<std::mutex> guard(lock_);
            ended_ = true;
            endedWhy_ = why;
        }
        ReportStreamFailure(why);
    }

    std::mutex lock_;
    std::deque<WaveHeader*> queue_;
    size_t frontOffset_ = 0; // bytes of the front header already played
    bool closed_ = false;
    bool ended_ = false;
    std::string endedWhy_;
    std::mutex streamUse_;
    std::unique_ptr<PlaybackStream> stream_; // last: destroyed first, before what its callbacks use
};

namespace {

Registry<WaveInDevice>& WaveIns()
{
    static auto* registry = new Registry<WaveInDevice>;
    return *registry;
}

Registry<WaveOutDevice>& WaveOuts()
{
    static auto* registry = new Registry<WaveOutDevice>;
    return *registry;
}

// What wave-in and wave-out share, over their device list and registry.

template <class Info>
MMResult CapsOf(const std::vector<Info>& list, int id, WaveCaps* caps)
{
    if (!caps)
        return MMSYSERR_INVALPARAM;
    const Info* info = ById(list, id);
    if (!info)
        return MMSYSERR_BADDEVICEID;
    FillCaps(caps, info->description);
    return MMSYSERR_NOERROR;
}

// Opens entry `id` of `list`; why it failed goes to `failure` for the error text.
template <class Device, class Info>
MMResult OpenOn(Registry<Device>& registry, OpenFailure& failure, const std::vector<Info>& list, int id,
                const WaveFormat& format, Device** handle)
{
    if (!handle)
        return MMSYSERR_INVALPARAM;
    *handle = nullptr;
    // The default device is listed first, so the mapper's choice is id 0.
    const Info* info = ById(list, id == WAVE_MAPPER ? 0 : id);
    if (!info)
        return RecordOpenFailure(failure, MMSYSERR_BADDEVICEID, MissingDeviceDetail());
    if (!IsStreamFormat(format))
        return RecordOpenFailure(failure, WAVERR_BADFORMAT, {});
    auto device = std::make_shared<Device>();
    std::string why;
    if (device->open(info->name, &why) != MMSYSERR_NOERROR)
        return StreamOpenFailure(failure, why);
    registry.add(device);
    *handle = device.get();
    failure = {};
    return MMSYSERR_NOERROR;
}

// A device with buffers still queued stays open (and registered).
template <class Device>
MMResult CloseOn(Registry<Device>& registry, Device* handle)
{
    auto device = registry.find(handle);
    if (!device)
        return MMSYSERR_INVALHANDLE;
    const MMResult result = device->close();
    if (result == MMSYSERR_NOERROR)
        registry.remove(handle);
    return result;
}

} // namespace

// ---- names --------------------------------------------------------------

std::string CutChars(const std::string& text, int n)
{
    if (n <= 0)
        return {};
    int started = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const bool continuation = (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80;
        if (!continuation && started++ == n)
            return text.substr(0, i);
    }
    return text;
}

// ---- wave-in ------------------------------------------------------------

int WaveInGetNumDevs()
{
    return static_cast<int>(WaveInSources().size());
}

MMResult WaveInGetDevCaps(int id, WaveCaps* caps)
{
    return CapsOf(WaveInSources(), id, caps);
}

MMResult WaveInOpen(HWaveIn* handle, int id, const WaveFormat& format)
{
    return OpenOn(WaveIns(), lastWaveInFailure, WaveInSources(), id, format, handle);
}

MMResult WaveInPrepareHeader(HWaveIn h, WaveHeader* hdr)
{
    return WaveIns().find(h) ? Prepare(hdr) : MMSYSERR_INVALHANDLE;
}

MMResult WaveInUnprepareHeader(HWaveIn h, WaveHeader* hdr)
{
    return WaveIns().find(h) ? Unprepare(hdr) : MMSYSERR_INVALHANDLE;
}

MMResult WaveInAddBuffer(HWaveIn h, WaveHeader* hdr)
{
    auto device = WaveIns().find(h);
    return device ? device->addBuffer(hdr) : MMSYSERR_INVALHANDLE;
}

MMResult WaveInStart(HWaveIn h)
{
    auto device = WaveIns().find(h);
    return device ? device->start() : MMSYSERR_INVALHANDLE;
}

MMResult WaveInReset(HWaveIn h)
{
    auto device = WaveIns().find(h);
    return device ? device->reset() : MMSYSERR_INVALHANDLE;
}

MMResult WaveInClose(HWaveIn h)
{
    return CloseOn(WaveIns(), h);
}

MMResult WaveInGetDroppedFrames(HWaveIn h, uint64_t* frames)
{
    if (!frames)
        return MMSYSERR_INVALPARAM;
    auto device = WaveIns().find(h);
    if (!device)
        return MMSYSERR_INVALHANDLE;
    *frames = device->droppedFrames();
    return MMSYSERR_NOERROR;
}

std::string WaveInEndedBecause(HWaveIn h)
{
    auto device = WaveIns().find(h);
    return device ? device->endedBecause() : std::string();
}

std::string WaveInGetErrorText(MMResult result)
{
    return ErrorText(result, lastWaveInFailure);
}

// ---- wave-out -----------------------------------------------------------

int WaveOutGetNumDevs()
{
    return static_cast<int>(WaveOutSinks().size());
}

MMResult WaveOutGetDevCaps(int id, WaveCaps* caps)
{
    return CapsOf(WaveOutSinks(), id, caps);
}

std::vector<SinkInfo> WaveOutDeviceList()
{
    return WaveOutSinks();
}

MMResult WaveOutOpen(HWaveOut* handle, int id, const WaveFormat& format)
{
    return OpenOn(WaveOuts(), lastWaveOutFailure, WaveOutSinks(), id, format, handle);
}

MMResult WaveOutPrepareHeader(HWaveOut h, WaveHeader* hdr)
{
    return WaveOuts().find(h) ? Prepare(hdr) : MMSYSERR_INVALHANDLE;
}

MMResult WaveOutUnprepareHeader(HWaveOut h, WaveHeader* hdr)
{
    return WaveOuts().find(h) ? Unprepare(hdr) : MMSYSERR_INVALHANDLE;
}

MMResult WaveOutWrite(HWaveOut h, WaveHeader* hdr)
{
    auto device = WaveOuts().find(h);
    return device ? device->write(hdr) : MMSYSERR_INVALHANDLE;
}

MMResult WaveOutReset(HWaveOut h)
{
    auto device = WaveOuts().find(h);
    return device ? device->reset() : MMSYSERR_INVALHANDLE;
}

MMResult WaveOutClose(HWaveOut h)
{
    return CloseOn(WaveOuts(), h);
}

MMResult WaveOutSetVolume(HWaveOut h, uint32_t volume)
{
    auto device = WaveOuts().find(h);
    return device ? device->setVolume(volume) : MMSYSERR_INVALHANDLE;
}

MMResult WaveOutGetVolume(HWaveOut h, uint32_t* volume)
{
    if (!volume)
        return MMSYSERR_INVALPARAM;
    auto device = WaveOuts().find(h);
    return device ? device->getVolume(volume) : MMSYSERR_INVALHANDLE;
}

MMResult WaveOutGetUnderruns(HWaveOut h, uint64_t* count)
{
    if (!count)
        return MMSYSERR_INVALPARAM;
    auto device = WaveOuts().find(h);
    if (!device)
        return MMSYSERR_INVALHANDLE;
    *count = device->underruns();
    return MMSYSERR_NOERROR;
}

MMResult WaveOutGetClock(HWaveOut h, StreamClock* clock)
{
    if (!clock)
        return MMSYSERR_INVALPARAM;
    auto device = WaveOuts().find(h);
    if (!device)
        return MMSYSERR_INVALHANDLE;
    const std::optional<StreamClock> reading = device->clock();
    if (!reading)
        return MMSYSERR_ERROR;
    *clock = *reading;
    return MMSYSERR_NOERROR;
}

std::string WaveOutEndedBecause(HWaveOut h)
{
    auto device = WaveOuts().find(h);
    return device ? device->endedBecause() : std::string();
}

std::string WaveOutGetErrorText(MMResult result)
{
    return ErrorText(result, lastWaveOutFailure);
}

} // namespace platform
