#include "measure/octavebands.h"

#include "measure/levels.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <numbers>

namespace measure {

namespace {

using Complex = std::complex<double>;

// The octave ratio of the base-10 system.
const double OctaveRatio = std::pow(10.0, 0.3);

// ---- Band frequencies ----------------------------------------------------------

// Midband x of the 1/fraction octave bands; for an even fraction the bands
// sit half a band off the 1 kHz midband, as the standard places them.
double ExactMidband(int fraction, int x)
{
    if (fraction % 2 == 1)
        return 1000.0 * std::pow(10.0, 3.0 * x / (10.0 * fraction));
    return 1000.0 * std::pow(10.0, 3.0 * (2 * x + 1) / (20.0 * fraction));
}

// The nominal frequency of the 1/3-octave band 1000 * 10^(index / 10): the
// standard's preferred numbers (the octave bands are every third of them).
double ThirdOctaveNominal(int index)
{
    static constexpr double mantissas[] = {1.0, 1.25, 1.6, 2.0, 2.5, 3.15, 4.0, 5.0, 6.3, 8.0};
    const int decade = index >= 0 ? index / 10 : -((-index + 9) / 10);
    return mantissas[index - 10 * decade] * std::pow(10.0, decade + 3);
}

double RoundToSignificant(double value, int digits)
{
    const double scale = std::pow(10.0, digits - 1 - static_cast<int>(std::floor(std::log10(value))));
    return std::round(value * scale) / scale;
}

double NominalMidband(int fraction, int x, double exact)
{
    if (fraction == 1)
        return ThirdOctaveNominal(3 * x);
    if (fraction == 3)
        return ThirdOctaveNominal(x);
    return RoundToSignificant(exact, 3);
}

OctaveBand MakeBand(int fraction, int x)
{
    OctaveBand band;
    band.centreHz = ExactMidband(fraction, x);
    band.nominalHz = NominalMidband(fraction, x, band.centreHz);
    const double halfBand = std::pow(OctaveRatio, 1.0 / (2.0 * fraction));
    band.lowerHz = band.centreHz / halfBand;
    band.upperHz = band.centreHz * halfBand;
    return band;
}

// ---- Filters -------------------------------------------------------------------

// A second-order section, transposed direct form II. Double precision: the
// narrow bands put their poles close to the unit circle.
struct Biquad {
    double b0 = 0, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
    double s1 = 0, s2 = 0;

    double Step(double x)
    {
        const double y = b0 * x + s1;
        s1 = b1 * x - a1 * y + s2;
        s2 = b2 * x - a2 * y;
        return y;
    }
    Complex Response(double omega) const
    {
        const Complex z1 = std::polar(1.0, -omega);
        return (b0 + z1 * (b1 + z1 * b2)) / (1.0 + z1 * (a1 + z1 * a2));
    }
};

// The section bw * s / ((s - pole)(s - conj(pole))) through the bilinear
// transform s = (1 - 1/z) / (1 + 1/z).
Biquad BilinearSection(Complex pole, double bw)
{
    const double sum = -2.0 * pole.real(); // s^2 + sum s + product
    const double product = std::norm(pole);
    const double a0 = 1.0 + sum + product;
    Biquad section;
    section.b0 = bw / a0;
    section.b1 = 0.0;
    section.b2 = -bw / a0;
    section.a1 = (2.0 * product - 2.0) / a0;
    section.a2 = (1.0 - sum + product) / a0;
    return section;
}

// A root of s^2 - p bw s + w0^2 (sign picks which), mirrored into the
// upper half plane: its section takes the conjugate as well.
Complex UpperRoot(Complex p, double bw, double w0, double sign)
{
    const Complex root = (p * bw + sign * std::sqrt(p * p * bw * bw - 4.0 * w0 * w0)) / 2.0;
    return root.imag() >= 0.0 ? root : std::conj(root);
}

// The sixth-order Butterworth band-pass (the third-order low-pass moved to
// the band) with -3 dB at the band edges, as three sections at `rate`: the
// bilinear transform with both edges prewarped, scaled to exactly 0 dB at
// the midband. The bilinear transform squeezes frequencies towards the
// Nyquist frequency, which bends a band's skirts the more the higher the
// band lies in the rate; each band therefore runs at a rate high enough
// for its width (see MidbandLimit).
struct BandFilter {
    Biquad sections[3];
    double sumOfSquares = 0.0;
    long long count = 0;
    double lastPower = 0.0;

