// The "bands" command: records from one device for a given time, optionally
// playing the generator's noise to another meanwhile, and measures the
// fractional-octave band levels of both channels as the power average over
// the whole recording, in dBFS (a full-scale sine reads 0 dB in its band),
// with the chosen weighting taken at each band's centre.
#pragma once

#include "cli/options.h"
#include "cli/recording.h"

#include <string>

namespace cli {

// Needs the sound server connected (the caller checks).
Outcome RunBands(const Options& options);

} // namespace cli
