#include "playback/sweeprecording.h"

#include "playback/WaveOut.h"
#include "state/global.h"

#include <algorithm>
#include <cmath>
#include <thread>

namespace {

// Clock readings needed before the offset is trusted: the first reports of
// a stream that has just started can still be settling.
constexpr std::size_t MinOffsetReadings = 5;
// Both streams' reports are asked for at once; the server answers them
// within a fraction of a millisecond of each other.
constexpr double PairedReportsSeconds = 0.002;
constexpr auto RefillPeriod = std::chrono::milliseconds(20);
// How long Start waits for the capture's first frames before it plays anyway
// (a source that delivers nothing fails by its time-out then).
constexpr auto FirstFramesWait = std::chrono::milliseconds(500);

double SecondsBetween(std::chrono::steady_clock::time_point from, std::chrono::steady_clock::time_point to)
{
    return std::chrono::duration<double>(to - from).count();
}

} // namespace

SweepRecording::~SweepRecording()
{
    Stop();
}

double SweepRecording::Median(std::vector<double> values)
{
    if (values.empty())
        return 0.0;
    const std::size_t middle = values.size() / 2;
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(middle), values.end());
    const double upper = values[middle];
    if (values.size() % 2 == 1)
        return upper;
    const double lower = *std::max_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(middle));
    return (lower + upper) / 2.0;
}

bool SweepRecording::Start(platform::SoundServer& server, const std::string& source, int outDeviceId,
                           const measure::ExponentialSweep& sweep, bool refillOwnThread, std::string* error)
{
    Stop();
    if (WaveOutIsOpen) {
        if (error)
            *error = "the generator is playing; stop it first";
        return false;
    }
    Reset(source, sweep);
    // The recording first: PipeWire delivered nothing to a monitor's capture
    // opened while one of our streams already played to its sink.
    if (!OpenCapture(server, error))
        return false;
    sink_ = SinkName(outDeviceId);
    AwaitFirstFrames();
    return PlaySweep(outDeviceId, sweep, refillOwnThread, error);
}

void SweepRecording::Reset(const std::string& source, const measure::ExponentialSweep& sweep)
{
    source_ = source;
    totalFrames_ = static_cast<uint64_t>(sweep.TotalSampleCount());
    {
        std::lock_guard<std::mutex> guard(lock_);
        recorded_.clear();
        recorded_.reserve(2 * (totalFrames_ + 3 * static_cast<uint64_t>(platform::StreamRate)));
        captureEnded_ = false;
        captureWhy_.clear();
    }
    framesSeen_ = 0;
    offsets_.clear();
    progress_ = 0.0;
    state_ = State::Recording;
    error_.clear();
    timedOut_ = false;
}

bool SweepRecording::OpenCapture(platform::SoundServer& server, std::string* error)
{
    std::string why;
    capture_ = server.openCapture(
        source_, [this](const int16_t* frames, std::size_t count) { OnFrames(frames, count); },
        [this](const std::string& reason) { OnCaptureEnded(reason); }, &why);
    if (!capture_) {
        if (error)
            *error = "the recording device '" + source_ + "' could not be opened: " + why;
        return false;
    }
    lastArrival_ = Clock::now();
    monitorSource_ = false;
    for (const platform::SourceInfo& info : server.sources())
        if (info.name == source_)
            monitorSource_ = info.isMonitor;
    return true;
}

std::string SweepRecording::SinkName(int outDeviceId)
{
    const std::vector<platform::SinkInfo> sinks = platform::WaveOutDeviceList();
    const int index = outDeviceId == platform::WAVE_MAPPER ? 0 : outDeviceId;
    if (index >= 0 && static_cast<std::size_t>(index) < sinks.size())
        return sinks[static_cast<std::size_t>(index)].name;
    return "playback device " + std::to_string(outDeviceId);
}

bool SweepRecording::PlaySweep(int outDeviceId, const measure::ExponentialSweep& sweep, bool refillOwnThread,
                               std::string* error)
{
    SetSweepSignal(std::make_shared<const std::vector<int16_t>>(sweep.Samples16()));
    GenSweep = true;
    GenPlaying = true;
    armed_ = true;
    {
        std::lock_guard<std::mutex> guard(lock_);
        framesAtEngineOpen_ = recorded_.size() / 2;
    }
    std::string why;
    if (!OpenWaveOut(outDeviceId, &why)) {
        Stop();
        if (error)
            *error = "the playback device could not be opened: " + why;
        return false;
    }
    engineOpen_ = true;
    SetOutVolume(65535); // the sweep at its own level, whatever the stream was left at
    if (refillOwnThread) {
        refilling_ = true;
        refill_ = std::thread([this] { RefillLoop(); });
    }
    return true;
}

