#include "measure/distortion.h"
#include "measure/fftwplanner.h"

#include <fftw3.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <mutex>
#include <numbers>
#include <stdexcept>

namespace measure {

namespace {

// The 7-term Blackman-Harris window's coefficients.
constexpr std::array<double, 7> WindowTerms = {0.27105140069342, 0.43329793923448, 0.21812299954311, 0.06592544638803,
                                               0.01081174209837, 0.00077658482522, 0.00001388721735};

// Ratios far below anything measurable read this rather than minus infinity.
constexpr double SmallestRatio = 1e-15;

double PowerRatioDb(double ratio)
{
    return 10.0 * std::log10(std::max(ratio, SmallestRatio));
}

// A lobe's power as the level of the sine it would be: a full-scale sine
// holds 1 / 2.
double PowerDbfs(double power)
{
    return PowerRatioDb(2.0 * power);
}

// The window's transform at `offset` bins from a tone, relative to its
// value at the tone (a real function: the linear phase is left out).
double WindowResponse(double offset)
{
    const double x = std::abs(offset) < 1e-9 ? 1e-9 : offset;
    double sum = 0;
    for (std::size_t k = 0; k < WindowTerms.size(); ++k) {
        const double sign = (k % 2 == 0) ? 1.0 : -1.0;
        const double kk = static_cast<double>(k);
        const double denominator = x * x - kk * kk;
        if (std::abs(denominator) < 1e-12)
            return WindowResponse(offset + 1e-7); // a removable singularity
        sum += sign * WindowTerms[k] * x / denominator;
    }
    return std::sin(std::numbers::pi * x) / std::numbers::pi * sum / WindowTerms[0];
}

// Where between bins a tone lies, from the power of the bins beside its
// peak: the offset d in -1/2 ... 1/2 whose window response gives the same
// ratio. The ratio rises with d, so bisection finds it.
double PeakOffset(double below, double peak, double above)
{
    if (below <= 0 && above <= 0)
        return 0;
    if (peak <= 0)
        return 0;
    const double measured = std::sqrt(above / std::max(below, 1e-300));
    auto ratioAt = [](double d) { return std::abs(WindowResponse(1.0 - d)) / std::abs(WindowResponse(1.0 + d)); };
    double low = -0.5, high = 0.5;
    if (measured <= ratioAt(low))
        return low;
    if (measured >= ratioAt(high))
        return high;
    for (int i = 0; i < 60; ++i) {
        const double mid = 0.5 * (low + high);
        (ratioAt(mid) < measured ? low : high) = mid;
    }
    return 0.5 * (low + high);
}

// Which tone a bin's power is counted for: the harmonic's order (1 for the
// fundamental), or none.
constexpr int NoOwner = 0;
using BinOwners = std::vector<int>;

struct Lobe {
    int first = 0, last = -1; // bins, inclusive
};

Lobe LobeAround(int peak, int binCount)
{
    return {std::max(0, peak - MainLobeHalfWidth), std::min(binCount - 1, peak + MainLobeHalfWidth)};
}

// Claims the lobe's free bins for `owner` and returns their power sum; bins
// another tone already holds are left to it.
double ClaimLobe(const std::vector<double>& power, BinOwners& owners, Lobe lobe, int owner)
{
    double sum = 0;
    for (int b = lobe.first; b <= lobe.last; ++b) {
        if (owners[b] != NoOwner)
            continue;
        owners[b] = owner;
        sum += power[b];
    }
    return sum;
}

int StrongestBin(const std::vector<double>& power, int first, int last)
{
    int best = first;
    for (int b = first; b <= last; ++b)
        if (power[b] > power[best])
            best = b;
    return best;
}

// The mean noise power per bin, from the median of the band's bins no tone
// holds: noise power in a bin is exponentially distributed, its mean the
// median over ln 2. The median ignores hum and spurs that a mean would take.
double NoiseFloor(const std::vector<double>& power, const BinOwners& owners, int first, int last)
{
    std::vector<double> free;
    free.reserve(static_cast<std::size_t>(std::max(0, last - first + 1)));
    for (int b = first; b <= last; ++b)
        if (owners[b] == NoOwner)
            free.push_back(power[b]);
    if (free.empty())
        return 0;
    auto middle = free.begin() + static_cast<std::ptrdiff_t>(free.size() / 2);
    std::nth_element(free.begin(), middle, free.end());
    return *middle / std::numbers::ln2;
}

struct HarmonicLobe {
    int order;
    double hz;
    Lobe lobe;
    double power = 0;
};

// The bins and the band of one spectrum.
struct SpectrumLayout {
    int binCount;
    double binHz;
    int bandFirst, bandLast; // the bins from 20 Hz to 20 kHz
};

SpectrumLayout LayoutOf(int size, double sampleRate)
{
    const int binCount = size / 2 + 1;
    const double binHz = sampleRate / size;
    return {binCount, binHz, std::min(binCount - 1, static_cast<int>(std::ceil(DistortionBandLow / binHz))),
            std::min(binCount - 1, static_cast<int>(std::floor(DistortionBandHigh / binHz)))};
}

// The fundamental's frequency from its peak bin, refined between bins.
double PeakHz(const std::vector<double>& power, int peak, const SpectrumLayout& layout)
{
    double offset = 0;
    if (peak > 0 && peak + 1 < layout.binCount)
        offset = PeakOffset(power[peak - 1], power[peak], power[peak + 1]);
    return (peak + offset) * layout.binHz;
}

// The lobes of H2 ... H10 below 20 kHz, each around the strongest bin within
// two of where it should be, claimed after the fundamental's.
std::vector<HarmonicLobe> ClaimHarmonics(const std::vector<double>& power, BinOwners& owners, double f0,
                                         const SpectrumLayout& layout, double sampleRate)
{
    std::vector<HarmonicLobe> harmonics;
    for (int order = 2; order <= HighestHarmonic; ++order) {
        const double hz = order * f0;
        if (hz >= DistortionBandHigh || hz >= sampleRate / 2)
            break;
        const int centre = static_cast<int>(std::lround(hz / layout.binHz));
        const int peak = StrongestBin(power, std::max(0, centre - 2), std::min(layout.binCount - 1, centre + 2));
        HarmonicLobe h{order, hz, LobeAround(peak, layout.binCount)};
        h.power = ClaimLobe(power, owners, h.lobe, order);
        harmonics.push_back(h);
    }
    return harmonics;
}

// A harmonic whose lobe holds less than twice what the noise floor puts
// there is taken as noise.
HarmonicReading ReadHarmonic(const HarmonicLobe& h, double fundamental, double floor)
{
    const double expectedNoise = floor * (h.lobe.last - h.lobe.first + 1);
    HarmonicReading r;
    r.order = h.order;
    r.hz = h.hz;
    r.belowNoise = h.power < 2.0 * expectedNoise;
    r.dbRelative = PowerRatioDb(h.power / fundamental);
    r.dbfs = PowerDbfs(h.power);
    return r;
}

// THD, THD+N, SINAD and SNR from the band's bins: those of harmonics above
// the noise are distortion, all others but the fundamental's are noise.
void ReadRatios(const std::vector<double>& power, const BinOwners& owners, const SpectrumLayout& layout,
                double fundamental, const std::vector<HarmonicLobe>& lobes, DistortionReading& reading)
{
    std::vector<bool> distortionOrder(HighestHarmonic + 1, false);
    double harmonicSum = 0;
    for (std::size_t i = 0; i < lobes.size(); ++i) {
        if (reading.harmonics[i].belowNoise)
            continue;
        distortionOrder[lobes[i].order] = true;
        harmonicSum += lobes[i].power;
    }
    double noise = 0, distortion = 0;
    for (int b = layout.bandFirst; b <= layout.bandLast; ++b) {
        if (owners[b] == 1)
            continue;
        (owners[b] > 1 && distortionOrder[owners[b]] ? distortion : noise) += power[b];
    }
    reading.thdPercent = 100.0 * std::sqrt(harmonicSum / fundamental);
    reading.thdDb = PowerRatioDb(harmonicSum / fundamental);
    // The band's total is taken as everything else plus the fundamental's
    // whole lobe, so a lobe reaching past a band edge still counts in full.
    const double rest = noise + distortion;
    const double thdnPower = rest / (rest + fundamental);
    reading.thdnPercent = 100.0 * std::sqrt(thdnPower);
    reading.thdnDb = PowerRatioDb(thdnPower);
    reading.sinadDb = -reading.thdnDb;
    reading.snrDb = -PowerRatioDb(noise / fundamental);
}

} // namespace

// ---- Reading a power spectrum ------------------------------------------------------

DistortionReading ReadPowerSpectrum(const std::vector<double>& power, int size, double sampleRate)
{
    DistortionReading reading;
    if (size < 2 * (MainLobeHalfWidth + 2) || static_cast<int>(power.size()) != size / 2 + 1 || sampleRate <= 0)
        return reading;
    const SpectrumLayout layout = LayoutOf(size, sampleRate);
    const int peak = StrongestBin(power, layout.bandFirst, layout.binCount - 1);
    if (!(power[peak] > 0))
        return reading;
    const double f0 = PeakHz(power, peak, layout);

    // The fundamental's and the harmonics' lobes are set aside before the
    // noise floor is taken.
    BinOwners owners(layout.binCount, NoOwner);
    const double fundamental = ClaimLobe(power, owners, LobeAround(peak, layout.binCount), 1);
    const std::vector<HarmonicLobe> harmonics = ClaimHarmonics(power, owners, f0, layout, sampleRate);
    const double floor = NoiseFloor(power, owners, layout.bandFirst, layout.bandLast);
    reading.noiseFloorDbfs = PowerDbfs(floor);
    reading.toneFound = power[peak] > floor * std::pow(10.0, ToneFoundAboveFloorDb / 10.0);
    if (!reading.toneFound)
        return reading;

    reading.fundamentalHz = f0;
    reading.fundamentalDbfs = PowerDbfs(fundamental);
    reading.aboveBand = f0 > DistortionBandHigh;
    for (const HarmonicLobe& h : harmonics)
        reading.harmonics.push_back(ReadHarmonic(h, fundamental, floor));
    ReadRatios(power, owners, layout, fundamental, harmonics, reading);
    return reading;
}

// ---- The analyzer ---------------------------------------------------------------------

struct DistortionAnalyzer::Plan {
    double* input = nullptr;
    fftw_complex* output = nullptr;
    fftw_plan plan = nullptr;

