#include "measure/levellog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <sys/resource.h>

namespace fs = std::filesystem;
using measure::LevelLog;
using measure::LevelLogLine;

namespace {

class LevelLogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "levellog-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir = pattern;
    }
    void TearDown() override { fs::remove_all(dir); }

    static std::string Read(const fs::path& path)
    {
        std::ifstream in(path, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    static std::vector<std::string> Split(const std::string& line)
    {
        std::vector<std::string> fields;
        std::stringstream in(line);
        for (std::string field; std::getline(in, field, ',');)
            fields.push_back(field);
        if (!line.empty() && line.back() == ',')
            fields.emplace_back();
        return fields;
    }
    static LevelLogLine Second(int n)
    {
        LevelLogLine line;
        line.time = "2026-12-10T06:00:0" + std::to_string(n);
        line.laeq[0] = 94.004 + n;
        line.laeq[1] = 93.5;
        line.lafmax[0] = -12.345;
        line.lafmax[1] = std::nan(""); // no value: an empty field
        line.lcpeak[0] = 101.0;
        line.momentaryLufs = -23.0;
        return line;
    }

    fs::path dir;
};

TEST_F(LevelLogTest, OneLineThatParsesPerSecondUnderAHeaderNamingTheUnit)
{
    const fs::path path = dir / "levels.csv";
    LevelLog log;
    ASSERT_TRUE(log.Open(path.string(), "dB SPL")) << log.Error();
    // Each line is in the file as soon as it is written, before closing.
    ASSERT_TRUE(log.Write(Second(1)));
    EXPECT_EQ(Read(path), "time,LAeq left (dB SPL),LAeq right (dB SPL),LAFmax left (dB SPL),LAFmax right (dB SPL),"
                          "LCpeak left (dB SPL),LCpeak right (dB SPL),momentary (LUFS),short-term (LUFS)\n"
                          "2026-12-10T06:00:01,95.00,93.50,-12.35,,101.00,,-23.00,\n");
    LevelLogLine odd = Second(2);
    odd.time = "a \"quoted\", time";
    ASSERT_TRUE(log.Write(odd));
    log.Close();
    EXPECT_FALSE(log.IsOpen());
    const std::string text = Read(path);
    EXPECT_TRUE(text.ends_with("\"a \"\"quoted\"\", time\",96.00,93.50,-12.35,,101.00,,-23.00,\n")) << text;
    std::stringstream lines(text);
    for (std::string line; std::getline(lines, line);)
        EXPECT_EQ(Split(line).size(), line.starts_with("\"a") ? 10u : 9u) << line;
}

TEST_F(LevelLogTest, AFullDiskStopsTheLogWithAMessage)
{
    // /dev/full takes the file but no byte of it: the header already fails.
    LevelLog full;
    EXPECT_FALSE(full.Open("/dev/full", "dBFS"));
    EXPECT_FALSE(full.IsOpen());
    EXPECT_NE(full.Error().find("No space left on device"), std::string::npos) << full.Error();

    // A file size limit fills up halfway through the second line: the log
    // stops, and the file keeps the header and the first line whole.
    const fs::path path = dir / "levels.csv";
    LevelLog log;
    ASSERT_TRUE(log.Open(path.string(), "dBFS")) << log.Error();
    ASSERT_TRUE(log.Write(Second(1)));
    const std::string before = Read(path);
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto previous = std::signal(SIGXFSZ, SIG_IGN); // the write fails instead of ending the process
    rlimit small = old;
    small.rlim_cur = before.size() + 20;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool written = log.Write(Second(2));
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previous);
    EXPECT_FALSE(written);
    EXPECT_FALSE(log.IsOpen());
    EXPECT_NE(log.Error().find("was stopped"), std::string::npos) << log.Error();
    EXPECT_NE(log.Error().find("File too large"), std::string::npos) << log.Error();
    EXPECT_EQ(Read(path), before);
    EXPECT_FALSE(log.Write(Second(3)));
}

// Writes into a removed folder's file succeed and vanish with it; the log
// notices the file is gone and stops. A folder that is gone before the
// start cannot take the log at all.
TEST_F(LevelLogTest, AVanishedFolderStopsTheLogWithAMessage)
{
    LevelLog log;
    EXPECT_FALSE(log.Open((dir / "gone" / "levels.csv").string(), "dBFS"));
    EXPECT_NE(log.Error().find("No such file or directory"), std::string::npos) << log.Error();

    for (const bool rename : {false, true}) {
        fs::create_directories(dir / "logs");
        ASSERT_TRUE(log.Open((dir / "logs" / "levels.csv").string(), "dBFS")) << log.Error();
        ASSERT_TRUE(log.Write(Second(1)));
        if (rename)
            fs::rename(dir / "logs", dir / "moved");
        else
            fs::remove_all(dir / "logs");
        EXPECT_FALSE(log.Write(Second(2))) << rename;
        EXPECT_FALSE(log.IsOpen());
        EXPECT_NE(log.Error().find("gone"), std::string::npos) << log.Error();
    }
    // The renamed folder still holds what was written before.
    const std::string kept = Read(dir / "moved" / "levels.csv");
    EXPECT_EQ(std::count(kept.begin(), kept.end(), '\n'), 2) << kept;
}

} // namespace
