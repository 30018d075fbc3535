// The loudness meter on the test signals of EBU Tech 3341 (loudness) and
// Tech 3342 (loudness range), synthesised here from their published
// description: stereo 1 kHz sines whose levels are sine peak levels in dBFS
// (a -23 dBFS sine has the peak amplitude 10^(-23/20) of full scale; a
// stereo 1 kHz sine reads its peak level in LUFS), in segments of the given
// durations. And the true peak of a sine whose samples miss its crests.
#include "measure/levelmeter.h"
#include "measure/loudness.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <numbers>
#include <optional>
#include <vector>

namespace {
using measure::LoudnessMeter;

constexpr std::size_t Block = 4410; // a captured block, 100 ms
// 1 kHz at 44.1 kHz repeats every 441 samples.
constexpr std::size_t Period = 441;

struct Segment {
    double dbfs;
    double seconds;
};

// What the meter read at the end of one segment, and at the very end.
struct Readings {
    std::vector<std::optional<double>> momentaryAtEnd, shortTermAtEnd;
    measure::LoudnessLevels last;
};

// Plays the segments, one continuous 1 kHz sine on both channels, into
// `meter` in captured blocks. The durations are whole blocks.
Readings Play(LoudnessMeter& meter, const std::vector<Segment>& segments)
{
    double unitSine[Period];
    for (std::size_t i = 0; i < Period; ++i)
        unitSine[i] = std::sin(2.0 * std::numbers::pi * static_cast<double>(i) / Period * 10.0);
    Readings readings;
    std::vector<int16_t> block(2 * Block);
    std::size_t n = 0;
    for (const Segment& segment : segments) {
        const double amplitude = 32767.0 * std::pow(10.0, segment.dbfs / 20.0);
        const auto blocks = std::llround(segment.seconds * 10.0);
        for (long long b = 0; b < blocks; ++b) {
            for (std::size_t i = 0; i < Block; ++i, ++n)
                block[2 * i] = block[2 * i + 1] = static_cast<int16_t>(std::lround(amplitude * unitSine[n % Period]));
            meter.Process(block.data(), Block);
        }
        const auto levels = meter.Levels();
        readings.momentaryAtEnd.push_back(levels.momentaryLufs);
        readings.shortTermAtEnd.push_back(levels.shortTermLufs);
    }
    readings.last = meter.Levels();
    return readings;
}

struct LoudnessCase {
    const char* name;
    std::vector<Segment> segments;
    double integratedLufs;
};

// Tech 3341, cases 1 to 5: the integrated loudness within 0.1 LU, and at the
// end of every segment the momentary and (where the segment lasts 3 s) the
// short-term loudness at its level within 0.1 LU.
TEST(Loudness, Tech3341Cases1To5)
{
    const LoudnessCase cases[] = {
        {"case 1", {{-23, 20}}, -23.0},
        {"case 2", {{-33, 20}}, -33.0},
        {"case 3", {{-36, 10}, {-23, 60}, {-36, 10}}, -23.0},
        {"case 4", {{-72, 10}, {-36, 10}, {-23, 60}, {-36, 10}, {-72, 10}}, -23.0},
        {"case 5", {{-26, 20}, {-20, 20.1}, {-26, 20}}, -23.0},
    };
    for (const LoudnessCase& c : cases) {
        LoudnessMeter meter;
        const Readings readings = Play(meter, c.segments);
        ASSERT_TRUE(readings.last.integratedLufs) << c.name;
        EXPECT_NEAR(*readings.last.integratedLufs, c.integratedLufs, 0.1) << c.name;
        double loudest = -1000.0;
        for (std::size_t i = 0; i < c.segments.size(); ++i) {
            const double level = c.segments[i].dbfs;
            loudest = std::max(loudest, level);
            ASSERT_TRUE(readings.momentaryAtEnd[i]) << c.name << " segment " << i;
            EXPECT_NEAR(*readings.momentaryAtEnd[i], level, 0.1) << c.name << " segment " << i;
            ASSERT_TRUE(readings.shortTermAtEnd[i]) << c.name << " segment " << i;
            EXPECT_NEAR(*readings.shortTermAtEnd[i], level, 0.1) << c.name << " segment " << i;
        }
        // The maxima are those of the loudest segment.
        ASSERT_TRUE(readings.last.momentaryMaxLufs && readings.last.shortTermMaxLufs) << c.name;
        EXPECT_NEAR(*readings.last.momentaryMaxLufs, loudest, 0.1) << c.name;
        EXPECT_NEAR(*readings.last.shortTermMaxLufs, loudest, 0.1) << c.name;
    }
}

// Tech 3342, cases 1 to 4: the loudness range within 1 LU.
TEST(Loudness, Tech3342Cases1To4)
{
    struct RangeCase {
        const char* name;
        std::vector<Segment> segments;
        double rangeLu;
    };
    const RangeCase cases[] = {
        {"case 1", {{-20, 20}, {-30, 20}}, 10.0},
        {"case 2", {{-20, 20}, {-15, 20}}, 5.0},
        {"case 3", {{-40, 20}, {-20, 20}}, 20.0},
        {"case 4", {{-50, 20}, {-35, 20}, {-20, 20}, {-35, 20}, {-50, 20}}, 15.0},
    };
    for (const RangeCase& c : cases) {
        LoudnessMeter meter;
        const Readings readings = Play(meter, c.segments);
        ASSERT_TRUE(readings.last.loudnessRangeLu) << c.name;
        EXPECT_NEAR(*readings.last.loudnessRangeLu, c.rangeLu, 1.0) << c.name;
    }
}

// A sine at a quarter of the sample rate whose samples fall 45 degrees off
// its crests: every sample is at 1/sqrt(2) of the amplitude, 3 dB below it.
// The true peak (4x oversampled) finds the crests; the sample peak cannot.
TEST(Loudness, TruePeakFindsTheCrestsBetweenSamples)
{
    const double amplitudeDb = -1.0;
    const double amplitude = 32767.0 * std::pow(10.0, amplitudeDb / 20.0);
    // One second, continuous; the first 100 ms fade in, since an abrupt
    // start would make the band-limited signal overshoot at the onset.
    const std::size_t frames = 10 * Block;
    std::vector<int16_t> samples(2 * frames);
    for (std::size_t i = 0; i < frames; ++i) {
        const double phase = std::numbers::pi / 2.0 * static_cast<double>(i) + std::numbers::pi / 4.0;
        const double fade = i < Block ? 0.5 - 0.5 * std::cos(std::numbers::pi * static_cast<double>(i) / Block) : 1.0;
        samples[2 * i] = static_cast<int16_t>(std::lround(fade * amplitude * std::sin(phase)));
        samples[2 * i + 1] = static_cast<int16_t>(std::lround(fade * 0.5 * amplitude * std::sin(phase))); // 6 dB lower
    }
    LoudnessMeter meter;
    measure::ChannelLevelMeter left;
    for (std::size_t start = 0; start < frames; start += Block) {
        meter.Process(samples.data() + 2 * start, Block);
        left.Process(samples.data() + 2 * start, Block, 2);
    }
    const auto levels = meter.Levels();
    ASSERT_TRUE(levels.truePeakDbtp[0] && levels.truePeakDbtp[1] && levels.truePeakMaxDbtp);
    ASSERT_TRUE(levels.truePeakNowDbtp[0] && levels.truePeakNowDbtp[1]);
    EXPECT_GE(*levels.truePeakDbtp[0], amplitudeDb - 0.4);
    EXPECT_LE(*levels.truePeakDbtp[0], amplitudeDb + 0.2);
    EXPECT_GE(*levels.truePeakDbtp[1], amplitudeDb - 6.02 - 0.4);
    EXPECT_LE(*levels.truePeakDbtp[1], amplitudeDb - 6.02 + 0.2);
    EXPECT_NEAR(*levels.truePeakNowDbtp[0], *levels.truePeakDbtp[0], 0.05);
    EXPECT_EQ(*levels.truePeakMaxDbtp, *levels.truePeakDbtp[0]);
    EXPECT_NEAR(left.Levels().samplePeakMaxDb, amplitudeDb - 3.01, 0.01);
}

// Silence has no loudness and no peak; the momentary loudness needs 400 ms
// and the short-term 3 s.
TEST(Loudness, NothingBeforeItsTime)
{
    LoudnessMeter silent;
    Play(silent, {{-200, 1.0}}); // rounds to zero samples
    auto levels = silent.Levels();
    EXPECT_FALSE(levels.integratedLufs);
    EXPECT_FALSE(levels.momentaryLufs);
    EXPECT_FALSE(levels.momentaryMaxLufs);
    EXPECT_FALSE(levels.loudnessRangeLu);
    EXPECT_FALSE(levels.truePeakMaxDbtp);
    EXPECT_FALSE(levels.truePeakNowDbtp[0]);

    LoudnessMeter meter;
    Play(meter, {{-20, 0.3}});
    levels = meter.Levels();
    EXPECT_FALSE(levels.momentaryLufs);
    EXPECT_FALSE(levels.shortTermLufs);
    Play(meter, {{-20, 0.2}});
    levels = meter.Levels();
    ASSERT_TRUE(levels.momentaryLufs);
    EXPECT_NEAR(*levels.momentaryLufs, -20.0, 0.1);
    EXPECT_FALSE(levels.shortTermLufs);
    EXPECT_FALSE(levels.loudnessRangeLu);
    Play(meter, {{-20, 2.5}});
    ASSERT_TRUE(meter.Levels().shortTermLufs);
    EXPECT_NEAR(*meter.Levels().shortTermLufs, -20.0, 0.1);
}

// A reset starts the integrated loudness, the range, the true peak and the
// maxima again, the maxima from the readings of the moment; momentary and
// short-term loudness carry on.
TEST(Loudness, AResetStartsTheIntegratedLoudnessAndTheMaximaAgain)
{
    LoudnessMeter meter;
    Play(meter, {{-20, 5.0}});
    meter.Reset();
    auto levels = meter.Levels();
    EXPECT_FALSE(levels.integratedLufs);
    EXPECT_FALSE(levels.loudnessRangeLu);
    EXPECT_FALSE(levels.truePeakMaxDbtp);
    ASSERT_TRUE(levels.momentaryLufs && levels.shortTermLufs && levels.momentaryMaxLufs);
    EXPECT_NEAR(*levels.momentaryLufs, -20.0, 0.1);
    EXPECT_NEAR(*levels.shortTermLufs, -20.0, 0.1);
    EXPECT_EQ(*levels.momentaryMaxLufs, *levels.momentaryLufs);

    Play(meter, {{-30, 2.0}});
    EXPECT_FALSE(meter.Levels().loudnessRangeLu); // 3 s after the reset
    Play(meter, {{-30, 3.0}});
    levels = meter.Levels();
    ASSERT_TRUE(levels.integratedLufs && levels.momentaryLufs && levels.truePeakMaxDbtp);
    EXPECT_NEAR(*levels.integratedLufs, -30.0, 0.1); // nothing of the -20 dBFS before
    EXPECT_NEAR(*levels.momentaryLufs, -30.0, 0.1);
    EXPECT_NEAR(*levels.truePeakMaxDbtp, -30.0, 0.1);
    EXPECT_NEAR(*levels.momentaryMaxLufs, -20.0, 0.1); // held from the moment of the reset
}

// The readings do not depend on how the frames are split into calls.
TEST(Loudness, CallsOfAnySizeReadTheSame)
{
    const double amplitude = 32767.0 * std::pow(10.0, -20.0 / 20.0);
    std::vector<int16_t> samples(2 * 4 * 44100);
    for (std::size_t i = 0; i < samples.size() / 2; ++i)
        samples[2 * i] = samples[2 * i + 1] = static_cast<int16_t>(
            std::lround(amplitude * std::sin(2.0 * std::numbers::pi * 1000.0 * static_cast<double>(i) / 44100.0)));
    for (std::size_t call : {1u, 1000u, 4410u, 10000u}) {
        LoudnessMeter meter;
        for (std::size_t start = 0; start < samples.size() / 2; start += call)
            meter.Process(samples.data() + 2 * start, std::min(call, samples.size() / 2 - start));
        const auto levels = meter.Levels();
        ASSERT_TRUE(levels.momentaryLufs && levels.shortTermLufs && levels.integratedLufs) << call;
        EXPECT_NEAR(*levels.momentaryLufs, -20.0, 0.1) << call;
        EXPECT_NEAR(*levels.shortTermLufs, -20.0, 0.1) << call;
        EXPECT_NEAR(*levels.integratedLufs, -20.0, 0.1) << call;
    }
}

} // namespace
