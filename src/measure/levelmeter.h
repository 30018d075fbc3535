// The level meter of one channel: sample peak with its held maximum and the
// count of clipped samples, and the frequency-weighted RMS level with the
// time weightings Fast (125 ms) and Slow (1 s) of IEC 61672-1 and the
// equivalent level Leq since the last reset. Levels in dBFS as AES17 defines
// them (a full-scale sine reads 0 dB); SilenceDb where there is nothing yet.
// True peak and loudness come from the loudness meter (loudness.h).
#pragma once

#include "measure/levels.h"
#include "measure/weighting.h"
#include "measure/weightingfilter.h"

#include <cstddef>
#include <cstdint>

namespace measure {

inline constexpr double FastTimeConstant = 0.125;
inline constexpr double SlowTimeConstant = 1.0;

struct ChannelLevels {
    double samplePeakDb = SilenceDb;    // highest |sample| of the last block
    double samplePeakMaxDb = SilenceDb; // highest since the last reset
    uint64_t clippedSamples = 0;        // samples at full scale (+32767 or -32768) since the reset
    double fastDb = SilenceDb;          // time-weighted levels now (frequency weighted)
    double slowDb = SilenceDb;
    double fastMaxDb = SilenceDb; // their highest since the reset
    double slowMaxDb = SilenceDb;
    double leqDb = SilenceDb;             // equivalent level since the reset
    double weightedPeakDb = SilenceDb;    // highest |sample| after the frequency weighting, last block
    double weightedPeakMaxDb = SilenceDb; // the same since the reset (LCpeak with C)
    double seconds = 0.0;                 // time measured since the reset
};

class ChannelLevelMeter {
public:
    explicit ChannelLevelMeter(Weighting weighting = Weighting::Z, double sampleRate = SampleRate);

    // A new weighting restarts the filter and the levels.
    void SetWeighting(Weighting weighting);
    Weighting CurrentWeighting() const;
    // Feeds `count` samples of this channel, `stride` values apart in
    // `samples` (2 for interleaved stereo).
    void Process(const int16_t* samples, std::size_t count, std::size_t stride = 1);
    // Starts the held maxima, the clip count and Leq again; the time
    // weightings go on.
    void Reset();
    // Forgets everything, the filters' state as well (a new device).
    void Restart();
    const ChannelLevels& Levels() const { return levels_; }

private:
    double sampleRate_;
    WeightingFilter filter_;
    ChannelLevels levels_;
    double fastPower_ = 0.0, slowPower_ = 0.0; // exponential mean squares, full scale = 1
    double energy_ = 0.0;                      // sum of squares since the reset, full scale = 1
    uint64_t samplesSinceReset_ = 0;
};

} // namespace measure
