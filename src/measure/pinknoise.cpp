#include "measure/pinknoise.h"

#include "measure/levels.h"

#include <cmath>
#include <numbers>

namespace measure {

namespace {

// The pinking filter: white noise into six one-pole low-passes in parallel
// plus a direct and a one-sample-delayed path (Paul Kellet's refined
// design). The poles spread over the band so that their sum falls 3 dB per
// octave; each section's corner sits between two poles, which is what keeps
// the ripple so small.
struct Section {
    double pole;
    double gain;
};
constexpr Section Sections[6] = {
    {0.99886, 0.0555179}, {0.99332, 0.0750759}, {0.96900, 0.1538520},
    {0.86650, 0.3104856}, {0.55000, 0.5329522}, {-0.7616, -0.0168980},
};
constexpr double DirectGain = 0.5362;
constexpr double DelayedGain = 0.115926;

// The DC blocker's pole: a first-order high-pass at 2 Hz.
const double BlockerPole = std::exp(-2.0 * std::numbers::pi * 2.0 / SampleRate);

// RMS of the filters' output for uniform white noise in [-1, 1) (variance
// 1/3): the square root of a third of the sum of the squared impulse
// response, 8.7628: the scale that brings the output to LevelDbfs.
const double FilterRms = std::sqrt(8.7628 / 3.0);

double OutputScale()
{
    const double targetRms = std::sqrt(FullScalePower) * std::pow(10.0, PinkNoise::LevelDbfs / 20.0);
    return targetRms / FilterRms;
}

uint64_t SplitMix64(uint64_t& x)
{
    uint64_t z = (x += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

} // namespace

PinkNoise::PinkNoise(uint32_t key)
{
    // Two nearby keys must give unrelated streams: the key is mixed first.
    uint64_t mixer = key;
    state_ = SplitMix64(mixer);
    scale_ = OutputScale();
}

double PinkNoise::NextWhite()
{
    // The high 53 bits of the mixed state, as a double in [0, 1), then [-1, 1).
    const uint64_t bits = SplitMix64(state_) >> 11;
    return static_cast<double>(bits) * 0x1.0p-52 - 1.0;
}

int16_t PinkNoise::NextSample()
{
    const double white = NextWhite();
    double pink = DirectGain * white + DelayedGain * lastWhite_;
    for (int i = 0; i < 6; ++i) {
        sections_[i] = Sections[i].pole * sections_[i] + Sections[i].gain * white;
        pink += sections_[i];
    }
    lastWhite_ = white;
    blockerOut_ = pink - blockerIn_ + BlockerPole * blockerOut_;
    blockerIn_ = pink;
    const double value = std::nearbyint(blockerOut_ * scale_);
    if (value > FullScale)
        return static_cast<int16_t>(FullScale);
    if (value < -FullScale)
        return static_cast<int16_t>(-FullScale);
    return static_cast<int16_t>(value);
}

void PinkNoise::Fill(int16_t* samples, int count)
{
    for (int i = 0; i < count; ++i)
        samples[i] = NextSample();
}

} // namespace measure
