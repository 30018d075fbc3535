#include "playback/WaveOut.h"

#include "measure/pinknoise.h"
#include "state/global.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <mutex>

using namespace platform;

namespace {

constexpr long double PiL = 3.141592653589793238462643383279502884L;

// Held by RefillWaveOut on the tick thread and by OpenWaveOut and
// CloseWaveOut on the UI thread, the only places that change the handle or
// touch the headers while the device may be open, so that a close never
// pulls the device out from under a refill. The volume calls read the
// handle without it: only the UI thread, their own, ever changes it. It is
// never held while a stream callback waits for it (the device's callbacks
// take only the device's own lock).
std::mutex waveOutLock;
HWaveOut OutHandle = nullptr;
WaveHeader OutHeaders[2];
uintptr_t SubmissionCount = 0;
std::shared_ptr<const std::vector<int16_t>> SweepSignal; // under waveOutLock
std::atomic<uint64_t> SweepQueued{0};

uint32_t ClockState()
{
    const auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
    return static_cast<uint32_t>(ticks ^ (ticks >> 32));
}

// Taken from a clock when the program starts, so the noise differs from run to run.
uint32_t NoiseState = ClockState();
// One source per channel; keys one apart give unrelated streams.
measure::PinkNoise PinkLeft{NoiseState}, PinkRight{NoiseState + 1u};

void FillSine(int16_t* out, int frames)
{
    // A frequency change shows at the next buffer, the same for all its frames.
    const bool tone = GenTestTone;
    const float left = tone ? ToneFreq.load() : FreqLeft.load();
    const float right = tone ? ToneFreq.load() : FreqRight.load();
    const double amplitude = tone ? ToneAmplitude.load() : FullScaleSine;
    uint32_t n = GenSampleCounter;
    for (int i = 0; i < frames; ++i) {
        const uint32_t m = 2u * n; // wraps after 2^31 frames, about 13.5 hours
        out[2 * i] = SineSampleFast(m, left, amplitude);
        out[2 * i + 1] = SineSampleFast(m, right, amplitude);
        ++n;
    }
    GenSampleCounter = n;
}

void FillNoise(int16_t* out, int frames)
{
    for (int i = 0; i < frames; ++i) {
        out[2 * i] = static_cast<int16_t>(static_cast<int32_t>(NoiseRandom(65534)) - 32767);
        out[2 * i + 1] = static_cast<int16_t>(static_cast<int32_t>(NoiseRandom(65534)) - 32767);
    }
}

void FillPink(int16_t* out, int frames)
{
    for (int i = 0; i < frames; ++i) {
        out[2 * i] = PinkLeft.NextSample();
        out[2 * i + 1] = PinkRight.NextSample();
    }
}

// The sweep from the frame counter on, the same on both channels; past its
// end, silence.
void FillSweep(int16_t* out, int frames)
{
    const uint32_t start = GenSampleCounter;
    const std::size_t length = SweepSignal ? SweepSignal->size() : 0;
    for (int i = 0; i < frames; ++i) {
        const std::size_t n = static_cast<std::size_t>(start) + static_cast<std::size_t>(i);
        const int16_t value = n < length ? (*SweepSignal)[n] : int16_t{0};
        out[2 * i] = value;
        out[2 * i + 1] = value;
    }
    GenSampleCounter = start + static_cast<uint32_t>(frames);
    SweepQueued = std::min<uint64_t>(length, static_cast<uint64_t>(start) + static_cast<uint64_t>(frames));
}

void FillAndQueueLocked(int k)
{
    FillBuffer(k);
    QueueBuffer(k);
}

} // namespace

int16_t SineSample(uint32_t m, float frequency, double amplitude)
{
    const long double value = std::sin(PiL * m * frequency / 44100.0L) * static_cast<long double>(amplitude);
    return static_cast<int16_t>(std::nearbyint(value)); // the default rounding: halves to even
}

int16_t SineSampleFast(uint32_t m, float frequency, double amplitude)
{
    // Frequencies are whole Hz up to 20075 Hz; the bound below holds up to 32768.
    if (!(frequency >= 0 && frequency <= 32768.0f) || frequency != std::floor(frequency) ||
        !(amplitude >= 0 && amplitude <= FullScaleSine))
        return SineSample(m, frequency, amplitude);
    // sin(pi m f / 44100) has period 88200 in m f, an exact 64-bit integer.
    const uint64_t phase = static_cast<uint64_t>(m) * static_cast<uint64_t>(frequency) % 88200u;
    const double value = std::sin(static_cast<double>(phase) * (3.141592653589793 / 44100.0)) * amplitude;
    // The extended evaluation differs from the exact sine by less than 7e-5
    // sample units (its argument, below 2^34, is off by a few units in its
    // last place); this one by far less. Only a value that close to a
    // rounding boundary can round differently.
    const double fraction = value - std::floor(value);
    if (std::fabs(fraction - 0.5) < 2e-4)
        return SineSample(m, frequency, amplitude);
    return static_cast<int16_t>(std::nearbyint(value));
}

double ToneAmplitudeFor(double levelDbfs)
{
    if (!std::isfinite(levelDbfs) || levelDbfs > 0)
        levelDbfs = 0;
    return FullScaleSine * std::pow(10.0, levelDbfs / 20.0);
}

