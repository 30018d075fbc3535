// A measurement microphone's response taken out of the weighted levels.
// The signal is split into fine fractional-octave bands; a weighted level's
// correction is the bands' powers, weighted, with the response taken out at
// each band's centre, against the same without. Exact for a response flat
// within each band; for a level over a time (a maximum, a mean) exact while
// the sound's spectrum holds still over that time.
#pragma once

#include "measure/micresponse.h"
#include "measure/octavebands.h"
#include "measure/weighting.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace measure {

// Fine enough to follow a response file's slopes, cheap enough to run
// beside the meters.
inline constexpr int MicBandFraction = 24;

// Band powers (in sample units squared) whose weighted sum is below this
// are silence: far below the quantisation of 16-bit samples, they hold only
// the filters' guard against subnormal numbers.
inline constexpr double SilentBandPower = 1e-6;

// How much the response raised a weighted level, in dB to add to it, given
// the band powers (mean squares). 0 with no response or no power.
double MicCorrectionDb(const std::vector<OctaveBand>& bands, const std::vector<double>& powers, Weighting weighting,
                       const MicResponse& response);

// Band powers gathered over an interval, each block's weighed by its length.
class BandPowerSum {
public:
    void Add(const std::vector<double>& powers, std::size_t frames);
    void Clear();
    // The mean power of each band over the frames added.
    std::vector<double> Means() const;

private:
    std::vector<double> sums_; // power times frames
    double frames_ = 0.0;
};

// One channel's fine bands for one microphone response: the powers of the
// block fed last (for levels that follow the sound now) and those gathered
// since the last restart (for Leq).
class MicCorrection {
public:
    explicit MicCorrection(MicResponse response);
    ~MicCorrection();
    MicCorrection(const MicCorrection&) = delete;
    MicCorrection& operator=(const MicCorrection&) = delete;

    const MicResponse& Response() const { return response_; }
    const std::vector<OctaveBand>& Bands() const;

    // Feeds `count` samples, taking every `stride`th one from `samples`.
    void Process(const int16_t* samples, std::size_t count, std::size_t stride = 1);
    // Forgets the powers gathered; the filters keep their state.
    void Restart() { sinceRestart_.Clear(); }

    const std::vector<double>& LastPowers() const { return lastPowers_; }
    // The dB to add to a level of the block fed last (Fast, Slow).
    double LastDb(Weighting weighting) const;
    // The dB to add to a level since the restart (Leq).
    double SinceRestartDb(Weighting weighting) const;
    // The dB to add to a level over an interval the caller gathered.
    double Db(Weighting weighting, const BandPowerSum& interval) const;

private:
    MicResponse response_;
    std::unique_ptr<OctaveFilterBank> bank_;
    std::vector<float> scratch_;
    std::vector<double> lastPowers_;
    BandPowerSum sinceRestart_;
};

} // namespace measure
