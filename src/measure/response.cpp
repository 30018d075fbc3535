#include "measure/response.h"

#include "measure/distortion.h"
#include "measure/fftwplanner.h"

#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <mutex>
#include <numbers>

namespace measure {

namespace {

std::vector<double> Channel(const std::vector<int16_t>& stereo, int channel)
{
    std::vector<double> samples(stereo.size() / 2);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = stereo[2 * i + static_cast<std::size_t>(channel)];
    return samples;
}

bool ChannelClipped(const std::vector<int16_t>& stereo, int channel)
{
    return stereo.size() >= 2 && HasClippedRun(stereo.data() + channel, stereo.size() / 2, 2);
}

// Segment spectra for the coherence: one plan, reused.
class SegmentTransform {
public:
    explicit SegmentTransform(int size) : size_(size)
    {
        std::lock_guard lock(FftwPlannerLock());
        real_ = fftw_alloc_real(static_cast<std::size_t>(size));
        complex_ = fftw_alloc_complex(static_cast<std::size_t>(size / 2 + 1));
        plan_ = fftw_plan_dft_r2c_1d(size, real_, complex_, FFTW_ESTIMATE);
    }
    ~SegmentTransform()
    {
        std::lock_guard lock(FftwPlannerLock());
        fftw_destroy_plan(plan_);
        fftw_free(complex_);
        fftw_free(real_);
    }
    SegmentTransform(const SegmentTransform&) = delete;
    SegmentTransform& operator=(const SegmentTransform&) = delete;

    std::vector<std::complex<double>> Windowed(const double* samples, const std::vector<double>& window)
    {
        for (int i = 0; i < size_; ++i)
            real_[i] = samples[i] * window[static_cast<std::size_t>(i)];
        fftw_execute(plan_);
        std::vector<std::complex<double>> spectrum(static_cast<std::size_t>(size_ / 2 + 1));
        for (std::size_t b = 0; b < spectrum.size(); ++b)
            spectrum[b] = {complex_[b][0], complex_[b][1]};
        return spectrum;
    }

private:
    int size_;
    double* real_ = nullptr;
    fftw_complex* complex_ = nullptr;
    fftw_plan plan_ = nullptr;
};

// The deconvolution's regularisation and the window leave their own mark
// near the band's edges (a few hundredths of a dB at 30 Hz for a 4 s sweep,
// a tenth for a 2 s one). The played signal deconvolved by itself, cut the
// same way, carries exactly that mark and nothing else; the measured
// response is divided by it.
void RemoveProcessingResponse(std::vector<ResponsePoint>& points, const std::vector<double>& played,
                              const SweepParameters& parameters, ImpulseWindow window)
{
    const DeconvolvedResponse self = Deconvolve(played, played, parameters.sampleRate, parameters.startHz,
                                                parameters.endHz);
    std::vector<double> hz;
    for (const ResponsePoint& p : points)
        hz.push_back(p.hz);
    const std::vector<ResponsePoint> mark = FrequencyResponse(CutImpulse(self, 0.0, window), hz, 0.0);
    for (std::size_t i = 0; i < points.size(); ++i) {
        points[i].magnitudeDb -= mark[i].magnitudeDb;
        points[i].unwrappedPhaseDegrees -= mark[i].unwrappedPhaseDegrees;
        points[i].phaseDegrees = std::remainder(points[i].phaseDegrees - mark[i].phaseDegrees, 360.0);
    }
}

} // namespace

std::vector<double> Coherence(const std::vector<double>& x, const std::vector<double>& y, double sampleRate,
                              const std::vector<double>& hz, int segment)
{
    const std::size_t length = std::min(x.size(), y.size());
    segment = std::max(2, std::min<int>(segment, static_cast<int>(length)));
    std::vector<double> coherence(hz.size(), 0.0);
    if (length < 2)
        return coherence;
    std::vector<double> window(static_cast<std::size_t>(segment));
    for (int i = 0; i < segment; ++i)
        window[static_cast<std::size_t>(i)] = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * i / segment);
    const std::size_t bins = static_cast<std::size_t>(segment / 2 + 1);
    std::vector<double> sxx(bins, 0.0), syy(bins, 0.0);
    std::vector<std::complex<double>> sxy(bins);
    SegmentTransform transform(segment);
    for (std::size_t start = 0; start + static_cast<std::size_t>(segment) <= length; start += segment / 2) {
        const auto fx = transform.Windowed(x.data() + start, window);
        const auto fy = transform.Windowed(y.data() + start, window);
        for (std::size_t b = 0; b < bins; ++b) {
            sxx[b] += std::norm(fx[b]);
            syy[b] += std::norm(fy[b]);
            sxy[b] += std::conj(fx[b]) * fy[b];
        }
    }
    for (std::size_t i = 0; i < hz.size(); ++i) {
        const auto b = std::min<std::size_t>(bins - 1,
                                             static_cast<std::size_t>(std::llround(hz[i] * segment / sampleRate)));
        const double power = sxx[b] * syy[b];
        coherence[i] = power > 0 ? std::min(1.0, std::norm(sxy[b]) / power) : 0.0;
    }
    return coherence;
}