uint32_t NoiseRandom(uint32_t m)
{
    NoiseState = NoiseState * 134775813u + 1u;
    return static_cast<uint32_t>((static_cast<uint64_t>(NoiseState) * m) >> 32);
}

void SetNoiseState(uint32_t state)
{
    NoiseState = state;
}

void SetPinkKeys(uint32_t left, uint32_t right)
{
    PinkLeft = measure::PinkNoise(left);
    PinkRight = measure::PinkNoise(right);
}

void FillBuffer(int k)
{
    int16_t* out = GenBuffer + GenBufSamples * k;
    const int frames = BlockLen;
    if (GenSweep) { // the measurement's sweep alone, whatever else is set
        FillSweep(out, frames);
        return;
    }
    if (GenSine)
        FillSine(out, frames);
    if (GenNoise) // after the sine: with both flags the output is noise
        FillNoise(out, frames);
    if (GenPink)
        FillPink(out, frames);
}

void QueueBuffer(int k)
{
    WaveHeader& hdr = OutHeaders[k];
    hdr.data = reinterpret_cast<char*>(GenBuffer + GenBufSamples * k);
    hdr.bufferLength = GenBufBytes;
    hdr.bytesRecorded.store(0, std::memory_order_relaxed);
    hdr.user = SubmissionCount;
    hdr.flags.store(0, std::memory_order_relaxed);
    WaveOutPrepareHeader(OutHandle, &hdr);
    WaveOutWrite(OutHandle, &hdr);
    ++SubmissionCount;
}

bool OpenWaveOut(int deviceId, std::string* error)
{
    std::lock_guard<std::mutex> guard(waveOutLock);
    if (WaveOutIsOpen)
        return true;
    GenSampleCounter = 0;
    SweepQueued = 0;
    BlockLen = 4410;
    const MMResult result = WaveOutOpen(&OutHandle, deviceId, StereoFormat());
    if (result != MMSYSERR_NOERROR) {
        OutHandle = nullptr;
        if (error)
            *error = WaveOutGetErrorText(result);
        return false;
    }
    WaveOutIsOpen = true;
    SubmissionCount = 0;
    GenUnderruns = 0;
    if (GenPlaying) {
        FillAndQueueLocked(0);
        FillAndQueueLocked(1);
    }
    return true;
}

void CloseWaveOut()
{
    std::lock_guard<std::mutex> guard(waveOutLock);
    if (!WaveOutIsOpen)
        return;
    WaveOutIsOpen = false;
    WaveOutReset(OutHandle); // returns both buffers
    if (GenPlaying) {
        WaveOutUnprepareHeader(OutHandle, &OutHeaders[0]);
        WaveOutUnprepareHeader(OutHandle, &OutHeaders[1]);
    }
    WaveOutClose(OutHandle);
    OutHandle = nullptr;
}

void RefillWaveOut()
{
    std::lock_guard<std::mutex> guard(waveOutLock);
    if (!WaveOutIsOpen)
        return;
    for (int k = 0; k < 2; ++k)
        if (OutHeaders[k].flags.load(std::memory_order_acquire) & WHDR_DONE)
            FillAndQueueLocked(k);
    uint64_t underruns = 0;
    if (WaveOutGetUnderruns(OutHandle, &underruns) == MMSYSERR_NOERROR)
        GenUnderruns = underruns;
}

void SetSweepSignal(std::shared_ptr<const std::vector<int16_t>> mono)
{
    std::lock_guard<std::mutex> guard(waveOutLock);
    SweepSignal = std::move(mono);
}

uint64_t SweepFramesQueued()
{
    return SweepQueued;
}

std::optional<StreamClock> EngineClock()
{
    std::lock_guard<std::mutex> guard(waveOutLock);
    StreamClock clock;
    if (!WaveOutIsOpen || WaveOutGetClock(OutHandle, &clock) != MMSYSERR_NOERROR)
        return std::nullopt;
    return clock;
}

std::string EngineEndedBecause()
{
    std::lock_guard<std::mutex> guard(waveOutLock);
    return WaveOutIsOpen ? WaveOutEndedBecause(OutHandle) : std::string();
}

std::string UnderrunText(uint64_t underruns)
{
    return underruns == 0 ? std::string() : "Underruns: " + std::to_string(underruns);
}

std::optional<uint32_t> GetOutVolume()
{
    // The handle changes only on this (the UI) thread, in open and close.
    if (!WaveOutIsOpen)
        return std::nullopt;
    uint32_t packed = 0;
    if (WaveOutGetVolume(OutHandle, &packed) != MMSYSERR_NOERROR)
        return std::nullopt;
    return packed >> 16;
}

void SetOutVolume(uint32_t v)
{
    if (!WaveOutIsOpen)
        return;
    const uint32_t level = v & 0xFFFF;
    WaveOutSetVolume(OutHandle, level | (level << 16));
}

std::vector<std::string> ListWaveOutDevices()
{
    const int count = WaveOutGetNumDevs();
    OutCaps.assign(static_cast<size_t>(count), WaveCaps{});
    std::vector<std::string> names;
    for (int id = 0; id < count; ++id) {
        WaveOutGetDevCaps(id, &OutCaps[static_cast<size_t>(id)]);
        names.push_back(OutCaps[static_cast<size_t>(id)].productName);
    }
    return names;
}
