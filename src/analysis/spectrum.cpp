#include "analysis/spectrum.h"

#include "analysis/SpTmBlocks.h"
#include "state/global.h"

#include <algorithm>
#include <cmath>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

// The fast path must give the very floats of the plain computation, so every
// a*b - c*d stays two rounded products and one rounded difference: no fused
// multiply-add, whatever the target flags would allow.
#if defined(__clang__)
#pragma STDC FP_CONTRACT OFF
#elif defined(__GNUC__)
#pragma GCC optimize("fp-contract=off")
#endif

namespace {

constexpr int StageCount = 12; // 2^12 = FftSize
constexpr int BinCount = TopBin + 1;
// The analysis works with pi rounded to four decimals, in the window formulas
// and in the twiddle factors alike.
constexpr double Pi = 3.1416;
constexpr double TwoPi = 6.2832;

constexpr int HannWindow = 1;
constexpr int HammingWindow = 2;

bool IsWeighted(int window)
{
    return window == HannWindow || window == HammingWindow;
}

// Weight of sample n (denominator N, not N - 1).
double WindowWeight(int window, int n)
{
    if (window == HannWindow) {
        const double s = std::sin(n * Pi / FftSize);
        return s * s;
    }
    return 0.54 - 0.46 * std::cos(n * TwoPi / FftSize);
}

// Rounds to the nearest integer, ties to even (the default rounding mode).
// |weight| <= 1, so the result always fits 16 bits.
int16_t Weighted(double weight, int16_t x)
{
    return static_cast<int16_t>(std::nearbyint(weight * x));
}

int BitReversed(int m)
{
    int r = 0;
    for (int bit = 0; bit < StageCount; ++bit) {
        r = (r << 1) | (m & 1);
        m >>= 1;
    }
    return r;
}

struct Complex {
    double re, im;
};

// Step of the running twiddle factor in the stage whose butterflies span `half` points.
Complex StageRotation(int half)
{
    return {std::cos(Pi / half), -std::sin(Pi / half)};
}

Complex Rotated(Complex u, Complex w)
{
    return {u.re * w.re - u.im * w.im, u.im * w.re + u.re * w.im};
}

// Butterfly on points i and p: products and sums in double, results stored as float.
void Butterfly(float* re, float* im, int i, int p, Complex u)
{
    const double tRe = double(re[p]) * u.re - double(im[p]) * u.im;
    const double tIm = double(im[p]) * u.re + double(re[p]) * u.im;
    re[p] = float(re[i] - tRe);
    im[p] = float(im[i] - tIm);
    re[i] = float(re[i] + tRe);
    im[i] = float(im[i] + tIm);
}

// Amplitude in sample units: |X|·2/N from the float parts, root in double.
float Magnitude(float re, float im)
{
    const float scaledRe = 2.0f * re / FftSize;
    const float scaledIm = 2.0f * im / FftSize;
    return float(std::sqrt(double(scaledRe) * scaledRe + double(scaledIm) * scaledIm));
}

} // namespace

void SliceMagnitudesReference(const int16_t* samples, int window, float* magnitudes)
{
    int16_t x[FftSize];
    std::copy_n(samples, FftSize, x);
    if (IsWeighted(window))
        for (int n = 0; n < FftSize; ++n)
            x[n] = Weighted(WindowWeight(window, n), x[n]);

    int16_t reordered[FftSize];
    for (int m = 0; m < FftSize; ++m)
        reordered[m] = x[BitReversed(m)];
    float re[FftSize];
    float im[FftSize];
    for (int m = 0; m < FftSize; ++m) {
        re[m] = reordered[m];
        im[m] = 0.0f;
    }

    for (int stage = 1; stage <= StageCount; ++stage) {
        const int span = 1 << stage;
        const int half = span / 2;
        const Complex w = StageRotation(half);
        Complex u{1.0, 0.0};
        for (int j = 0; j < half; ++j) {
            for (int i = j; i < FftSize; i += span)
                Butterfly(re, im, i, i + half, u);
            u = Rotated(u, w);
        }
    }

    for (int k = 0; k < BinCount; ++k)
        magnitudes[k] = Magnitude(re[k], im[k]);
}

// ---- fast path ------------------------------------------------------------
//
// Same operations on the same values as above, in another order: weights and
// twiddle factors come from tables filled once by the very expressions the
// plain path evaluates; the butterflies of one stage, being independent, run
// group by group and several at a time in vector registers.

