// The generator window's numbers: the frequency scale of its track bars in
// both directions, typed and pasted frequencies, the edit and volume texts.
#include "generator/FreqScale.h"

#include <gtest/gtest.h>

using namespace gen;

namespace {

TEST(FreqScale, TrackBarPositionsGiveTheirFrequencies)
{
    for (int p = 1; p <= 6; ++p)
        EXPECT_EQ(FrequencyOfPosition(p), 0) << "position " << p;
    const std::pair<int, int32_t> table[] = {{7, 10},     {9, 20},      {14, 50},    {20, 100},
                                             {100, 2640}, {274, 19850}, {275, 20000}};
    for (const auto& [position, hertz] : table)
        EXPECT_EQ(FrequencyOfPosition(position), hertz) << "position " << position;
    for (int p = 2; p <= 275; ++p) {
        ASSERT_GE(FrequencyOfPosition(p), FrequencyOfPosition(p - 1)) << "position " << p;
        ASSERT_EQ(FrequencyOfPosition(p) % 10, 0) << "position " << p;
    }
}

TEST(FreqScale, FrequenciesGiveTheirPositionsAndClampBeyondTheEnd)
{
    EXPECT_EQ(PositionOfFrequency(0).position, 1) << "0 Hz sits at the minimum";
    EXPECT_EQ(PositionOfFrequency(20).position, 9);
    EXPECT_EQ(PositionOfFrequency(50).position, 14);
    EXPECT_EQ(PositionOfFrequency(1000).position, 61);
    for (const double hertz : {20000.0, 20050.0, 20075.0}) {
        EXPECT_EQ(PositionOfFrequency(hertz).position, 275) << hertz;
        EXPECT_FALSE(PositionOfFrequency(hertz).clamped) << hertz;
    }
    for (const double hertz : {20076.0, 25000.0, 2147483647.0}) {
        EXPECT_EQ(PositionOfFrequency(hertz).position, 275) << hertz;
        EXPECT_TRUE(PositionOfFrequency(hertz).clamped) << hertz;
    }
    // Above the first steps, every position's own frequency leads back to (about) it.
    for (int p = 20; p <= 275; ++p)
        ASSERT_NEAR(PositionOfFrequency(FrequencyOfPosition(p)).position, p, 1) << "position " << p;
}

TEST(FreqScale, OnlyWholeNumbersWithin32BitsAreFrequencies)
{
    EXPECT_EQ(ParseFrequency("0"), 0);
    EXPECT_EQ(ParseFrequency("1000"), 1000);
    EXPECT_EQ(ParseFrequency("007"), 7);
    EXPECT_EQ(ParseFrequency("2147483647"), 2147483647);
    for (const char* junk : {"", "abc", "12abc", "-5", "+5", " 5", "5 ", "1.5", "2147483648", "99999999999999999999"})
        EXPECT_FALSE(ParseFrequency(junk).has_value()) << "'" << junk << "'";
    EXPECT_EQ(NotAnIntegerMessage("abc"), "'abc' is not a valid integer value.");
}

TEST(FreqScale, TextsAreWholeNumbers)
{
    EXPECT_EQ(FixedText(0), "0");
    EXPECT_EQ(FixedText(20), "20");
    EXPECT_EQ(FixedText(19850), "19850");
    EXPECT_EQ(FixedText(99.5), "100");
    EXPECT_EQ(VolumeText(65535), "100%");
    EXPECT_EQ(VolumeText(32768), "50%");
    EXPECT_EQ(VolumeText(0), "0%");
}

} // namespace