    BandFilter(const OctaveBand& band, double rate)
    {
        const double lower = std::tan(std::numbers::pi * band.lowerHz / rate);
        const double upper = std::tan(std::numbers::pi * band.upperHz / rate);
        const double w0 = std::sqrt(lower * upper);
        const double bw = upper - lower;
        // The low-pass prototype's poles in the upper half plane, -1 and
        // e^(j 2pi/3); each becomes two band-pass poles.
        const Complex real(-1.0, 0.0);
        const Complex complex = std::polar(1.0, 2.0 * std::numbers::pi / 3.0);
        sections[0] = BilinearSection(UpperRoot(real, bw, w0, +1.0), bw);
        sections[1] = BilinearSection(UpperRoot(complex, bw, w0, +1.0), bw);
        sections[2] = BilinearSection(UpperRoot(complex, bw, w0, -1.0), bw);
        const double gain = std::abs(Response(2.0 * std::numbers::pi * band.centreHz / rate));
        sections[0].b0 /= gain;
        sections[0].b2 /= gain;
    }

    Complex Response(double omega) const
    {
        return sections[0].Response(omega) * sections[1].Response(omega) * sections[2].Response(omega);
    }

    // The three sections sample by sample, their coefficients and states in
    // locals: kept in registers, not stored back after every sample.
    void Run(const double* x, int n)
    {
        Biquad f = sections[0], g = sections[1], h = sections[2];
        double sum = 0.0;
        for (int i = 0; i < n; ++i) {
            const double y = h.Step(g.Step(f.Step(x[i])));
            sum += y * y;
        }
        sections[0] = f;
        sections[1] = g;
        sections[2] = h;
        sumOfSquares += sum;
        count += n;
    }

    double TakePower()
    {
        if (count > 0)
            lastPower = sumOfSquares / static_cast<double>(count);
        sumOfSquares = 0.0;
        count = 0;
        return lastPower;
    }

    void Reset()
    {
        for (auto& s : sections)
            s.s1 = s.s2 = 0.0;
        sumOfSquares = 0.0;
        count = 0;
        lastPower = 0.0;
    }
};

// The highest midband, as a part of its rate, at which a 1/fraction octave
// band keeps within the class 1 limits with margin: the wider the band, the
// further its lower skirt reaches and the more the bilinear transform
// shortens it there.
double MidbandLimit(int fraction)
{
    if (fraction <= 1)
        return 0.125;
    if (fraction <= 3)
        return 0.2;
    if (fraction <= 6)
        return 0.25;
    return 0.3;
}

// ---- Rate changes --------------------------------------------------------------

double BesselI0(double x)
{
    double sum = 1.0, term = 1.0;
    for (int k = 1; k < 60; ++k) {
        term *= (x / (2.0 * k)) * (x / (2.0 * k));
        sum += term;
    }
    return sum;
}

// A half-band low-pass, Kaiser-windowed: every second tap is zero and the
// response is symmetric about a quarter of the rate, so it halves or doubles
// the rate at about a quarter of the cost of a plain filter of its length.
// Returns the taps at offsets 1, 3, 5, ... from the centre (whose tap is 1/2).
std::vector<double> HalfbandTaps(int tapCount, double beta)
{
    std::vector<double> taps;
    const int half = (tapCount - 1) / 2; // odd: the outermost taps are not zero
    for (int k = 1; k <= half; k += 2) {
        const double ratio = static_cast<double>(k) / half;
        const double window = BesselI0(beta * std::sqrt(1.0 - ratio * ratio)) / BesselI0(beta);
        taps.push_back(std::sin(std::numbers::pi * k / 2.0) / (std::numbers::pi * k) * window);
    }
    return taps;
}

// Keeps the end of the input that the next call still reaches back to.
class History {
public:
    explicit History(int size) : kept_(size, 0.0) {}
    // The kept samples followed by `n` new ones.
    const std::vector<double>& Join(const double* x, int n)
    {
        work_.resize(kept_.size() + n);
        std::copy(kept_.begin(), kept_.end(), work_.begin());
        std::copy(x, x + n, work_.begin() + static_cast<long>(kept_.size()));
        std::copy(work_.end() - static_cast<long>(kept_.size()), work_.end(), kept_.begin());
        return work_;
    }
    void Reset() { std::fill(kept_.begin(), kept_.end(), 0.0); }

private:
    std::vector<double> kept_;
    std::vector<double> work_;
};

// Halves the rate: flat within 0.001 dB up to 0.152 of the input rate (the
// highest upper band edge a lower rate measures, 0.304 of that rate) and
// down by 90 dB from 0.348, so nothing folds onto a band unattenuated.
class Decimator {
public:
    Decimator() : taps_(HalfbandTaps(39, 9.0)), reach_(2 * static_cast<int>(taps_.size()) - 1), history_(2 * reach_) {}