    explicit Plan(int size)
    {
        std::lock_guard lock(FftwPlannerLock());
        input = fftw_alloc_real(static_cast<std::size_t>(size));
        output = fftw_alloc_complex(static_cast<std::size_t>(size / 2 + 1));
        plan = fftw_plan_dft_r2c_1d(size, input, output, FFTW_ESTIMATE);
    }
    ~Plan()
    {
        std::lock_guard lock(FftwPlannerLock());
        fftw_destroy_plan(plan);
        fftw_free(output);
        fftw_free(input);
    }
    Plan(const Plan&) = delete;
    Plan& operator=(const Plan&) = delete;
};

DistortionAnalyzer::DistortionAnalyzer(int size, double sampleRate) : size_(size), rate_(sampleRate)
{
    if (size < 64 || size % 2 != 0)
        throw std::invalid_argument("distortion transform size must be even and at least 64");
    window_.resize(static_cast<std::size_t>(size));
    for (int n = 0; n < size; ++n) {
        double w = 0;
        for (std::size_t k = 0; k < WindowTerms.size(); ++k) {
            const double sign = (k % 2 == 0) ? 1.0 : -1.0;
            w += sign * WindowTerms[k] * std::cos(2.0 * std::numbers::pi * static_cast<double>(k * n) / size);
        }
        window_[n] = w;
        windowPower_ += w * w;
    }
    plan_ = std::make_unique<Plan>(size);
}

DistortionAnalyzer::~DistortionAnalyzer() = default;

namespace {

// |X|^2 of the windowed samples, scaled so that a sine's lobe sums to its
// mean square over FullScale squared. A one-sided spectrum takes both
// halves' power, except at DC and Nyquist, which have no mirror.
std::vector<double> ScaledPower(const fftw_complex* output, int size, double windowPower)
{
    const int binCount = size / 2 + 1;
    const double scale = 2.0 / (static_cast<double>(size) * windowPower * FullScale * FullScale);
    std::vector<double> power(static_cast<std::size_t>(binCount));
    for (int b = 0; b < binCount; ++b) {
        const double re = output[b][0], im = output[b][1];
        const double mirror = (b == 0 || b == binCount - 1) ? 0.5 : 1.0;
        power[b] = (re * re + im * im) * scale * mirror;
    }
    return power;
}

} // namespace

std::vector<double> DistortionAnalyzer::PowerSpectrum(const int16_t* samples, std::ptrdiff_t stride)
{
    for (int n = 0; n < size_; ++n)
        plan_->input[n] = samples[n * stride] * window_[n];
    fftw_execute(plan_->plan);
    return ScaledPower(plan_->output, size_, windowPower_);
}

std::vector<double> DistortionAnalyzer::PowerSpectrum(const double* samples)
{
    for (int n = 0; n < size_; ++n)
        plan_->input[n] = samples[n] * window_[n];
    fftw_execute(plan_->plan);
    return ScaledPower(plan_->output, size_, windowPower_);
}

DistortionReading DistortionAnalyzer::Analyze(const int16_t* samples, std::ptrdiff_t stride)
{
    DistortionReading reading = ReadPowerSpectrum(PowerSpectrum(samples, stride), size_, rate_);
    reading.clipped = HasClippedRun(samples, static_cast<std::size_t>(size_), stride);
    return reading;
}

// ---- Clipping ------------------------------------------------------------------------

bool HasClippedRun(const int16_t* samples, std::size_t count, std::ptrdiff_t stride)
{
    constexpr int RunLength = 3;
    int run = 0;
    int16_t last = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const int16_t v = samples[static_cast<std::ptrdiff_t>(i) * stride];
        const bool full = v == 32767 || v == -32768;
        run = full ? (run > 0 && v == last ? run + 1 : 1) : 0;
        last = v;
        if (run >= RunLength)
            return true;
    }
    return false;
}

