// Where "Help Contents" looks for the help: the help file beside the
// program, then the manual in the build folder, under the install prefix the
// program runs from, and under the folder it was built for.
#include "app/helpfiles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace {

TEST(HelpFiles, TheHelpFileSharesTheProgramsName)
{
    EXPECT_EQ(HelpFileBeside("/usr/bin/sonalyx"), "/usr/bin/sonalyx.chm");
    EXPECT_EQ(HelpFileBeside("/opt/Sonalyx/Sonalyx.exe"), "/opt/Sonalyx/Sonalyx.chm");
    EXPECT_EQ(HelpFileBeside("/opt/app.d/sonalyx"), "/opt/app.d/sonalyx.chm") << "a dot in a folder is no extension";
}

TEST(HelpFiles, TheManualIsLookedForBesideAndUnderThePrefix)
{
    const std::vector<std::string> places = ManualCandidates("/opt/x/bin/sonalyx", "/usr/share/doc/sonalyx");
    const std::vector<std::string> expected = {"/opt/x/bin/docs/manual/index.html",
                                               "/opt/x/share/doc/sonalyx/manual/index.html",
                                               "/usr/share/doc/sonalyx/manual/index.html"};
    EXPECT_EQ(places, expected);
    // Installed where it was built for: that place is named once.
    EXPECT_EQ(ManualCandidates("/usr/bin/sonalyx", "/usr/share/doc/sonalyx").size(), 2u);
    EXPECT_EQ(ManualCandidates("/usr/bin/sonalyx", "").size(), 2u);
}

TEST(HelpFiles, TheFirstExistingFileWins)
{
    const auto dir = std::filesystem::temp_directory_path() / "sonalyx-helpfiles-test";
    std::filesystem::create_directories(dir / "folder.html");
    std::ofstream(dir / "second.html") << "<html></html>";
    std::ofstream(dir / "third.html") << "<html></html>";
    const std::string missing = (dir / "missing.html").string();
    const std::string folder = (dir / "folder.html").string();
    const std::string second = (dir / "second.html").string();
    EXPECT_EQ(FirstExisting({missing, folder, second, (dir / "third.html").string()}), second);
    EXPECT_EQ(FirstExisting({missing, folder}), "");
    std::filesystem::remove_all(dir);
}

} // namespace
