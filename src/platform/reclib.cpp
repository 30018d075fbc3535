#include "platform/reclib.h"

#include "platform/soundserver.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace platform::rec {

namespace {

constexpr uint32_t BlockBytes = 17640;        // 4410 stereo frames, 100 ms
constexpr size_t RingBytes = 10 * BlockBytes; // one second; older data is dropped
constexpr uint32_t ReadFailed = static_cast<uint32_t>(-1);

thread_local int lastError = OK;
// The server's reason for the last failure, where it gave one; else a
// description of the code.
thread_local std::string lastErrorText;

std::string CodeText(int code)
{
    switch (code) {
    case OK: return {};
    case ERROR_MEM: return "Out of memory";
    case ERROR_DRIVER: return ServerGoneText;
    case ERROR_HANDLE: return "Not a valid recording channel";
    case ERROR_FORMAT: return "Only 44100 Hz, 2 channels, 16-bit are supported";
    case ERROR_INIT: return "No recording device is initialised";
    case ERROR_ALREADY: return "Already initialised or started";
    case ERROR_ILLPARAM: return "An invalid parameter";
    case ERROR_DEVICE: return "No such recording device";
    case ERROR_NOTAVAIL: return "The requested data are not available";
    default: return "Unknown failure";
    }
}

bool Fail(int code, std::string why = {})
{
    lastError = code;
    lastErrorText = why.empty() ? CodeText(code) : std::move(why);
    return false;
}

uint32_t NoChannel(int code, std::string why = {})
{
    Fail(code, std::move(why));
    return 0;
}

bool Succeed()
{
    lastError = OK;
    lastErrorText.clear();
    return true;
}

// Captured bytes on their way from the server thread to the library thread
// and the reader. Keeps the newest second; tells the library thread each
// time another block has arrived and a block can be read.
class Ring {
public:
    // Server thread.
    void write(const uint8_t* data, size_t bytes)
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (closed_)
            return;
        if (bytes > RingBytes) { // only the newest second can be kept
            droppedBytes_.fetch_add(bytes - RingBytes, std::memory_order_relaxed);
            data += bytes - RingBytes;
            bytes = RingBytes;
        }
        for (size_t i = 0; i < bytes; ++i)
            buffer_[(start_ + size_ + i) % RingBytes] = data[i];
        const size_t overflow = size_ + bytes > RingBytes ? size_ + bytes - RingBytes : 0;
        droppedBytes_.fetch_add(overflow, std::memory_order_relaxed); // the oldest bytes, never read
        start_ = (start_ + overflow) % RingBytes;
        size_ += bytes - overflow;
        arrivedSinceCall_ = std::min(arrivedSinceCall_ + bytes, RingBytes);
        wake_.notify_all();
    }

    size_t read(uint8_t* to, size_t max)
    {
        std::lock_guard<std::mutex> guard(lock_);
        const size_t n = std::min(max, size_);
        for (size_t i = 0; i < n; ++i)
            to[i] = buffer_[(start_ + i) % RingBytes];
        start_ = (start_ + n) % RingBytes;
        size_ -= n;
        return n;
    }

    // Library thread: waits until another block has arrived and a block is
    // buffered. Pacing by arrivals means a procedure that reads nothing is
    // still called once per block, not in a busy loop. Returns false when
    // the recording ends.
    bool waitForBlock(uint32_t* buffered)
    {
        std::unique_lock<std::mutex> guard(lock_);
        wake_.wait(guard, [&] { return closed_ || (arrivedSinceCall_ >= BlockBytes && size_ >= BlockBytes); });
        if (closed_)
            return false;
        arrivedSinceCall_ -= BlockBytes;
        *buffered = static_cast<uint32_t>(size_);
        return true;
    }

    // Ends the recording: no more data are taken and the library thread stops.
    void close()
    {
        std::lock_guard<std::mutex> guard(lock_);
        closed_ = true;
        wake_.notify_all();
    }

    // Server thread: the stream ended on its own.
    void fail(const std::string& why)
    {
        std::lock_guard<std::mutex> guard(lock_);
        failure_ = why.empty() ? std::string("the stream ended") : why;
        closed_ = true;
        wake_.notify_all();
    }

