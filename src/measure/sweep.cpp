#include "measure/sweep.h"

#include "measure/levels.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <stdexcept>
#include <string>

namespace measure {

namespace {

constexpr double Pi = std::numbers::pi;

void Require(bool condition, const std::string& message)
{
    if (!condition)
        throw std::invalid_argument(message);
}

// Half a Hann window rising from 0 at x = 0 to 1 at x = 1.
double HalfHann(double x)
{
    return 0.5 - 0.5 * std::cos(Pi * std::clamp(x, 0.0, 1.0));
}

} // namespace

void ValidateSweepParameters(const SweepParameters& p)
{
    Require(p.sampleRate >= 8000 && p.sampleRate <= 384000, "The sample rate must lie between 8000 and 384000 Hz.");
    Require(p.startHz >= 1 && p.startHz < p.endHz, "The sweep must start at 1 Hz or above and below its end.");
    Require(p.endHz < p.sampleRate / 2, "The sweep must end below half the sample rate.");
    Require(p.endHz / p.startHz >= 2, "The sweep must span at least an octave.");
    Require(p.seconds >= 1 && p.seconds <= 16, "The sweep must last 1 to 16 seconds.");
    Require(p.levelDbfs <= 0 && p.levelDbfs >= -40, "The sweep's level must lie between 0 and -40 dBFS.");
    Require(p.silenceSeconds >= 0 && p.silenceSeconds <= 10, "The silence after the sweep must last 0 to 10 seconds.");
}

ExponentialSweep::ExponentialSweep(const SweepParameters& parameters) : parameters_(parameters)
{
    ValidateSweepParameters(parameters);
    const double f1 = parameters.startHz;
    // f1 L a whole number: harmonics then line up with advanced copies.
    const double cycles = std::max(1.0, std::round(f1 * parameters.seconds / std::log(parameters.endHz / f1)));
    rate_ = cycles / f1;
    // A fade-in over two periods of the start frequency and a short fade-out
    // over fifty periods of the end frequency keep clicks out of the band.
    fadeInSeconds_ = std::min(2.0 / f1, 0.25 * EndSeconds());
    fadeOutSeconds_ = std::min(50.0 / parameters.endHz, 0.025 * EndSeconds());
}

double ExponentialSweep::FrequencyAt(double seconds) const
{
    return parameters_.startHz * std::exp(seconds / rate_);
}

double ExponentialSweep::PhaseAt(double seconds) const
{
    // expm1 keeps the phase exact near the start, where e^(t/L) - 1 is small.
    return 2 * Pi * parameters_.startHz * rate_ * std::expm1(seconds / rate_);
}

double ExponentialSweep::EndSeconds() const
{
    return rate_ * std::log(parameters_.endHz / parameters_.startHz);
}

double ExponentialSweep::HarmonicAdvanceSeconds(int order) const
{
    return rate_ * std::log(static_cast<double>(order));
}

double ExponentialSweep::Peak() const
{
    return FullScale * std::pow(10.0, parameters_.levelDbfs / 20.0);
}

int ExponentialSweep::SweepSampleCount() const
{
    return static_cast<int>(std::ceil(EndSeconds() * parameters_.sampleRate));
}

int ExponentialSweep::TotalSampleCount() const
{
    return SweepSampleCount() + static_cast<int>(std::lround(parameters_.silenceSeconds * parameters_.sampleRate));
}

double ExponentialSweep::FadeGain(double seconds) const
{
    const double fadeIn = HalfHann(seconds / fadeInSeconds_);
    const double fadeOut = HalfHann((EndSeconds() - seconds) / fadeOutSeconds_);
    return fadeIn * fadeOut;
}

std::vector<double> ExponentialSweep::Samples() const
{
    std::vector<double> samples(static_cast<std::size_t>(TotalSampleCount()), 0.0);
    const double peak = Peak();
    const int count = SweepSampleCount();
    for (int n = 0; n < count; ++n) {
        const double t = n / parameters_.sampleRate;
        samples[n] = peak * FadeGain(t) * std::sin(PhaseAt(t));
    }
    return samples;
}

std::vector<int16_t> ExponentialSweep::Samples16() const
{
    const std::vector<double> samples = Samples();
    std::vector<int16_t> rounded(samples.size());
    std::transform(samples.begin(), samples.end(), rounded.begin(),
                   [](double x) { return static_cast<int16_t>(std::clamp(std::lround(x), -32768L, 32767L)); });
    return rounded;
}

} // namespace measure