std::vector<float> ImpulseFromZeroDelay(const ResponseMeasurement& m)
{
    const WindowedImpulse& impulse = m.impulse;
    // A peak within half a sample of zero delay (a loopback) still lies at zero.
    const long long zero = std::llround(m.delaySamples) < 0 ? impulse.startLag : std::llround(m.offsetFrames);
    const long long first = impulse.startLag - zero; // the window's first sample, counted from zero delay
    const long long length = first + static_cast<long long>(impulse.samples.size());
    std::vector<float> out(static_cast<std::size_t>(std::max(0LL, length)), 0.0f);
    for (std::size_t i = 0; i < impulse.samples.size(); ++i) {
        const long long at = first + static_cast<long long>(i);
        if (at >= 0)
            out[static_cast<std::size_t>(at)] = static_cast<float>(impulse.samples[i]);
    }
    return out;
}

ResponseOutcome AnalyseResponse(const ExponentialSweep& sweep, const std::vector<int16_t>& stereoRecording,
                                ResponseReference reference, int measuredChannel, double offsetFrames)
{
    const SweepParameters& parameters = sweep.Parameters();
    const bool generated = reference == ResponseReference::Generated;
    const int referenceChannel = reference == ResponseReference::Right ? 1 : 0;
    const int measured = generated ? std::clamp(measuredChannel, 0, 1) : 1 - referenceChannel;

    const std::vector<double> recording = Channel(stereoRecording, measured);
    std::vector<double> played = generated ? sweep.Samples() : Channel(stereoRecording, referenceChannel);
    if (recording.size() < played.size())
        return {std::nullopt, "The recording is shorter than the sweep"};

    const DeconvolvedResponse response = Deconvolve(played, recording, parameters.sampleRate, parameters.startHz,
                                                    parameters.endHz);
    const ResponsePeak peak = FindPeak(response);
    const SweepDetection detection = DetectSweep(peak);
    if (!detection.found)
        return {std::nullopt, detection.message};

    ResponseMeasurement m;
    m.sampleRate = parameters.sampleRate;
    m.delaySamples = peak.delaySamples - offsetFrames;
    m.offsetFrames = offsetFrames;
    m.delayMs = 1000.0 * m.delaySamples / m.sampleRate;
    m.peakDb = peak.levelDb;
    m.peakToNoiseDb = peak.peakToNoiseDb;
    m.clipped = ChannelClipped(stereoRecording, measured) ||
                (!generated && ChannelClipped(stereoRecording, referenceChannel));
    const std::vector<double> grid = LogFrequencyGrid();
    const ImpulseWindow window = LinearWindowFor(sweep, response);
    m.impulse = CutImpulse(response, peak.delaySamples, window);
    m.points = FrequencyResponse(m.impulse, grid, peak.delaySamples);
    RemoveProcessingResponse(m.points, played, parameters, window);
    m.harmonics = HarmonicDistortion(response, sweep, peak.delaySamples, grid);
    if (!generated)
        m.coherence = Coherence(played, recording, parameters.sampleRate, grid);
    return {std::move(m), {}};
}

} // namespace measure