    std::string failure()
    {
        std::lock_guard<std::mutex> guard(lock_);
        return failure_;
    }

    uint64_t droppedFrames() const { return droppedBytes_.load(std::memory_order_relaxed) / FrameBytes; }

private:
    std::mutex lock_;
    std::condition_variable wake_;
    std::vector<uint8_t> buffer_ = std::vector<uint8_t>(RingBytes);
    size_t start_ = 0;
    size_t size_ = 0;
    size_t arrivedSinceCall_ = 0;
    bool closed_ = false;
    std::string failure_;
    std::atomic<uint64_t> droppedBytes_{0};
};

// One running recording. handle and ring are fixed before it is published;
// thread is touched only under Library::control, stream is set and taken
// under Library::control and Library::state together (so that either lock
// is enough to read it).
struct Recording {
    uint32_t handle = 0;
    std::shared_ptr<Ring> ring;
    std::unique_ptr<CaptureStream> stream;
    std::thread thread;
};

struct Library {
    // Serialises init, free, start and stop. Held while the library thread is
    // joined; the library thread itself never takes it.
    std::mutex control;
    // Guards everything below; held only briefly.
    std::mutex state;
    std::vector<DeviceInfo> devices;
    const SoundServer* snapshotServer = nullptr;
    uint64_t snapshotCount = 0;
    bool initialised = false;
    std::string initSource;
    std::shared_ptr<Recording> recording;
    uint32_t nextHandle = 0x10000;
};

// Never destroyed: a recording still running at exit must not have its
// thread object destroyed while joinable.
Library& Lib()
{
    static auto* library = new Library;
    return *library;
}

std::string SinkDescription(const std::vector<SinkInfo>& sinks, const std::string& name)
{
    auto it = std::find_if(sinks.begin(), sinks.end(), [&](const SinkInfo& s) { return s.name == name; });
    return it == sinks.end() ? std::string() : it->description;
}

std::vector<DeviceInfo> ListDevices(SoundServer& server)
{
    const std::vector<SinkInfo> sinks = server.sinks();
    std::vector<DeviceInfo> devices;
    for (const SourceInfo& source : server.sources()) {
        DeviceInfo info{source.description, source.name, DEVICE_ENABLED};
        if (source.isDefault)
            info.flags |= DEVICE_DEFAULT;
        if (source.isMonitor) {
            info.flags |= DEVICE_LOOPBACK;
            // A loopback device is named after the sink it carries, so that it
            // matches that playback device by name.
            if (std::string sink = SinkDescription(sinks, source.monitorOfSink); !sink.empty())
                info.name = std::move(sink);
        }
        devices.push_back(std::move(info));
    }
    return devices;
}

// The device list, listed again when the server's device set has changed.
// Call with Library::state held.
const std::vector<DeviceInfo>& Devices(Library& lib)
{
    SoundServer& server = Server();
    const uint64_t count = server.changeCount(); // read before listing: a change in between lists again next time
    if (lib.snapshotServer != &server || lib.snapshotCount != count) {
        lib.devices = ListDevices(server);
        lib.snapshotServer = &server;
        lib.snapshotCount = count;
    }
    return lib.devices;
}

// Source name of the device flagged default; empty when there is none.
std::string DefaultSourceName(const std::vector<DeviceInfo>& devices)
{
    for (const DeviceInfo& info : devices)
        if (info.flags & DEVICE_DEFAULT)
            return info.driver;
    return {};
}

uint32_t NextHandle(Library& lib)
{
    uint32_t handle = lib.nextHandle++;
    while (handle == 0 || handle == 1) // 1 is the program's "names no channel"
        handle = lib.nextHandle++;
    return handle;
}

std::shared_ptr<Recording> FindRecording(Library& lib, uint32_t handle)
{
    std::lock_guard<std::mutex> guard(lib.state);
    if (lib.recording && lib.recording->handle == handle)
        return lib.recording;
    return nullptr;
}

