// The spectrogram's mappings without a display: palettes, levels, the time
// and frequency axes, the peak bin, the frame's scales and legend, the gain
// panel's numbers, and the hand-over of blocks from the block path.
#include "analysis/SpTmBlocks.h"
#include "analysis/SpTmMap.h"

#include "analysis/spectrum.h"
#include "state/global.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <mutex>
#include <vector>

namespace {

using sptm::Rgb;

constexpr bool Dark = false, Light = true;

TEST(SpTmPalette, NamedPointsOfBothSchemes)
{
    struct Point {
        int level;
        Rgb dark, light;
    };
    const Point points[] = {
        {0, {0, 0, 0}, {230, 230, 230}},       {30, {90, 0, 90}, {185, 185, 245}},
        {50, {30, 0, 110}, {155, 155, 255}},   {100, {0, 0, 240}, {80, 80, 255}},
        {150, {0, 100, 0}, {80, 158, 205}},    {200, {0, 150, 0}, {80, 235, 155}},
        {300, {0, 250, 0}, {197, 248, 55}},    {350, {128, 250, 0}, {255, 255, 5}},
        {351, {130, 250, 0}, {255, 253, 100}}, {400, {255, 250, 0}, {255, 155, 100}},
        {475, {255, 125, 0}, {255, 5, 100}},   {476, {255, 123, 0}, {254, 0, 0}},
        {550, {255, 0, 0}, {203, 0, 0}},       {551, {254, 0, 0}, {202, 0, 0}},
        {600, {205, 0, 0}, {167, 0, 0}},
    };
    for (const Point& p : points) {
        EXPECT_EQ(sptm::PaletteColor(p.level, Dark), p.dark) << "dark level " << p.level;
        EXPECT_EQ(sptm::PaletteColor(p.level, Light), p.light) << "light level " << p.level;
    }
}

TEST(SpTmPalette, DecimalFactorsRoundTheirTiesToEven)
{
    // 2.55 * 10 = 25.5 -> 26; 0.7 * 125 = 87.5 -> 88 (the last light colour).
    EXPECT_EQ(sptm::PaletteColor(310, Dark), (Rgb{26, 250, 0}));
    EXPECT_EQ(sptm::PaletteColor(330, Dark), (Rgb{76, 250, 0})); // 76.5 -> 76
    EXPECT_EQ(sptm::PaletteColor(600, Light).r, 167);
    EXPECT_EQ(sptm::PaletteColor(1, Light), (Rgb{228, 228, 230})); // 1.5 -> 2, 0.5 -> 0
    EXPECT_EQ(sptm::PaletteColor(3, Light), (Rgb{226, 226, 232})); // 4.5 -> 4, 1.5 -> 2
}

TEST(SpTmPalette, LevelsOutsideTheRangeAreClampedIntoIt)
{
    for (bool light : {Dark, Light}) {
        EXPECT_EQ(sptm::PaletteColor(-7, light), sptm::PaletteColor(0, light));
        EXPECT_EQ(sptm::PaletteColor(601, light), sptm::PaletteColor(600, light));
        EXPECT_EQ(sptm::PaletteColor(std::numeric_limits<int>::min(), light), sptm::PaletteColor(0, light));
    }
}

TEST(SpTmLevel, MagnitudeAndGainGiveTheDocumentedColours)
{
    EXPECT_EQ(sptm::MagnitudeColor(0, 10, Dark), (Rgb{0, 0, 0}));
    EXPECT_EQ(sptm::MagnitudeColor(0, 10, Light), (Rgb{230, 230, 230}));
    EXPECT_EQ(sptm::MagnitudeColor(100, 10, Dark), (Rgb{0, 0, 240}));
    EXPECT_EQ(sptm::MagnitudeColor(100, 10, Light), (Rgb{80, 80, 255}));
    EXPECT_EQ(sptm::MagnitudeColor(3600, 10, Dark), (Rgb{205, 0, 0}));
    EXPECT_EQ(sptm::MagnitudeColor(3600, 10, Light), (Rgb{167, 0, 0}));
    EXPECT_EQ(sptm::MagnitudeColor(1e9f, 10, Dark), (Rgb{205, 0, 0}));
    EXPECT_EQ(sptm::MagnitudeColor(1, 1, Dark), (Rgb{3, 0, 3}));
    EXPECT_EQ(sptm::MagnitudeColor(1, 1, Light), (Rgb{228, 228, 230}));
}

TEST(SpTmLevel, RoundsTiesToEvenAndCapsAt600)
{
    EXPECT_EQ(sptm::Level(0.25f, 1), 0); // 0.5
    EXPECT_EQ(sptm::Level(2.25f, 1), 2); // 1.5
    EXPECT_EQ(sptm::Level(6.25f, 1), 2); // 2.5
    EXPECT_EQ(sptm::Level(900, 20), 600);
    EXPECT_EQ(sptm::Level(899, 20), 600); // 599.67
    EXPECT_EQ(sptm::Level(880, 20), 593);
    EXPECT_EQ(sptm::Level(360000, 1), 600);
}

TEST(SpTmLevel, UnusableInputsStayInsideThePalette)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    EXPECT_EQ(sptm::Level(nan, 10), 0);
    EXPECT_EQ(sptm::Level(-4, 10), 0);
    EXPECT_EQ(sptm::Level(inf, 10), 600);
    // A stored gain that is NaN, infinite or not positive counts as 10.
    for (float gain : {nan, inf, -inf, 0.0f, -3.0f})
        EXPECT_EQ(sptm::Level(100, gain), 100) << gain;
    EXPECT_EQ(sptm::Level(1e30f, 1e30f), 600);
}

