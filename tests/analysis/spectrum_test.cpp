#include "analysis/spectrum.h"
#include "state/global.h"

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <mutex>
#include <numbers>
#include <random>
#include <vector>

namespace {

constexpr int BinCount = TopBin + 1;
using Slice = std::vector<int16_t>; // FftSize samples, or a longer stream
using Bins = std::array<float, BinCount>;

constexpr int Rectangular = 0, Hann = 1, Hamming = 2;

Slice RandomSamples(unsigned variant, size_t count = FftSize)
{
    std::mt19937 generator(variant);
    std::uniform_int_distribution<int> level(-32768, 32767);
    Slice samples(count);
    for (auto& s : samples)
        s = static_cast<int16_t>(level(generator));
    return samples;
}

// Full-scale values only, the ones most likely to overflow a weighting step.
Slice ExtremeSlice(unsigned variant)
{
    constexpr int16_t levels[] = {-32768, 32767, -32767, 0};
    std::mt19937 generator(variant);
    Slice x(FftSize);
    for (auto& s : x)
        s = levels[generator() % 4];
    return x;
}

Slice ConstantSlice(int16_t level)
{
    return Slice(FftSize, level);
}

Slice SineOnBin(int bin, double amplitude)
{
    Slice x(FftSize);
    for (int n = 0; n < FftSize; ++n)
        x[n] = static_cast<int16_t>(std::lround(amplitude * std::sin(2 * std::numbers::pi * bin * n / FftSize)));
    return x;
}

Bins Fast(const int16_t* x, int window, int maxLanes = 8)
{
    Bins out;
    SliceMagnitudes(x, window, out.data(), maxLanes);
    return out;
}

Bins Fast(const Slice& x, int window, int maxLanes = 8)
{
    return Fast(x.data(), window, maxLanes);
}

Bins Reference(const Slice& x, int window)
{
    Bins out;
    SliceMagnitudesReference(x.data(), window, out.data());
    return out;
}

// Compares bit patterns, so that -0 vs +0 or a last-bit difference shows.
testing::AssertionResult BitIdentical(const float* expected, const float* actual)
{
    for (int k = 0; k < BinCount; ++k)
        if (std::bit_cast<uint32_t>(expected[k]) != std::bit_cast<uint32_t>(actual[k]))
            return testing::AssertionFailure() << "bin " << k << ": expected " << expected[k] << ", got " << actual[k];
    return testing::AssertionSuccess();
}

testing::AssertionResult BitIdentical(const Bins& expected, const Bins& actual)
{
    return BitIdentical(expected.data(), actual.data());
}

// ---- the transform --------------------------------------------------------

TEST(SliceMagnitudes, MatchesPlainComputationBitForBit)
{
    std::vector<Slice> inputs;
    for (unsigned variant = 1; variant <= 4; ++variant) {
        inputs.push_back(RandomSamples(variant));
        inputs.push_back(ExtremeSlice(variant));
    }
    inputs.push_back(ConstantSlice(-32768));
    inputs.push_back(ConstantSlice(32767));
    inputs.push_back(SineOnBin(1000, 32767));
    // Every vector width this processor has, down to none, as other
    // processors would run the fast path.
    for (int window : {Rectangular, Hann, Hamming, 5, -1})
        for (size_t i = 0; i < inputs.size(); ++i) {
            const Bins expected = Reference(inputs[i], window);
            for (int lanes : {8, 4, 2, 1}) {
                SCOPED_TRACE(testing::Message() << "window " << window << ", input " << i << ", lanes " << lanes);
                EXPECT_TRUE(BitIdentical(expected, Fast(inputs[i], window, lanes)));
            }
        }
}

TEST(SliceMagnitudes, SineOnOneBinGivesAmplitudeScaledByTheWindow)
{
    const Slice sine = SineOnBin(100, 32767);

    const Bins rectangular = Fast(sine, Rectangular);
    EXPECT_NEAR(rectangular[100], 32767, 1);
    EXPECT_NEAR(rectangular[99], 0, 1);
    EXPECT_NEAR(rectangular[101], 0, 1);

    const Bins hann = Fast(sine, Hann);
    EXPECT_NEAR(hann[100], 16383, 1);
    EXPECT_NEAR(hann[99], 8192, 1);
    EXPECT_NEAR(hann[101], 8192, 1);
    EXPECT_NEAR(hann[98], 0, 1);

    const Bins hamming = Fast(sine, Hamming);
    EXPECT_NEAR(hamming[100], 17694, 1);
    EXPECT_NEAR(hamming[99], 7536, 1);
    EXPECT_NEAR(hamming[101], 7536, 1);
}

TEST(SliceMagnitudes, ConstantLandsInBinZeroOnlyAndSilenceIsExactZero)
{
    const Bins offset = Fast(ConstantSlice(1000), Rectangular);
    EXPECT_EQ(offset[0], 2000.0f);
    for (int k = 1; k < BinCount; ++k)
        ASSERT_EQ(offset[k], 0.0f) << "bin " << k;

    for (int window : {Rectangular, Hann, Hamming}) {
        const Bins silence = Fast(ConstantSlice(0), window);
        for (int k = 0; k < BinCount; ++k)
            ASSERT_EQ(silence[k], 0.0f) << "window " << window << ", bin " << k;
    }
}

TEST(SliceMagnitudes, UnlistedWindowLeavesSamplesUnweighted)
{
    const Slice x = RandomSamples(11);
    const Bins rectangular = Fast(x, Rectangular);
    EXPECT_TRUE(BitIdentical(rectangular, Fast(x, 5)));
    EXPECT_TRUE(BitIdentical(rectangular, Fast(x, -1)));
    EXPECT_FALSE(BitIdentical(rectangular, Fast(x, Hann)));
}

// ---- the shared rows --------------------------------------------------------

class AnalyseBlockTest : public testing::Test {
protected:
    void SetUp() override
    {
        savedWindow = WindowFunction;
        ClearSharedState();
    }
    void TearDown() override
    {
        WindowFunction = savedWindow;
        ClearSharedState();
    }

