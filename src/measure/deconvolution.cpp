#include "measure/deconvolution.h"
#include "measure/fftwplanner.h"

#include "measure/sweep.h"

#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <numbers>
#include <stdexcept>

namespace measure {

namespace {

constexpr double Pi = std::numbers::pi;
using Complex = std::complex<double>;

// A real transform of one length with its buffers, both directions,
// unnormalised.
class RealTransform {
public:
    explicit RealTransform(int size) : size_(size)
    {
        std::lock_guard lock(FftwPlannerLock());
        real_ = fftw_alloc_real(static_cast<std::size_t>(size));
        complex_ = fftw_alloc_complex(static_cast<std::size_t>(size / 2 + 1));
        forward_ = fftw_plan_dft_r2c_1d(size, real_, complex_, FFTW_ESTIMATE);
        backward_ = fftw_plan_dft_c2r_1d(size, complex_, real_, FFTW_ESTIMATE);
    }
    ~RealTransform()
    {
        std::lock_guard lock(FftwPlannerLock());
        fftw_destroy_plan(forward_);
        fftw_destroy_plan(backward_);
        fftw_free(complex_);
        fftw_free(real_);
    }
    RealTransform(const RealTransform&) = delete;
    RealTransform& operator=(const RealTransform&) = delete;

    // The zero-padded samples' spectrum.
    std::vector<Complex> Forward(const std::vector<double>& samples)
    {
        std::fill(real_, real_ + size_, 0.0);
        std::copy_n(samples.begin(), std::min<std::size_t>(samples.size(), size_), real_);
        fftw_execute(forward_);
        std::vector<Complex> spectrum(static_cast<std::size_t>(size_ / 2 + 1));
        for (std::size_t b = 0; b < spectrum.size(); ++b)
            spectrum[b] = {complex_[b][0], complex_[b][1]};
        return spectrum;
    }
    // The samples of a spectrum, normalised (Backward(Forward(x)) == x).
    std::vector<double> Backward(const std::vector<Complex>& spectrum)
    {
        for (std::size_t b = 0; b < spectrum.size(); ++b) {
            complex_[b][0] = spectrum[b].real();
            complex_[b][1] = spectrum[b].imag();
        }
        fftw_execute(backward_);
        std::vector<double> samples(real_, real_ + size_);
        for (double& x : samples)
            x /= size_;
        return samples;
    }

private:
    int size_;
    double* real_ = nullptr;
    fftw_complex* complex_ = nullptr;
    fftw_plan forward_ = nullptr;
    fftw_plan backward_ = nullptr;
};

// Half a Hann window rising from 0 at x = 0 to 1 at x = 1.
double HalfHann(double x)
{
    return 0.5 - 0.5 * std::cos(Pi * std::clamp(x, 0.0, 1.0));
}

// The regularisation relative to the reference's strongest bin: tiny in the
// band, so the division there is exact to far below 0.001 dB, rising
// smoothly over half an octave outside it to the strongest bin's power, so
// the response fades to zero where the reference has nothing to divide by.
constexpr double InBandRegularisation = 1e-10;
constexpr double TransitionOctaves = 0.5;

double RegularisationShare(double hz, double lowHz, double highHz, double nyquistHz)
{
    // Above the band the rise is squeezed in below half the sample rate.
    const double widthAbove = std::min(TransitionOctaves, std::log2(nyquistHz / highHz));
    double rise = 0;
    if (hz < lowHz)
        rise = hz <= 0 ? 1.0 : HalfHann(std::log2(lowHz / hz) / TransitionOctaves);
    else if (hz > highHz)
        rise = widthAbove <= 0 ? 1.0 : HalfHann(std::log2(hz / highHz) / widthAbove);
    return std::pow(InBandRegularisation, 1.0 - rise);
}

// The response below the band falls smoothly over an octave whatever the
// reference's own spectrum does there: a gentle edge rings briefly, so the
// window around the peak keeps the band's low end exact.
constexpr double LowEdgeOctaves = 1.0;
double BandWeight(double hz, double lowHz)
{
    if (hz >= lowHz)
        return 1.0;
    return hz <= 0 ? 0.0 : HalfHann(1.0 - std::log2(lowHz / hz) / LowEdgeOctaves);
}

double StrongestPower(const std::vector<Complex>& spectrum)
{
    double strongest = 0;
    for (const Complex& x : spectrum)
        strongest = std::max(strongest, std::norm(x));
    return strongest;
}

int WrappedIndex(long long lag, int size)
{
    return static_cast<int>(((lag % size) + size) % size);
}

// The RMS of the response's noise: of all samples but the largest 1 %, so
// that the peak and its neighbourhood do not count, while noise that fills
// only part of the lags (the deconvolution spreads it unevenly) still does.
double NoiseRms(const std::vector<double>& impulse)
{
    std::vector<double> power(impulse.size());
    std::transform(impulse.begin(), impulse.end(), power.begin(), [](double x) { return x * x; });
    const auto kept = power.begin() + static_cast<std::ptrdiff_t>(power.size() * 99 / 100);
    std::nth_element(power.begin(), kept, power.end());
    double sum = 0;
    for (auto it = power.begin(); it != kept; ++it)
        sum += *it;
    return std::sqrt(sum / std::max<std::ptrdiff_t>(1, kept - power.begin()));
}

// The analytic envelope of `segment` at sixteen points per sample, from its
// one-sided spectrum zero-padded.
constexpr int EnvelopeUpsampling = 16;
std::vector<double> UpsampledEnvelope(const std::vector<double>& segment)
{
    const int size = static_cast<int>(segment.size());
    const int fine = size * EnvelopeUpsampling;
    std::vector<double> envelope(static_cast<std::size_t>(fine));
    std::lock_guard lock(FftwPlannerLock()); // a short job: planned and run in one go
    fftw_complex* buffer = fftw_alloc_complex(static_cast<std::size_t>(fine));
    fftw_plan forward = fftw_plan_dft_1d(size, buffer, buffer, FFTW_FORWARD, FFTW_ESTIMATE);
    fftw_plan backward = fftw_plan_dft_1d(fine, buffer, buffer, FFTW_BACKWARD, FFTW_ESTIMATE);
    for (int i = 0; i < size; ++i) {
        buffer[i][0] = segment[i];
        buffer[i][1] = 0;
    }
    fftw_execute(forward);
    for (int b = 1; b < size / 2; ++b) {
        buffer[b][0] *= 2;
        buffer[b][1] *= 2;
    }
    for (int b = size / 2 + 1; b < fine; ++b)
        buffer[b][0] = buffer[b][1] = 0;
    fftw_execute(backward);
    for (int j = 0; j < fine; ++j)
        envelope[j] = std::hypot(buffer[j][0], buffer[j][1]) / size;
    fftw_destroy_plan(backward);
    fftw_destroy_plan(forward);
    fftw_free(buffer);
    return envelope;
}

// The vertex of the parabola through three equally spaced points, as an
// offset from the middle one (-1/2 ... 1/2) and its height.
std::pair<double, double> ParabolaPeak(double before, double middle, double after)
{
    const double curvature = before - 2 * middle + after;
    if (curvature >= 0)
        return {0.0, middle};
    const double offset = 0.5 * (before - after) / curvature;
    return {offset, middle - 0.25 * (before - after) * offset};
}

std::vector<double> SegmentAround(const std::vector<double>& impulse, int centre, int length)
{
    std::vector<double> segment(static_cast<std::size_t>(length));
    const int size = static_cast<int>(impulse.size());
    for (int i = 0; i < length; ++i) {
        // A flat middle half and Hann tapers at the ends keep the segment's
        // wrap-around out of the envelope near the peak.
        const double edge = std::min(i, length - 1 - i) / (0.25 * length);
        segment[i] = impulse[WrappedIndex(centre - length / 2 + i, size)] * HalfHann(edge);
    }
    return segment;
}

} // namespace

int TransformSizeFor(int count)
{
    int best = 0;
    for (long long p2 = 1; best == 0 || p2 < best; p2 *= 2)
        for (long long p3 = p2; best == 0 || p3 < best; p3 *= 3)
            for (long long p5 = p3; best == 0 || p5 < best; p5 *= 5)
                if (p5 >= count) {
                    best = static_cast<int>(p5);
                    break;
                }
    return best;
}

DeconvolvedResponse Deconvolve(const std::vector<double>& reference, const std::vector<double>& recording,
                               double sampleRate, double bandLowHz, double bandHighHz)
{
    if (reference.empty() || recording.size() < reference.size())
        throw std::invalid_argument("The recording must be at least as long as the signal played.");
    if (!(bandLowHz > 0 && bandLowHz < bandHighHz && bandHighHz <= sampleRate / 2))
        throw std::invalid_argument("The measured band must lie between 0 Hz and half the sample rate.");
    DeconvolvedResponse response;
    response.sampleRate = sampleRate;
    response.size = TransformSizeFor(static_cast<int>(2 * recording.size()));
    RealTransform transform(response.size);
    const std::vector<Complex> played = transform.Forward(reference);
    const std::vector<Complex> heard = transform.Forward(recording);
    const double strongest = std::max(StrongestPower(played), 1e-300);
    response.spectrum.resize(played.size());
    for (std::size_t b = 0; b < played.size(); ++b) {
        const double hz = b * sampleRate / response.size;
        const double regularisation = strongest * RegularisationShare(hz, bandLowHz, bandHighHz, sampleRate / 2);
        response.spectrum[b] = BandWeight(hz, bandLowHz) * heard[b] * std::conj(played[b]) /
                               (std::norm(played[b]) + regularisation);
    }
    response.impulse = transform.Backward(response.spectrum);
    return response;
}

ResponsePeak FindPeak(const DeconvolvedResponse& response)
{
    const std::vector<double>& h = response.impulse;
    const int size = static_cast<int>(h.size());
    const auto strongest = std::max_element(h.begin(), h.end(),
                                            [](double a, double b) { return std::abs(a) < std::abs(b); });
    const int peakIndex = static_cast<int>(strongest - h.begin());
    const int length = std::min(1024, size - size % 2);
    const std::vector<double> envelope = UpsampledEnvelope(SegmentAround(h, peakIndex, length));

    // The envelope's maximum within a sample either side of the peak sample.
    const int middle = (length / 2) * EnvelopeUpsampling;
    int best = middle;
    const int last = static_cast<int>(envelope.size()) - 2;
    for (int j = std::max(1, middle - EnvelopeUpsampling); j <= std::min(last, middle + EnvelopeUpsampling); ++j)
        if (envelope[j] > envelope[best])
            best = j;
    const auto [offset, height] = ParabolaPeak(envelope[best - 1], envelope[best], envelope[best + 1]);

    ResponsePeak peak;
    double lag = peakIndex + (best + offset - middle) / EnvelopeUpsampling;
    if (lag > size / 2)
        lag -= size;
    peak.delaySamples = lag;
    peak.levelDb = 20 * std::log10(std::max(height, 1e-15));
    const double noise = NoiseRms(h);
    peak.peakToNoiseDb = height <= 0 ? 0.0 : 20 * std::log10(height / std::max(noise, height * 1e-15));
    return peak;
}

SweepDetection DetectSweep(const ResponsePeak& peak, double thresholdDb)
{
    SweepDetection detection;
    detection.found = peak.peakToNoiseDb >= thresholdDb;
    if (!detection.found) {
        char text[160];
        std::snprintf(text, sizeof text,
                      "No sweep found in the recording (the impulse response's peak stands %.1f dB above its noise; "
                      "%.0f dB needed).",
                      peak.peakToNoiseDb, thresholdDb);
        detection.message = text;
    }
    return detection;
}

ImpulseWindow LinearWindowFor(const ExponentialSweep& sweep, const DeconvolvedResponse& response)
{
    const double rate = response.sampleRate;
    ImpulseWindow window;
    window.before = static_cast<int>(0.5 * sweep.HarmonicAdvanceSeconds(2) * rate);
    const int silence = static_cast<int>(sweep.Parameters().silenceSeconds * rate);
    window.after = std::clamp(silence, 256, response.size / 2 - window.before);
    return window;
}

WindowedImpulse CutImpulse(const DeconvolvedResponse& response, double centreLag, ImpulseWindow window)
{
    const int before = std::max(window.before, 1);
    const int after = std::max(window.after, 1);
    WindowedImpulse cut;
    cut.sampleRate = response.sampleRate;
    const long long centre = std::llround(centreLag);
    cut.startLag = static_cast<int>(centre - before);
    const int length = std::min(before + after + 1, response.size);
    cut.samples.resize(static_cast<std::size_t>(length));
    for (int i = 0; i < length; ++i) {
        const double rise = HalfHann(i / (0.25 * before));
        const double fall = HalfHann((length - 1 - i) / (0.25 * after));
        cut.samples[i] = response.impulse[WrappedIndex(cut.startLag + i, response.size)] * rise * fall;
    }
    return cut;
}

std::vector<ResponsePoint> FrequencyResponse(const WindowedImpulse& impulse, const std::vector<double>& hz,
                                             double referenceDelaySamples)
{
    std::vector<ResponsePoint> points;
    points.reserve(hz.size());
    double previous = 0, unwrapped = 0;
    for (const double f : hz) {
        const double w = 2 * Pi * f / impulse.sampleRate;
        // The transform's sum with a rotating phasor: one multiplication a
        // sample instead of a sine and cosine.
        const Complex step = std::polar(1.0, -w);
        Complex phasor = std::polar(1.0, -w * impulse.startLag);
        Complex sum = 0;
        for (const double x : impulse.samples) {
            sum += x * phasor;
            phasor *= step;
        }
        sum *= std::polar(1.0, w * referenceDelaySamples);
        ResponsePoint point;
        point.hz = f;
        point.magnitudeDb = 20 * std::log10(std::max(std::abs(sum), 1e-15));
        point.phaseDegrees = std::arg(sum) * 180 / Pi;
        if (points.empty())
            unwrapped = point.phaseDegrees;
        else
            unwrapped += std::remainder(point.phaseDegrees - previous, 360.0);
        previous = point.phaseDegrees;
        point.unwrappedPhaseDegrees = unwrapped;
        points.push_back(point);
    }
    return points;
}

std::vector<double> LogFrequencyGrid(double lowHz, double highHz, int pointsPerOctave)
{
    std::vector<double> grid;
    if (!(lowHz > 0 && highHz >= lowHz && pointsPerOctave > 0))
        return grid;
    const int steps = static_cast<int>(std::floor(std::log2(highHz / lowHz) * pointsPerOctave + 1e-9));
    for (int i = 0; i <= steps; ++i)
        grid.push_back(lowHz * std::exp2(static_cast<double>(i) / pointsPerOctave));
    return grid;
}

WindowedImpulse HarmonicImpulse(const DeconvolvedResponse& response, const ExponentialSweep& sweep,
                                double linearDelaySamples, int order)
{
    if (order < 2)
        throw std::invalid_argument("Harmonic orders start at 2.");
    const double rate = response.sampleRate;
    const auto advance = [&](int k) { return sweep.HarmonicAdvanceSeconds(k) * rate; };
    // Delaying by L ln k brings the harmonic onto the linear response's place.
    const double shift = advance(order);
    DeconvolvedResponse moved;
    moved.sampleRate = rate;
    moved.size = response.size;
    std::vector<Complex> spectrum = response.spectrum;
    for (std::size_t b = 0; b < spectrum.size(); ++b)
        spectrum[b] *= std::polar(1.0, -2 * Pi * static_cast<double>(b) * shift / response.size);
    RealTransform transform(response.size);
    moved.impulse = transform.Backward(spectrum);
    ImpulseWindow window;
    window.before = static_cast<int>(0.5 * (advance(order + 1) - shift));
    window.after = static_cast<int>(0.5 * (shift - advance(order - 1)));
    return CutImpulse(moved, linearDelaySamples, window);
}

std::vector<HarmonicLevels> HarmonicDistortion(const DeconvolvedResponse& response, const ExponentialSweep& sweep,
                                               double linearDelaySamples, const std::vector<double>& hz,
                                               int highestOrder)
{
    const WindowedImpulse linear = CutImpulse(response, linearDelaySamples, LinearWindowFor(sweep, response));
    const double top = std::min(sweep.Parameters().endHz, response.sampleRate / 2);
    std::vector<HarmonicLevels> curves;
    for (int order = 2; order <= highestOrder; ++order) {
        HarmonicLevels curve;
        curve.order = order;
        std::vector<double> harmonicHz;
        for (const double f : hz)
            if (f >= sweep.Parameters().startHz && order * f <= top) {
                curve.hz.push_back(f);
                harmonicHz.push_back(order * f);
            }
        const auto fundamental = FrequencyResponse(linear, curve.hz, linearDelaySamples);
        const auto harmonic = FrequencyResponse(HarmonicImpulse(response, sweep, linearDelaySamples, order), harmonicHz,
                                                linearDelaySamples);
        for (std::size_t i = 0; i < curve.hz.size(); ++i)
            curve.levelDb.push_back(harmonic[i].magnitudeDb - fundamental[i].magnitudeDb);
        curves.push_back(std::move(curve));
    }
    return curves;
}

} // namespace measure
