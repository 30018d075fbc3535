#include "measure/loudness.h"

#include <ebur128.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <utility>

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

// Momentary and short-term loudness are means over the last 4 and 30
// intervals of 100 ms.
constexpr unsigned long IntervalMs = 100;
constexpr int MomentaryIntervals = 4;
constexpr int ShortTermIntervals = 30;

// The offset of BS.1770's loudness over the weighted mean square.
constexpr double LoudnessOffset = -0.691;

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

double LoudnessToPower(double lufs)
{
    return std::isfinite(lufs) ? std::pow(10.0, (lufs - LoudnessOffset) / 10.0) : 0.0;
}

std::optional<double> PowerToLoudness(double power)
{
    if (!(power > 0.0))
        return std::nullopt;
    return LoudnessOffset + 10.0 * std::log10(power);
}

void KeepHigher(std::optional<double>& held, const std::optional<double>& value)
{
    if (value && (!held || *value > *held))
        held = value;
}

} // namespace

// Asking the library for the momentary and short-term loudness sums its
// whole 3 s buffer each time, which would cost as much as the measurement
// itself ten times a second. Instead the signal goes in cut at every
// 100 ms, the library gives the weighted power of that interval (a sum
// over 100 ms only), and the last thirty intervals make both readings.
struct LoudnessMeter::State {
    ebur128_state* library;
    std::size_t intervalFrames;
    std::size_t framesInInterval = 0;
    std::array<double, ShortTermIntervals> intervalPower{}; // the latest at `latest`
    int latest = 0;
    int intervals = 0; // complete ones, up to ShortTermIntervals
    int intervalsSinceReset = 0;

    explicit State(double sampleRate)
        : library(ebur128_init(Channels, static_cast<unsigned long>(sampleRate), Mode)),
          // As the library counts a window's frames.
          intervalFrames(static_cast<unsigned long>(sampleRate) * IntervalMs / 1000)
    {
    }
    ~State()
    {
        if (library)
            ebur128_destroy(&library);
    }
    State(const State&) = delete;
    State& operator=(const State&) = delete;

    void CompleteInterval()
    {
        double lufs = 0.0;
        const int status = ebur128_loudness_window(library, IntervalMs, &lufs);
        latest = (latest + 1) % ShortTermIntervals;
        intervalPower[latest] = status == EBUR128_SUCCESS ? LoudnessToPower(lufs) : 0.0;
        intervals = std::min(intervals + 1, ShortTermIntervals);
        intervalsSinceReset = std::min(intervalsSinceReset + 1, ShortTermIntervals);
        framesInInterval = 0;
    }

    // The loudness over the last `count` intervals, once there are so many.
    std::optional<double> LoudnessOverLast(int count) const
    {
        if (intervals < count)
            return std::nullopt;
        double sum = 0.0;
        for (int i = 0; i < count; ++i)
            sum += intervalPower[(latest - i + ShortTermIntervals) % ShortTermIntervals];
        return PowerToLoudness(sum / count);
    }
};

LoudnessMeter::LoudnessMeter(double sampleRate) : sampleRate_(sampleRate)
{
    Reset();
}

LoudnessMeter::~LoudnessMeter() = default;

void LoudnessMeter::Process(const int16_t* interleaved, std::size_t frames)
{
    State& state = *state_;
    if (!state.library || state.intervalFrames == 0)
        return;
    // The library would scale 16-bit samples by 1/32768; the meters' full
    // scale is 32767, so that a full-scale sine reads 0 dBTP as it reads
    // 0 dBFS.
    double chunk[ChunkFrames * Channels];
    double blockPeak[Channels] = {0.0, 0.0};
    for (std::size_t done = 0; done < frames;) {
        const std::size_t n = std::min({ChunkFrames, frames - done, state.intervalFrames - state.framesInInterval});
        for (std::size_t i = 0; i < n * Channels; ++i)
            chunk[i] = interleaved[done * Channels + i] / FullScale;
        if (ebur128_add_frames_double(state.library, chunk, n) != EBUR128_SUCCESS)
            return;
        for (unsigned channel = 0; channel < Channels; ++channel) {
            double peak = 0.0;
            if (ebur128_prev_true_peak(state.library, channel, &peak) == EBUR128_SUCCESS)
                blockPeak[channel] = std::max(blockPeak[channel], peak);
        }
        done += n;
        state.framesInInterval += n;
        if (state.framesInInterval == state.intervalFrames) {
            state.CompleteInterval();
            held_.momentaryLufs = state.LoudnessOverLast(MomentaryIntervals);
            held_.shortTermLufs = state.LoudnessOverLast(ShortTermIntervals);
            KeepHigher(held_.momentaryMaxLufs, held_.momentaryLufs);
            KeepHigher(held_.shortTermMaxLufs, held_.shortTermLufs);
        }
    }
    for (int channel = 0; channel < Channels; ++channel)
        held_.truePeakNowDbtp[channel] = PeakDb(blockPeak[channel]);
}

void LoudnessMeter::Reset()
{
    // The library's state starts anew; the intervals of momentary and
    // short-term loudness carry over (less an unfinished one), as do their
    // readings, and the maxima start from those.
    auto fresh = std::make_unique<State>(sampleRate_);
    if (state_) {
        fresh->intervalPower = state_->intervalPower;
        fresh->latest = state_->latest;
        fresh->intervals = state_->intervals;
    }
    state_ = std::move(fresh);
    LoudnessLevels kept;
    kept.momentaryLufs = kept.momentaryMaxLufs = held_.momentaryLufs;
    kept.shortTermLufs = kept.shortTermMaxLufs = held_.shortTermLufs;
    kept.truePeakNowDbtp[0] = held_.truePeakNowDbtp[0];
    kept.truePeakNowDbtp[1] = held_.truePeakNowDbtp[1];
    held_ = kept;
}

LoudnessLevels LoudnessMeter::Levels() const
{
    LoudnessLevels levels = held_;
    ebur128_state* library = state_->library;
    if (!library)
        return levels;
    double value = 0.0;
    const int globalStatus = ebur128_loudness_global(library, &value);
    levels.integratedLufs = Finite(globalStatus, value);
    // A range needs short-term values above the gate: none while the
    // integrated loudness has none, nor in the first 3 s after the reset.
    if (levels.integratedLufs && state_->intervalsSinceReset >= ShortTermIntervals) {
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
