// The "response" command: plays the exponential sweep to one device while
// recording another, and prints the path's delay, the impulse response's
// peak and its magnitude and phase on a 1/48-octave grid from 20 Hz to
// 20 kHz; optionally writes the response as text and the impulse response
// as a WAV file.
#pragma once

#include "cli/options.h"
#include "cli/recording.h"
#include "measure/response.h"

#include <string>
#include <vector>

namespace cli {

// One line: {"delay_samples", "delay_ms", "peak_db", "points": [{"hz", "db",
// "deg"}, ...], "clipped"}, the phase wrapped to -180 ... 180 with the delay
// removed.
std::string ResponseJson(const measure::ResponseMeasurement& m);

// Needs the sound server connected (the caller checks).
Outcome RunResponse(const Options& options);

} // namespace cli
