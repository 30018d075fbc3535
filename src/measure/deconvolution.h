// Impulse and frequency responses from a played reference (usually the
// exponential sweep of measure/sweep.h) and its recording: the recording's
// spectrum divided by the reference's, regularised so that bands the
// reference does not excite give silence instead of amplified noise; the
// main peak's delay to a fraction of a sample; the linear response's
// magnitude and phase; and, for the synchronised sweep, the harmonic
// impulse responses H2 ... H5 and the distortion levels they give.
// Impulse responses are in linear gain (1 = the recording equals the
// reference). No Qt.
#pragma once

#include <complex>
#include <string>
#include <vector>

namespace measure {

class ExponentialSweep;

// The full deconvolved response: lag n at impulse[n], negative lags wrapped
// to impulse[size + n].
struct DeconvolvedResponse {
    double sampleRate = 44100.0;
    int size = 0;                               // transform length
    std::vector<std::complex<double>> spectrum; // size / 2 + 1 bins
    std::vector<double> impulse;                // size samples
};

// Divides the recording's spectrum by the reference's, both zero-padded to
// at least twice the recording. Inside bandLowHz ... bandHighHz the division
// is nearly exact; outside it a regularisation rising over half an octave
// (above the band: squeezed below half the sample rate) drives the response
// to zero, and below the band the response also falls smoothly over an
// octave so that its edge rings only briefly. Throws std::invalid_argument on empty input,
// a recording shorter than the reference or a band outside 0 ... rate / 2.
DeconvolvedResponse Deconvolve(const std::vector<double>& reference, const std::vector<double>& recording,
                               double sampleRate, double bandLowHz, double bandHighHz);

// The smallest length of the form 2^a 3^b 5^c that is at least `count`.
int TransformSizeFor(int count);

struct ResponsePeak {
    double delaySamples = 0;  // the main peak's lag, to a fraction of a sample
    double levelDb = -300;    // its height (the analytic envelope's maximum)
    double peakToNoiseDb = 0; // over the RMS of the response's noise
};

// The strongest peak, located on the analytic envelope interpolated sixteen
// times finer than the samples. Lags lie in -size/2 ... size/2.
ResponsePeak FindPeak(const DeconvolvedResponse& response);

// A recording holds the sweep when the peak stands at least this far above
// the noise of the impulse response; noise alone reaches about 15 dB.
inline constexpr double SweepFoundPeakToNoiseDb = 30.0;

struct SweepDetection {
    bool found = false;
    std::string message; // for the user when nothing was found
};

SweepDetection DetectSweep(const ResponsePeak& peak, double thresholdDb = SweepFoundPeakToNoiseDb);

// A windowed stretch of an impulse response: samples[i] is lag startLag + i.
struct WindowedImpulse {
    double sampleRate = 44100.0;
    int startLag = 0;
    std::vector<double> samples;
};

// How much of the response around the peak is kept, in samples; the outer
// quarter of each side is tapered with half a Hann window.
struct ImpulseWindow {
    int before = 2048;
    int after = 22050;
};

// The window that keeps the linear response of the sweep clear of H2: half
// the distance to it before the peak, up to the silence (at most half the
// transform) after it.
ImpulseWindow LinearWindowFor(const ExponentialSweep& sweep, const DeconvolvedResponse& response);

// The part of the response around `centreLag` (rounded), tapered.
WindowedImpulse CutImpulse(const DeconvolvedResponse& response, double centreLag, ImpulseWindow window);

struct ResponsePoint {
    double hz = 0;
    double magnitudeDb = 0;
    double phaseDegrees = 0;          // -180 ... 180
    double unwrappedPhaseDegrees = 0; // continuous along the frequencies given
};

// The windowed response's transform at each frequency (ascending), its phase
// taken relative to a pure delay of `referenceDelaySamples`.
std::vector<ResponsePoint> FrequencyResponse(const WindowedImpulse& impulse, const std::vector<double>& hz,
                                             double referenceDelaySamples);

// Frequencies from lowHz to highHz (inclusive) spaced by 1/pointsPerOctave
// of an octave.
std::vector<double> LogFrequencyGrid(double lowHz = 20.0, double highHz = 20000.0, int pointsPerOctave = 48);

// The k-th harmonic's impulse response (k = 2 ... 5), moved from its place
// L ln k before the linear one (a fractional shift in the frequency domain)
// onto the linear one's peak and windowed to half the distance to its
// neighbours.
WindowedImpulse HarmonicImpulse(const DeconvolvedResponse& response, const ExponentialSweep& sweep,
                                double linearDelaySamples, int order);

struct HarmonicLevels {
    int order = 2;
    std::vector<double> hz;      // the fundamental's frequencies where order * hz stays in the sweep's band
    std::vector<double> levelDb; // |Hk(k f)| / |H1(f)| in dB
};

// H2 ... highestOrder against the fundamental's frequency, relative to the
// linear response.
std::vector<HarmonicLevels> HarmonicDistortion(const DeconvolvedResponse& response, const ExponentialSweep& sweep,
                                               double linearDelaySamples, const std::vector<double>& hz,
                                               int highestOrder = 5);

} // namespace measure
