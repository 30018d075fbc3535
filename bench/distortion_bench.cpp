// Cost of the distortion analyzer: one Analyze (window, transform, reading,
// clipping check) at each transform size, and the residual waveform's sine
// fit over the default size.
#include "measure/distortion.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <vector>

namespace {

// 997 Hz at -6 dBFS with H2 at -40 dB and a little noise.
std::vector<int16_t> TestSignal(int count)
{
    std::mt19937 generator(3);
    std::normal_distribution<double> noise(0.0, 3.0);
    std::vector<int16_t> samples(static_cast<std::size_t>(count));
    for (int n = 0; n < count; ++n) {
        const double phase = 2 * std::numbers::pi * 997.0 * n / 44100.0;
        const double x = 16422.0 * (std::sin(phase) + 0.01 * std::sin(2 * phase)) + noise(generator);
        samples[n] = static_cast<int16_t>(std::clamp(std::lround(x), -32768L, 32767L));
    }
    return samples;
}

void BM_DistortionAnalyze(benchmark::State& state)
{
    const int size = static_cast<int>(state.range(0));
    measure::DistortionAnalyzer analyzer(size);
    const auto samples = TestSignal(size);
    for (auto _ : state) {
        const measure::DistortionReading reading = analyzer.Analyze(samples.data());
        benchmark::DoNotOptimize(reading.thdnDb);
    }
    state.SetItemsProcessed(state.iterations() * size);
}
BENCHMARK(BM_DistortionAnalyze)->ArgName("size")->Arg(16384)->Arg(65536)->Arg(131072)->Unit(benchmark::kMillisecond);

void BM_ResidualWaveform(benchmark::State& state)
{
    const int size = static_cast<int>(state.range(0));
    const auto samples = TestSignal(size);
    for (auto _ : state) {
        const auto residual = measure::ResidualWaveform(samples.data(), samples.size(), 997.003, 44100.0);
        benchmark::DoNotOptimize(residual.data());
    }
    state.SetItemsProcessed(state.iterations() * size);
}
BENCHMARK(BM_ResidualWaveform)->ArgName("size")->Arg(16384)->Arg(65536)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