// ---- Averaging -----------------------------------------------------------------------

void DistortionAverage::SetCount(int count)
{
    count_ = std::clamp(count, 1, 16);
    if (static_cast<int>(held_.size()) <= count_)
        return;
    held_.erase(held_.begin(), held_.end() - count_);
    sum_.assign(held_.back().size(), 0.0);
    for (const auto& p : held_)
        for (std::size_t i = 0; i < p.size(); ++i)
            sum_[i] += p[i] / static_cast<double>(held_.size());
}

void DistortionAverage::Restart()
{
    held_.clear();
    sum_.clear();
    lastHz_ = 0;
    lastFound_ = false;
}

const std::vector<double>& DistortionAverage::Add(std::vector<double> power, const DistortionReading& reading)
{
    const bool sizeChanged = !held_.empty() && held_.back().size() != power.size();
    const bool toneChanged = !held_.empty() && reading.toneFound != lastFound_;
    const bool moved = !held_.empty() && reading.toneFound && lastFound_ &&
                       std::abs(reading.fundamentalHz - lastHz_) > 0.01 * lastHz_;
    if (sizeChanged || toneChanged || moved || reading.aboveBand)
        Restart();
    lastFound_ = reading.toneFound;
    lastHz_ = reading.fundamentalHz;
    held_.push_back(std::move(power));
    const int limit = std::clamp(count_, 1, 16);
    if (static_cast<int>(held_.size()) > limit)
        held_.erase(held_.begin(), held_.end() - limit);
    // Summed afresh from what is held: a running sum that subtracts would
    // leave rounding residue in the quietest bins.
    sum_.assign(held_.back().size(), 0.0);
    const double share = 1.0 / static_cast<double>(held_.size());
    for (const auto& p : held_)
        for (std::size_t i = 0; i < p.size(); ++i)
            sum_[i] += p[i] * share;
    return sum_;
}

