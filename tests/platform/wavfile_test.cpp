// Impulse responses as float WAV files: what is written decodes to the same
// floats, its header says IEEE float, mono, the rate given; a save that
// cannot be made says why and leaves nothing behind.
#include "platform/wavfile.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class WavFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "wavfile-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir = pattern;
    }
    void TearDown() override
    {
        fs::permissions(dir, fs::perms::owner_all, fs::perm_options::add);
        fs::remove_all(dir);
    }
    std::size_t Entries(const fs::path& folder) const
    {
        return static_cast<std::size_t>(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
    }
    // Expects the save to fail naming `cause` and leave `folder` as it was.
    void ExpectFails(const fs::path& target, const fs::path& folder, int cause)
    {
        const std::size_t before = fs::is_directory(folder) ? Entries(folder) : 0;
        const std::string message = platform::WriteFloatWav(target.string(), {0.5f, -0.25f}, 44100);
        EXPECT_NE(message.find(std::strerror(cause)), std::string::npos) << message;
        EXPECT_NE(message.find(target.string()), std::string::npos) << message;
        if (fs::is_directory(folder)) {
            EXPECT_EQ(Entries(folder), before) << message;
        }
    }
    fs::path dir;
};

// An impulse with values that a 16- or 24-bit file would round, and ones
// outside +-1 that an integer file would clip.
std::vector<float> Impulse()
{
    std::vector<float> samples(4800);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<float>(std::exp(-0.001 * i) * std::sin(0.37 * i) / 3.0);
    samples[0] = 1.75f;
    samples[1] = -3.0e-9f;
    samples[2] = std::nextafter(0.5f, 1.0f);
    return samples;
}

std::uint32_t Le32(const std::string& bytes, std::size_t at)
{
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
    return value;
}

TEST_F(WavFile, DecodesToTheSameFloatsBitForBit)
{
    const std::vector<float> samples = Impulse();
    const fs::path path = dir / "impulse.wav";
    ASSERT_EQ(platform::WriteFloatWav(path.string(), samples, 44100), "");

    // libsndfile itself, without our reader.
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
    EXPECT_EQ(info.samplerate, 44100);
    EXPECT_EQ(info.channels, 1);
    EXPECT_EQ(info.format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    std::vector<float> decoded(static_cast<std::size_t>(info.frames));
    EXPECT_EQ(sf_readf_float(file, decoded.data(), info.frames), info.frames);
    sf_close(file);
    ASSERT_EQ(decoded.size(), samples.size());
    EXPECT_EQ(std::memcmp(decoded.data(), samples.data(), samples.size() * sizeof(float)), 0);

    // The RIFF header as the format defines it: format tag 3 (IEEE float), one channel, 32 bits.
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_GE(bytes.size(), 44u);
    EXPECT_EQ(bytes.substr(0, 4), "RIFF");
    EXPECT_EQ(bytes.substr(8, 8), "WAVEfmt ");
    EXPECT_EQ(Le32(bytes, 4), bytes.size() - 8);
    EXPECT_EQ(Le32(bytes, 20) & 0xffff, 3u);
    EXPECT_EQ(Le32(bytes, 20) >> 16, 1u);
    EXPECT_EQ(Le32(bytes, 24), 44100u);
    EXPECT_EQ(Le32(bytes, 32) >> 16, 32u);

    const platform::WavRead read = platform::ReadMonoWav(path.string());
    ASSERT_TRUE(read.ok) << read.message;
    EXPECT_EQ(read.sampleRate, 44100);
    ASSERT_EQ(read.samples.size(), samples.size());
    EXPECT_EQ(std::memcmp(read.samples.data(), samples.data(), samples.size() * sizeof(float)), 0);
    EXPECT_EQ(Entries(dir), 1u); // no temporary left beside it
}

TEST_F(WavFile, ReplacesAnOlderFileWhole)
{
    const fs::path path = dir / "impulse.wav";
    ASSERT_EQ(platform::WriteFloatWav(path.string(), Impulse(), 48000), "");
    ASSERT_EQ(platform::WriteFloatWav(path.string(), {0.25f}, 96000), "");
    const platform::WavRead read = platform::ReadMonoWav(path.string());
    ASSERT_TRUE(read.ok) << read.message;
    EXPECT_EQ(read.sampleRate, 96000);
    EXPECT_EQ(read.samples, std::vector<float>{0.25f});
}

TEST_F(WavFile, AFailedSaveSaysWhyAndLeavesNothing)
{
    ExpectFails(dir / "missing" / "x.wav", dir, ENOENT);
    EXPECT_FALSE(fs::exists(dir / "missing"));

    std::ofstream(dir / "plain") << "a file, not a folder";
    ExpectFails(dir / "plain" / "x.wav", dir, ENOTDIR);

    // The target is a folder: the temporary is written, then cannot take its name.
    fs::create_directory(dir / "taken.wav");
    ExpectFails(dir / "taken.wav", dir, EISDIR);

    const fs::path locked = dir / "locked";
    fs::create_directory(locked);
    fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec);
    if (::access(locked.c_str(), W_OK) == 0) {
        GTEST_LOG_(INFO) << "this user writes into read-only folders; that case is not tried";
    } else {
        ExpectFails(locked / "x.wav", locked, EACCES);
    }
    EXPECT_NE(platform::WriteFloatWav((dir / "x.wav").string(), {0.0f}, 0).find("sample rate"), std::string::npos);
    EXPECT_FALSE(fs::exists(dir / "x.wav"));
}

TEST_F(WavFile, ReadingRefusesWhatIsNoMonoWav)
{
    const platform::WavRead missing = platform::ReadMonoWav((dir / "none.wav").string());
    EXPECT_FALSE(missing.ok);
    EXPECT_NE(missing.message.find("none.wav"), std::string::npos);

    std::ofstream(dir / "text.wav") << "not a sound file";
    EXPECT_FALSE(platform::ReadMonoWav((dir / "text.wav").string()).ok);

    SF_INFO info{};
    info.samplerate = 8000;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* stereo = sf_open((dir / "stereo.wav").c_str(), SFM_WRITE, &info);
    ASSERT_NE(stereo, nullptr);
    const float frame[2] = {0.1f, 0.2f};
    sf_writef_float(stereo, frame, 1);
    sf_close(stereo);
    const platform::WavRead read = platform::ReadMonoWav((dir / "stereo.wav").string());
    EXPECT_FALSE(read.ok);
    EXPECT_NE(read.message.find("2 channels"), std::string::npos) << read.message;
    EXPECT_TRUE(read.samples.empty());
}

} // namespace
