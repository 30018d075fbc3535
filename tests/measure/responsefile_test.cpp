#include "measure/responsefile.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <random>

using measure::ParseResponseFile;
using measure::ResponseCurve;

namespace {

measure::ResponseHeader Header()
{
    measure::ResponseHeader header;
    header.program = "Sonalyx 2.0";
    header.date = "2026-12-10 14:00";
    header.name = "Left speaker\nat 1 m"; // a line break must not start a line of numbers
    header.delayMs = 3.25;
    header.levelDbfs = -12.0;
    header.smoothing = measure::Smoothing::Octave24;
    return header;
}

// A response with values that need every printed digit.
ResponseCurve OddCurve()
{
    std::mt19937 numbers(7);
    std::uniform_real_distribution<double> level(-60.0, 20.0), phase(-180.0, 180.0);
    ResponseCurve curve;
    for (int i = 0; i < 600; ++i) {
        curve.hz.push_back(19.87654321 * std::exp2(i / 60.0));
        curve.db.push_back(level(numbers));
        curve.degrees.push_back(phase(numbers));
    }
    return curve;
}

void ExpectRefused(std::string_view text, int line, const std::string& says)
{
    const measure::ResponseParse parse = ParseResponseFile(text);
    EXPECT_FALSE(parse.ok) << text;
    EXPECT_EQ(parse.curve.Size(), 0u) << text;
    EXPECT_EQ(parse.line, line) << parse.message;
    if (line > 0) {
        EXPECT_TRUE(parse.message.starts_with("line " + std::to_string(line) + ": ")) << parse.message;
    }
    EXPECT_NE(parse.message.find(says), std::string::npos) << parse.message;
}

TEST(ResponseFile, RoundTripKeepsEveryValueWithinThePrintedPrecision)
{
    const ResponseCurve curve = OddCurve();
    // A locale with decimal commas must not change what is written.
    const bool german = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
    const std::string text = measure::FormatResponseFile(Header(), curve);
    std::setlocale(LC_ALL, "C");
    EXPECT_EQ(text.find(','), std::string::npos) << "locale " << german;

    const measure::ResponseParse parse = ParseResponseFile(text);
    ASSERT_TRUE(parse.ok) << parse.message;
    ASSERT_EQ(parse.curve.Size(), curve.Size());
    for (std::size_t i = 0; i < curve.Size(); ++i) {
        EXPECT_NEAR(parse.curve.hz[i], curve.hz[i], 5e-6 * curve.hz[i]) << i; // six significant digits
        EXPECT_NEAR(parse.curve.db[i], curve.db[i], 0.0005 + 1e-12) << i;
        EXPECT_NEAR(parse.curve.degrees[i], curve.degrees[i], 0.005 + 1e-12) << i;
    }
    for (const char* line :
         {"* Program: Sonalyx 2.0\n", "* Date: 2026-12-10 14:00\n", "* Measurement: Left speaker at 1 m\n",
          "* Delay: 3.250 ms\n", "* Level: -12.00 dBFS\n", "* Smoothing: 1/24 octave\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line;
}

TEST(ResponseFile, WritesOnlyWhatAReaderTakes)
{
    // Bins finer than six digits keep rising; silence and NaN do not break the file.
    ResponseCurve curve;
    curve.hz = {20000.0, 20000.3, 20000.6, 20001.0, NAN, 20002.0};
    curve.db = {-1.0, -2.0, -INFINITY, NAN, 0.0, 1.0};
    curve.degrees = {0.0, NAN, 10.0, 0.0, 0.0, 5.0};
    const measure::ResponseParse parse = ParseResponseFile(measure::FormatResponseFile(Header(), curve));
    ASSERT_TRUE(parse.ok) << parse.message;
    EXPECT_EQ(parse.curve.hz, (std::vector<double>{20000.0, 20000.3, 20000.6, 20002.0}));
    EXPECT_EQ(parse.curve.db, (std::vector<double>{-1.0, -2.0, -300.0, 1.0}));
    EXPECT_EQ(parse.curve.degrees, (std::vector<double>{0.0, 0.0, 10.0, 5.0}));
}

TEST(ResponseFile, ReadsWhatOtherToolsWrite)
{
    const std::string text = "\xEF\xBB\xBF* exported\r\n# other comment\r\n; and another\r\n\r\n"
                             "10,-1.5,45\r\n20\t-2.25\t-90.5\r\n  40 , +3 \r\n1e3 0.125 1.5e1\r\n";
    const measure::ResponseParse parse = ParseResponseFile(text);
    ASSERT_TRUE(parse.ok) << parse.message;
    EXPECT_EQ(parse.curve.hz, (std::vector<double>{10.0, 20.0, 40.0, 1000.0}));
    EXPECT_EQ(parse.curve.db, (std::vector<double>{-1.5, -2.25, 3.0, 0.125}));
    EXPECT_EQ(parse.curve.degrees, (std::vector<double>{45.0, -90.5, 0.0, 15.0}));
}

TEST(ResponseFile, RefusesWhatIsNoResponseNamingTheLine)
{
    ExpectRefused("* header\n100 0 0\nhello world\n", 3, "'hello' is not a number");
    ExpectRefused("100 0 0\n200 -1.5dB 0\n", 2, "level '-1.5dB'");
    ExpectRefused("100 0 0\n200 1,5\n300 0 0 0\n", 3, "more than three");
    ExpectRefused("100 nan 0\n", 1, "not a finite number");
    ExpectRefused("100 0 0\n200 0 inf\n", 2, "phase 'inf' is not a finite");
    ExpectRefused("100 0\n\n100 1\n", 3, "does not rise above the previous 100 Hz");
    ExpectRefused("100 0\n50 1\n", 2, "does not rise");
    ExpectRefused("0 0\n", 1, "not positive");
    ExpectRefused("-20 0\n", 1, "not positive");
    ExpectRefused("100\n", 1, "without a level");
    ExpectRefused("", 0, "no lines");
    ExpectRefused("* only comments\r\n\r\n", 0, "no lines");
}

TEST(ResponseFile, HarmonicFilesNameTheirHarmonicAndRead)
{
    const std::string text = measure::FormatHarmonicFile(Header(), 3, {100.0, 200.0}, {-40.0, -52.5});
    EXPECT_NE(text.find("* Harmonic: 3"), std::string::npos);
    const measure::ResponseParse parse = ParseResponseFile(text);
    ASSERT_TRUE(parse.ok) << parse.message;
    EXPECT_EQ(parse.curve.db, (std::vector<double>{-40.0, -52.5}));
    EXPECT_EQ(parse.curve.degrees, (std::vector<double>{0.0, 0.0}));
}

TEST(ResponseFile, LoadsAFileAndSaysWhyOneCannotBeRead)
{
    const std::filesystem::path path = std::filesystem::temp_directory_path() / "sonalyx-response-test.txt";
    {
        std::ofstream out(path, std::ios::binary);
        out << "* x\r\n100,1,2\r\n";
    }
    const measure::ResponseParse parse = measure::LoadResponseFile(path.string());
    std::filesystem::remove(path);
    ASSERT_TRUE(parse.ok) << parse.message;
    EXPECT_EQ(parse.curve.hz, std::vector<double>{100.0});

    const measure::ResponseParse missing = measure::LoadResponseFile("/nonexistent-folder/response.txt");
    EXPECT_FALSE(missing.ok);
    EXPECT_EQ(missing.line, 0);
    EXPECT_NE(missing.message.find("No such file or directory"), std::string::npos) << missing.message;
}

} // namespace
