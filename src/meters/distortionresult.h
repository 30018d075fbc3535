// One channel's analysis as the distortion window last made it.
#pragma once

#include "measure/distortion.h"

#include <vector>

struct DistortionChannelResult {
    int channel = 0; // 0 left, 1 right
    measure::DistortionReading reading;
    std::vector<double> spectrumDb; // SpectrumDbfs of the averaged spectrum
    double binHz = 0;
    std::vector<double> residual; // the newest samples without the fundamental
};
