// Cost of the spectrum's instruments per block: both channels' ten slices
// fed to the average (and the peak hold), for each kind of average, and the
// window's read of both channels' shown rows with a weighting. The block's
// analysis (analysis_bench) is the yardstick: feeding should cost a small
// part of it.
#include "analysis/spectinstruments.h"
#include "analysis/spectrum.h"
#include "state/global.h"

#include <benchmark/benchmark.h>

#include <mutex>
#include <random>
#include <string>

namespace {

// A block of noise analysed once: realistic magnitudes in every slice.
void AnalyseNoiseBlock()
{
    std::mt19937 generator(11);
    std::uniform_int_distribution<int> level(-20000, 20000);
    for (int ch = 1; ch <= 2; ++ch)
        for (int k = -HistoryHalf; k < HistoryHalf; ++k)
            Sample(ch, k) = static_cast<int16_t>(level(generator));
    WindowFunction = 1;
    SlicesPerBlock = 10;
    AnalyseBlock();
}

void BM_FeedBlock(benchmark::State& state)
{
    std::lock_guard<std::mutex> hold(DataLock);
    AnalyseNoiseBlock();
    const auto averaging = static_cast<measure::Averaging>(state.range(0));
    ChooseSpectInstruments(averaging, state.range(1) != 0, 10.0);
    SpectInstrumentsFed = true;
    for (auto _ : state) {
        FeedSpectInstruments();
        benchmark::ClobberMemory();
    }
    SpectInstrumentsFed = false;
    ChooseSpectInstruments(measure::Averaging::Off, false, 0.0);
    state.SetItemsProcessed(state.iterations() * 2 * SliceCount);
    state.SetLabel(measure::AveragingName(averaging) + std::string(state.range(1) ? " + peak hold" : ""));
}
BENCHMARK(BM_FeedBlock)
    ->ArgNames({"averaging", "peakhold"})
    ->Args({static_cast<int>(measure::Averaging::Off), 1})
    ->Args({static_cast<int>(measure::Averaging::Exponential1s), 0})
    ->Args({static_cast<int>(measure::Averaging::Exponential1s), 1})
    ->Args({static_cast<int>(measure::Averaging::Linear100), 0})
    ->Args({static_cast<int>(measure::Averaging::Linear500), 0})
    ->Args({static_cast<int>(measure::Averaging::Linear500), 1})
    ->Args({static_cast<int>(measure::Averaging::Infinite), 0})
    ->Unit(benchmark::kMicrosecond);

// What one paint copies: both channels' shown rows, A-weighted, from a
// linear average.
void BM_ReadShownRows(benchmark::State& state)
{
    std::lock_guard<std::mutex> hold(DataLock);
    AnalyseNoiseBlock();
    ChooseSpectInstruments(measure::Averaging::Linear100, true, 0.0);
    SpectInstrumentsFed = true;
    FeedSpectInstruments();
    float rows[2][BinSlots];
    float peaks[2][BinSlots];
    for (auto _ : state) {
        for (int ch = 1; ch <= 2; ++ch) {
            SpectShownRow(ch, measure::Weighting::A, rows[ch - 1]);
            SpectPeakRow(ch, measure::Weighting::A, peaks[ch - 1]);
        }
        benchmark::DoNotOptimize(rows);
        benchmark::DoNotOptimize(peaks);
    }
    SpectInstrumentsFed = false;
    ChooseSpectInstruments(measure::Averaging::Off, false, 0.0);
}
BENCHMARK(BM_ReadShownRows)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