TEST(SpTmTimeAxis, BlocksFillTenColumnsAndTheCursorFollows)
{
    EXPECT_EQ(sptm::SliceColumn(1, -9), 0);
    EXPECT_EQ(sptm::SliceColumn(1, 0), 9);
    EXPECT_EQ(sptm::SliceColumn(85, -9), 840);
    EXPECT_EQ(sptm::SliceColumn(85, 0), 849);
    EXPECT_FLOAT_EQ(sptm::PixelX(0, 845), 1.0f / 845 - 1);
    EXPECT_FLOAT_EQ(sptm::PixelX(844, 845), 1 - 1.0f / 845);
    EXPECT_FLOAT_EQ(sptm::CursorX(1, 100), -0.78f);
    EXPECT_FLOAT_EQ(sptm::CursorX(0, 100), -0.98f);
}

TEST(SpTmTimeAxis, WrapsWhenTheBlockReachesTheRightEdge)
{
    EXPECT_FALSE(sptm::SweepWraps(84, 845));
    EXPECT_TRUE(sptm::SweepWraps(85, 845)); // 840..849 drawn, 845.. invisible
    EXPECT_FALSE(sptm::SweepWraps(84, 850));
    EXPECT_TRUE(sptm::SweepWraps(85, 850));                                  // drawn whole, then wraps
    EXPECT_TRUE(sptm::SweepWraps(std::numeric_limits<int32_t>::max(), 845)); // no overflow
    EXPECT_FALSE(sptm::SweepWraps(0, 845));
}

