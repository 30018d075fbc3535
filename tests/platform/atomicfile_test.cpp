// Whole-file replacement: the new content in place under the old name and
// permissions, a symbolic link kept as a link, and a failed replacement that
// leaves the old file and no temporary behind.
#include "platform/atomicfile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <cstdlib>

namespace fs = std::filesystem;
using platform::ReplaceFileAtomically;

namespace {

class AtomicFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "atomicfile-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir = pattern;
    }
    void TearDown() override { fs::remove_all(dir); }

    static void Write(const fs::path& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }
    static std::string Read(const fs::path& path)
    {
        std::ifstream in(path, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    std::vector<std::string> Names() const
    {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    fs::path dir;
};

TEST_F(AtomicFile, ReplacesTheContentKeepingThePermissionsAndNoTemporary)
{
    const fs::path file = dir / "export.csv";
    Write(file, "an older and longer content\n");
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(ReplaceFileAtomically(file.string(), "new\n"), "");
    EXPECT_EQ(Read(file), "new\n");
    EXPECT_EQ(fs::status(file).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(Names(), std::vector<std::string>({"export.csv"}));
}

TEST_F(AtomicFile, MakesMissingFoldersAndWritesThroughASymbolicLink)
{
    const fs::path nested = dir / "a" / "b" / "view.png";
    EXPECT_EQ(ReplaceFileAtomically(nested.string(), std::string_view("\0png", 4)), "");
    EXPECT_EQ(Read(nested), std::string("\0png", 4));

    const fs::path target = dir / "real.reg";
    const fs::path link = dir / "Sonalyx.reg";
    Write(target, "old");
    fs::create_symlink(target, link);
    EXPECT_EQ(ReplaceFileAtomically(link.string(), "through the link"), "");
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(Read(target), "through the link");
}

TEST_F(AtomicFile, AFailedReplacementSaysWhyAndLeavesTheOldAndNoTemporary)
{
    // A folder cannot be replaced by a file: the rename fails after the
    // temporary file was written in full.
    const fs::path folder = dir / "taken";
    fs::create_directory(folder);
    Write(folder / "inside", "kept");
    const std::string why = ReplaceFileAtomically(folder.string(), "content");
    EXPECT_NE(why.find("cannot replace"), std::string::npos) << why;
    EXPECT_TRUE(fs::is_directory(folder));
    EXPECT_EQ(Read(folder / "inside"), "kept");
    EXPECT_EQ(Names(), std::vector<std::string>({"taken"}));

    // A file where a folder of the path should be.
    Write(dir / "plain", "not a folder");
    EXPECT_NE(ReplaceFileAtomically((dir / "plain" / "x.csv").string(), "content"), "");
    EXPECT_EQ(Read(dir / "plain"), "not a folder");
}

} // namespace
