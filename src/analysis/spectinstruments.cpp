#include "analysis/spectinstruments.h"

#include "analysis/spectrum.h"
#include "measure/peakhold.h"
#include "state/global.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

constexpr int AveragedBins = TopBin + 1; // the bins the analysis writes

struct ChannelInstruments {
    measure::PowerAverager average{AveragedBins, SliceSeconds};
    measure::PeakHold peaks{AveragedBins};
};

struct Instruments {
    std::array<ChannelInstruments, 2> channels;
    bool peakHold = false;
    bool peaksHeld = false; // fed since peak hold was turned on or reset
    std::vector<double> power = std::vector<double>(AveragedBins);
    measure::MicResponse mic;
    std::vector<float> micGains; // per bin; empty without a microphone response
};

Instruments& State()
{
    static Instruments instruments;
    return instruments;
}

bool AveragingOn(const Instruments& state)
{
    return state.channels[0].average.Mode() != measure::Averaging::Off;
}

// Gains on magnitudes per bin, for each weighting, computed once.
const std::vector<float>& WeightingGains(measure::Weighting weighting)
{
    static const std::array<std::vector<float>, measure::WeightingCount> gains = [] {
        std::array<std::vector<float>, measure::WeightingCount> table;
        for (int w = 0; w < measure::WeightingCount; ++w) {
            table[w].resize(BinSlots);
            for (int bin = 0; bin < BinSlots; ++bin) {
                const double hz = bin * 44100.0 / FftSize;
                table[w][bin] = static_cast<float>(
                    std::sqrt(measure::WeightingPowerFactor(static_cast<measure::Weighting>(w), hz)));
            }
        }
        return table;
    }();
    const int index = static_cast<int>(weighting);
    return gains[index >= 0 && index < measure::WeightingCount ? index : 0];
}

void Weigh(measure::Weighting weighting, float* row)
{
    if (weighting == measure::Weighting::Z)
        return;
    const std::vector<float>& gains = WeightingGains(weighting);
    for (int bin = 0; bin < BinSlots; ++bin)
        row[bin] *= gains[bin];
}

void CorrectForMicrophone(float* row)
{
    const std::vector<float>& gains = State().micGains;
    if (gains.empty())
        return;
    for (int bin = 0; bin < BinSlots; ++bin)
        row[bin] *= gains[bin];
}

// Magnitudes from powers for the averaged bins; the bins above them (never
// analysed) are taken from slice 0 as they are.
void RootsOf(const std::vector<double>& power, int channel, float* row)
{
    for (int bin = 0; bin < AveragedBins; ++bin)
        row[bin] = static_cast<float>(std::sqrt(power[bin]));
    std::memcpy(row + AveragedBins, &Spectrum(channel, 0, AveragedBins), (BinSlots - AveragedBins) * sizeof(float));
}

} // namespace

void ChooseSpectInstruments(measure::Averaging averaging, bool peakHold, double decayDbPerSecond)
{
    Instruments& state = State();
    const bool newAverage = averaging != state.channels[0].average.Mode();
    const bool newPeaks = peakHold != state.peakHold || newAverage;
    state.peakHold = peakHold;
    for (ChannelInstruments& channel : state.channels) {
        channel.peaks.SetDecay(decayDbPerSecond);
        if (newAverage)
            channel.average.SetMode(averaging); // starts again
        if (newPeaks)
            channel.peaks.Reset();
    }
    if (newPeaks)
        state.peaksHeld = false;
}

void ResetSpectInstruments()
{
    Instruments& state = State();
    for (ChannelInstruments& channel : state.channels) {
        channel.average.Reset();
        channel.peaks.Reset();
    }
    state.peaksHeld = false;
}

bool SpectInstrumentsActive()
{
    const Instruments& state = State();
    return state.peakHold || AveragingOn(state);
}

bool SpectInstrumentsWanted()
{
    return SpectInstrumentsFed.load() && SpectInstrumentsActive();
}

void FeedSpectInstruments()
{
    if (!SpectInstrumentsWanted())
        return;
    Instruments& state = State();
    const int slices = std::clamp<int>(SlicesPerBlock.load(), 0, SliceCount);
    for (int slice = 1 - slices; slice <= 0; ++slice) {
        for (int ch = 1; ch <= 2; ++ch) {
            ChannelInstruments& channel = state.channels[ch - 1];
            const float* magnitudes = &Spectrum(ch, slice, 0);
            for (int bin = 0; bin < AveragedBins; ++bin)
                state.power[bin] = static_cast<double>(magnitudes[bin]) * magnitudes[bin];
            channel.average.Add(state.power.data());
            if (state.peakHold)
                channel.peaks.Add(channel.average.Power().data(), SliceSeconds);
        }
    }
    state.peaksHeld = state.peaksHeld || (state.peakHold && slices > 0);
}

int64_t SpectAveragedSlices()
{
    return State().channels[0].average.Count();
}

void SpectShownRow(int channel, measure::Weighting weighting, float* row)
{
    channel = std::clamp(channel, 1, 2);
    const ChannelInstruments& instruments = State().channels[channel - 1];
    if (AveragingOn(State()) && instruments.average.Count() > 0)
        RootsOf(instruments.average.Power(), channel, row);
    else
        std::memcpy(row, &Spectrum(channel, 0, 0), BinSlots * sizeof(float));
    Weigh(weighting, row);
    CorrectForMicrophone(row);
}

bool SpectPeakRow(int channel, measure::Weighting weighting, float* row)
{
    channel = std::clamp(channel, 1, 2);
    const Instruments& state = State();
    const ChannelInstruments& instruments = state.channels[channel - 1];
    if (!state.peakHold || !state.peaksHeld)
        return false;
    RootsOf(instruments.peaks.Power(), channel, row);
    Weigh(weighting, row);
    CorrectForMicrophone(row);
    return true;
}

float SpectWeightingGain(measure::Weighting weighting, int bin)
{
    return WeightingGains(weighting)[std::clamp(bin, 0, BinSlots - 1)];
}

void SetSpectMicResponse(const measure::MicResponse& response)
{
    Instruments& state = State();
    if (response.hz == state.mic.hz && response.db == state.mic.db)
        return;
    state.mic = response;
    state.micGains.clear();
    if (response.Empty())
        return;
    state.micGains.resize(BinSlots);
    for (int bin = 0; bin < BinSlots; ++bin)
        state.micGains[bin] = static_cast<float>(std::pow(10.0, -response.DbAt(bin * 44100.0 / FftSize) / 20.0));
}