namespace {

// Ordered by width: None < Sse2 (2 doubles) < Avx (4) < Avx512 (8).
enum class VectorUnit { None, Sse2, Avx, Avx512 };

VectorUnit DetectVectorUnit()
{
#if defined(__SSE2__) && defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f"))
        return VectorUnit::Avx512;
    if (__builtin_cpu_supports("avx"))
        return VectorUnit::Avx;
    return VectorUnit::Sse2;
#elif defined(__SSE2__)
    return VectorUnit::Sse2;
#else
    return VectorUnit::None;
#endif
}

struct FastTables {
    FastTables();

    alignas(64) double hann[FftSize];
    alignas(64) double hamming[FftSize];
    // r(2m) for m = 0..N/2-1; r(2m + 1) = r(2m) + N/2.
    uint16_t evenReversed[FftSize / 2];
    // The values the running twiddle factor takes in the stage of span
    // 2·half, for j = 0..half-1, at index half + j (index 0 unused).
    alignas(64) double twiddleRe[FftSize];
    alignas(64) double twiddleIm[FftSize];
    VectorUnit unit;
};

FastTables::FastTables() : unit(DetectVectorUnit())
{
    for (int n = 0; n < FftSize; ++n) {
        hann[n] = WindowWeight(HannWindow, n);
        hamming[n] = WindowWeight(HammingWindow, n);
    }
    for (int m = 0; m < FftSize / 2; ++m)
        evenReversed[m] = static_cast<uint16_t>(BitReversed(2 * m));
    twiddleRe[0] = twiddleIm[0] = 0.0;
    for (int half = 1; half < FftSize; half *= 2) {
        const Complex w = StageRotation(half);
        Complex u{1.0, 0.0};
        for (int j = 0; j < half; ++j) {
            twiddleRe[half + j] = u.re;
            twiddleIm[half + j] = u.im;
            u = Rotated(u, w);
        }
    }
}

const FastTables& Tables()
{
    static const FastTables tables;
    return tables;
}

VectorUnit WidestUpTo(VectorUnit available, int maxLanes)
{
    const VectorUnit cap = maxLanes >= 8   ? VectorUnit::Avx512
                           : maxLanes >= 4 ? VectorUnit::Avx
                           : maxLanes >= 2 ? VectorUnit::Sse2
                                           : VectorUnit::None;
    return std::min(available, cap);
}

// weighted[n] = nearest integer to weight[n]·x[n], as the plain path rounds it.
void WeightSamples(const int16_t* x, const double* weight, int32_t* weighted, [[maybe_unused]] VectorUnit unit)
{
    int n = 0;
#if defined(__SSE2__)
    // cvtpd2dq rounds in the current mode, nearest-even by default: nearbyint.
    for (; unit >= VectorUnit::Sse2 && n < FftSize; n += 4) {
        const __m128i four = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(x + n));
        const __m128i wide = _mm_srai_epi32(_mm_unpacklo_epi16(four, four), 16);
        const __m128d low = _mm_mul_pd(_mm_cvtepi32_pd(wide), _mm_load_pd(weight + n));
        const __m128d high = _mm_mul_pd(_mm_cvtepi32_pd(_mm_unpackhi_epi64(wide, wide)), _mm_load_pd(weight + n + 2));
        const __m128i rounded = _mm_unpacklo_epi64(_mm_cvtpd_epi32(low), _mm_cvtpd_epi32(high));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(weighted + n), rounded);
    }
#endif
    for (; n < FftSize; ++n)
        weighted[n] = Weighted(weight[n], x[n]);
}

// Bit-reversed copy with the first stage folded in. That stage pairs a =
// x[r(2m)] with b = x[r(2m+1)] under the twiddle (1, 0) with all imaginary
// parts zero; its results a + b, a - b and +0 are small integers, exact in
// float and double alike, so integer arithmetic gives the same floats.
template <typename Level>
void ReorderWithFirstStage(const Level* x, const uint16_t* evenReversed, float* re, float* im)
{
    for (int m = 0; m < FftSize / 2; ++m) {
        const int a = x[evenReversed[m]];
        const int b = x[evenReversed[m] + FftSize / 2];
        re[2 * m] = float(a + b);
        re[2 * m + 1] = float(a - b);
    }
    std::fill_n(im, FftSize, 0.0f);
}

using StageKernel = void (*)(float* re, float* im, int half, const double* twRe, const double* twIm);

