#include "measure/peakhold.h"

#include <algorithm>
#include <cmath>

namespace measure {

PeakHold::PeakHold(int size, double decayDbPerSecond) : decay_(0.0), held_(std::max(size, 0), 0.0)
{
    SetDecay(decayDbPerSecond);
}

void PeakHold::SetDecay(double decayDbPerSecond)
{
    // A rising "decay" or a NaN would make held peaks grow: hold instead.
    decay_ = decayDbPerSecond > 0.0 ? decayDbPerSecond : 0.0;
}

void PeakHold::Reset()
{
    std::fill(held_.begin(), held_.end(), 0.0);
}

void PeakHold::Add(const double* power, double seconds)
{
    if (decay_ > 0.0 && seconds > 0.0) {
        const double factor = std::pow(10.0, -decay_ * seconds / 10.0);
        for (double& held : held_)
            held *= factor;
    }
    for (std::size_t i = 0; i < held_.size(); ++i)
        if (power[i] > held_[i]) // a NaN never becomes a peak
            held_[i] = power[i];
}

} // namespace measure
