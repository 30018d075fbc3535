// Pink noise: power density falling 3 dB per octave (within +-0.5 dB from
// 20 Hz to 20 kHz at 44100 Hz), no DC, from a key so that two channels
// with different keys are uncorrelated.
//
// White noise (uniform, from a 64-bit generator) goes through a pinking
// filter of six one-pole sections with alternating poles and zeros, which
// keeps the 1/f slope within +-0.05 dB from 9 Hz up to the Nyquist
// frequency at 44100 Hz, then through a DC blocker at 2 Hz (-0.04 dB at
// 20 Hz). The level is -15 dBFS (RMS, a full-scale sine reading 0 dB): the
// noise is close to Gaussian, and a peak at full scale would be an 8-sigma
// event, about once in 10^15 samples; a sample that got there anyway is
// held at the 16-bit limit rather than wrapped.
#pragma once

#include <cstdint>

namespace measure {

class PinkNoise {
public:
    // RMS level of the output in dBFS.
    static constexpr double LevelDbfs = -15.0;

    explicit PinkNoise(uint32_t key);
    // Fills `count` 16-bit samples; peaks stay within the 16-bit range.
    void Fill(int16_t* samples, int count);
    // The next sample, as Fill gives it.
    int16_t NextSample();

private:
    // Uniform in [-1, 1).
    double NextWhite();

    uint64_t state_;
    double scale_;
    double sections_[6] = {};
    double lastWhite_ = 0.0;
    double blockerIn_ = 0.0;
    double blockerOut_ = 0.0;
};

} // namespace measure
