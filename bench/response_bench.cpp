// Cost of the response measurement's processing: one deconvolution of a 4 s
// sweep with 1 s of silence at 44100 Hz (two forward transforms and one
// inverse), the peak's location, and the linear response on the 1/48-octave
// grid with the harmonics' distortion levels.
#include "measure/deconvolution.h"
#include "measure/response.h"
#include "measure/sweep.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

namespace {

measure::ExponentialSweep DefaultSweep()
{
    return measure::ExponentialSweep(measure::SweepParameters{});
}

// The sweep a few samples late and a little quieter, as a recording would be.
std::vector<double> Recording(const std::vector<double>& played)
{
    std::vector<double> recorded(played.size(), 0.0);
    for (std::size_t n = 37; n < played.size(); ++n)
        recorded[n] = 0.5 * played[n - 37];
    return recorded;
}

void BM_Deconvolve(benchmark::State& state)
{
    const auto sweep = DefaultSweep();
    const auto played = sweep.Samples();
    const auto recorded = Recording(played);
    for (auto _ : state) {
        const auto response = measure::Deconvolve(played, recorded, 44100, 20, 20000);
        benchmark::DoNotOptimize(measure::FindPeak(response).delaySamples);
    }
}
BENCHMARK(BM_Deconvolve)->Unit(benchmark::kMillisecond);

void BM_ResponseAndDistortion(benchmark::State& state)
{
    const auto sweep = DefaultSweep();
    const auto response = measure::Deconvolve(sweep.Samples(), Recording(sweep.Samples()), 44100, 20, 20000);
    const double delay = measure::FindPeak(response).delaySamples;
    const auto grid = measure::LogFrequencyGrid();
    for (auto _ : state) {
        const auto linear = measure::CutImpulse(response, delay, measure::LinearWindowFor(sweep, response));
        benchmark::DoNotOptimize(measure::FrequencyResponse(linear, grid, delay).data());
        benchmark::DoNotOptimize(measure::HarmonicDistortion(response, sweep, delay, grid).data());
    }
}
BENCHMARK(BM_ResponseAndDistortion)->Unit(benchmark::kMillisecond);

// The whole measurement as the window and the command make it once the
// recording is in: a 16-bit stereo recording, both deconvolutions (the
// recording's and the sweep's own mark), the curves.
void BM_WholeMeasurement(benchmark::State& state)
{
    const auto sweep = DefaultSweep();
    const auto recorded = Recording(sweep.Samples());
    std::vector<int16_t> stereo(2 * (recorded.size() + 22050), 0);
    for (std::size_t n = 0; n < recorded.size(); ++n)
        stereo[2 * n] = stereo[2 * n + 1] = static_cast<int16_t>(recorded[n]);
    for (auto _ : state) {
        const auto outcome = measure::AnalyseResponse(sweep, stereo, measure::ResponseReference::Generated, 0);
        benchmark::DoNotOptimize(outcome.measurement->delaySamples);
    }
}
BENCHMARK(BM_WholeMeasurement)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
