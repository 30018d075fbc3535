// The "distortion" command: records one channel for a given time, optionally
// playing the generator's test tone to a device meanwhile, averages the power
// spectra of the recording's 65536-point transforms (half overlapped) and
// reads the fundamental, THD, THD+N, SINAD, SNR and the harmonics from them.
#pragma once

#include "cli/options.h"
#include "cli/recording.h"

#include <cstdint>
#include <vector>

namespace cli {

// The transform the command reads with, and so the least it records.
inline constexpr int DistortionFrames = 65536;

// The averaged power spectrum of one channel's samples: its transforms of
// DistortionFrames, each starting half a transform after the last. Empty
// when there are fewer samples than one transform.
std::vector<double> AveragedPowerSpectrum(const std::vector<int16_t>& samples, double sampleRate);

// Needs the sound server connected (the caller checks).
Outcome RunDistortion(const Options& options);

} // namespace cli