void StagePlain(float* re, float* im, int half, const double* twRe, const double* twIm)
{
    for (int base = 0; base < FftSize; base += 2 * half)
        for (int j = 0; j < half; ++j)
            Butterfly(re, im, base + j, base + j + half, {twRe[j], twIm[j]});
}

#if defined(__SSE2__)

__m128d LoadTwo(const float* p)
{
    return _mm_cvtps_pd(_mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p))));
}

void StoreTwo(float* p, __m128d v)
{
    _mm_storel_epi64(reinterpret_cast<__m128i*>(p), _mm_castps_si128(_mm_cvtpd_ps(v)));
}

// Two butterflies at a time; half >= 2.
void StageSse2(float* re, float* im, int half, const double* twRe, const double* twIm)
{
    for (int base = 0; base < FftSize; base += 2 * half) {
        float* reI = re + base;
        float* imI = im + base;
        float* reP = reI + half;
        float* imP = imI + half;
        for (int j = 0; j < half; j += 2) {
            const __m128d uRe = _mm_load_pd(twRe + j);
            const __m128d uIm = _mm_load_pd(twIm + j);
            const __m128d pRe = LoadTwo(reP + j);
            const __m128d pIm = LoadTwo(imP + j);
            const __m128d iRe = LoadTwo(reI + j);
            const __m128d iIm = LoadTwo(imI + j);
            const __m128d tRe = _mm_sub_pd(_mm_mul_pd(pRe, uRe), _mm_mul_pd(pIm, uIm));
            const __m128d tIm = _mm_add_pd(_mm_mul_pd(pIm, uRe), _mm_mul_pd(pRe, uIm));
            StoreTwo(reP + j, _mm_sub_pd(iRe, tRe));
            StoreTwo(imP + j, _mm_sub_pd(iIm, tIm));
            StoreTwo(reI + j, _mm_add_pd(iRe, tRe));
            StoreTwo(imI + j, _mm_add_pd(iIm, tIm));
        }
    }
}

// The stage of span 4 (half = 2): a group's four values fill one register,
// and the two twiddle factors are the same for every group.
void StageSpanFourSse2(float* re, float* im, [[maybe_unused]] int half, const double* twRe, const double* twIm)
{
    const __m128d uRe = _mm_load_pd(twRe);
    const __m128d uIm = _mm_load_pd(twIm);
    for (int base = 0; base < FftSize; base += 4) {
        const __m128 groupRe = _mm_load_ps(re + base);
        const __m128 groupIm = _mm_load_ps(im + base);
        const __m128d iRe = _mm_cvtps_pd(groupRe);
        const __m128d iIm = _mm_cvtps_pd(groupIm);
        const __m128d pRe = _mm_cvtps_pd(_mm_movehl_ps(groupRe, groupRe));
        const __m128d pIm = _mm_cvtps_pd(_mm_movehl_ps(groupIm, groupIm));
        const __m128d tRe = _mm_sub_pd(_mm_mul_pd(pRe, uRe), _mm_mul_pd(pIm, uIm));
        const __m128d tIm = _mm_add_pd(_mm_mul_pd(pIm, uRe), _mm_mul_pd(pRe, uIm));
        _mm_store_ps(re + base, _mm_movelh_ps(_mm_cvtpd_ps(_mm_add_pd(iRe, tRe)), _mm_cvtpd_ps(_mm_sub_pd(iRe, tRe))));
        _mm_store_ps(im + base, _mm_movelh_ps(_mm_cvtpd_ps(_mm_add_pd(iIm, tIm)), _mm_cvtpd_ps(_mm_sub_pd(iIm, tIm))));
    }
}

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define SONALYX_HAVE_WIDE_KERNELS 1

