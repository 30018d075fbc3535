#include "platform/keystore.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include <cstdlib>

namespace fs = std::filesystem;
using platform::KeyStore;
using platform::LoadResult;
using platform::ValueKind;

namespace {

class KeyStoreTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "keystore-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir = pattern;
        file = (dir / "Sonalyx.reg").string();
    }
    void TearDown() override { fs::remove_all(dir); }

    void write(const std::string& text, const std::string& path = {}) const
    {
        std::ofstream(path.empty() ? file : path, std::ios::binary) << text;
    }
    static std::string read(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    fs::path dir;
    std::string file;
};

TEST_F(KeyStoreTest, ReadsTheExportFormatWithItsVariations)
{
    write("\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n"
          "\r\n"
          "; written by hand\r\n"
          "[HKEY_CURRENT_USER\\Software\\Vortan\\Sonalyx]\r\n"
          "\"Plain\"=dword:0000002A\r\n"
          "\"Short\"=dword:7\r\n"
          "\"Say \\\"hi\\\" \\\\ there\"=dword:ffffffff\r\n"
          "\r\n"
          "\"Long\"=hex:01,02,03,\\\r\n"
          "  04,05\r\n"
          "\"AsHex4\"=hex(4):78,56,34,12\r\n"
          "\"AsHex3\"=hex(3):aa,BB\r\n"
          "\"Text\"=\"C:\\\\path\"\r\n"
          "\"Empty\"=hex:\r\n");
    KeyStore store(file);
    ASSERT_EQ(store.load(), LoadResult::Ok) << store.error();

    EXPECT_EQ(store.value("Plain")->dword, 42u);
    EXPECT_EQ(store.value("plain")->kind, ValueKind::Dword) << "names are case-insensitive";
    EXPECT_EQ(store.value("Short")->dword, 7u);
    EXPECT_EQ(store.value("Say \"hi\" \\ there")->dword, 0xFFFFFFFFu);
    EXPECT_EQ(store.value("Long")->bytes, (std::vector<uint8_t>{1, 2, 3, 4, 5}));
    EXPECT_EQ(store.value("AsHex4")->kind, ValueKind::Dword);
    EXPECT_EQ(store.value("AsHex4")->dword, 0x12345678u);
    EXPECT_EQ(store.value("AsHex3")->bytes, (std::vector<uint8_t>{0xAA, 0xBB}));
    EXPECT_EQ(store.value("Text")->kind, ValueKind::Other);
    EXPECT_EQ(store.value("Empty")->kind, ValueKind::Binary);
    EXPECT_TRUE(store.value("Empty")->bytes.empty());
    EXPECT_FALSE(store.value("Absent"));
}

TEST_F(KeyStoreTest, SaveRewritesOnlyChangedValuesAndKeepsTheRest)
{
    write("Windows Registry Editor Version 5.00\n"
          "\n"
          "[HKEY_CURRENT_USER\\Software\\Other]\n"
          "\"Keep\"=\"as it was\"\n"
          "\n"
          "[HKEY_CURRENT_USER\\Software\\Vortan\\Sonalyx]\n"
          "; a note\n"
          "\"Unknown\"=hex(2):41,00,00,00\n"
          "\"Count\"=dword:00000001\n"
          "@=\"default\"\n");
    KeyStore store(file);
    ASSERT_EQ(store.load(), LoadResult::Ok);
    store.setDword("COUNT", 0x80000000u);
    store.setBinary("New \"one\"", {0x00, 0x24, 0x40});
    ASSERT_EQ(store.save(), "");

    EXPECT_EQ(read(file), "Windows Registry Editor Version 5.00\n"
                          "\n"
                          "[HKEY_CURRENT_USER\\Software\\Other]\n"
                          "\"Keep\"=\"as it was\"\n"
                          "\n"
                          "[HKEY_CURRENT_USER\\Software\\Vortan\\Sonalyx]\n"
                          "; a note\n"
                          "\"Unknown\"=hex(2):41,00,00,00\n"
                          "\"Count\"=dword:80000000\n"
                          "@=\"default\"\n"
                          "\"New \\\"one\\\"\"=hex:00,24,40\n"
                          "\n");
    EXPECT_EQ(fs::directory_iterator(dir)->path().filename(), "Sonalyx.reg");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1) << "no temporary file left";
}

TEST_F(KeyStoreTest, LongBinaryValuesWrapAndReadBack)
{
    KeyStore store(file);
    ASSERT_EQ(store.load(), LoadResult::Missing);
    std::vector<uint8_t> bytes(200);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<uint8_t>(i * 7);
    store.setBinary("Blob", bytes);
    ASSERT_EQ(store.save(), "");

    std::istringstream lines(read(file));
    int lineCount = 0;
    for (std::string line; std::getline(lines, line); ++lineCount)
        EXPECT_LE(line.size(), 80u) << line;
    EXPECT_GT(lineCount, 6);

    KeyStore again(file);
    ASSERT_EQ(again.load(), LoadResult::Ok) << again.error();
    EXPECT_EQ(again.value("Blob")->bytes, bytes);
}

