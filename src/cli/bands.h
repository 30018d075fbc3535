// The "bands" command: records from one device for a given time, optionally
// playing the generator's noise to another meanwhile, and measures the
// fractional-octave band levels of both channels as the power average over
// the whole recording, in dBFS (a full-scale sine reads 0 dB in its band),
// with the chosen weighting taken at each band's centre.
#pragma once

#include "cli/options.h"

#include <string>

namespace cli {

// Filters settle and the played noise arrives during this lead-in; the
// levels cover the `seconds` of recording after it.
inline constexpr double LeadInSeconds = 0.5;
// Waiting longer than this for the first (or the next) samples gives up.
inline constexpr double NoSamplesSeconds = 5.0;

struct Outcome {
    int exitCode = ExitOk;
    std::string json;  // on success: the whole answer, one line
    std::string error; // on failure: one line naming the cause
};

// Needs the sound server connected (the caller checks).
Outcome RunBands(const Options& options);

} // namespace cli