// Four butterflies at a time; half >= 4.
__attribute__((target("avx"))) void StageAvx(float* re, float* im, int half, const double* twRe, const double* twIm)
{
    for (int base = 0; base < FftSize; base += 2 * half) {
        float* reI = re + base;
        float* imI = im + base;
        float* reP = reI + half;
        float* imP = imI + half;
        for (int j = 0; j < half; j += 4) {
            const __m256d uRe = _mm256_load_pd(twRe + j);
            const __m256d uIm = _mm256_load_pd(twIm + j);
            const __m256d pRe = _mm256_cvtps_pd(_mm_load_ps(reP + j));
            const __m256d pIm = _mm256_cvtps_pd(_mm_load_ps(imP + j));
            const __m256d iRe = _mm256_cvtps_pd(_mm_load_ps(reI + j));
            const __m256d iIm = _mm256_cvtps_pd(_mm_load_ps(imI + j));
            const __m256d tRe = _mm256_sub_pd(_mm256_mul_pd(pRe, uRe), _mm256_mul_pd(pIm, uIm));
            const __m256d tIm = _mm256_add_pd(_mm256_mul_pd(pIm, uRe), _mm256_mul_pd(pRe, uIm));
            _mm_store_ps(reP + j, _mm256_cvtpd_ps(_mm256_sub_pd(iRe, tRe)));
            _mm_store_ps(imP + j, _mm256_cvtpd_ps(_mm256_sub_pd(iIm, tIm)));
            _mm_store_ps(reI + j, _mm256_cvtpd_ps(_mm256_add_pd(iRe, tRe)));
            _mm_store_ps(imI + j, _mm256_cvtpd_ps(_mm256_add_pd(iIm, tIm)));
        }
    }
}

// Conversions through the zero-masked forms: same results, but GCC's plain
// forms start from an "undefined" register and warn about it.
__attribute__((target("avx512f"))) __m512d LoadEight(const float* p)
{
    return _mm512_maskz_cvtps_pd(0xFF, _mm256_load_ps(p));
}

__attribute__((target("avx512f"))) void StoreEight(float* p, __m512d v)
{
    _mm256_store_ps(p, _mm512_maskz_cvtpd_ps(0xFF, v));
}

// Eight butterflies at a time; half >= 8.
__attribute__((target("avx512f"))) void StageAvx512(float* re, float* im, int half, const double* twRe,
                                                    const double* twIm)
{
    for (int base = 0; base < FftSize; base += 2 * half) {
        float* reI = re + base;
        float* imI = im + base;
        float* reP = reI + half;
        float* imP = imI + half;
        for (int j = 0; j < half; j += 8) {
            const __m512d uRe = _mm512_load_pd(twRe + j);
            const __m512d uIm = _mm512_load_pd(twIm + j);
            const __m512d pRe = LoadEight(reP + j);
            const __m512d pIm = LoadEight(imP + j);
            const __m512d iRe = LoadEight(reI + j);
            const __m512d iIm = LoadEight(imI + j);
            const __m512d tRe = _mm512_sub_pd(_mm512_mul_pd(pRe, uRe), _mm512_mul_pd(pIm, uIm));
            const __m512d tIm = _mm512_add_pd(_mm512_mul_pd(pIm, uRe), _mm512_mul_pd(pRe, uIm));
            StoreEight(reP + j, _mm512_sub_pd(iRe, tRe));
            StoreEight(imP + j, _mm512_sub_pd(iIm, tIm));
            StoreEight(reI + j, _mm512_add_pd(iRe, tRe));
            StoreEight(imI + j, _mm512_add_pd(iIm, tIm));
        }
    }
}
#endif
#endif // __SSE2__

// Widest kernel the processor runs for a stage of this span.
StageKernel KernelFor([[maybe_unused]] VectorUnit unit, [[maybe_unused]] int half)
{
#if defined(SONALYX_HAVE_WIDE_KERNELS)
    if (unit >= VectorUnit::Avx512 && half >= 8)
        return StageAvx512;
    if (unit >= VectorUnit::Avx && half >= 4)
        return StageAvx;
#endif
#if defined(__SSE2__)
    if (unit >= VectorUnit::Sse2 && half == 2)
        return StageSpanFourSse2;
    if (unit >= VectorUnit::Sse2 && half >= 2)
        return StageSse2;
#endif
    return StagePlain;
}

// Stages 2..12 (the first one is folded into the reordering).
void RunStages(float* re, float* im, const FastTables& tables, VectorUnit unit)
{
    for (int half = 2; half < FftSize; half *= 2)
        KernelFor(unit, half)(re, im, half, tables.twiddleRe + half, tables.twiddleIm + half);
}

