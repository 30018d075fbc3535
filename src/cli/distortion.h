// The "distortion" command: records one channel for a given time, optionally
// playing the generator's test tone to a device meanwhile, averages the power
// spectra of the recording's 65536-point transforms (half overlapped) and
// reads the fundamental, THD, THD+N, SINAD, SNR and the harmonics from them.
#pragma once

#include "cli/options.h"
#include "cli/recording.h"
#include "measure/distortion.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace cli {

// The transform the command reads with, and so the least it records.
inline constexpr int DistortionFrames = 65536;

// One channel's recording as it arrives, kept no longer than one transform:
// the power spectra of its transforms of DistortionFrames, each starting
// half a transform after the last, summed, and whether it clipped.
class ChannelSpectra {
public:
    explicit ChannelSpectra(double sampleRate);
    // Interleaved frames of `channels` channels; `channel` is measured.
    void Add(const int16_t* frames, std::size_t count, int channels, int channel);
    // The spectra's average; empty before one whole transform arrived.
    std::vector<double> Average() const;
    bool Clipped() const { return clipped_; }

private:
    measure::DistortionAnalyzer analyzer_;
    std::vector<int16_t> held_; // less than one transform, once it is taken
    std::vector<double> sum_;
    int transforms_ = 0;
    bool clipped_ = false;
};

// Needs the sound server connected (the caller checks).
Outcome RunDistortion(const Options& options);

} // namespace cli