TEST(SpTmFrequencyAxis, BandsPerChannelSelection)
{
    const float k1 = 1 / std::sqrt(21000.0f);
    EXPECT_FLOAT_EQ(sptm::FreqScale(true, true), k1);
    EXPECT_FLOAT_EQ(sptm::FreqScale(true, false), 2 * k1);
    EXPECT_FLOAT_EQ(sptm::FreqScale(false, false), 2 * k1);

    auto left = sptm::ChannelBand(1, true, true);
    auto right = sptm::ChannelBand(2, true, true);
    ASSERT_TRUE(left && right);
    EXPECT_FLOAT_EQ(left->Y(0), 0);
    EXPECT_FLOAT_EQ(left->Y(21000), 1);
    EXPECT_FLOAT_EQ(right->Y(0), -1);
    EXPECT_NEAR(right->Y(21000), 0, 1e-6);

    auto onlyRight = sptm::ChannelBand(2, false, true);
    ASSERT_TRUE(onlyRight);
    EXPECT_FLOAT_EQ(onlyRight->Y(0), -1);
    EXPECT_FLOAT_EQ(onlyRight->Y(21000), 1);
    EXPECT_FALSE(sptm::ChannelBand(1, false, true));
    EXPECT_FALSE(sptm::ChannelBand(2, true, false));
    EXPECT_FALSE(sptm::ChannelBand(1, false, false));
}

TEST(SpTmFrequencyAxis, CellsOfTheBins)
{
    EXPECT_FLOAT_EQ(sptm::CellLowHz(1, BinWidth), 3.0f);
    EXPECT_FLOAT_EQ(sptm::BinHz(1, BinWidth), BinWidth);
    EXPECT_FLOAT_EQ(sptm::CellLowHz(2, BinWidth), BinWidth);
    EXPECT_NEAR(sptm::BinHz(1858, BinWidth), 20004.3, 0.1);

    // A 1 kHz tone in the left channel, both shown: bin 93's cell sits in the
    // upper half, about 0.218 above the middle.
    const sptm::Band left = *sptm::ChannelBand(1, true, true);
    const int bin = static_cast<int>(std::lround(1000 / BinWidth));
    EXPECT_EQ(bin, 93);
    EXPECT_NEAR(left.Y(sptm::CellLowHz(bin, BinWidth)), 0.218, 0.002);
    EXPECT_NEAR(left.Y(sptm::BinHz(bin, BinWidth)), 0.218, 0.002);
    EXPECT_LT(left.Y(sptm::CellLowHz(bin, BinWidth)), left.Y(sptm::BinHz(bin, BinWidth)));
    // The top bin reaches 0.976 of its band.
    EXPECT_NEAR(left.Y(sptm::BinHz(1858, BinWidth)), 0.976, 0.001);
}

TEST(SpTmPeak, LargestBinWithTiesToTheLowerOne)
{
    std::vector<float> m(sptm::ShownBins, 0.0f);
    EXPECT_EQ(sptm::PeakBin(m.data()), 0) << "silence has no peak";
    m[0] = 1e6f; // bin 0 is never shown
    EXPECT_EQ(sptm::PeakBin(m.data()), 0);
    m[400] = 5;
    m[93] = 5;
    m[1858] = 4;
    EXPECT_EQ(sptm::PeakBin(m.data()), 93);
    m[1858] = 6;
    EXPECT_EQ(sptm::PeakBin(m.data()), 1858);
    m[500] = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(sptm::PeakBin(m.data()), 1858);
}

std::vector<std::string> Texts(const sptm::ScaleDrawing& scale)
{
    std::vector<std::string> texts;
    for (const auto& t : scale.texts)
        texts.push_back(t.text);
    return texts;
}

TEST(SpTmFrame, TickDensityFollowsTheOuterHeight)
{
    EXPECT_EQ(sptm::FreqTickDensity(700), (sptm::TickDensity{5, 2}));
    EXPECT_EQ(sptm::FreqTickDensity(701), (sptm::TickDensity{10, 1}));
    EXPECT_EQ(sptm::FreqTickDensity(540), (sptm::TickDensity{5, 2}));

    const PlotRect plot = sptm::PlotArea(894, 660);
    const auto coarse = sptm::FrequencyScale(plot, true, 700);
    const auto fine = sptm::FrequencyScale(plot, true, 701);
    std::vector<std::string> band = {"0.1"};
    for (int k = 2; k <= 20; k += 2)
        band.push_back(std::to_string(k));
    band.push_back("kHz");
    std::vector<std::string> both = band;
    both.insert(both.end(), band.begin(), band.end());
    EXPECT_EQ(Texts(coarse), both);
    EXPECT_EQ(coarse.lines.size(), 2u * (6 + 5 + 10));
    EXPECT_EQ(fine.texts.size(), 2u * (1 + 20 + 1));
    EXPECT_EQ(fine.lines.size(), 2u * (11 + 10 + 20));
    EXPECT_EQ(fine.texts[20].text, "20");
}

