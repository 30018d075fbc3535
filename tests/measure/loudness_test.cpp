// The loudness meter on the test signals of EBU Tech 3341 (loudness) and
// Tech 3342 (loudness range), synthesised from their published description:
// stereo 1 kHz sines in segments of given level and duration, the levels
// sine peak levels (-23 dBFS is the peak amplitude 10^(-23/20) of full
// scale; such a sine reads -23 LUFS). And the true peak of a sine whose
// samples miss its crests.
#include "measure/levelmeter.h"
#include "measure/loudness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <optional>
#include <vector>

namespace {
using measure::LoudnessMeter;

struct Segment {
    double dbfs, seconds;
};

// Plays the segments as one continuous 1 kHz sine on both channels, in
// calls of `call` frames; returns the momentary and short-term loudness at
// the end of each segment.
std::vector<std::pair<std::optional<double>, std::optional<double>>>
Play(LoudnessMeter& meter, const std::vector<Segment>& segments, std::size_t call = 4410)
{
    std::vector<std::pair<std::optional<double>, std::optional<double>>> atEnds;
    std::vector<int16_t> frames;
    std::size_t n = 0;
    for (const Segment& segment : segments) {
        const double amplitude = 32767.0 * std::pow(10.0, segment.dbfs / 20.0);
        frames.clear();
        for (auto end = n + std::llround(segment.seconds * 44100.0); n < end; ++n) {
            const auto v = static_cast<int16_t>(std::lround(amplitude * std::sin(2.0 * std::numbers::pi * n / 44.1)));
            frames.insert(frames.end(), {v, v});
        }
        for (std::size_t start = 0; start < frames.size() / 2; start += call)
            meter.Process(frames.data() + 2 * start, std::min(call, frames.size() / 2 - start));
        atEnds.emplace_back(meter.Levels().momentaryLufs, meter.Levels().shortTermLufs);
    }
    return atEnds;
}

// Cases 1 to 5: the integrated loudness within 0.1 LU, and at the end of
// every segment the momentary and short-term loudness at its level within
// 0.1 LU, their maxima at the loudest.
TEST(Loudness, Tech3341Cases1To5)
{
    const std::pair<std::vector<Segment>, double> cases[] = {
        {{{-23, 20}}, -23.0},
        {{{-33, 20}}, -33.0},
        {{{-36, 10}, {-23, 60}, {-36, 10}}, -23.0},
        {{{-72, 10}, {-36, 10}, {-23, 60}, {-36, 10}, {-72, 10}}, -23.0},
        {{{-26, 20}, {-20, 20.1}, {-26, 20}}, -23.0},
    };
    for (const auto& [segments, integrated] : cases) {
        LoudnessMeter meter;
        const auto atEnds = Play(meter, segments);
        const auto levels = meter.Levels();
        ASSERT_TRUE(levels.integratedLufs && levels.momentaryMaxLufs && levels.shortTermMaxLufs);
        EXPECT_NEAR(*levels.integratedLufs, integrated, 0.1) << segments.size() << " segments";
        for (std::size_t i = 0; i < segments.size(); ++i) {
            ASSERT_TRUE(atEnds[i].first && atEnds[i].second);
            EXPECT_NEAR(*atEnds[i].first, segments[i].dbfs, 0.1) << i;
            EXPECT_NEAR(*atEnds[i].second, segments[i].dbfs, 0.1) << i;
        }
        const double loudest = std::max_element(segments.begin(), segments.end(), [](auto a, auto b) {
                                   return a.dbfs < b.dbfs;
                               })->dbfs;
        EXPECT_NEAR(*levels.momentaryMaxLufs, loudest, 0.1);
        EXPECT_NEAR(*levels.shortTermMaxLufs, loudest, 0.1);
    }
}

// Cases 1 to 4: the loudness range within 1 LU.
TEST(Loudness, Tech3342Cases1To4)
{
    const std::pair<std::vector<Segment>, double> cases[] = {
        {{{-20, 20}, {-30, 20}}, 10.0},
        {{{-20, 20}, {-15, 20}}, 5.0},
        {{{-40, 20}, {-20, 20}}, 20.0},
        {{{-50, 20}, {-35, 20}, {-20, 20}, {-35, 20}, {-50, 20}}, 15.0},
    };
    for (const auto& [segments, range] : cases) {
        LoudnessMeter meter;
        Play(meter, segments);
        ASSERT_TRUE(meter.Levels().loudnessRangeLu);
        EXPECT_NEAR(*meter.Levels().loudnessRangeLu, range, 1.0) << range;
    }
}

// A sine at a quarter of the sample rate sampled 45 degrees off its crests:
// every sample is at 1/sqrt(2) of the amplitude. The true peak (4x
// oversampled) finds the crests, within -0.4/+0.2 dB.
TEST(Loudness, TruePeakFindsTheCrestsBetweenSamples)
{
    const double amplitude = 32767.0 * std::pow(10.0, -1.0 / 20.0);
    std::vector<int16_t> samples;
    for (std::size_t i = 0; i < 44100; ++i) {
        // The first 100 ms fade in: an abrupt start would overshoot.
        const double fade = std::min(1.0, 0.5 - 0.5 * std::cos(std::numbers::pi * static_cast<double>(i) / 4410.0));
        const double value = fade * amplitude *
                             std::sin(std::numbers::pi / 2.0 * static_cast<double>(i) + std::numbers::pi / 4.0);
        samples.insert(samples.end(),
                       {static_cast<int16_t>(std::lround(value)), static_cast<int16_t>(std::lround(value / 2.0))});
    }
    LoudnessMeter meter;
    measure::ChannelLevelMeter left;
    for (std::size_t start = 0; start < 44100; start += 4410) {
        meter.Process(samples.data() + 2 * start, 4410);
        left.Process(samples.data() + 2 * start, 4410, 2);
    }
    const auto levels = meter.Levels();
    ASSERT_TRUE(levels.truePeakDbtp[0] && levels.truePeakDbtp[1] && levels.truePeakMaxDbtp &&
                levels.truePeakNowDbtp[0]);
    EXPECT_LE(*levels.truePeakMaxDbtp, -1.0 + 0.2);
    EXPECT_GE(*levels.truePeakMaxDbtp, -1.0 - 0.4);
    EXPECT_NEAR(*levels.truePeakDbtp[1], *levels.truePeakDbtp[0] - 6.02, 0.01); // the right channel, 6 dB lower
    EXPECT_NEAR(*levels.truePeakNowDbtp[0], *levels.truePeakDbtp[0], 0.05);
    EXPECT_NEAR(left.Levels().samplePeakMaxDb, -1.0 - 3.01, 0.01);
}

// Silence has no loudness and no peak; momentary needs 400 ms, short-term
// 3 s; a reset starts integrated, range, true peak and the maxima again
// (these from the readings of the moment) while momentary and short-term
// go on; calls of any size read the same.
TEST(Loudness, NothingBeforeItsTimeAndWhatAResetStarts)
{
    LoudnessMeter meter;
    Play(meter, {{-300, 1.0}});
    auto levels = meter.Levels();
    EXPECT_FALSE(levels.integratedLufs || levels.momentaryLufs || levels.momentaryMaxLufs || levels.loudnessRangeLu ||
                 levels.truePeakMaxDbtp);

    LoudnessMeter fresh;
    const auto atEnds = Play(fresh, {{-20, 0.3}, {-20, 0.2}, {-20, 2.5}}, 1000);
    EXPECT_FALSE(atEnds[0].first || atEnds[0].second);
    ASSERT_TRUE(atEnds[1].first && atEnds[2].second);
    EXPECT_FALSE(atEnds[1].second);
    EXPECT_NEAR(*atEnds[1].first, -20.0, 0.1);
    EXPECT_NEAR(*atEnds[2].second, -20.0, 0.1);

    fresh.Reset();
    levels = fresh.Levels();
    EXPECT_FALSE(levels.integratedLufs || levels.loudnessRangeLu || levels.truePeakMaxDbtp);
    ASSERT_TRUE(levels.momentaryLufs && levels.shortTermLufs && levels.momentaryMaxLufs);
    EXPECT_NEAR(*levels.momentaryLufs, -20.0, 0.1);
    EXPECT_EQ(*levels.momentaryMaxLufs, *levels.momentaryLufs);
    Play(fresh, {{-30, 2.0}}, 1);
    EXPECT_FALSE(fresh.Levels().loudnessRangeLu); // 3 s after the reset
    Play(fresh, {{-30, 3.0}}, 10000);
    levels = fresh.Levels();
    ASSERT_TRUE(levels.integratedLufs && levels.shortTermLufs && levels.truePeakMaxDbtp);
    EXPECT_NEAR(*levels.integratedLufs, -30.0, 0.1); // nothing of the -20 dBFS before
    EXPECT_NEAR(*levels.shortTermLufs, -30.0, 0.1);
    EXPECT_NEAR(*levels.truePeakMaxDbtp, -30.0, 0.1);
    EXPECT_NEAR(*levels.momentaryMaxLufs, -20.0, 0.1); // held from the moment of the reset
}

} // namespace
