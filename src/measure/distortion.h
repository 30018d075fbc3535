// The distortion and noise analyzer: one channel's samples through a long
// transform (FFTW, double precision) with a 7-term Blackman-Harris window,
// whose sidelobes (about -180 dB) sit far below anything 16 bits carry, and
// from its power spectrum the fundamental, its harmonics H2-H10 below
// 20 kHz, THD (IEC 60268-3: the root of the harmonics' power sum over the
// fundamental), THD+N (AES17's FFT method: all power from 20 Hz to 20 kHz
// except the fundamental's main lobe, over the total power in that band),
// SINAD and SNR. Levels are in dBFS, a full-scale sine reading 0 dBFS.
// No Qt, no display: the Distortion window and sonalyx-measure both use it.
#pragma once

#include "measure/levels.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace measure {

// The transform sizes offered; 65536 (about 1.5 s at 44100 Hz) by default.
inline constexpr int DistortionSizes[] = {16384, 65536, 131072};
inline constexpr int DefaultDistortionSize = 65536;

// The band the noise and THD+N are summed over, and the highest harmonic
// taken.
inline constexpr double DistortionBandLow = 20.0;
inline constexpr double DistortionBandHigh = 20000.0;
inline constexpr int HighestHarmonic = 10;

// A tone is found when its strongest bin stands at least this far above
// the noise floor.
inline constexpr double ToneFoundAboveFloorDb = 20.0;

// Half the width of the window's main lobe, in bins: the bins summed for a
// tone's power on each side of its peak.
inline constexpr int MainLobeHalfWidth = 8;

// Levels are relative to a sine of peak FullScale (measure/levels.h: 32767,
// the convention every instrument here shares).

struct HarmonicReading {
    int order = 2;           // 2 ... 10
    double hz = 0;           // order times the fundamental
    double dbRelative = 0;   // relative to the fundamental
    double dbfs = 0;         // its own level
    bool belowNoise = false; // its lobe holds no more than the noise would;
                             // dbRelative and dbfs are then the noise's level
                             // there, an upper bound ("< x dB")
};

struct DistortionReading {
    bool toneFound = false; // false: "No test tone found", nothing else holds
    bool clipped = false;   // the samples held a run of 3 or more at full scale
    bool aboveBand = false; // the fundamental lies above 20 kHz: no harmonics,
                            // and an average holding it restarts
    double fundamentalHz = 0;
    double fundamentalDbfs = 0;
    std::vector<HarmonicReading> harmonics; // H2 up to H10, those below 20 kHz
    double thdPercent = 0, thdDb = 0;       // amplitude ratio: dB = 20 log10(ratio)
    double thdnPercent = 0, thdnDb = 0;
    double sinadDb = 0;        // -thdnDb
    double snrDb = 0;          // fundamental over the noise with the harmonics taken out
    double noiseFloorDbfs = 0; // the noise's mean power per bin in the band
};

// The readings from a power spectrum as DistortionAnalyzer::PowerSpectrum
// makes it (bins 0 ... size / 2, a full-scale sine's lobe summing to 1 / 2).
DistortionReading ReadPowerSpectrum(const std::vector<double>& power, int size, double sampleRate);

// One channel's analysis at one transform size. Not thread-safe; one per
// thread and channel.
class DistortionAnalyzer {
public:
    explicit DistortionAnalyzer(int size = DefaultDistortionSize, double sampleRate = 44100.0);
    ~DistortionAnalyzer();
    DistortionAnalyzer(const DistortionAnalyzer&) = delete;
    DistortionAnalyzer& operator=(const DistortionAnalyzer&) = delete;

    int Size() const { return size_; }
    double SampleRate() const { return rate_; }
    double BinHz() const { return rate_ / size_; }

    // The windowed power spectrum of `size` samples (16-bit values, or any
    // value on that scale), bins 0 ... size / 2, scaled so that the bins of a
    // sine's main lobe sum to its mean square over FullScale squared (a
    // full-scale sine: 1 / 2).
    std::vector<double> PowerSpectrum(const int16_t* samples, std::ptrdiff_t stride = 1);
    std::vector<double> PowerSpectrum(const double* samples);

    // PowerSpectrum and ReadPowerSpectrum in one, with the clipping check on
    // the same samples.
    DistortionReading Analyze(const int16_t* samples, std::ptrdiff_t stride = 1);

private:
    struct Plan;
    int size_;
    double rate_;
    std::vector<double> window_;
    double windowPower_ = 0; // sum of the window's squares
    std::unique_ptr<Plan> plan_;
};

// True when a channel's samples hold a run of 3 or more consecutive values
// at full scale (32767 or -32768): the mark of a clipped signal. A sine
// peaking at 32767 touches full scale alone, not in runs, above about 40 Hz
// (below that the samples beside its peak round to full scale too).
bool HasClippedRun(const int16_t* samples, std::size_t count, std::ptrdiff_t stride = 1);

// The average of 2 ... 16 power spectra: results add up until `count` are
// held, then the oldest goes for the newest. A different transform size, a
// fundamental that moved by more than 1 % or went above 20 kHz restarts it
// (the caller says so through Restart or by the reading it passes).
class DistortionAverage {
public:
    explicit DistortionAverage(int count = 1) : count_(count) {}
    void SetCount(int count);
    int Count() const { return count_; }
    int Held() const { return static_cast<int>(held_.size()); }
    void Restart();
    // Adds a power spectrum and returns the averaged one. `reading` is that
    // spectrum's own reading, which decides whether the average restarts.
    const std::vector<double>& Add(std::vector<double> power, const DistortionReading& reading);

private:
    int count_;
    std::vector<std::vector<double>> held_;
    std::vector<double> sum_;
    double lastHz_ = 0;
    bool lastFound_ = false;
};

// The signal with the fundamental taken out: a four-parameter sine fit
// (amplitude, phase, frequency, offset; IEEE 1057) over `count` samples
// starting at the fundamental the reading found, subtracted. Values in the
// samples' own scale. For the residual waveform.
std::vector<double> ResidualWaveform(const int16_t* samples, std::size_t count, double fundamentalHz, double sampleRate,
                                     std::ptrdiff_t stride = 1);

// The display spectrum: each bin as the level in dBFS a sine centred there
// would read at its peak (so a tone's peak bin reads its level), floored at
// -200 dBFS.
std::vector<double> SpectrumDbfs(const std::vector<double>& power, int size);

} // namespace measure
