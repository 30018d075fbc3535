#include "measure/micresponse.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>

#include <cstdlib>

using measure::ParseMicResponse;

namespace {

void ExpectPoints(const measure::MicParse& parse, const std::vector<double>& hz, const std::vector<double>& db)
{
    ASSERT_TRUE(parse.ok) << parse.message;
    EXPECT_EQ(parse.response.hz, hz);
    EXPECT_EQ(parse.response.db, db);
}

void ExpectRefused(std::string_view text, int line, const std::string& says)
{
    const measure::MicParse parse = ParseMicResponse(text);
    EXPECT_FALSE(parse.ok) << text;
    EXPECT_TRUE(parse.response.Empty()) << text;
    EXPECT_EQ(parse.line, line) << parse.message;
    if (line > 0) {
        EXPECT_TRUE(parse.message.starts_with("line " + std::to_string(line) + ": ")) << parse.message;
    }
    EXPECT_NE(parse.message.find(says), std::string::npos) << parse.message;
}

} // namespace

// The layouts measurement microphones ship with: a quoted sensitivity line
// and tab-separated pairs; star comments, a header of words and a phase
// column with CRLF line ends; comma-separated values; hash comments, blank
// lines, runs of blanks and signed numbers.
TEST(MicResponse, ReadsTheMakersLayouts)
{
    ExpectPoints(ParseMicResponse("\"Sens Factor =-.7dB, SERNO: 7012345\"\n"
                                  "10.054\t-2.51\n"
                                  "1000.0\t0.00\n"
                                  "20000\t1.75\n"),
                 {10.054, 1000.0, 20000.0}, {-2.51, 0.0, 1.75});
    ExpectPoints(ParseMicResponse("* Calibration of microphone 12345\r\n"
                                  "* Made on 2025-01-01\r\n"
                                  "Freq(Hz) SPL(dB) Phase(degrees)\r\n"
                                  "20.0  -0.8  12.5\r\n"
                                  "1000  3.0  0.0\r\n"
                                  "16000 -1.25 -80\r\n"),
                 {20.0, 1000.0, 16000.0}, {-0.8, 3.0, -1.25});
    ExpectPoints(ParseMicResponse("Frequency,dB\n20,0.5\n200, -0.25\n2000 ,+1e-1,45\n"), {20.0, 200.0, 2000.0},
                 {0.5, -0.25, 0.1});
    ExpectPoints(ParseMicResponse("\xEF\xBB\xBF# measured in an anechoic room\n"
                                  "\n"
                                  "   50     +1.5\n"
                                  "\t\t\n"
                                  "# the top octave\n"
                                  "8000\t\t-40\n"
                                  "16000 40"),
                 {50.0, 8000.0, 16000.0}, {1.5, -40.0, 40.0});
}

TEST(MicResponse, EachKindOfBadFileIsRefusedNamingItsLine)
{
    ExpectRefused("", 0, "no line of numbers");
    ExpectRefused("* only comments\r\nFreq dB\r\n\r\n", 0, "no line of numbers");
    ExpectRefused("Freq dB\n100 0\n1000 1\n500 2\n", 4, "out of order");
    ExpectRefused("100 0\n100 1\n", 2, "out of order"); // the same frequency twice
    ExpectRefused("100 0\n1000 nan\n", 2, "NaN");
    ExpectRefused("* x\nNaN 1.0\n", 2, "NaN");
    ExpectRefused("100\t0\n1000\t40.01\n", 2, "beyond +-40 dB");
    ExpectRefused("100,-55\n", 1, "beyond +-40 dB");
    ExpectRefused("100 inf\n", 1, "beyond +-40 dB");
    ExpectRefused("0 1\n", 1, "not a positive frequency");
    ExpectRefused("-20 1\n", 1, "not a positive frequency");
    ExpectRefused("100 0\n1000\n", 2, "without a level");
    ExpectRefused("100 0\n1000 1.0dB\n", 2, "'1.0dB' is not a number");
    ExpectRefused("100Hz 0\n", 1, "'100Hz' is not a number");
    ExpectRefused("100 0\n1000 1\nEnd of data\n", 3, "words where");
}

// Straight lines between the points on a log frequency axis, flat beyond
// the ends: halfway between 1 and 2 kHz on that axis is sqrt(2) kHz.
TEST(MicResponse, InterpolatesOnALogFrequencyAxis)
{
    const measure::MicParse parse = ParseMicResponse("100 -2\n1000 3\n2000 5\n");
    ASSERT_TRUE(parse.ok) << parse.message;
    const measure::MicResponse& mic = parse.response;
    EXPECT_DOUBLE_EQ(mic.DbAt(1000.0), 3.0);
    EXPECT_NEAR(mic.DbAt(1000.0 * std::sqrt(2.0)), 4.0, 1e-12);
    EXPECT_NEAR(mic.DbAt(1000.0 * std::pow(2.0, 0.25)), 3.5, 1e-12);
    EXPECT_NEAR(mic.DbAt(std::sqrt(100.0 * 1000.0)), 0.5, 1e-12);
    EXPECT_DOUBLE_EQ(mic.DbAt(10.0), -2.0);
    EXPECT_DOUBLE_EQ(mic.DbAt(0.0), -2.0);
    EXPECT_DOUBLE_EQ(mic.DbAt(std::nan("")), -2.0);
    EXPECT_DOUBLE_EQ(mic.DbAt(20000.0), 5.0);
    EXPECT_EQ(measure::MicResponse{}.DbAt(1000.0), 0.0);
}

TEST(MicResponse, FilesThatCannotBeReadAreRefused)
{
    namespace fs = std::filesystem;
    std::string pattern = (fs::temp_directory_path() / "micresponse-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    const fs::path dir = pattern;
    std::ofstream(dir / "mic.txt") << "Freq dB\n1000 3.0\n2000 4.0\n";
    const measure::MicParse good = measure::LoadMicResponse((dir / "mic.txt").string());
    ASSERT_TRUE(good.ok) << good.message;
    EXPECT_DOUBLE_EQ(good.response.DbAt(1000.0), 3.0);

    std::ofstream(dir / "bad.txt") << "1000 3.0\n500 4.0\n";
    const measure::MicParse bad = measure::LoadMicResponse((dir / "bad.txt").string());
    EXPECT_FALSE(bad.ok);
    EXPECT_EQ(bad.line, 2);
    EXPECT_NE(bad.message.find("bad.txt"), std::string::npos) << bad.message;

    for (const fs::path& unreadable : {dir / "missing.txt", dir}) {
        const measure::MicParse none = measure::LoadMicResponse(unreadable.string());
        EXPECT_FALSE(none.ok) << unreadable;
        EXPECT_EQ(none.line, 0);
        EXPECT_NE(none.message.find("cannot be read"), std::string::npos) << none.message;
    }
    fs::remove_all(dir);
}
