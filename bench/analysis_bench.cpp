// Cost of analysing one block (2 channels x 10 slices of 4096 points): the
// fast path the program uses, the plain computation it must match bit for
// bit, and twenty single-precision real FFTs of FFTW as a yardstick. The
// block must take well under its 100 ms; the goal is at most 1 ms.
#include "analysis/spectrum.h"
#include "state/global.h"

#include <benchmark/benchmark.h>

#include <mutex>
#include <random>

#if defined(SONALYX_HAVE_FFTW)
#include <fftw3.h>
#endif

namespace {

constexpr int SlicesInBlock = 2 * SliceCount;

int16_t RandomLevel(std::mt19937& generator)
{
    return static_cast<int16_t>(std::uniform_int_distribution<int>(-32768, 32767)(generator));
}

void FillHistoryWithNoise()
{
    std::mt19937 generator(7);
    for (int ch = 1; ch <= 2; ++ch)
        for (int k = -HistoryHalf; k < HistoryHalf; ++k)
            Sample(ch, k) = RandomLevel(generator);
}

void BM_AnalyseBlock(benchmark::State& state)
{
    std::lock_guard<std::mutex> hold(DataLock);
    FillHistoryWithNoise();
    WindowFunction = static_cast<int32_t>(state.range(0));
    for (auto _ : state) {
        AnalyseBlock();
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * SlicesInBlock);
}
BENCHMARK(BM_AnalyseBlock)->ArgName("window")->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);

void BM_AnalyseBlockReference(benchmark::State& state)
{
    std::lock_guard<std::mutex> hold(DataLock);
    FillHistoryWithNoise();
    const int window = static_cast<int>(state.range(0));
    for (auto _ : state) {
        for (int slice = 1 - SliceCount; slice <= 0; ++slice)
            for (int ch = 1; ch <= 2; ++ch)
                SliceMagnitudesReference(&Sample(ch, SliceStep * slice), window, &Spectrum(ch, slice, 0));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * SlicesInBlock);
}
BENCHMARK(BM_AnalyseBlockReference)->ArgName("window")->Arg(1)->Unit(benchmark::kMicrosecond);

#if defined(SONALYX_HAVE_FFTW)
void BM_Fftw20(benchmark::State& state)
{
    float* in = fftwf_alloc_real(size_t(FftSize) * SlicesInBlock);
    fftwf_complex* out = fftwf_alloc_complex(FftSize / 2 + 1);
    // Measuring overwrites the input, so the samples go in afterwards.
    fftwf_plan plan = fftwf_plan_dft_r2c_1d(FftSize, in, out, FFTW_MEASURE);
    std::mt19937 generator(7);
    for (int n = 0; n < FftSize * SlicesInBlock; ++n)
        in[n] = RandomLevel(generator);
    for (auto _ : state) {
        for (int s = 0; s < SlicesInBlock; ++s)
            fftwf_execute_dft_r2c(plan, in + s * FftSize, out);
        benchmark::DoNotOptimize(out);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * SlicesInBlock);
    fftwf_destroy_plan(plan);
    fftwf_free(out);
    fftwf_free(in);
}
BENCHMARK(BM_Fftw20)->Unit(benchmark::kMicrosecond);
#endif

} // namespace

BENCHMARK_MAIN();