    static void ClearSharedState()
    {
        std::memset(Samples, 0, sizeof Samples);
        std::memset(Spectra, 0, sizeof Spectra);
        SpTmColumn = 0;
        NewData = false;
    }

    // What the capture side does before storing a block: the newest block
    // becomes the previous one.
    static void ShiftHistory()
    {
        for (int ch = 1; ch <= 2; ++ch)
            for (int k = 0; k < HistoryHalf; ++k)
                Sample(ch, k - HistoryHalf) = Sample(ch, k);
    }

    static const float* Row(int ch, int slice) { return &Spectrum(ch, slice, 0); }

    std::lock_guard<std::mutex> hold{DataLock};
    int savedWindow = 0;
};

TEST_F(AnalyseBlockTest, SlicesFollowEachOther441SamplesApartAcrossBlocks)
{
    constexpr int Blocks = 4;
    // Each channel's stream starts with one block of silence: the previous
    // block is still zero when the first one is analysed.
    Slice stream[2];
    for (int ch = 0; ch < 2; ++ch) {
        stream[ch] = RandomSamples(20 + ch, HistoryHalf * (Blocks + 1));
        std::fill_n(stream[ch].begin(), HistoryHalf, int16_t{0});
    }
    WindowFunction = Hann;

    int rowsSeen = 0; // slice rows analysed so far, oldest first
    const int firstStart = HistoryHalf + SliceStep * (1 - SliceCount);
    for (int block = 0; block < Blocks; ++block) {
        ShiftHistory();
        for (int ch = 1; ch <= 2; ++ch)
            for (int k = 0; k < HistoryHalf; ++k)
                Sample(ch, k) = stream[ch - 1][HistoryHalf * (block + 1) + k];
        AnalyseBlock();
        EXPECT_EQ(SpTmColumn, block + 1);
        EXPECT_TRUE(NewData);

        for (int slice = 1 - SliceCount; slice <= 0; ++slice, ++rowsSeen)
            for (int ch = 1; ch <= 2; ++ch) {
                SCOPED_TRACE(testing::Message() << "block " << block << ", slice " << slice << ", channel " << ch);
                const int start = firstStart + SliceStep * rowsSeen;
                EXPECT_TRUE(BitIdentical(Fast(stream[ch - 1].data() + start, Hann).data(), Row(ch, slice)));
            }
    }
}

TEST_F(AnalyseBlockTest, BinsAboveTopBinAreNeverWritten)
{
    const auto noise = RandomSamples(30, 2 * HistorySlots);
    for (int block = 0; block < 25; ++block) {
        WindowFunction = block % 3;
        ShiftHistory();
        for (int ch = 1; ch <= 2; ++ch)
            for (int k = 0; k < HistoryHalf; ++k)
                Sample(ch, k) = noise[(block * 977 + ch * HistoryHalf + k) % noise.size()];
        AnalyseBlock();
    }
    EXPECT_EQ(SpTmColumn, 25);
    for (int ch = 1; ch <= 2; ++ch)
        for (int slice = 1 - SliceCount; slice <= 0; ++slice) {
            EXPECT_NE(Spectrum(ch, slice, TopBin), 0.0f);
            for (int k = TopBin + 1; k < BinSlots; ++k)
                ASSERT_EQ(Spectrum(ch, slice, k), 0.0f) << "channel " << ch << ", slice " << slice << ", bin " << k;
        }
}

TEST_F(AnalyseBlockTest, SliceRewritesOnlyItsOwnRowWithTheCurrentWindow)
{
    const auto noise = RandomSamples(40, HistorySlots);
    for (int k = -HistoryHalf; k < HistoryHalf; ++k)
        Sample(2, k) = noise[k + HistoryHalf];
    WindowFunction = Hamming;

    AnalyseSlice(2, -3);
    EXPECT_TRUE(BitIdentical(Fast(&Sample(2, -3 * SliceStep), Hamming).data(), Row(2, -3)));
    for (int ch = 1; ch <= 2; ++ch)
        for (int slice = 1 - SliceCount; slice <= 0; ++slice) {
            if (ch == 2 && slice == -3)
                continue;
            for (int k = 0; k < BinSlots; ++k)
                ASSERT_EQ(Spectrum(ch, slice, k), 0.0f) << "channel " << ch << ", slice " << slice;
        }
    EXPECT_EQ(SpTmColumn, 0);

    // Rows that do not exist are refused, not written out of bounds.
    AnalyseSlice(0, 0);
    AnalyseSlice(3, 0);
    AnalyseSlice(1, 1);
    AnalyseSlice(1, -SliceCount);
    EXPECT_EQ(Spectrum(1, 0, 0), 0.0f);
}

} // namespace
