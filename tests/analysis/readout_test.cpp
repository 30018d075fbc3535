// The readouts turned back from pointer positions by the drawing's own rules,
// and the spectrum's interpolated peak on tones through the real analysis.
#include "analysis/SpTmMap.h"
#include "analysis/SpectGraph.h"
#include "analysis/WaveGraph.h"
#include "analysis/readout.h"
#include "analysis/spectrum.h"
#include "state/global.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <numbers>
#include <vector>

namespace {

constexpr int Hann = 1, Rectangular = 0;

std::array<float, BinSlots> ToneRow(double hz, double amplitude, int window)
{
    std::array<int16_t, FftSize> samples{};
    for (int n = 0; n < FftSize; ++n)
        samples[n] = static_cast<int16_t>(std::lround(amplitude * std::sin(2 * std::numbers::pi * hz * n / 44100.0)));
    std::array<float, BinSlots> row{};
    SliceMagnitudes(samples.data(), window, row.data());
    return row;
}

TEST(WaveReadout, EveryVertexOfTheTraceReadsBackItsOwnSample)
{
    for (const int32_t span : {441, 882, 2205, 4410}) {
        std::vector<int16_t> block(HistoryHalf);
        for (int k = 0; k < HistoryHalf; ++k)
            block[k] = static_cast<int16_t>(k);
        std::vector<PlotVertex> trace;
        WaveTrace(block.data(), span, 20000, trace);
        for (size_t k = 0; k < trace.size(); ++k)
            ASSERT_EQ(readout::WaveSampleAt(trace[k].x, span), std::min<int>(k, HistoryHalf - 1)) << span;
        EXPECT_EQ(readout::WaveSampleAt(-5, span), 0) << "left of the plot";
        EXPECT_NEAR(readout::WaveMs(span), span / 44.1, 1e-9);
    }
}

TEST(WaveReadout, LevelsAgainstFullScale)
{
    EXPECT_NEAR(readout::Dbfs(-32768), 0.0, 1e-12);
    EXPECT_NEAR(readout::Dbfs(16384), -6.0206, 1e-4);
    EXPECT_TRUE(std::isinf(readout::Dbfs(0)));
    EXPECT_EQ(readout::WaveText(1.5, 16384, std::nullopt), "1.50 ms\nL 16384 (-6.0 dBFS)");
    EXPECT_EQ(readout::WaveText(0, std::nullopt, 0), "0.00 ms\nR 0 (-inf dBFS)");
}

TEST(SpectReadout, PositionsOfTheTraceReadBackTheirFrequency)
{
    for (const double hz : {10.0, 100.0, 1000.0, 1234.5, 20000.0, 25000.0})
        EXPECT_NEAR(readout::SpectLogHzAt(SpectLogX(hz)), hz, hz * 1e-6);
    // Linear: the right edge is the range's top bin.
    EXPECT_NEAR(readout::SpectLinearHzAt(1.0, 1000), SpectLinearTopBin(1000) * BinWidth, 1e-3);
    EXPECT_NEAR(readout::SpectLinearHzAt(-1.0, 1000), 0, 1e-9);
    EXPECT_EQ(readout::NearestBin(1000, BinWidth), 93);
    EXPECT_EQ(readout::NearestBin(1e9, BinWidth), TopBin);
    EXPECT_EQ(readout::NearestBin(-3, BinWidth), 0);
    EXPECT_NEAR(readout::LevelDb(32767), 0, 1e-12);
    EXPECT_NEAR(readout::LevelDb(0), -140, 1e-9) << "silence lies on the floor";
    EXPECT_EQ(readout::SpectText(1001.3, true, 32767.0f, std::nullopt), "1001 Hz\nL 0.0 dB");
    EXPECT_EQ(readout::SpectText(500, false, std::nullopt, 3276.7f), "500 Hz\nR 10.0 %");
}

TEST(SpectPeak, ParabolicInterpolationFindsTonesBetweenBins)
{
    // Off the bin centres by up to half a bin, in both windows that shape a
    // peak, from loud to quiet.
    for (const int window : {Hann, 2})
        for (const double hz : {1234.5, 1000.0, 440.0, 5387.6, 15000.3})
            for (const double amplitude : {32000.0, 300.0}) {
                const auto row = ToneRow(hz, amplitude, window);
                const std::optional<readout::Peak> peak = readout::InterpolatedPeak(row.data(), BinWidth);
                ASSERT_TRUE(peak);
                EXPECT_NEAR(peak->hz, hz, 1.0) << "window " << window << ", " << amplitude;
                // Between the neighbours the vertex is no lower than the bin.
                EXPECT_GE(peak->db, readout::LevelDb(row[peak->bin]) - 1e-9);
            }
    // On a bin centre with the rectangular window the full-scale level is 0 dB.
    const auto onBin = ToneRow(100 * 44100.0 / FftSize, 32767, Rectangular);
    const std::optional<readout::Peak> peak = readout::InterpolatedPeak(onBin.data(), BinWidth);
    ASSERT_TRUE(peak);
    EXPECT_EQ(peak->bin, 100);
    EXPECT_NEAR(peak->db, 0, 0.1);
    EXPECT_EQ(readout::PeakText('L', *peak).substr(0, 7), "Peak L ");
}

TEST(SpectPeak, SilenceHasNoPeakAndALoneBinIsItsOwnPeak)
{
    std::array<float, BinSlots> row{};
    EXPECT_FALSE(readout::InterpolatedPeak(row.data(), BinWidth));
    row[500] = 1000; // a lone bin: no parabola to speak of, the bin itself
    const std::optional<readout::Peak> peak = readout::InterpolatedPeak(row.data(), BinWidth);
    ASSERT_TRUE(peak);
    EXPECT_NEAR(peak->hz, 500 * BinWidth, BinWidth / 2);
    row[0] = 1e9f; // bin 0 (direct current) is no peak
    EXPECT_EQ(readout::InterpolatedPeak(row.data(), BinWidth)->bin, 500);
}

TEST(SpTmReadout, BandsTimeAndColourLevels)
{
    // Both shown: the left channel above the middle, the right below.
    const double quarter = 21000.0 / 4;
    auto point = readout::SpTmBandAt(0.5, true, true);
    ASSERT_TRUE(point);
    EXPECT_EQ(point->channel, 1);
    EXPECT_NEAR(point->hz, quarter, 0.5);
    point = readout::SpTmBandAt(-0.5, true, true);
    ASSERT_TRUE(point);
    EXPECT_EQ(point->channel, 2);
    EXPECT_NEAR(point->hz, quarter, 0.5);
    // One channel: the whole height.
    point = readout::SpTmBandAt(0.0, false, true);
    ASSERT_TRUE(point);
    EXPECT_EQ(point->channel, 2);
    EXPECT_NEAR(point->hz, quarter, 0.5);
    EXPECT_FALSE(readout::SpTmBandAt(0.0, false, false));
    // Through the band's own mapping and back.
    const sptm::Band band = *sptm::ChannelBand(1, true, true);
    EXPECT_NEAR(readout::SpTmBandAt(band.Y(1000), true, true)->hz, 1000, 0.5);

    EXPECT_DOUBLE_EQ(readout::SpTmSeconds(250), 2.5);
    for (const bool light : {false, true})
        for (int level = 0; level <= sptm::MaxLevel; level += 7) {
            const std::optional<int> back = readout::LevelOfColour(sptm::PaletteColor(level, light), light);
            ASSERT_TRUE(back);
            EXPECT_EQ(sptm::PaletteColor(*back, light), sptm::PaletteColor(level, light));
        }
    EXPECT_NEAR(readout::SpTmLevelDb(600, 10), readout::LevelDb(3600), 1e-9);
    EXPECT_EQ(readout::SpTmText(1.25, std::nullopt, std::nullopt, 10), "1.25 s\nno level");
}

} // namespace