// A capture stream delivers its first frames some time after it opened; a
// playback started before then would have its first frames missing from
// the recording.
void SweepRecording::AwaitFirstFrames()
{
    const auto giveUp = Clock::now() + FirstFramesWait;
    while (Clock::now() < giveUp) {
        {
            std::lock_guard<std::mutex> guard(lock_);
            if (!recorded_.empty() || captureEnded_)
                return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

void SweepRecording::OnFrames(const int16_t* frames, std::size_t count)
{
    std::lock_guard<std::mutex> guard(lock_);
    recorded_.insert(recorded_.end(), frames, frames + 2 * count);
}

void SweepRecording::OnCaptureEnded(const std::string& why)
{
    std::lock_guard<std::mutex> guard(lock_);
    captureEnded_ = true;
    captureWhy_ = why;
}

// One offset: the recording's frame recorded at the moment the playback's
// frame 0 was played (for a monitor: taken by the sink). Nothing before the
// playback has started.
void SweepRecording::ReadClocks()
{
    const std::optional<platform::StreamClock> recorded = capture_->clock();
    const std::optional<platform::StreamClock> played = EngineClock();
    if (!recorded || !played || played->queueFrame <= 0.0 || recorded->frame <= 0.0)
        return;
    double offset = 0.0;
    const double apartSeconds = SecondsBetween(recorded->at, played->at);
    if (monitorSource_) {
        // The sink hands each block to its monitor as it takes it from the
        // stream: both positions move together, in blocks, so no carrying
        // over from one report's moment to the other's. Reports the server
        // did not give together (one came late) say nothing.
        if (std::fabs(apartSeconds) > PairedReportsSeconds)
            return;
        offset = recorded->frame - played->queueFrame;
    } else {
        // Both clocks brought to the playback report's moment.
        offset = recorded->frame + apartSeconds * platform::StreamRate - played->frame;
    }
    offsets_.push_back(offset);
}

uint64_t SweepRecording::FramesWanted() const
{
    if (offsets_.size() >= MinOffsetReadings) {
        const double end = Median(offsets_) + static_cast<double>(totalFrames_) +
                           EndMarginSeconds * platform::StreamRate;
        return static_cast<uint64_t>(std::max(0.0, std::ceil(end)));
    }
    return framesAtEngineOpen_ + totalFrames_ +
           static_cast<uint64_t>(UnknownOffsetMarginSeconds * platform::StreamRate);
}

SweepRecording::State SweepRecording::Fail(const std::string& why)
{
    state_ = State::Failed;
    error_ = why;
    return state_;
}

SweepRecording::State SweepRecording::Poll()
{
    if (state_ != State::Recording || !capture_)
        return state_;
    uint64_t frames = 0;
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (captureEnded_)
            return Fail("the recording from '" + source_ + "' ended: " + captureWhy_);
        frames = recorded_.size() / 2;
    }
    if (const std::string why = EngineEndedBecause(); !why.empty())
        return Fail("the playback to '" + sink_ + "' ended: " + why);
    const auto now = Clock::now();
    if (frames > framesSeen_) {
        framesSeen_ = frames;
        lastArrival_ = now;
    } else if (SecondsBetween(lastArrival_, now) > NoSamplesSeconds) {
        timedOut_ = true;
        return Fail("no samples from '" + source_ + "' within 5 s");
    }
    ReadClocks();
    const uint64_t wanted = FramesWanted();
    progress_ = wanted > 0 ? std::min(1.0, static_cast<double>(frames) / static_cast<double>(wanted)) : 0.0;
    if (frames >= wanted)
        state_ = State::Done;
    return state_;
}

double SweepRecording::Progress() const
{
    return progress_;
}

std::string SweepRecording::Error() const
{
    return error_;
}

SweepTake SweepRecording::Take()
{
    SweepTake take;
    {
        std::lock_guard<std::mutex> guard(lock_);
        take.stereo = std::move(recorded_);
        recorded_.clear();
    }
    const double offset = Median(offsets_);
    const double recordedFrames = static_cast<double>(take.stereo.size() / 2);
    // An offset outside the recording is no reading of this take. One below 0
    // is possible: the sweep started before the capture's first frame.
    if (offsets_.size() >= MinOffsetReadings && offset > -static_cast<double>(totalFrames_) &&
        offset < recordedFrames) {
        take.offsetFrames = offset;
        take.offsetKnown = true;
    }
    return take;
}

void SweepRecording::StopRefilling()
{
    if (!refill_.joinable())
        return;
    {
        std::lock_guard<std::mutex> guard(refillLock_);
        refilling_ = false;
    }
    refillWake_.notify_all();
    refill_.join();
}

void SweepRecording::Stop()
{
    StopRefilling();
    if (armed_) {
        CloseWaveOut();
        GenSweep = false;
        GenPlaying = false;
        SetSweepSignal(nullptr);
        engineOpen_ = false;
        armed_ = false;
    }
    capture_.reset();
}

void SweepRecording::RefillLoop()
{
    auto next = Clock::now();
    std::unique_lock<std::mutex> guard(refillLock_);
    while (refilling_) {
        guard.unlock();
        RefillWaveOut();
        guard.lock();
        next += RefillPeriod;
        refillWake_.wait_until(guard, next, [this] { return !refilling_; });
    }
}
