#include "measure/loudness.h"

#include <ebur128.h>

#include <algorithm>
#include <cmath>

namespace measure {

namespace {

constexpr int Channels = 2;
// Frames handed to the library at a time, converted on the stack.
constexpr std::size_t ChunkFrames = 1024;

// The histogram keeps the memory and the cost of the integrated loudness
// and the range constant however long the meter runs (a list of every
// 100 ms block would grow by 36000 entries an hour, and every reading would
// go through all of them). Its bins are 0.1 LU wide, so the integrated
// loudness may read up to 0.05 LU off; the tolerance of EBU Tech 3341 is
// 0.1 LU.
constexpr int Mode = EBUR128_MODE_M | EBUR128_MODE_S | EBUR128_MODE_I | EBUR128_MODE_LRA | EBUR128_MODE_TRUE_PEAK |
                     EBUR128_MODE_HISTOGRAM;

constexpr double MomentarySeconds = 0.4;
constexpr double ShortTermSeconds = 3.0;

// A level the library reports, or nothing where it has none (it reports
// -HUGE_VAL for the loudness of silence).
std::optional<double> Finite(int status, double value)
{
    if (status != EBUR128_SUCCESS || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::optional<double> PeakDb(double magnitude)
{
    if (!(magnitude > 0.0))
        return std::nullopt;
    return 20.0 * std::log10(magnitude);
}

// The momentary and the short-term loudness once their window is full.
std::optional<double> Momentary(ebur128_state* library, double seconds)
{
    double value = 0.0;
    if (seconds < MomentarySeconds)
        return std::nullopt;
    const int status = ebur128_loudness_momentary(library, &value);
    return Finite(status, value);
}

std::optional<double> ShortTerm(ebur128_state* library, double seconds)
{
    double value = 0.0;
    if (seconds < ShortTermSeconds)
        return std::nullopt;
    const int status = ebur128_loudness_shortterm(library, &value);
    return Finite(status, value);
}

void KeepHigher(std::optional<double>& held, const std::optional<double>& value)
{
    if (value && (!held || *value > *held))
        held = value;
}

} // namespace

struct LoudnessMeter::State {
    ebur128_state* library;

    explicit State(double sampleRate) : library(ebur128_init(Channels, static_cast<unsigned long>(sampleRate), Mode)) {}
    ~State()
    {
        if (library)
            ebur128_destroy(&library);
    }
    State(const State&) = delete;
    State& operator=(const State&) = delete;
};

LoudnessMeter::LoudnessMeter(double sampleRate) : sampleRate_(sampleRate)
{
    Reset();
}

LoudnessMeter::~LoudnessMeter() = default;

void LoudnessMeter::Process(const int16_t* interleaved, std::size_t frames)
{
    ebur128_state* library = state_->library;
    if (!library)
        return;
    // The library would scale 16-bit samples by 1/32768; the meters' full
    // scale is 32767, so that a full-scale sine reads 0 dBTP as it reads
    // 0 dBFS.
    double chunk[ChunkFrames * Channels];
    double blockPeak[Channels] = {0.0, 0.0};
    for (std::size_t done = 0; done < frames;) {
        const std::size_t n = std::min(ChunkFrames, frames - done);
        for (std::size_t i = 0; i < n * Channels; ++i)
            chunk[i] = interleaved[done * Channels + i] / FullScale;
        if (ebur128_add_frames_double(library, chunk, n) != EBUR128_SUCCESS)
            return;
        for (unsigned channel = 0; channel < Channels; ++channel) {
            double peak = 0.0;
            if (ebur128_prev_true_peak(library, channel, &peak) == EBUR128_SUCCESS)
                blockPeak[channel] = std::max(blockPeak[channel], peak);
        }
        done += n;
    }
    framesSinceReset_ += frames;
    for (int channel = 0; channel < Channels; ++channel)
        held_.truePeakNowDbtp[channel] = PeakDb(blockPeak[channel]);
    const double seconds = static_cast<double>(framesSinceReset_) / sampleRate_;
    KeepHigher(held_.momentaryMaxLufs, Momentary(library, seconds));
    KeepHigher(held_.shortTermMaxLufs, ShortTerm(library, seconds));
}

void LoudnessMeter::Reset()
{
    state_.reset();
    state_ = std::make_unique<State>(sampleRate_);
    held_ = LoudnessLevels{};
    framesSinceReset_ = 0;
}

LoudnessLevels LoudnessMeter::Levels() const
{
    LoudnessLevels levels = held_;
    ebur128_state* library = state_->library;
    if (!library)
        return levels;
    const double seconds = static_cast<double>(framesSinceReset_) / sampleRate_;
    levels.momentaryLufs = Momentary(library, seconds);
    levels.shortTermLufs = ShortTerm(library, seconds);
    double value = 0.0;
    const int globalStatus = ebur128_loudness_global(library, &value);
    levels.integratedLufs = Finite(globalStatus, value);
    // A range needs short-term values above the gate: none while the
    // integrated loudness has none.
    if (levels.integratedLufs && seconds >= ShortTermSeconds) {
        const int status = ebur128_loudness_range(library, &value);
        levels.loudnessRangeLu = Finite(status, value);
    }
    for (unsigned channel = 0; channel < Channels; ++channel) {
        double peak = 0.0;
        if (ebur128_true_peak(library, channel, &peak) == EBUR128_SUCCESS)
            levels.truePeakDbtp[channel] = PeakDb(peak);
        KeepHigher(levels.truePeakMaxDbtp, levels.truePeakDbtp[channel]);
    }
    return levels;
}

} // namespace measure
