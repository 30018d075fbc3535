// Fractional-octave bands of IEC 61260-1 (base 10) from 20 Hz to 20 kHz and
// the filter bank that measures them: a class 1 band-pass filter per band,
// the lower octaves run on decimated signals so the whole bank costs little.
#pragma once

#include <string>
#include <vector>

namespace measure {

// The fractions the band views offer (1/1 .. 1/24 octave), in the order
// panels list them and the settings store them.
inline constexpr int BandFractions[] = {1, 3, 6, 12, 24};
inline constexpr int BandFractionCount = 5;

struct OctaveBand {
    double nominalHz; // the nominal frequency the band is labelled with (31.5, 1000)
    double centreHz;  // exact midband frequency, 1000 * 10^(3x / 10b)
    double lowerHz;   // band edges, centre * G^(-+1/2b), G = 10^0.3
    double upperHz;
};

// The bands of 1/fraction octave from 20 Hz to 20 kHz, lowest first: from
// the first band whose lower edge reaches 20 Hz to the last whose midband is
// at most 20 kHz (for 1/3 octave 25 Hz .. 20 kHz, for 1/1 31.5 Hz .. 16 kHz).
// Empty for a fraction below 1.
std::vector<OctaveBand> OctaveBands(int fraction);
// The label of a nominal frequency: "31.5", "1k", "12.5k", "20k".
std::string NominalText(double nominalHz);

// One channel's filter bank at 44100 Hz. Each band is a sixth-order
// Butterworth band-pass (class 1); the bands run at 44100 / 2^k Hz, the
// lower the band the lower the rate, and the highest at 88.2 or 176.4 kHz.
// Those highest bands keep their shape up to 21 kHz; between there and
// 22.05 kHz the doubling of the rate lowers what they read by up to 3 dB.
class OctaveFilterBank {
public:
    explicit OctaveFilterBank(int fraction);
    // A bank of only some of those bands, OctaveBands(fraction)[firstBand ..
    // firstBand + bandCount) (cut to the bands there are), each measured
    // exactly as in the whole bank, at the cost of those bands alone.
    OctaveFilterBank(int fraction, int firstBand, int bandCount);
    ~OctaveFilterBank();
    OctaveFilterBank(const OctaveFilterBank&) = delete;
    OctaveFilterBank& operator=(const OctaveFilterBank&) = delete;

    const std::vector<OctaveBand>& Bands() const;
    // Filters `count` consecutive samples (in sample units, full scale 32767).
    void Process(const float* samples, int count);
    // The mean square of each band's output since the last call (or the
    // reset), in sample units squared: a full-scale sine at a midband gives
    // FullScalePower in its band. Starts a new interval. A band measured at
    // a reduced rate that got no new sample in the interval (a call after a
    // handful of samples) repeats its previous value.
    std::vector<double> TakePowers();
    // Clears the filters' state and the interval.
    void Reset();

private:
    struct Impl;
    Impl* impl_;
};

} // namespace measure
