// Frequency weighting in the time domain: the A and C curves of IEC 61672-1
// realised as digital filters at the capture rate, within the class 1
// tolerances from 10 Hz to 20 kHz, normalised to 0 dB at 1 kHz. Z passes the
// signal unchanged. One filter per channel; it keeps its state between calls.
#pragma once

#include "measure/levels.h"
#include "measure/weighting.h"

#include <cstddef>
#include <memory>

namespace measure {

class WeightingFilter {
public:
    explicit WeightingFilter(Weighting weighting, double sampleRate = SampleRate);
    ~WeightingFilter();
    WeightingFilter(WeightingFilter&&) noexcept;
    WeightingFilter& operator=(WeightingFilter&&) noexcept;

    Weighting Kind() const { return weighting_; }
    // Filters `count` samples from `in` to `out` (the two may be the same).
    void Process(const double* in, double* out, std::size_t count);
    // Forgets the past (a new device).
    void Reset();

private:
    struct Sections;
    Weighting weighting_;
    std::unique_ptr<Sections> sections_;
};

} // namespace measure