#if defined(__SSE2__)
// Magnitudes of bins 0..3 mod 4 up to the last whole group of four; returns
// the first bin left to do.
int StoreMagnitudesSse2(const float* re, const float* im, float* magnitudes)
{
    const __m128 two = _mm_set1_ps(2.0f);
    const __m128 size = _mm_set1_ps(float(FftSize));
    int k = 0;
    for (; k + 4 <= BinCount; k += 4) {
        const __m128 scaledRe = _mm_div_ps(_mm_mul_ps(two, _mm_load_ps(re + k)), size);
        const __m128 scaledIm = _mm_div_ps(_mm_mul_ps(two, _mm_load_ps(im + k)), size);
        const __m128d lowRe = _mm_cvtps_pd(scaledRe);
        const __m128d lowIm = _mm_cvtps_pd(scaledIm);
        const __m128d highRe = _mm_cvtps_pd(_mm_movehl_ps(scaledRe, scaledRe));
        const __m128d highIm = _mm_cvtps_pd(_mm_movehl_ps(scaledIm, scaledIm));
        const __m128d low = _mm_sqrt_pd(_mm_add_pd(_mm_mul_pd(lowRe, lowRe), _mm_mul_pd(lowIm, lowIm)));
        const __m128d high = _mm_sqrt_pd(_mm_add_pd(_mm_mul_pd(highRe, highRe), _mm_mul_pd(highIm, highIm)));
        _mm_storeu_ps(magnitudes + k, _mm_movelh_ps(_mm_cvtpd_ps(low), _mm_cvtpd_ps(high)));
    }
    return k;
}
#endif

#if defined(SONALYX_HAVE_WIDE_KERNELS)
__attribute__((target("avx"))) int StoreMagnitudesAvx(const float* re, const float* im, float* magnitudes)
{
    const __m128 two = _mm_set1_ps(2.0f);
    const __m128 size = _mm_set1_ps(float(FftSize));
    int k = 0;
    for (; k + 4 <= BinCount; k += 4) {
        const __m256d scaledRe = _mm256_cvtps_pd(_mm_div_ps(_mm_mul_ps(two, _mm_load_ps(re + k)), size));
        const __m256d scaledIm = _mm256_cvtps_pd(_mm_div_ps(_mm_mul_ps(two, _mm_load_ps(im + k)), size));
        const __m256d squares = _mm256_add_pd(_mm256_mul_pd(scaledRe, scaledRe), _mm256_mul_pd(scaledIm, scaledIm));
        _mm_storeu_ps(magnitudes + k, _mm256_cvtpd_ps(_mm256_sqrt_pd(squares)));
    }
    return k;
}
#endif

void StoreMagnitudes(const float* re, const float* im, float* magnitudes, [[maybe_unused]] VectorUnit unit)
{
    int k = 0;
#if defined(SONALYX_HAVE_WIDE_KERNELS)
    if (unit >= VectorUnit::Avx)
        k = StoreMagnitudesAvx(re, im, magnitudes);
#endif
#if defined(__SSE2__)
    if (k == 0 && unit >= VectorUnit::Sse2) // not done by a wider unit
        k = StoreMagnitudesSse2(re, im, magnitudes);
#endif
    for (; k < BinCount; ++k)
        magnitudes[k] = Magnitude(re[k], im[k]);
}

} // namespace

void SliceMagnitudes(const int16_t* samples, int window, float* magnitudes, int maxLanes)
{
    const FastTables& tables = Tables();
    const VectorUnit unit = WidestUpTo(tables.unit, maxLanes);
    alignas(64) float re[FftSize];
    alignas(64) float im[FftSize];
    if (IsWeighted(window)) {
        alignas(64) int32_t weighted[FftSize];
        WeightSamples(samples, window == HannWindow ? tables.hann : tables.hamming, weighted, unit);
        ReorderWithFirstStage(weighted, tables.evenReversed, re, im);
    } else {
        ReorderWithFirstStage(samples, tables.evenReversed, re, im);
    }
    RunStages(re, im, tables, unit);
    StoreMagnitudes(re, im, magnitudes, unit);
}

// ---- shared state ---------------------------------------------------------

void AnalyseSlice(int channel, int slice)
{
    if (channel < 1 || channel > 2 || slice < 1 - SliceCount || slice > 0)
        return;
    // The UI thread may change the window at any time; one slice uses one window.
    const int window = WindowFunction.load(std::memory_order_relaxed);
    SliceMagnitudes(&Sample(channel, SliceStep * slice), window, &Spectrum(channel, slice, 0));
}

void AnalyseSlices()
{
    // Spectra holds SliceCount rows per channel; never analyse more.
    const int slices = std::clamp<int>(SlicesPerBlock.load(), 0, SliceCount);
    for (int slice = 1 - slices; slice <= 0; ++slice) {
        AnalyseSlice(1, slice);
        AnalyseSlice(2, slice);
    }
}

void AnalyseBlock()
{
    AnalyseSlices();
    ++SpTmColumn;
    SpTmKeepBlock();
    NewData = true;
}
