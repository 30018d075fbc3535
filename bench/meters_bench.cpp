// Cost of the level and loudness meters per captured block (4410 stereo
// frames, 100 ms): the channel level meters of both channels with each
// frequency weighting, the loudness meter (with its true peak), and all the
// Levels window runs on a block, both channel meters and the loudness meter
// together, readings included.
#include "measure/levelmeter.h"
#include "measure/loudness.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

namespace {

constexpr int BlockFrames = 4410;

// A block of stereo noise at about -10 dBFS.
std::vector<int16_t> NoiseBlock()
{
    std::mt19937 generator(7);
    std::normal_distribution<double> level(0.0, 7000.0);
    std::vector<int16_t> samples(2 * BlockFrames);
    for (auto& s : samples)
        s = static_cast<int16_t>(std::clamp(level(generator), -32768.0, 32767.0));
    return samples;
}

void BM_ChannelLevelMetersBlock(benchmark::State& state)
{
    const auto weighting = static_cast<measure::Weighting>(state.range(0));
    measure::ChannelLevelMeter left(weighting), right(weighting);
    const auto samples = NoiseBlock();
    for (auto _ : state) {
        left.Process(samples.data(), BlockFrames, 2);
        right.Process(samples.data() + 1, BlockFrames, 2);
        benchmark::DoNotOptimize(left.Levels().fastDb);
        benchmark::DoNotOptimize(right.Levels().fastDb);
    }
    state.SetLabel(measure::WeightingName(weighting));
    state.SetItemsProcessed(state.iterations() * BlockFrames);
}
BENCHMARK(BM_ChannelLevelMetersBlock)->ArgName("weighting")->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);

void BM_LoudnessBlock(benchmark::State& state)
{
    measure::LoudnessMeter meter;
    const auto samples = NoiseBlock();
    for (auto _ : state) {
        meter.Process(samples.data(), BlockFrames);
        benchmark::DoNotOptimize(meter.Levels().integratedLufs);
    }
    state.SetItemsProcessed(state.iterations() * BlockFrames);
}
BENCHMARK(BM_LoudnessBlock)->Unit(benchmark::kMicrosecond);

void BM_AllMetersBlock(benchmark::State& state)
{
    const auto weighting = static_cast<measure::Weighting>(state.range(0));
    measure::ChannelLevelMeter left(weighting), right(weighting);
    measure::LoudnessMeter loudness;
    const auto samples = NoiseBlock();
    for (auto _ : state) {
        left.Process(samples.data(), BlockFrames, 2);
        right.Process(samples.data() + 1, BlockFrames, 2);
        loudness.Process(samples.data(), BlockFrames);
        benchmark::DoNotOptimize(left.Levels().fastDb);
        benchmark::DoNotOptimize(right.Levels().fastDb);
        benchmark::DoNotOptimize(loudness.Levels().integratedLufs);
    }
    state.SetLabel(measure::WeightingName(weighting));
    state.SetItemsProcessed(state.iterations() * BlockFrames);
}
BENCHMARK(BM_AllMetersBlock)->ArgName("weighting")->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