// ---- The residual ---------------------------------------------------------------------

namespace {

// Solves the 4 x 4 system in place (Gaussian elimination, partial pivoting).
// False when it is singular.
bool Solve4(std::array<std::array<double, 5>, 4>& m)
{
    for (int col = 0; col < 4; ++col) {
        int pivot = col;
        for (int r = col + 1; r < 4; ++r)
            if (std::abs(m[r][col]) > std::abs(m[pivot][col]))
                pivot = r;
        if (std::abs(m[pivot][col]) < 1e-300)
            return false;
        std::swap(m[col], m[pivot]);
        for (int r = 0; r < 4; ++r) {
            if (r == col)
                continue;
            const double f = m[r][col] / m[col][col];
            for (int c = col; c < 5; ++c)
                m[r][c] -= f * m[col][c];
        }
    }
    for (int r = 0; r < 4; ++r)
        m[r][4] /= m[r][r];
    return true;
}

// The model a cos(wt) + b sin(wt) + c, with t counted from the middle of the
// record so that a frequency step hardly moves the phase there.
struct SineModel {
    double a = 0, b = 0, c = 0, w = 0;
};

double SquaredError(const std::vector<double>& y, const SineModel& m, double middle)
{
    double sum = 0;
    for (std::size_t n = 0; n < y.size(); ++n) {
        const double t = static_cast<double>(n) - middle;
        const double e = y[n] - (m.a * std::cos(m.w * t) + m.b * std::sin(m.w * t) + m.c);
        sum += e * e;
    }
    return sum;
}

// One Gauss-Newton step of all four parameters (with the frequency held,
// the first three are solved exactly when `withFrequency` is false).
bool FitStep(const std::vector<double>& y, SineModel& m, double middle, bool withFrequency)
{
    std::array<std::array<double, 5>, 4> normal{};
    for (std::size_t n = 0; n < y.size(); ++n) {
        const double t = static_cast<double>(n) - middle;
        const double c = std::cos(m.w * t), s = std::sin(m.w * t);
        const double model = m.a * c + m.b * s + m.c;
        const std::array<double, 4> j = {c, s, 1.0, withFrequency ? t * (m.b * c - m.a * s) : 0.0};
        // Held frequency: solve for a, b, c themselves (residual of y, not
        // of the model).
        const double target = withFrequency ? y[n] - model : y[n];
        for (int r = 0; r < 4; ++r) {
            for (int col = 0; col < 4; ++col)
                normal[r][col] += j[r] * j[col];
            normal[r][4] += j[r] * target;
        }
    }
    if (!withFrequency)
        normal[3][3] = 1.0;
    if (!Solve4(normal))
        return false;
    if (withFrequency) {
        m.a += normal[0][4];
        m.b += normal[1][4];
        m.c += normal[2][4];
        m.w += normal[3][4];
    } else {
        m.a = normal[0][4];
        m.b = normal[1][4];
        m.c = normal[2][4];
    }
    return true;
}

} // namespace

