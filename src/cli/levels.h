// The "levels" command: records from one device for a given time and
// measures per channel the sample peak, the true peak, Leq and the highest
// Fast and Slow levels with the chosen frequency weighting, the clipped
// samples, and the loudness of both channels together (EBU R128). A device
// calibrated in the program reads in dB SPL, with its microphone file's
// response taken out of the weighted levels.
#pragma once

#include "cli/options.h"
#include "cli/recording.h"

namespace cli {

// Needs the sound server connected (the caller checks).
Outcome RunLevels(const Options& options);

} // namespace cli
