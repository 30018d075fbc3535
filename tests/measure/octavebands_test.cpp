#include "measure/levels.h"
#include "measure/octavebands.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>
#include <random>
#include <string>
#include <vector>

namespace {

using measure::OctaveBand;
using measure::OctaveFilterBank;

constexpr double Rate = 44100.0;
const double G = std::pow(10.0, 0.3);

// ---- Class 1 limits, from the standard's table ------------------------------------

// Breakpoints of the octave filter at Omega = G^p, p >= 0, with the gain
// relative to the midband response that class 1 allows there. Beyond the
// band edge there is no lower limit.
struct Breakpoint {
    double p;
    double lowerDb;
    double upperDb;
};
constexpr double NoLimit = -1e9;
constexpr Breakpoint OctaveBreakpoints[] = {
    {0.0, -0.3, 0.3},      {0.125, -0.4, 0.3},    {0.25, -0.6, 0.3},     {0.375, -1.3, 0.3},    {0.5, -5.0, -2.0},
    {1.0, NoLimit, -17.5}, {2.0, NoLimit, -42.0}, {3.0, NoLimit, -61.0}, {4.0, NoLimit, -70.0},
};

// The breakpoint of a 1/b octave filter that corresponds to the octave
// filter's Omega_1 (above the midband; below it the reciprocal).
double BreakpointOmega(int b, double omega1)
{
    return 1.0 + (std::pow(G, 1.0 / (2.0 * b)) - 1.0) / (std::pow(G, 0.5) - 1.0) * (omega1 - 1.0);
}

struct Limits {
    double lowerDb;
    double upperDb;
};

// The limits at a normalised frequency; between two breakpoints they run
// straight on a logarithmic frequency axis, beyond the last they stay.
Limits ClassOneLimits(int b, double omega)
{
    const double distance = std::abs(std::log(omega)); // the mask is symmetric on a log axis
    const int count = static_cast<int>(std::size(OctaveBreakpoints));
    for (int i = 1; i < count; ++i) {
        const Breakpoint& lo = OctaveBreakpoints[i - 1];
        const Breakpoint& hi = OctaveBreakpoints[i];
        const double from = std::log(BreakpointOmega(b, std::pow(G, lo.p)));
        const double to = std::log(BreakpointOmega(b, std::pow(G, hi.p)));
        if (distance <= to) {
            const double t = (distance - from) / (to - from);
            const double lower = hi.lowerDb == NoLimit ? (t == 0.0 ? lo.lowerDb : NoLimit)
                                                       : lo.lowerDb + t * (hi.lowerDb - lo.lowerDb);
            return {lower, lo.upperDb + t * (hi.upperDb - lo.upperDb)};
        }
    }
    return {NoLimit, OctaveBreakpoints[count - 1].upperDb};
}

// ---- The bands -----------------------------------------------------------------

// The standard's nominal midbands: 1/3 octave from 25 Hz to 20 kHz, the
// octaves every third of them (31.5 Hz .. 16 kHz).
TEST(OctaveBands, NominalMidbandsAreTheStandardsTable)
{
    const std::vector<double> thirds = {25,   31.5, 40,   50,   63,   80,   100,   125,   160,   200,
                                        250,  315,  400,  500,  630,  800,  1000,  1250,  1600,  2000,
                                        2500, 3150, 4000, 5000, 6300, 8000, 10000, 12500, 16000, 20000};
    std::vector<double> nominal;
    for (const auto& band : measure::OctaveBands(3))
        nominal.push_back(band.nominalHz);
    EXPECT_EQ(nominal, thirds);

    const std::vector<double> octaves = {31.5, 63, 125, 250, 500, 1000, 2000, 4000, 8000, 16000};
    nominal.clear();
    for (const auto& band : measure::OctaveBands(1))
        nominal.push_back(band.nominalHz);
    EXPECT_EQ(nominal, octaves);

    EXPECT_EQ(measure::NominalText(31.5), "31.5");
    EXPECT_EQ(measure::NominalText(1000), "1k");
    EXPECT_EQ(measure::NominalText(12500), "12.5k");
    EXPECT_EQ(measure::NominalText(20000), "20k");
    EXPECT_EQ(measure::NominalText(250), "250");
}

// Exact midbands and edges: 1 kHz has 891.25 .. 1122.02 Hz in 1/3 octave;
// 31.5 Hz is 10^1.5; the even fractions sit half a band off 1 kHz, and
// their labels are the exact midband to three figures; each band meets the
// next at its edge, from 20 Hz on to at most 20 kHz.
TEST(OctaveBands, MidbandsAndEdgesFollowTheBaseTenSystem)
{
    const auto thirds = measure::OctaveBands(3);
    EXPECT_NEAR(thirds[16].centreHz, 1000.0, 1e-9);
    EXPECT_NEAR(thirds[16].lowerHz, 891.251, 1e-3);
    EXPECT_NEAR(thirds[16].upperHz, 1122.018, 1e-3);
    EXPECT_NEAR(thirds[2].centreHz, std::pow(10.0, 1.6), 1e-9);
    EXPECT_NEAR(thirds.back().centreHz, 19952.623, 1e-3);

    for (int b : measure::BandFractions) {
        const auto bands = measure::OctaveBands(b);
        ASSERT_FALSE(bands.empty());
        EXPECT_GE(bands.front().lowerHz, 20.0);
        EXPECT_LT(bands.front().lowerHz / std::pow(G, 1.0 / b), 20.0) << "1/" << b << ": a band is missing below";
        EXPECT_LE(bands.back().centreHz, 20000.0);
        EXPECT_GT(bands.back().centreHz * std::pow(G, 1.0 / b), 20000.0) << "1/" << b << ": a band is missing above";
        for (std::size_t i = 1; i < bands.size(); ++i) {
            EXPECT_NEAR(bands[i].lowerHz, bands[i - 1].upperHz, 1e-9 * bands[i].lowerHz);
            EXPECT_NEAR(bands[i].centreHz / bands[i - 1].centreHz, std::pow(G, 1.0 / b), 1e-12);
        }
        if (b % 2 == 0) {
            // 1 kHz is a band edge.
            const auto edge = std::find_if(bands.begin(), bands.end(), [](auto& x) { return x.centreHz > 1000.0; });
            EXPECT_NEAR(edge->lowerHz, 1000.0, 1e-9);
            for (const auto& band : bands) {
                const double digits = std::pow(10.0, std::floor(std::log10(band.centreHz)) - 2);
                EXPECT_NEAR(band.nominalHz, std::round(band.centreHz / digits) * digits, 1e-9);
            }
        }
    }
    EXPECT_TRUE(measure::OctaveBands(0).empty());
}

// The class 1 mask breakpoints for 1/3 octave, as IEC 61260-1 tabulates them, come out of the formula.
TEST(OctaveBandLimits, ThirdOctaveBreakpointsAreTheStandardsOnes)
{
    const double expected[] = {1.02667, 1.05575, 1.08746, 1.12202, 1.29437, 1.88173, 3.05365, 5.39195};
    for (int i = 1; i < static_cast<int>(std::size(OctaveBreakpoints)); ++i)
        EXPECT_NEAR(BreakpointOmega(3, std::pow(G, OctaveBreakpoints[i].p)), expected[i - 1], 5e-5);
}

// ---- Steady sines through a bank ------------------------------------------------

// A sine of `hz` at `amplitude`, faded in over 0.1 s, run through `bank` for
// `settleSeconds`, then for `measureSeconds`: the band powers of that last part.
std::vector<double> SinePowers(OctaveFilterBank& bank, double hz, double amplitude, double settleSeconds,
                               double measureSeconds)
{
    bank.Reset();
    const long settle = std::lround(settleSeconds * Rate);
    const long total = settle + std::lround(measureSeconds * Rate);
    const long fade = std::lround(0.1 * Rate);
    const std::complex<double> step = std::polar(1.0, 2.0 * std::numbers::pi * hz / Rate);
    std::complex<double> phasor(0.0, -1.0); // starts as a sine
    std::vector<float> chunk(4096);
    for (long done = 0; done < total;) {
        const long end = std::min({total, done + static_cast<long>(chunk.size()), done < settle ? settle : total});
        for (long n = done; n < end; ++n) {
            const double ramp = n < fade ? 0.5 - 0.5 * std::cos(std::numbers::pi * n / fade) : 1.0;
            chunk[n - done] = static_cast<float>(amplitude * ramp * phasor.real());
            phasor *= step;
        }
        phasor /= std::abs(phasor);
        bank.Process(chunk.data(), static_cast<int>(end - done));
        done = end;
        if (done == settle)
            bank.TakePowers();
    }
    return bank.TakePowers();
}

// Long enough for the signal to have come through the rate changes (their
// delay is a few periods of the midband) and for the band's slowest pole (a
// decay rate of a quarter of its bandwidth in radians) to have settled.
double SettleSeconds(const OctaveBand& band)
{
    const double decay = 0.25 * 2.0 * std::numbers::pi * (band.upperHz - band.lowerHz);
    return 0.1 + 6.0 / band.centreHz + 7.0 / decay;
}
// At least 20 periods of the tone, so the part period at the end is noise.
double MeasureSeconds(double hz)
{
    return std::max(0.2, 20.0 / hz);
}

// The frequencies a band's response is checked at: 40 spread evenly on a
// log axis from 4 1/2 octave-filter steps below the midband to as far above
// (stopping short of the Nyquist frequency and of 2 Hz), and every breakpoint
// of the mask in that range.
std::vector<double> ProbeFrequencies(int b, const OctaveBand& band)
{
    const double reach = BreakpointOmega(b, std::pow(G, 4.5));
    const double lowest = std::max(2.0, band.centreHz / reach);
    const double highest = std::min(21000.0, band.centreHz * reach);
    std::vector<double> probes;
    constexpr int spread = 40;
    for (int i = 0; i < spread; ++i)
        probes.push_back(lowest * std::pow(highest / lowest, i / (spread - 1.0)));
    for (const Breakpoint& point : OctaveBreakpoints) {
        const double omega = BreakpointOmega(b, std::pow(G, point.p));
        for (double hz : {band.centreHz * omega, band.centreHz / omega})
            if (hz >= lowest && hz <= highest)
                probes.push_back(hz);
    }
    return probes;
}

struct Violation {
    double hz;
    double gainDb;
    Limits limits;
};

// Measures one band (a bank of that band alone, as the whole bank has it)
// at its probe frequencies; returns where its gain relative to the midband
// lies outside the class 1 limits, and the number of probes.
std::vector<Violation> CheckBand(int b, int index, int& probed)
{
    OctaveFilterBank bank(b, index, 1);
    const OctaveBand band = bank.Bands().at(0);
    const double settle = SettleSeconds(band);
    const double midband = SinePowers(bank, band.centreHz, 1000.0, settle, MeasureSeconds(band.centreHz))[0];
    std::vector<Violation> violations;
    const auto probes = ProbeFrequencies(b, band);
    probed = static_cast<int>(probes.size());
    for (double hz : probes) {
        const double power = SinePowers(bank, hz, 1000.0, settle, MeasureSeconds(hz))[0];
        const double gainDb = 10.0 * std::log10(std::max(power, 1e-300) / midband);
        const Limits limits = ClassOneLimits(b, hz / band.centreHz);
        if (gainDb < limits.lowerDb || gainDb > limits.upperDb)
            violations.push_back({hz, gainDb, limits});
    }
    return violations;
}

void ExpectClassOne(int b, const std::vector<int>& indices)
{
    const auto bands = measure::OctaveBands(b);
    for (int index : indices) {
        int probed = 0;
        const auto violations = CheckBand(b, index, probed);
        EXPECT_GE(probed, 40);
        for (const auto& v : violations)
            ADD_FAILURE() << "1/" << b << " octave band " << bands[index].nominalHz << " Hz at " << v.hz
                          << " Hz: " << v.gainDb << " dB, class 1 allows " << v.limits.lowerDb << " .. "
                          << v.limits.upperDb << " dB";
    }
}

// The sanitizer builds run many times slower: there every third band of
// the 1/1 and 1/3 octave ranges is checked, and 4 bands of the narrower
// fractions, the lowest and the highest always among them. The plain build
// checks them all.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr int RangeStep = 3;
constexpr int SpreadBands = 4;
#else
constexpr int RangeStep = 1;
constexpr int SpreadBands = 20;
#endif

// Indices of the bands whose midbands lie from 25 Hz to 16 kHz.
std::vector<int> BandsFrom25HzTo16kHz(int b)
{
    std::vector<int> indices;
    const auto bands = measure::OctaveBands(b);
    for (int i = 0; i < static_cast<int>(bands.size()); ++i)
        if (bands[i].nominalHz >= 25.0 && bands[i].nominalHz <= 16000.0)
            indices.push_back(i);
    std::vector<int> checked;
    for (std::size_t i = 0; i < indices.size(); ++i)
        if (i % RangeStep == 0 || i + 1 == indices.size())
            checked.push_back(indices[i]);
    return checked;
}

// Bands spread evenly over the range, the lowest and the highest among them.
std::vector<int> BandsSpread(int b)
{
    const int count = static_cast<int>(measure::OctaveBands(b).size());
    std::vector<int> indices;
    for (int i = 0; i < SpreadBands; ++i)
        indices.push_back(static_cast<int>(std::lround(i * (count - 1) / (SpreadBands - 1.0))));
    return indices;
}

TEST(OctaveFilterBank, OctaveBandsMeetClassOneFrom31HzTo16kHz)
{
    ExpectClassOne(1, BandsFrom25HzTo16kHz(1));
}

TEST(OctaveFilterBank, ThirdOctaveBandsMeetClassOneFrom25HzTo16kHz)
{
    ExpectClassOne(3, BandsFrom25HzTo16kHz(3));
}

TEST(OctaveFilterBank, SixthOctaveBandsMeetClassOne)
{
    ExpectClassOne(6, BandsSpread(6));
}

TEST(OctaveFilterBank, TwelfthOctaveBandsMeetClassOne)
{
    ExpectClassOne(12, BandsSpread(12));
}

TEST(OctaveFilterBank, TwentyFourthOctaveBandsMeetClassOne)
{
    ExpectClassOne(24, BandsSpread(24));
}

// A full-scale sine at each 1/3-octave midband reads 0 dBFS in its band
// (within 0.1 dB) and less in every other band.
TEST(OctaveFilterBank, FullScaleSineAtAThirdOctaveMidbandReadsZeroDbfs)
{
    OctaveFilterBank bank(3);
    const auto& bands = bank.Bands();
    for (std::size_t i = 0; i < bands.size(); ++i) {
        const double hz = bands[i].centreHz;
        const auto powers = SinePowers(bank, hz, measure::FullScale, SettleSeconds(bands[0]), 1.0);
        EXPECT_NEAR(measure::PowerToDbfs(powers[i]), 0.0, 0.1) << bands[i].nominalHz << " Hz";
        EXPECT_EQ(std::max_element(powers.begin(), powers.end()) - powers.begin(), static_cast<long>(i));
    }
}

// Noise from 25 Hz to 16 kHz made of sines 5 Hz apart with random phases:
// it repeats every 0.2 s and its power is exactly the sum of the sines'
// powers. Amplitude falls as 1/sqrt(f) when `pink`.
struct SineNoise {
    std::vector<float> period;
    double power = 0.0;
};
SineNoise BandLimitedNoise(bool pink)
{
    constexpr int length = 8820; // 0.2 s
    std::vector<double> sum(length, 0.0);
    std::mt19937 random(pink ? 11 : 7);
    std::uniform_real_distribution<double> phase(0.0, 2.0 * std::numbers::pi);
    SineNoise noise;
    for (int k = 5; k <= 3200; ++k) { // 25 Hz .. 16 kHz
        const double amplitude = pink ? 200.0 * std::sqrt(1000.0 / (5.0 * k)) : 60.0;
        noise.power += amplitude * amplitude / 2.0;
        const std::complex<double> step = std::polar(1.0, 2.0 * std::numbers::pi * k / length);
        std::complex<double> phasor = std::polar(amplitude, phase(random));
        for (int n = 0; n < length; ++n) {
            sum[n] += phasor.real();
            phasor *= step;
        }
    }
    noise.period.assign(sum.begin(), sum.end());
    return noise;
}

// Summed over all bands, the powers of band-limited noise (white and pink)
// equal the noise's own power within 0.3 dB, in every fraction.
TEST(OctaveFilterBank, BandPowersAddUpToTheNoisePower)
{
    for (bool pink : {false, true}) {
        const SineNoise noise = BandLimitedNoise(pink);
        for (int b : measure::BandFractions) {
            OctaveFilterBank bank(b);
            const int settlePeriods = b >= 12 ? 25 : 10; // the narrowest bands settle slowest
            for (int i = 0; i < settlePeriods; ++i)
                bank.Process(noise.period.data(), static_cast<int>(noise.period.size()));
            bank.TakePowers();
            for (int i = 0; i < 10; ++i)
                bank.Process(noise.period.data(), static_cast<int>(noise.period.size()));
            double total = 0.0;
            for (double power : bank.TakePowers())
                total += power;
            EXPECT_NEAR(10.0 * std::log10(total / noise.power), 0.0, 0.3) << "1/" << b << (pink ? " pink" : " white");
        }
    }
}

// Reset forgets the signal: silence afterwards reads silence; a bank of
// some bands reads those bands as the whole bank does.
TEST(OctaveFilterBank, ResetForgetsAndPartsReadAsTheWhole)
{
    OctaveFilterBank whole(3);
    OctaveFilterBank part(3, 16, 3); // 1 kHz and the two above
    ASSERT_EQ(part.Bands().size(), 3u);
    EXPECT_EQ(part.Bands()[0].nominalHz, 1000.0);
    const auto full = SinePowers(whole, 1300.0, 1000.0, 0.3, 0.5);
    const auto some = SinePowers(part, 1300.0, 1000.0, 0.3, 0.5);
    for (int i = 0; i < 3; ++i)
        EXPECT_NEAR(some[i], full[16 + i], 1e-9 * full[17]);

    whole.Reset();
    const std::vector<float> silence(4410, 0.0f);
    whole.Process(silence.data(), static_cast<int>(silence.size()));
    for (double power : whole.TakePowers())
        EXPECT_LT(power, 1e-20);
    EXPECT_TRUE(OctaveFilterBank(3, 100, 5).Bands().empty());
}

} // namespace
