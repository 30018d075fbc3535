// The spectrum's averages, peak hold and weighting fed the way the program
// feeds them: stereo blocks through the block path (AcceptBlocks), analysed
// for real, every slice of every block. Expected values come from the
// signals themselves: the spread of a noise spectrum's levels, a tone's
// known level at a bin it fills exactly, a step's known powers, the
// weighting's defining poles.
#include "analysis/spectinstruments.h"
#include "analysis/spectrum.h"
#include "app/main_ticks.h"
#include "state/global.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <mutex>
#include <numbers>
#include <random>
#include <vector>

namespace {
using measure::Averaging;
using measure::Weighting;

constexpr double BinHz = 44100.0 / FftSize;

// One sample per frame and channel (1 or 2), frames counted from the start.
using Signal = std::function<double(int64_t frame, int channel)>;

class SpectrumInstruments : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::memset(Samples, 0, sizeof Samples);
        BlockLen = 4410;
        SlicesPerBlock = 10;
        WindowFunction = 1;
        SpectInstrumentsFed = true;
        Choose(Averaging::Off, false, 0.0);
    }
    void TearDown() override
    {
        Choose(Averaging::Off, false, 0.0);
        SpectInstrumentsFed = false;
        WindowFunction = 1;
    }

    static void Choose(Averaging averaging, bool peakHold, double decay)
    {
        std::lock_guard<std::mutex> guard(DataLock);
        ChooseSpectInstruments(averaging, peakHold, decay);
        ResetSpectInstruments();
    }

    // Passes `count` blocks of the signal through the block path, one call
    // per `perCall` blocks (as a tick that fell behind takes several).
    void Feed(const Signal& signal, int count, int perCall = 1)
    {
        for (int done = 0; done < count; done += perCall) {
            const int blocks = std::min(perCall, count - done);
            std::vector<std::vector<uint8_t>> bytes(blocks);
            std::vector<CapturedBlock> captured;
            for (int b = 0; b < blocks; ++b) {
                bytes[b] = Interleaved(signal);
                captured.push_back({bytes[b].data(), static_cast<uint32_t>(bytes[b].size())});
            }
            std::lock_guard<std::mutex> guard(DataLock);
            AcceptBlocks(captured.data(), blocks);
        }
    }

    // Level in dB (against full scale 32767) of the shown or held row.
    static std::vector<double> ShownDb(int channel, Weighting weighting = Weighting::Z)
    {
        float row[BinSlots];
        {
            std::lock_guard<std::mutex> guard(DataLock);
            SpectShownRow(channel, weighting, row);
        }
        return Db(row);
    }
    static std::vector<double> HeldDb(int channel)
    {
        float row[BinSlots];
        std::lock_guard<std::mutex> guard(DataLock);
        if (!SpectPeakRow(channel, Weighting::Z, row))
            return {};
        return Db(row);
    }
    static std::vector<double> Db(const float* row)
    {
        std::vector<double> db(BinSlots);
        for (int k = 0; k < BinSlots; ++k)
            db[k] = 20 * std::log10(std::max<double>(row[k], 1e-30) / 32767.0);
        return db;
    }

private:
    std::vector<uint8_t> Interleaved(const Signal& signal)
    {
        std::vector<uint8_t> bytes(4 * 4410);
        for (int f = 0; f < 4410; ++f, ++frame) {
            for (int ch = 1; ch <= 2; ++ch) {
                const auto value = static_cast<int16_t>(std::clamp(std::lround(signal(frame, ch)), -32768L, 32767L));
                bytes[4 * f + 2 * (ch - 1)] = static_cast<uint8_t>(value & 0xFF);
                bytes[4 * f + 2 * (ch - 1) + 1] = static_cast<uint8_t>((value >> 8) & 0xFF);
            }
        }
        return bytes;
    }
    int64_t frame = 0;
};

Signal Sine(double hz, double amplitude)
{
    return [=](int64_t frame, int) { return amplitude * std::sin(2 * std::numbers::pi * hz * frame / 44100.0); };
}

Signal WhiteNoise(unsigned key)
{
    auto random = std::make_shared<std::mt19937>(key);
    return [random](int64_t, int) { return std::normal_distribution<double>(0.0, 3000.0)(*random); };
}

// Standard deviation of the levels from 200 Hz to 10 kHz.
double Spread(const std::vector<double>& db)
{
    const int first = static_cast<int>(std::ceil(200 / BinHz)), last = static_cast<int>(10000 / BinHz);
    double sum = 0, squares = 0;
    for (int k = first; k <= last; ++k)
        sum += db[k];
    const double mean = sum / (last - first + 1);
    for (int k = first; k <= last; ++k)
        squares += (db[k] - mean) * (db[k] - mean);
    return std::sqrt(squares / (last - first));
}

// ---- averaging -----------------------------------------------------------------

