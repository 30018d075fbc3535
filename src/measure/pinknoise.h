// Pink noise: power density falling 3 dB per octave (within +-0.5 dB from
// 20 Hz to 20 kHz at 44100 Hz), no DC, from a seed so that two channels
// with different seeds are uncorrelated.
#pragma once

#include <cstdint>

namespace measure {

class PinkNoise {
public:
    explicit PinkNoise(uint32_t seed);
    // Fills `count` 16-bit samples; peaks stay within the 16-bit range.
    void Fill(int16_t* samples, int count);
};

} // namespace measure