TEST_F(KeyStoreTest, MissingFileCreatesFolderAndEmptyKey)
{
    const std::string nested = (dir / "Vortan" / "Sonalyx.reg").string();
    KeyStore store(nested);
    EXPECT_EQ(store.load(), LoadResult::Missing);
    EXPECT_EQ(store.error(), "");
    EXPECT_EQ(read(nested),
              "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\Vortan\\Sonalyx]\n\n");
}

TEST_F(KeyStoreTest, UnparsableFilesAreMovedAsideNeverOverwritten)
{
    const char* broken[] = {
        "not a registry file\n",
        "Windows Registry Editor Version 5.00\n\"Before\"=dword:1\n",
        "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\X]\n\"A\"=dword:123456789\n",
        "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\X]\n\"A\"=dword:xyz\n",
        "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\X]\n\"A=dword:1\n",
        "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\X]\n\"A\"=hex:1,2,\\\n",
        "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\X]\n\"A\"=hex:100\n",
        "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\X\n",
        "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\X]\n\"A\" dword:1\n",
        "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\X]\n\"\\n\"=dword:1\n",
    };
    int n = 0;
    for (const char* text : broken) {
        SCOPED_TRACE(text);
        write(text);
        KeyStore store(file);
        EXPECT_EQ(store.load(), LoadResult::Corrupt);
        EXPECT_NE(store.error(), "");
        const std::string expected = file + ".bad" + (n == 0 ? "" : "." + std::to_string(n));
        EXPECT_EQ(store.movedTo(), expected);
        EXPECT_EQ(read(expected), text);
        EXPECT_FALSE(store.value("A"));
        ++n;
    }
}

TEST_F(KeyStoreTest, ACopyAsideKeepsTheFileAsItWasUnderTheNextFreeBadName)
{
    const std::string first = "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\Vortan\\Sonalyx]\n"
                              "\"KaSpTm\"=dword:00000005\n";
    write(first);
    write("an earlier bad file", file + ".bad");
    KeyStore store(file);
    ASSERT_EQ(store.load(), LoadResult::Ok);
    EXPECT_EQ(store.copyAside(), file + ".bad.1");
    store.setDword("KaSpTm", 7);
    ASSERT_EQ(store.save(), "");
    EXPECT_EQ(read(file + ".bad.1"), first) << "the copy is the file as it was";
    EXPECT_EQ(read(file + ".bad"), "an earlier bad file") << "no earlier copy is overwritten";
    EXPECT_NE(read(file), first);
}

TEST_F(KeyStoreTest, UnreadableFileIsNeverReplaced)
{
    fs::create_directory(file); // reading a folder fails
    KeyStore store(file);
    EXPECT_EQ(store.load(), LoadResult::Failed);
    store.setDword("A", 1);
    EXPECT_NE(store.save(), "");
    EXPECT_TRUE(fs::is_directory(file));
}

TEST_F(KeyStoreTest, SaveFailureIsReportedAndLeavesTheOldFile)
{
    KeyStore notLoaded(file);
    EXPECT_NE(notLoaded.save(), "") << "saving a store that was never loaded would lose the file";

    write("not a folder");
    KeyStore store((dir / "Sonalyx.reg" / "Vortan" / "Sonalyx.reg").string());
    EXPECT_EQ(store.load(), LoadResult::Missing);
    EXPECT_NE(store.error(), "") << "the folder cannot be created";
    store.setDword("A", 1);
    EXPECT_NE(store.save(), "");
    EXPECT_EQ(read(file), "not a folder");
}

TEST_F(KeyStoreTest, SymlinkedFileStaysALink)
{
    const std::string target = (dir / "real.reg").string();
    write("Windows Registry Editor Version 5.00\n", target);
    fs::create_symlink(target, file);
    KeyStore store(file);
    ASSERT_EQ(store.load(), LoadResult::Ok);
    store.setDword("A", 5);
    ASSERT_EQ(store.save(), "");
    EXPECT_TRUE(fs::is_symlink(file));
    EXPECT_NE(read(target).find("\"A\"=dword:00000005"), std::string::npos);
}

TEST(KeyStorePath, FollowsXdgConfigHomeThenHome)
{
    const char* oldXdg = std::getenv("XDG_CONFIG_HOME");
    const std::string savedXdg = oldXdg ? oldXdg : "";
    const char* oldHome = std::getenv("HOME");
    const std::string savedHome = oldHome ? oldHome : "";

    setenv("HOME", "/home/tester", 1);
    setenv("XDG_CONFIG_HOME", "/xdg", 1);
    EXPECT_EQ(KeyStore::DefaultPath(), "/xdg/Vortan/Sonalyx.reg");
    setenv("XDG_CONFIG_HOME", "relative/dir", 1);
    EXPECT_EQ(KeyStore::DefaultPath(), "/home/tester/.config/Vortan/Sonalyx.reg");
    unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(KeyStore::DefaultPath(), "/home/tester/.config/Vortan/Sonalyx.reg");

    oldXdg ? setenv("XDG_CONFIG_HOME", savedXdg.c_str(), 1) : unsetenv("XDG_CONFIG_HOME");
    oldHome ? setenv("HOME", savedHome.c_str(), 1) : unsetenv("HOME");
}

} // namespace
