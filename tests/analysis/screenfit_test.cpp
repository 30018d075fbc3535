#include "analysis/screenfit.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

// A 1920x1080 screen whose top 30 rows are a panel, and a 1024x768 one to
// its left, placed lower.
const std::vector<ScreenRect> Screens = {{0, 30, 1920, 1050}, {-1024, 400, 1024, 768}};

TEST(FitToScreens, KeepsAWindowThatFitsAndCutsOneLargerThanItsScreen)
{
    EXPECT_EQ(FitToScreens({298, 100, 500, 540}, Screens), (ScreenRect{298, 100, 500, 540}));
    // Partly off the screen, its title still to be grabbed: left as it is.
    EXPECT_EQ(FitToScreens({1800, 1000, 500, 540}, Screens), (ScreenRect{1800, 1000, 500, 540}));
    // Larger than the screen it is on: cut to that screen's size.
    EXPECT_EQ(FitToScreens({0, 100, 8192, 8192}, Screens), (ScreenRect{0, 100, 1920, 1050}));
    EXPECT_EQ(FitToScreens({0, 100, INT_MAX, INT_MAX}, Screens), (ScreenRect{0, 100, 1920, 1050}));
    EXPECT_EQ(FitToScreens({-1000, 500, 3000, 300}, Screens), (ScreenRect{-1000, 500, 1024, 300}))
        << "the screen holding most of its title";
}

TEST(FitToScreens, RefusesAWindowWithoutSizeOrWithItsTitleOffEveryScreen)
{
    EXPECT_FALSE(FitToScreens({100, 100, 0, 300}, Screens));
    EXPECT_FALSE(FitToScreens({100, 100, 300, 0}, Screens));
    EXPECT_FALSE(FitToScreens({100, 100, -5, -5}, Screens));
    EXPECT_FALSE(FitToScreens({-100000, -100000, 310, 270}, Screens));
    EXPECT_FALSE(FitToScreens({INT_MAX, INT_MAX, INT_MAX, INT_MAX}, Screens)) << "no overflow";
    EXPECT_FALSE(FitToScreens({INT_MIN, 100, INT_MAX, 270}, Screens));
    EXPECT_FALSE(FitToScreens({100, 10, 310, 270}, Screens)) << "title under the panel";
    EXPECT_FALSE(FitToScreens({100, 1065, 310, 270}, Screens)) << "title half below the bottom";
    EXPECT_FALSE(FitToScreens({-1024, 100, 310, 270}, Screens)) << "beside the lower screen, above it";
    EXPECT_FALSE(FitToScreens({1900, 100, 310, 270}, Screens)) << "only 20 pixels of the title on the screen";
    EXPECT_TRUE(FitToScreens({1880, 100, 310, 270}, Screens)) << "40 pixels of the title are enough";
    EXPECT_FALSE(FitToScreens({0, 100, 310, 270}, {})) << "no screen at all";
}

} // namespace