    // Appends one output for every second input sample.
    void Run(const double* x, int n, std::vector<double>& out)
    {
        const auto& work = history_.Join(x, n);
        const int first = reach_ + phase_; // the first output's centre
        const int end = static_cast<int>(work.size()) - reach_;
        const int count = first < end ? (end - first + 1) / 2 : 0;
        phase_ = first + 2 * count - end;
        // The taps reach from a centre to the samples an odd number away,
        // which are every second sample: gathered once, each tap is a pass
        // over contiguous memory that vectorises.
        const int pairs = static_cast<int>(taps_.size());
        odd_.resize(count + 2 * pairs - 1); // from pairs before the first output to pairs - 1 after the last
        for (int j = 0; j < count + 2 * pairs - 1; ++j)
            odd_[j] = work[first + 1 + 2 * (j - pairs)];
        const std::size_t start = out.size();
        out.resize(start + count);
        double* y = out.data() + start;
        for (int m = 0; m < count; ++m)
            y[m] = 0.5 * work[first + 2 * m];
        for (int i = 0; i < pairs; ++i) {
            const double tap = taps_[i];
            const double* after = odd_.data() + pairs + i;
            const double* before = odd_.data() + pairs - i - 1;
            for (int m = 0; m < count; ++m)
                y[m] += tap * (after[m] + before[m]);
        }
    }
    void Reset()
    {
        history_.Reset();
        phase_ = 0;
    }

private:
    std::vector<double> taps_;
    int reach_; // the farthest tap from the centre
    History history_;
    std::vector<double> odd_;
    int phase_ = 0; // 1 when the next output's centre is the second new sample
};

// Doubles the rate: each input sample, then the one the filter puts halfway
// to the next.
class Interpolator {
public:
    Interpolator(int tapCount, double beta)
        : taps_(HalfbandTaps(tapCount, beta)), history_(2 * static_cast<int>(taps_.size()) - 1)
    {
    }

    void Run(const double* x, int n, std::vector<double>& out)
    {
        const auto& work = history_.Join(x, n);
        const int pairs = static_cast<int>(taps_.size());
        const double* centre = work.data() + pairs - 1; // the first centre
        between_.assign(n, 0.0);
        // Four taps a pass: a quarter of the loads and stores of the sums.
        int i = 0;
        for (; i + 4 <= pairs; i += 4) {
            const double t0 = taps_[i], t1 = taps_[i + 1], t2 = taps_[i + 2], t3 = taps_[i + 3];
            const double* before = centre - i;
            const double* after = centre + 1 + i;
            for (int m = 0; m < n; ++m)
                between_[m] += t0 * (before[m] + after[m]) + t1 * (before[m - 1] + after[m + 1]) +
                               t2 * (before[m - 2] + after[m + 2]) + t3 * (before[m - 3] + after[m + 3]);
        }
        for (; i < pairs; ++i) {
            const double tap = taps_[i];
            const double* before = centre - i;
            const double* after = centre + 1 + i;
            for (int m = 0; m < n; ++m)
                between_[m] += tap * (before[m] + after[m]);
        }
        const std::size_t start = out.size();
        out.resize(start + 2 * static_cast<std::size_t>(n));
        double* y = out.data() + start;
        for (int m = 0; m < n; ++m) {
            y[2 * m] = centre[m];
            y[2 * m + 1] = 2.0 * between_[m];
        }
    }
    void Reset() { history_.Reset(); }

private:
    std::vector<double> taps_;
    History history_;
    std::vector<double> between_;
};

// Doubling 44.1 kHz: flat up to 21 kHz, its images (from 23.1 kHz) down by
// 90 dB. The bands above that run at the doubled rates are shaped by their
// filters up to 21 kHz; from there to 22.05 kHz this filter's transition
// lowers what they read by up to 3 dB.
Interpolator MakeFirstInterpolator()
{
    return Interpolator(251, 9.0);
}
// Doubling 88.2 kHz, where the signal holds nothing above 23.1 kHz.
Interpolator MakeSecondInterpolator()
{
    return Interpolator(27, 9.0);
}

// The level a band is measured at, the rate 44100 / 2^level: the lowest
// rate at which its midband stays within MidbandLimit of the rate. Levels
// below 0 (88.2 and 176.4 kHz) hold the highest bands.
int LevelOf(const OctaveBand& band, int fraction)
{
    return static_cast<int>(std::floor(std::log2(MidbandLimit(fraction) * SampleRate / band.centreHz)));
}
constexpr int HighestRateLevel = -2;

// A tiny constant added to the input keeps the filters' states away from
// subnormal numbers after exact silence (their cost is many times that of
// normal ones); the band-passes do not pass it.
constexpr double SubnormalGuard = 1e-20;

} // namespace

std::vector<OctaveBand> OctaveBands(int fraction)
{
    std::vector<OctaveBand> bands;
    if (fraction < 1)
        return bands;
    // The lowest band is the first whose lower edge reaches 20 Hz; the highest
    // the last whose midband is at most 20 kHz (its upper edge may lie past
    // the Nyquist frequency; its filter keeps the band's shape up to there).
    const int first = static_cast<int>(std::floor(fraction * std::log2(20.0 / 1000.0))) - 2;
    for (int x = first;; ++x) {
        const OctaveBand band = MakeBand(fraction, x);
        if (band.centreHz > 20000.0)
            break;
        if (band.lowerHz >= 20.0)
            bands.push_back(band);
    }
    return bands;
}

std::string NominalText(double nominalHz)
{
    char text[32];
    if (nominalHz >= 1000.0)
        std::snprintf(text, sizeof text, "%.3gk", nominalHz / 1000.0);
    else
        std::snprintf(text, sizeof text, "%.3g", nominalHz);
    return text;
}

struct OctaveFilterBank::Impl {
    std::vector<OctaveBand> bands;
    std::vector<BandFilter> filters; // one per band, the same order
    std::vector<int> levels;         // the level of each band
    int highest = 0;                 // the levels the bands use, highest rate first
    int lowest = 0;
    std::vector<Interpolator> interpolators;  // level 0 to -1, -1 to -2
    std::vector<Decimator> decimators;        // level k to k + 1
    std::vector<std::vector<double>> signals; // each level's samples of one call, index level - highest