// Call with Library::control held.
void EndRecording(Library& lib)
{
    std::shared_ptr<Recording> recording;
    {
        std::lock_guard<std::mutex> guard(lib.state);
        recording = lib.recording;
    }
    if (!recording)
        return;
    std::unique_ptr<CaptureStream> stream;
    {
        std::lock_guard<std::mutex> guard(lib.state);
        stream = std::move(recording->stream);
    }
    stream.reset(); // waits for a running data callback
    recording->ring->close();
    if (recording->thread.joinable()) {
        if (recording->thread.get_id() == std::this_thread::get_id())
            recording->thread.detach(); // ended from inside the procedure: it returns on its own
        else
            recording->thread.join(); // the procedure may still read until it returns
    }
    std::lock_guard<std::mutex> guard(lib.state);
    lib.recording.reset();
}

void RunProcedure(std::shared_ptr<Ring> ring, uint32_t handle, RecordProc proc, void* user)
{
    uint32_t buffered = 0;
    while (ring->waitForBlock(&buffered)) {
        if (!proc(handle, nullptr, buffered, user)) {
            ring->close();
            return;
        }
    }
}

int StartFailureCode(const std::string& source)
{
    SoundServer& server = Server();
    if (!server.connected())
        return ERROR_DRIVER;
    const auto sources = server.sources();
    const bool listed = std::any_of(sources.begin(), sources.end(),
                                    [&](const SourceInfo& s) { return s.name == source; });
    return listed ? ERROR_UNKNOWN : ERROR_DEVICE;
}

bool EndChannel(uint32_t handle)
{
    Library& lib = Lib();
    std::lock_guard<std::mutex> control(lib.control);
    if (!FindRecording(lib, handle))
        return Fail(ERROR_HANDLE);
    EndRecording(lib);
    return Succeed();
}

// The initialised device's source, or "" (with the error set) when none.
std::string InitialisedSource()
{
    Library& lib = Lib();
    std::lock_guard<std::mutex> guard(lib.state);
    if (!lib.initialised) {
        Fail(ERROR_INIT);
        return {};
    }
    return lib.initSource;
}

int LevelFailureCode()
{
    return Server().connected() ? ERROR_DEVICE : ERROR_DRIVER;
}

} // namespace

uint32_t GetVersion()
{
    Succeed();
    return Server().libraryVersion();
}

uint32_t BuiltVersion()
{
    Succeed();
    return Server().builtVersion();
}

bool RecordGetDeviceInfo(int device, DeviceInfo* info)
{
    if (!info)
        return Fail(ERROR_ILLPARAM);
    Library& lib = Lib();
    std::lock_guard<std::mutex> guard(lib.state);
    const auto& devices = Devices(lib);
    if (device < 1 || static_cast<size_t>(device) > devices.size())
        return Fail(devices.empty() && !Server().connected() ? ERROR_DRIVER : ERROR_DEVICE);
    *info = devices[static_cast<size_t>(device) - 1];
    return Succeed();
}

bool RecordInit(int device)
{
    Library& lib = Lib();
    std::lock_guard<std::mutex> control(lib.control);
    std::lock_guard<std::mutex> guard(lib.state);
    if (lib.initialised)
        return Fail(ERROR_ALREADY);
    if (!Server().connected())
        return Fail(ERROR_DRIVER);
    const auto& devices = Devices(lib);
    if (device == DefaultDevice) {
        // The default recording device, whichever it is at the time.
        lib.initSource = DefaultSourceName(devices);
    } else if (device < 1 || static_cast<size_t>(device) > devices.size()) {
        return Fail(ERROR_DEVICE);
    } else {
        lib.initSource = devices[static_cast<size_t>(device) - 1].driver;
    }
    lib.initialised = true;
    return Succeed();
}

bool RecordFree()
{
    Library& lib = Lib();
    std::lock_guard<std::mutex> control(lib.control);
    EndRecording(lib);
    std::lock_guard<std::mutex> guard(lib.state);
    if (!lib.initialised)
        return Fail(ERROR_INIT);
    lib.initialised = false;
    lib.initSource.clear();
    return Succeed();
}

