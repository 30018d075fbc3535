// Cost of generating one 100 ms output buffer (4410 stereo frames): two
// extended-precision sines on the unreduced argument, two draws of the
// noise generator per frame, or two samples of pink noise (a draw and its
// pinking filter) per frame. The fill runs on the 20 ms capture tick and
// must finish well inside that period.
#include "playback/WaveOut.h"
#include "state/global.h"

#include <benchmark/benchmark.h>

namespace {

void BM_FillBufferSine(benchmark::State& state)
{
    GenSine = true;
    GenNoise = false;
    FreqLeft = 1000;
    FreqRight = 3000;
    // Late in a long run the arguments are large; the cost must not grow with them.
    GenSampleCounter = static_cast<uint32_t>(state.range(0));
    for (auto _ : state) {
        FillBuffer(0);
        benchmark::DoNotOptimize(GenBuffer[0]);
    }
}
BENCHMARK(BM_FillBufferSine)->Arg(0)->Arg(2000000000)->Unit(benchmark::kMicrosecond);

// The extended evaluation the fill is held against, for comparison.
void BM_ExtendedSineBuffer(benchmark::State& state)
{
    uint32_t n = 0;
    for (auto _ : state) {
        for (int i = 0; i < 4410; ++i, ++n) {
            GenBuffer[2 * i] = SineSample(2 * n, 1000);
            GenBuffer[2 * i + 1] = SineSample(2 * n, 3000);
        }
        benchmark::DoNotOptimize(GenBuffer[0]);
    }
}
BENCHMARK(BM_ExtendedSineBuffer)->Unit(benchmark::kMicrosecond);

void BM_FillBufferNoise(benchmark::State& state)
{
    GenSine = false;
    GenNoise = true;
    for (auto _ : state) {
        FillBuffer(0);
        benchmark::DoNotOptimize(GenBuffer[0]);
    }
}
BENCHMARK(BM_FillBufferNoise)->Unit(benchmark::kMicrosecond);

void BM_FillBufferPinkNoise(benchmark::State& state)
{
    GenSine = false;
    GenNoise = false;
    GenPink = true;
    for (auto _ : state) {
        FillBuffer(0);
        benchmark::DoNotOptimize(GenBuffer[0]);
    }
    GenPink = false;
}
BENCHMARK(BM_FillBufferPinkNoise)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
