// The synchronised exponential swept sine that the response measurement
// plays: x(t) = sin(2 pi f1 L (e^(t/L) - 1)) with L = round(f1 T / ln(f2/f1)) / f1.
// Because f1 L is a whole number, the k-th power of the sweep's phase term
// equals the sweep advanced by L ln k, so a nonlinear system's k-th harmonic
// impulse response appears exactly L ln k before the linear one after
// deconvolution. Samples are in 16-bit units (peak FullScale at 0 dBFS).
// No Qt.
#pragma once

#include <cstdint>
#include <vector>

namespace measure {

struct SweepParameters {
    double startHz = 20.0;       // f1
    double endHz = 20000.0;      // f2, below half the sample rate
    double seconds = 4.0;        // requested sweep length, 1 ... 16 s
    double levelDbfs = -6.0;     // peak, 0 ... -40 dBFS
    double silenceSeconds = 1.0; // appended for the decay, 0 ... 10 s
    double sampleRate = 44100.0;
};

// Throws std::invalid_argument with a message for the user when a parameter
// lies outside its range.
void ValidateSweepParameters(const SweepParameters& parameters);

class ExponentialSweep {
public:
    explicit ExponentialSweep(const SweepParameters& parameters);

    const SweepParameters& Parameters() const { return parameters_; }
    // L in seconds: the time the frequency takes to rise by a factor e.
    double RateSeconds() const { return rate_; }
    // f1 e^(t/L), the instantaneous frequency at t seconds from the start.
    double FrequencyAt(double seconds) const;
    // The phase at t seconds, radians, zero at the start.
    double PhaseAt(double seconds) const;
    // L ln(f2/f1): where the frequency reaches f2 (close to the requested
    // length; it differs because f1 L is rounded to a whole number).
    double EndSeconds() const;
    // L ln k: how far ahead of the linear response the k-th harmonic's lies.
    double HarmonicAdvanceSeconds(int order) const;
    // The sweep's peak in 16-bit units.
    double Peak() const;
    int SweepSampleCount() const;
    // The sweep followed by its silence.
    int TotalSampleCount() const;
    // The whole signal (sweep, fades, silence) as doubles in 16-bit units.
    std::vector<double> Samples() const;
    // The same, rounded to the nearest 16-bit value for playback.
    std::vector<int16_t> Samples16() const;

private:
    double FadeGain(double seconds) const;

    SweepParameters parameters_;
    double rate_ = 0;
    double fadeInSeconds_ = 0;
    double fadeOutSeconds_ = 0;
};

} // namespace measure