// The level of one periodogram bin of Gaussian noise spreads by 5.57 dB
// (10 log10 of an exponential variable). Averaging 100 slices that overlap
// by nine tenths (about 20 independent spectra) narrows it below 1.2 dB,
// 500 slices below 0.6 dB.
TEST_F(SpectrumInstruments, AveragingNarrowsTheSpreadOfWhiteNoise)
{
    // One spectrum's spread is itself uncertain by about 0.3 dB: the mean of
    // both channels over ten blocks.
    const Signal noise = WhiteNoise(1);
    Feed(noise, 1);
    double off = 0;
    for (int block = 0; block < 10; ++block) {
        Feed(noise, 1);
        off += (Spread(ShownDb(1)) + Spread(ShownDb(2))) / 20;
    }
    EXPECT_NEAR(off, 5.57, 0.25);

    Choose(Averaging::Linear100, false, 0);
    Feed(WhiteNoise(2), 12);
    const double linear100 = Spread(ShownDb(1));
    EXPECT_LE(linear100, 1.2);
    EXPECT_GE(linear100, 0.5) << "100 overlapping slices are not 100 independent ones";

    Choose(Averaging::Linear500, false, 0);
    Feed(WhiteNoise(3), 52);
    const double linear500 = Spread(ShownDb(1));
    EXPECT_LE(linear500, 0.6);
    EXPECT_LE(Spread(ShownDb(2)), 0.6);
    RecordProperty("spread_db",
                   std::to_string(off) + " " + std::to_string(linear100) + " " + std::to_string(linear500));
}

// A tone steps up by 20 dB; one time constant (1 s, 100 slices) later the
// average at its bin has come 1 - 1/e of the way in power, within 10 %.
TEST_F(SpectrumInstruments, SlowAveragingAnswersAStepByOneMinusOneOverEAfterOneSecond)
{
    const double hz = 93 * BinHz;
    Choose(Averaging::Exponential1s, false, 0);
    Feed(Sine(hz, 1000), 30);
    const double before = std::pow(10, ShownDb(1)[93] / 10);
    Feed(Sine(hz, 10000), 10);
    const double after = std::pow(10, ShownDb(1)[93] / 10);
    const double full = before * 100; // +20 dB
    const double reached = (after - before) / (full - before);
    EXPECT_NEAR(reached, 1 - std::exp(-1.0), 0.1 * (1 - std::exp(-1.0)));
    RecordProperty("step_reached", std::to_string(reached));
}

TEST_F(SpectrumInstruments, InfiniteAveragingCountsEverySliceSinceTheReset)
{
    Choose(Averaging::Infinite, false, 0);
    Feed(WhiteNoise(4), 7);
    EXPECT_EQ(SpectAveragedSlices(), 70);
    Feed(WhiteNoise(5), 6, 3); // two ticks of three blocks each
    EXPECT_EQ(SpectAveragedSlices(), 130) << "the blocks a tick takes together count too";
    {
        std::lock_guard<std::mutex> guard(DataLock);
        ResetSpectInstruments();
    }
    EXPECT_EQ(SpectAveragedSlices(), 0);
    Feed(WhiteNoise(6), 3);
    EXPECT_EQ(SpectAveragedSlices(), 30);
}

// The mean of a constant is the constant: a steady tone read through the
// infinite average equals the tone read from the newest slice.
TEST_F(SpectrumInstruments, AveragesOfASteadyToneReadTheTonesLevel)
{
    const Signal tone = Sine(186 * BinHz, 16000);
    Feed(tone, 1); // every slice from now on lies on the tone
    for (Averaging mode : {Averaging::Exponential125ms, Averaging::Linear10, Averaging::Infinite}) {
        Choose(mode, false, 0);
        Feed(tone, 5);
        const double expected = 20 * std::log10(16000 * 0.5 / 32767.0); // Hann's coherent gain 1/2
        EXPECT_NEAR(ShownDb(1)[186], expected, 0.01) << measure::AveragingName(mode);
    }
}

TEST_F(SpectrumInstruments, OffShowsTheNewestSliceBitForBit)
{
    Choose(Averaging::Off, true, 10.0); // peak hold on: the instruments are fed
    Feed(WhiteNoise(7), 3);
    float row[BinSlots];
    std::lock_guard<std::mutex> guard(DataLock);
    for (int ch = 1; ch <= 2; ++ch) {
        SpectShownRow(ch, Weighting::Z, row);
        EXPECT_EQ(std::memcmp(row, &Spectrum(ch, 0, 0), sizeof row), 0) << "channel " << ch;
    }
}

TEST_F(SpectrumInstruments, NothingIsAveragedForAHiddenWindow)
{
    Choose(Averaging::Infinite, false, 0);
    SpectInstrumentsFed = false;
    Feed(WhiteNoise(8), 4);
    EXPECT_EQ(SpectAveragedSlices(), 0);
}

// ---- peak hold -------------------------------------------------------------------

