// One frequency-response measurement from a played sweep and its recording:
// the impulse response by deconvolution, its delay and peak, the linear
// response's magnitude and phase on a 1/48-octave grid from 20 Hz to 20 kHz
// (phase with the delay removed), the harmonic distortion curves, and, when
// one input channel carries the reference, the coherence between the two.
// The window and `sonalyx-measure response` both measure through here.
// No Qt.
#pragma once

#include "measure/deconvolution.h"
#include "measure/sweep.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace measure {

// What the recording is divided by: the played sweep itself, or one channel
// of the recording that carries it (a sound card's output looped back to
// its input), the other channel being the measured one.
enum class ResponseReference { Generated, Left, Right };

struct ResponseMeasurement {
    double sampleRate = 44100.0;
    double delaySamples = 0; // the main peak's lag after the recording's own offset
    double delayMs = 0;
    double offsetFrames = 0;               // the recording frame of zero delay, as given
    double peakDb = -300;                  // the impulse response's peak, dB of gain
    double peakToNoiseDb = 0;              // how far it stands above the response's noise
    bool clipped = false;                  // a recorded channel in use reached full scale
    std::vector<ResponsePoint> points;     // LogFrequencyGrid(): 20 Hz ... 20 kHz, 1/48 octave
    std::vector<HarmonicLevels> harmonics; // H2 ... H5 against the fundamental's frequency
    std::vector<double> coherence;         // per point, 0 ... 1; only with a recorded reference
    WindowedImpulse impulse;               // the linear response as the magnitude and phase read it
};

struct ResponseOutcome {
    std::optional<ResponseMeasurement> measurement;
    std::string error; // for the user when there is no measurement
};

// Analyses an interleaved stereo recording of `sweep`. With the generated
// reference the `measuredChannel` (0 left, 1 right) is divided by the sweep;
// with a recorded one the other channel is divided by it. `offsetFrames` is
// the recording's frame at which the played signal's first frame would
// arrive with no delay (0 when unknown), and is taken off the delay. A
// recording without the sweep gives the DetectSweep message.
ResponseOutcome AnalyseResponse(const ExponentialSweep& sweep, const std::vector<int16_t>& stereoRecording,
                                ResponseReference reference, int measuredChannel, double offsetFrames = 0);

// The impulse response as it is saved to a file: its first sample at zero
// delay, so that the peak lies at the delay; what lies before zero delay is
// left out, zeros lead up to the window when it starts later. When the peak
// itself comes before zero delay (a recorded reference that arrives after
// the measured channel) the file starts where the window does instead, so
// that the response is not lost.
std::vector<float> ImpulseFromZeroDelay(const ResponseMeasurement& m);

// Magnitude-squared coherence |Sxy|^2 / (Sxx Syy) of two equally long
// signals by Welch's method (Hann windows of `segment` samples, half
// overlapped), read at each frequency of `hz` from the nearest bin; 0 where
// either signal has no power.
std::vector<double> Coherence(const std::vector<double>& x, const std::vector<double>& y, double sampleRate,
                              const std::vector<double>& hz, int segment = 16384);

} // namespace measure