TEST(SpTmFrame, FrequencyScaleRows)
{
    const PlotRect plot = sptm::PlotArea(894, 660); // bottom 635
    const auto both = sptm::FrequencyScale(plot, true, 701);
    const float r = static_cast<float>(635 / (2 * std::sqrt(21000.0)));
    // Lower band: 0 Hz on the bottom row; upper band from half the bottom.
    EXPECT_EQ(both.lines.front().y0, 635);
    EXPECT_EQ(both.lines.front().x0, 20);
    EXPECT_EQ(both.lines.front().x1, 25);
    EXPECT_EQ(both.lines[41].y0, 317);
    const int kHz1 = 635 - static_cast<int>(std::nearbyint(std::sqrt(1000.0) * r));
    EXPECT_EQ(both.texts[1].text, "1");
    EXPECT_EQ(both.texts[1].x, 5);
    EXPECT_EQ(both.texts[1].y, kHz1 - 7);
    const int kHz20 = 635 - static_cast<int>(std::nearbyint(std::sqrt(20000.0) * r));
    EXPECT_EQ(both.texts[21].text, "kHz");
    EXPECT_EQ(both.texts[21].y, kHz20 - 18);

    // One channel: a single band over the whole height, always fine.
    const auto one = sptm::FrequencyScale(plot, false, 540);
    EXPECT_EQ(one.texts.size(), 22u);
    const float r1 = static_cast<float>(635 / std::sqrt(21000.0));
    EXPECT_EQ(one.texts[20].y, 635 - static_cast<int>(std::nearbyint(std::sqrt(20000.0) * r1)) - 7);
}

TEST(SpTmFrame, TimeLabelsForAClient894Wide)
{
    const PlotRect plot = sptm::PlotArea(894, 607);
    EXPECT_EQ(plot.left, 25);
    EXPECT_EQ(plot.right, 869);
    EXPECT_EQ(plot.bottom, 582);
    const auto scale = sptm::TimeScale(plot);
    ASSERT_EQ(scale.texts.size(), 9u);
    for (int d = 0; d <= 7; ++d) {
        EXPECT_EQ(scale.texts[d].text, std::to_string(d));
        EXPECT_EQ(scale.lines[d].x0, 25 + 100 * d);
        EXPECT_EQ(scale.texts[d].x, 20 + 100 * d);
        EXPECT_EQ(scale.texts[d].y, 587);
    }
    EXPECT_EQ(scale.texts[8].text, "Time, s");
    EXPECT_EQ(scale.texts[8].x, 819);
}

// ---- hand-over of blocks --------------------------------------------------------

class SpTmBlockHandOver : public ::testing::Test {
protected:
    void SetUp() override
    {
        sptm::ForgetBlocks();
        std::lock_guard<std::mutex> guard(DataLock);
        SpTmColumn = 0;
    }
    void TearDown() override { SetUp(); }

    // A block whose every magnitude is `mark`, analysed as the block path does.
    static void Arrive(float mark)
    {
        std::lock_guard<std::mutex> guard(DataLock);
        for (auto& channel : Spectra)
            for (auto& slice : channel)
                for (float& bin : slice)
                    bin = mark;
        ++SpTmColumn;
        SpTmKeepBlock();
    }

    std::unique_ptr<sptm::Block[]> out{new sptm::Block[sptm::KeptBlocks]};