    Impl(std::vector<OctaveBand> chosen, int fraction) : bands(std::move(chosen))
    {
        for (const auto& band : bands) {
            const int level = std::max(HighestRateLevel, LevelOf(band, fraction));
            levels.push_back(level);
            filters.emplace_back(band, std::ldexp(SampleRate, -level));
            highest = std::min(highest, level);
            lowest = std::max(lowest, level);
        }
        if (highest <= -1)
            interpolators.push_back(MakeFirstInterpolator());
        if (highest <= -2)
            interpolators.push_back(MakeSecondInterpolator());
        for (int level = 1; level <= lowest; ++level)
            decimators.emplace_back();
        signals.resize(lowest - highest + 1);
    }

    std::vector<double>& Signal(int level) { return signals[level - highest]; }

    void Process(const float* samples, int count)
    {
        auto& input = Signal(0);
        input.resize(count);
        for (int i = 0; i < count; ++i)
            input[i] = samples[i] + SubnormalGuard;
        for (int level = -1; level >= highest; --level) {
            Signal(level).clear();
            const auto& from = Signal(level + 1);
            interpolators[-level - 1].Run(from.data(), static_cast<int>(from.size()), Signal(level));
        }
        for (int level = 1; level <= lowest; ++level) {
            Signal(level).clear();
            const auto& from = Signal(level - 1);
            decimators[level - 1].Run(from.data(), static_cast<int>(from.size()), Signal(level));
        }
        for (std::size_t i = 0; i < filters.size(); ++i) {
            const auto& signal = Signal(levels[i]);
            filters[i].Run(signal.data(), static_cast<int>(signal.size()));
        }
    }

    void Reset()
    {
        for (auto& filter : filters)
            filter.Reset();
        for (auto& interpolator : interpolators)
            interpolator.Reset();
        for (auto& decimator : decimators)
            decimator.Reset();
    }
};

OctaveFilterBank::OctaveFilterBank(int fraction) : impl_(new Impl(OctaveBands(fraction), fraction)) {}

OctaveFilterBank::OctaveFilterBank(int fraction, int firstBand, int bandCount)
{
    const auto all = OctaveBands(fraction);
    const int first = std::clamp(firstBand, 0, static_cast<int>(all.size()));
    const int last = std::clamp(first + std::max(0, bandCount), first, static_cast<int>(all.size()));
    impl_ = new Impl(std::vector<OctaveBand>(all.begin() + first, all.begin() + last), fraction);
}

OctaveFilterBank::~OctaveFilterBank()
{
    delete impl_;
}

const std::vector<OctaveBand>& OctaveFilterBank::Bands() const
{
    return impl_->bands;
}

void OctaveFilterBank::Process(const float* samples, int count)
{
    if (count > 0)
        impl_->Process(samples, count);
}

std::vector<double> OctaveFilterBank::TakePowers()
{
    std::vector<double> powers;
    powers.reserve(impl_->filters.size());
    for (auto& filter : impl_->filters)
        powers.push_back(filter.TakePower());
    return powers;
}

void OctaveFilterBank::Reset()
{
    impl_->Reset();
}

} // namespace measure
