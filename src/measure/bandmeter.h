// The octave view's instrument: one filter bank per channel, fed block by
// block, whose band powers are weighted, averaged and peak-held with the
// view's own choices. Not safe for two threads at once: its owner locks.
#pragma once

#include "measure/averaging.h"
#include "measure/octavebands.h"
#include "measure/peakhold.h"
#include "measure/weighting.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace measure {

struct BandMeterChoices {
    int fraction = 3; // 1, 3, 6, 12 or 24
    Averaging averaging = Averaging::Off;
    Weighting weighting = Weighting::Z;
    double peakDecay = 0.0; // dB per second
    friend bool operator==(const BandMeterChoices&, const BandMeterChoices&) = default;
};

// What the view shows: per channel and band the level and the held peak in
// dBFS (SilenceDb before anything was measured).
struct BandReading {
    std::vector<OctaveBand> bands;
    std::vector<double> levelDb[2];
    std::vector<double> peakDb[2];
    int64_t blocks = 0; // blocks averaged since the last reset
};

class BandMeter {
public:
    // `blockSeconds`: the time one AddBlock covers, which sets the
    // exponential averages' weight and the peaks' decay per block.
    explicit BandMeter(double blockSeconds, BandMeterChoices choices = {});

    // A new fraction rebuilds the banks; a new fraction, averaging or
    // weighting starts the averages and peaks again; a new decay keeps them.
    void SetChoices(const BandMeterChoices& choices);
    const BandMeterChoices& Choices() const { return choices_; }
    // Forgets the averages and peaks (the filters keep running).
    void Reset();
    // Forgets everything, the filters' state as well (a new device).
    void Restart();

    // Feeds one block of `frames` samples per channel (16-bit values).
    void AddBlock(const int16_t* left, const int16_t* right, int frames);
    BandReading Read() const;

private:
    void Build();

    double blockSeconds_;
    BandMeterChoices choices_;
    std::unique_ptr<OctaveFilterBank> banks_[2];
    std::vector<double> weights_; // power factor of the weighting at each band's midband
    std::unique_ptr<PowerAverager> averages_[2];
    std::unique_ptr<PeakHold> peaks_[2];
    std::vector<float> scratch_;
};

} // namespace measure
