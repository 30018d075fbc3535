#include "measure/bandmeter.h"

#include "measure/levels.h"

#include <algorithm>

namespace measure {

BandMeter::BandMeter(double blockSeconds, BandMeterChoices choices) : blockSeconds_(blockSeconds), choices_(choices)
{
    Build();
}

void BandMeter::Build()
{
    for (auto& bank : banks_)
        bank = std::make_unique<OctaveFilterBank>(choices_.fraction);
    const auto& bands = banks_[0]->Bands();
    const int size = static_cast<int>(bands.size());
    // A band is weighted by the weighting's gain at its exact midband: the
    // curves change little across one band (at most about 1.5 dB across an
    // octave band at the low end of the A curve), and a band's power is
    // meant to be read against the weighting at its nominal frequency, as
    // octave-band levels are combined into weighted levels.
    weights_.clear();
    for (const auto& band : bands)
        weights_.push_back(WeightingPowerFactor(choices_.weighting, band.centreHz));
    for (int channel = 0; channel < 2; ++channel) {
        averages_[channel] = std::make_unique<PowerAverager>(size, blockSeconds_, choices_.averaging);
        peaks_[channel] = std::make_unique<PeakHold>(size, choices_.peakDecay);
    }
}

void BandMeter::SetChoices(const BandMeterChoices& choices)
{
    const BandMeterChoices before = choices_;
    choices_ = choices;
    if (choices.fraction != before.fraction || choices.weighting != before.weighting) {
        Build();
        return;
    }
    if (choices.averaging != before.averaging)
        Reset();
    for (auto& peak : peaks_)
        peak->SetDecay(choices.peakDecay);
}

void BandMeter::Reset()
{
    for (int channel = 0; channel < 2; ++channel) {
        averages_[channel]->SetMode(choices_.averaging);
        averages_[channel]->Reset();
        peaks_[channel]->Reset();
    }
}

void BandMeter::Restart()
{
    Build();
}

void BandMeter::AddBlock(const int16_t* left, const int16_t* right, int frames)
{
    scratch_.resize(frames);
    const int16_t* channels[2] = {left, right};
    for (int channel = 0; channel < 2; ++channel) {
        for (int i = 0; i < frames; ++i)
            scratch_[i] = channels[channel][i];
        banks_[channel]->Process(scratch_.data(), frames);
        std::vector<double> powers = banks_[channel]->TakePowers();
        for (std::size_t band = 0; band < powers.size(); ++band)
            powers[band] *= weights_[band];
        averages_[channel]->Add(powers.data());
        peaks_[channel]->Add(averages_[channel]->Power().data(), blockSeconds_);
    }
}

// Silence reads SilenceDb; so does what the filters leave of the tiny
// constant that keeps their states normal numbers.
namespace {
double Level(double power)
{
    return std::max(SilenceDb, PowerToDbfs(power));
}

} // namespace

BandReading BandMeter::Read() const
{
    BandReading reading;
    reading.bands = banks_[0]->Bands();
    reading.blocks = averages_[0]->Count();
    for (int channel = 0; channel < 2; ++channel) {
        for (double power : averages_[channel]->Power())
            reading.levelDb[channel].push_back(Level(power));
        for (double power : peaks_[channel]->Power())
            reading.peakDb[channel].push_back(Level(power));
    }
    return reading;
}

} // namespace measure
