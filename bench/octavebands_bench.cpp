// Cost of the fractional-octave filter bank per captured block (4410 frames,
// both channels: one bank per channel), for 1/3 and 1/24 octave. The block
// lasts 100 ms; the bank is meant to cost a small part of that.
#include "measure/octavebands.h"

#include <benchmark/benchmark.h>

#include <random>
#include <vector>

namespace {

constexpr int BlockFrames = 4410;

void BM_OctaveFilterBankBlock(benchmark::State& state)
{
    const int fraction = static_cast<int>(state.range(0));
    measure::OctaveFilterBank left(fraction), right(fraction);
    std::mt19937 generator(3);
    std::uniform_real_distribution<float> level(-32767.0f, 32767.0f);
    std::vector<float> samples(2 * BlockFrames);
    for (auto& s : samples)
        s = level(generator);
    for (auto _ : state) {
        left.Process(samples.data(), BlockFrames);
        right.Process(samples.data() + BlockFrames, BlockFrames);
        benchmark::DoNotOptimize(left.TakePowers());
        benchmark::DoNotOptimize(right.TakePowers());
    }
    state.SetItemsProcessed(state.iterations() * BlockFrames);
}
BENCHMARK(BM_OctaveFilterBankBlock)->ArgName("fraction")->Arg(3)->Arg(24)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