    int32_t Column()
    {
        std::lock_guard<std::mutex> guard(DataLock);
        return SpTmColumn;
    }
};

TEST_F(SpTmBlockHandOver, TwoBlocksBeforeOneRenderKeepTheirOwnColumns)
{
    Arrive(1);
    Arrive(2);
    ASSERT_EQ(sptm::TakeBlocks(845, out.get()), 2);
    EXPECT_EQ(out[0].column, 1);
    EXPECT_EQ(out[0].Row(1, -9)[5], 1);
    EXPECT_EQ(out[1].column, 2);
    EXPECT_EQ(out[1].Row(2, 0)[1858], 2);
    EXPECT_EQ(Column(), 2);
}

TEST_F(SpTmBlockHandOver, AWrapInsideABatchRestartsTheBlocksAfterItAtTheLeft)
{
    for (int i = 0; i < 83; ++i)
        Arrive(0);
    sptm::TakeBlocks(845, out.get());
    Arrive(84);
    Arrive(85);
    Arrive(86);
    ASSERT_EQ(sptm::TakeBlocks(845, out.get()), 3);
    EXPECT_EQ(out[0].column, 84);
    EXPECT_EQ(out[1].column, 85); // partly visible, wraps
    EXPECT_EQ(out[2].column, 1);  // columns 0..9
    EXPECT_EQ(out[2].Row(1, 0)[1], 86);
    EXPECT_EQ(Column(), 1);
    Arrive(87);
    ASSERT_EQ(sptm::TakeBlocks(845, out.get()), 1);
    EXPECT_EQ(out[0].column, 2);
}

TEST_F(SpTmBlockHandOver, ARenderWithoutANewBlockTakesNothing)
{
    EXPECT_EQ(sptm::TakeBlocks(100, out.get()), 0);
    Arrive(7);
    ASSERT_EQ(sptm::TakeBlocks(100, out.get()), 1);
    EXPECT_EQ(sptm::TakeBlocks(100, out.get()), 0);
    EXPECT_EQ(Column(), 1);
    // A panel that became narrower than the sweep position: the next block
    // lands beyond the edge and wraps.
    Arrive(8);
    ASSERT_EQ(sptm::TakeBlocks(15, out.get()), 1);
    EXPECT_EQ(out[0].column, 2);
    EXPECT_EQ(Column(), 0);
}

TEST_F(SpTmBlockHandOver, ARenderFarBehindGetsTheNewestBlocks)
{
    for (int i = 1; i <= sptm::KeptBlocks + 3; ++i)
        Arrive(static_cast<float>(i));
    ASSERT_EQ(sptm::TakeBlocks(845, out.get()), sptm::KeptBlocks);
    EXPECT_EQ(out[0].column, 4);
    EXPECT_EQ(out[0].Row(1, 0)[1], 4);
    EXPECT_EQ(out[sptm::KeptBlocks - 1].column, sptm::KeptBlocks + 3);
}

TEST_F(SpTmBlockHandOver, AHiddenViewWrapsAtItsFirstRender)
{
    for (int i = 0; i < 300; ++i)
        Arrive(1);
    const int taken = sptm::TakeBlocks(845, out.get());
    ASSERT_EQ(taken, sptm::KeptBlocks);
    EXPECT_EQ(out[0].column, 293); // beyond the edge: wraps
    EXPECT_EQ(out[1].column, 1);
    EXPECT_EQ(Column(), sptm::KeptBlocks - 1);
}

TEST_F(SpTmBlockHandOver, TheAnalysisKeepsEveryBlock)
{
    {
        std::lock_guard<std::mutex> guard(DataLock);
        AnalyseBlock();
        AnalyseBlock();
    }
    ASSERT_EQ(sptm::TakeBlocks(845, out.get()), 2);
    EXPECT_EQ(out[0].column, 1);
    EXPECT_EQ(out[1].column, 2);
}

} // namespace