// A tone that fills bins 47, 93, 186, 372 and 744 exactly (a whole number of
// periods in a slice, rectangular window) reads its own level there.
TEST_F(SpectrumInstruments, PeakHoldKeepsEachToneOfASequenceAtItsBinAndLevel)
{
    WindowFunction = 0;
    Choose(Averaging::Off, true, 0.0);
    const int bins[] = {47, 93, 186, 372, 744};
    const double amplitude = 10000, levelDb = 20 * std::log10(amplitude / 32767.0);
    for (int bin : bins)
        Feed(Sine(bin * BinHz, amplitude), 2);
    const std::vector<double> held = HeldDb(1);
    ASSERT_FALSE(held.empty());
    for (int bin : bins) {
        EXPECT_NEAR(held[bin], levelDb, 0.2) << "bin " << bin;
        for (int k = bin - 3; k <= bin + 3; ++k) {
            if (k != bin) {
                EXPECT_LT(held[k], held[bin]) << "a peak at bin " << bin << ", not at " << k;
            }
        }
    }
    EXPECT_LT(held[(bins[2] + bins[3]) / 2], levelDb - 20) << "between the tones";

    // Silence that fills the history, a reset, then more silence: nothing
    // of the tones is left.
    const Signal silence = [](int64_t, int) { return 0.0; };
    Feed(silence, 1);
    {
        std::lock_guard<std::mutex> guard(DataLock);
        ResetSpectInstruments();
    }
    EXPECT_TRUE(HeldDb(1).empty()) << "a reset clears the peaks";
    Feed(silence, 1);
    for (int bin : bins)
        EXPECT_LT(HeldDb(1)[bin], -200);
}

// Two seconds after a tone stopped, its held peak lies 2 s times the decay
// rate lower, within 10 %.
TEST_F(SpectrumInstruments, AHeldPeakFallsAtItsRate)
{
    WindowFunction = 0;
    for (double rate : {3.0, 10.0, 20.0}) {
        Choose(Averaging::Off, true, rate);
        Feed(Sine(93 * BinHz, 20000), 2);
        const double peak = HeldDb(1)[93];
        Feed([](int64_t, int) { return 0.0; }, 20);
        const double fall = peak - HeldDb(1)[93];
        EXPECT_NEAR(fall, 2.0 * rate, 0.1 * 2.0 * rate) << rate << " dB/s";
    }
}

// ---- weighting -----------------------------------------------------------------

// The A and C responses written out from their defining poles (IEC 61672-1:
// 20.598997, 107.65265, 737.86223, 12194.217 Hz; -2.000 and -0.062 dB at
// 1 kHz), independently of the program's own.
double StandardDb(char curve, double f)
{
    const double f1 = 20.598997, f2 = 107.65265, f3 = 737.86223, f4 = 12194.217;
    const double ff = f * f;
    if (curve == 'C')
        return 20 * std::log10(f4 * f4 * ff / ((ff + f1 * f1) * (ff + f4 * f4))) + 0.062;
    return 20 * std::log10(f4 * f4 * ff * ff /
                           ((ff + f1 * f1) * std::sqrt((ff + f2 * f2) * (ff + f3 * f3)) * (ff + f4 * f4))) +
           2.000;
}

// Full-scale tones read, relative to their unweighted level, what the
// standard tabulates. The spectrum weighs each bin at its own frequency; a
// tone between bins is read at its strongest bin, up to half a bin (5.4 Hz)
// away, where the curves below 500 Hz are too steep for the table's 0.1 dB:
// there the bin's own frequency is the reference.
TEST_F(SpectrumInstruments, WeightedTonesReadTheStandardsValues)
{
    struct Row {
        double hz, a, c;
    };
    const Row table[] = {{31.5, -39.4, -3.0}, {63, -26.2, -0.8},  {125, -16.1, -0.2}, {250, -8.6, 0.0},
                         {500, -3.2, 0.0},    {1000, 0, 0},       {2000, 1.2, -0.2},  {4000, 1.0, -0.8},
                         {8000, -1.1, -3.0},  {16000, -6.6, -8.5}};
    for (const Row& row : table) {
        Feed(Sine(row.hz, 32767), 1);
        const std::vector<double> z = ShownDb(1), a = ShownDb(1, Weighting::A), c = ShownDb(1, Weighting::C);
        const int bin = static_cast<int>(std::max_element(z.begin() + 1, z.begin() + TopBin) - z.begin());
        if (row.hz >= 500) {
            EXPECT_NEAR(a[bin] - z[bin], row.a, 0.15) << row.hz << " Hz";
            EXPECT_NEAR(c[bin] - z[bin], row.c, 0.15) << row.hz << " Hz";
        }
        EXPECT_NEAR(a[bin] - z[bin], StandardDb('A', bin * BinHz), 0.01) << row.hz << " Hz";
        EXPECT_NEAR(c[bin] - z[bin], StandardDb('C', bin * BinHz), 0.01) << row.hz << " Hz";
    }
}

} // namespace