uint32_t RecordStart(uint32_t freq, uint32_t chans, uint32_t flags, RecordProc proc, void* user)
{
    Library& lib = Lib();
    std::lock_guard<std::mutex> control(lib.control);
    std::string source;
    {
        std::lock_guard<std::mutex> guard(lib.state);
        if (!lib.initialised)
            return NoChannel(ERROR_INIT);
        if (lib.recording)
            return NoChannel(ERROR_ALREADY);
        source = lib.initSource;
    }
    if (freq != StreamRate || chans != StreamChannels || flags != 0)
        return NoChannel(ERROR_FORMAT);

    auto ring = std::make_shared<Ring>();
    std::string why;
    auto stream = Server().openCapture(
        source,
        [ring](const int16_t* frames, size_t count) {
            ring->write(reinterpret_cast<const uint8_t*>(frames), count * FrameBytes);
        },
        [ring](const std::string& ended) {
            ring->fail(ended);
            ReportStreamFailure(ended);
        },
        &why);
    if (!stream)
        return NoChannel(StartFailureCode(source), why);

    auto recording = std::make_shared<Recording>();
    recording->ring = ring;
    recording->stream = std::move(stream);
    {
        std::lock_guard<std::mutex> guard(lib.state);
        recording->handle = NextHandle(lib);
        lib.recording = recording;
    }
    // Started after publishing, so that the procedure's first read finds the channel.
    if (proc)
        recording->thread = std::thread(RunProcedure, ring, recording->handle, proc, user);
    Succeed();
    return recording->handle;
}

uint32_t ChannelGetData(uint32_t handle, void* buffer, uint32_t length)
{
    if (!buffer) {
        Fail(ERROR_ILLPARAM);
        return ReadFailed;
    }
    auto recording = FindRecording(Lib(), handle);
    if (!recording) {
        Fail(ERROR_HANDLE);
        return ReadFailed;
    }
    const size_t got = recording->ring->read(static_cast<uint8_t*>(buffer), length);
    Succeed();
    return static_cast<uint32_t>(got);
}

uint64_t ChannelGetDroppedFrames(uint32_t handle)
{
    Library& lib = Lib();
    std::lock_guard<std::mutex> guard(lib.state);
    if (!lib.recording || lib.recording->handle != handle) {
        Fail(ERROR_HANDLE);
        return 0;
    }
    const Recording& recording = *lib.recording;
    const uint64_t serverLost = recording.stream ? recording.stream->droppedFrames() : 0;
    Succeed();
    return recording.ring->droppedFrames() + serverLost;
}

std::string ChannelEndedBecause(uint32_t handle)
{
    auto recording = FindRecording(Lib(), handle);
    return recording ? recording->ring->failure() : std::string();
}

bool ChannelStop(uint32_t handle)
{
    return EndChannel(handle);
}

bool StreamFree(uint32_t handle)
{
    return EndChannel(handle);
}

bool RecordGetInput(int input, float* volume)
{
    if (input != 0 && input != -1)
        return Fail(ERROR_ILLPARAM);
    const std::string source = InitialisedSource();
    if (source.empty())
        return false;
    const std::optional<float> level = Server().sourceVolume(source);
    if (!level)
        return Fail(LevelFailureCode());
    if (volume)
        *volume = *level;
    return Succeed();
}

bool RecordSetInput(int input, uint32_t /*flags: no input switching here*/, float volume)
{
    if (input != 0 && input != -1)
        return Fail(ERROR_ILLPARAM);
    const std::string source = InitialisedSource();
    if (source.empty())
        return false;
    if (!(volume >= 0.0f)) // a negative level (or NaN) leaves the level as it is
        return Succeed();
    if (!Server().setSourceVolume(source, std::min(volume, 1.0f)))
        return Fail(LevelFailureCode());
    return Succeed();
}

int ErrorGetCode()
{
    return lastError;
}

std::string ErrorGetText()
{
    return lastErrorText;
}

bool Free()
{
    RecordFree();
    return Succeed();
}

} // namespace platform::rec
