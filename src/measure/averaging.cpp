#include "measure/averaging.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace measure {

namespace {

// A power that can take part in an average: a NaN, an infinity or a
// negative value (none of which a squared magnitude can be) counts as 0,
// so one bad value cannot spoil a running sum for good.
double Usable(double power)
{
    return power >= 0.0 && power <= std::numeric_limits<double>::max() ? power : 0.0;
}

} // namespace

const char* AveragingName(Averaging mode)
{
    switch (mode) {
    case Averaging::Off: break;
    case Averaging::Exponential125ms: return "Fast (0.125 s)";
    case Averaging::Exponential1s: return "Slow (1 s)";
    case Averaging::Exponential4s: return "Exponential 4 s";
    case Averaging::Exponential10s: return "Exponential 10 s";
    case Averaging::Linear10: return "Linear 10";
    case Averaging::Linear50: return "Linear 50";
    case Averaging::Linear100: return "Linear 100";
    case Averaging::Linear500: return "Linear 500";
    case Averaging::Infinite: return "Infinite";
    }
    return "Off";
}

double AveragingTimeConstant(Averaging mode)
{
    switch (mode) {
    case Averaging::Exponential125ms: return 0.125;
    case Averaging::Exponential1s: return 1.0;
    case Averaging::Exponential4s: return 4.0;
    case Averaging::Exponential10s: return 10.0;
    default: return 0.0;
    }
}

int AveragingLength(Averaging mode)
{
    switch (mode) {
    case Averaging::Linear10: return 10;
    case Averaging::Linear50: return 50;
    case Averaging::Linear100: return 100;
    case Averaging::Linear500: return 500;
    default: return 0;
    }
}

PowerAverager::PowerAverager(int size, double interval, Averaging mode)
    : mode_(mode), average_(std::max(size, 0), 0.0), interval_(interval)
{
    SetMode(mode);
}

void PowerAverager::SetMode(Averaging mode)
{
    mode_ = mode;
    const double timeConstant = AveragingTimeConstant(mode);
    // The weight of a new set that makes the average answer a step by
    // 1 - 1/e after one time constant, whatever the interval.
    smoothing_ = timeConstant > 0.0 && interval_ > 0.0 ? 1.0 - std::exp(-interval_ / timeConstant) : 1.0;
    length_ = AveragingLength(mode);
    history_.assign(static_cast<std::size_t>(length_) * average_.size(), 0.0f);
    sum_.assign(mode == Averaging::Off || AveragingTimeConstant(mode) > 0.0 ? 0 : average_.size(), 0.0);
    Reset();
}

void PowerAverager::Reset()
{
    std::fill(average_.begin(), average_.end(), 0.0);
    std::fill(sum_.begin(), sum_.end(), 0.0);
    count_ = 0;
    next_ = 0;
}

void PowerAverager::Add(const double* power)
{
    ++count_;
    if (length_ > 0)
        AddLinear(power);
    else if (mode_ == Averaging::Infinite)
        AddInfinite(power);
    else if (smoothing_ < 1.0)
        AddExponential(power);
    else
        std::transform(power, power + average_.size(), average_.begin(), Usable);
}

void PowerAverager::AddExponential(const double* power)
{
    // Until the average has seen about one time constant it is the plain
    // mean of what it has seen, so that it starts from the signal and not
    // from zero; from then on each set weighs `smoothing_`.
    const double weight = std::max(smoothing_, 1.0 / static_cast<double>(count_));
    for (std::size_t i = 0; i < average_.size(); ++i)
        average_[i] += weight * (Usable(power[i]) - average_[i]);
}

void PowerAverager::AddInfinite(const double* power)
{
    const double held = static_cast<double>(count_);
    for (std::size_t i = 0; i < average_.size(); ++i) {
        sum_[i] += Usable(power[i]);
        average_[i] = sum_[i] / held;
    }
}

void PowerAverager::AddLinear(const double* power)
{
    const std::size_t size = average_.size();
    float* slot = history_.data() + static_cast<std::size_t>(next_) * size;
    for (std::size_t i = 0; i < size; ++i) {
        // The sum gains exactly what it will lose when this set leaves.
        const float kept = static_cast<float>(Usable(power[i]));
        sum_[i] += static_cast<double>(kept) - static_cast<double>(slot[i]);
        slot[i] = kept;
    }
    next_ = (next_ + 1) % length_;
    if (next_ == 0)
        SumHistoryAfresh();
    const double held = static_cast<double>(std::min<int64_t>(count_, length_));
    for (std::size_t i = 0; i < size; ++i)
        average_[i] = std::max(sum_[i], 0.0) / held;
}

void PowerAverager::SumHistoryAfresh()
{
    // Adding and taking away leaves rounding behind, up to about 1e-16 of
    // the loudest set per step: a full-scale set leaving a quiet bin could
    // leave more than the quiet power. Once per round of the history the
    // sums start again from the sets themselves, so such an error lasts one
    // round at most; the cost is one more addition per set and bin.
    const std::size_t size = average_.size();
    std::fill(sum_.begin(), sum_.end(), 0.0);
    for (int set = 0; set < length_; ++set) {
        const float* slot = history_.data() + static_cast<std::size_t>(set) * size;
        for (std::size_t i = 0; i < size; ++i)
            sum_[i] += slot[i];
    }
}

} // namespace measure