std::vector<double> ResidualWaveform(const int16_t* samples, std::size_t count, double fundamentalHz, double sampleRate,
                                     std::ptrdiff_t stride)
{
    std::vector<double> y(count);
    for (std::size_t n = 0; n < count; ++n)
        y[n] = samples[static_cast<std::ptrdiff_t>(n) * stride];
    if (count < 8 || fundamentalHz <= 0 || sampleRate <= 0)
        return y;
    const double middle = 0.5 * static_cast<double>(count - 1);
    SineModel model;
    model.w = 2.0 * std::numbers::pi * fundamentalHz / sampleRate;
    FitStep(y, model, middle, false);
    double error = SquaredError(y, model, middle);
    constexpr int Iterations = 6;
    for (int i = 0; i < Iterations; ++i) {
        SineModel next = model;
        if (!FitStep(y, next, middle, true))
            break;
        const double nextError = SquaredError(y, next, middle);
        if (!(nextError < error))
            break; // converged, or a step that would lead away
        model = next;
        error = nextError;
    }
    for (std::size_t n = 0; n < count; ++n) {
        const double t = static_cast<double>(n) - middle;
        y[n] -= model.a * std::cos(model.w * t) + model.b * std::sin(model.w * t) + model.c;
    }
    return y;
}

// ---- The display spectrum ------------------------------------------------------------

std::vector<double> SpectrumDbfs(const std::vector<double>& power, int /*size*/)
{
    // A tone centred on a bin puts this share of its lobe's power in that
    // bin: the window's transform at whole bins is N a0, N a1 / 2, ...
    double lobeOverPeak = 1.0;
    for (std::size_t k = 1; k < WindowTerms.size(); ++k)
        lobeOverPeak += WindowTerms[k] * WindowTerms[k] / (2.0 * WindowTerms[0] * WindowTerms[0]);
    constexpr double Floor = -200.0;
    const double floorPower = std::pow(10.0, Floor / 10.0);
    std::vector<double> dbfs(power.size());
    for (std::size_t b = 0; b < power.size(); ++b)
        dbfs[b] = 10.0 * std::log10(std::max(floorPower, 2.0 * power[b] * lobeOverPeak));
    return dbfs;
}

} // namespace measure
