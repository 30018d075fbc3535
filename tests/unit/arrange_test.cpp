#include "app/arrange.h"

#include <gtest/gtest.h>

TEST(DefaultViewLayout, ThirdsBelowTheControlStrip)
{
    // A maximised main window with a 1600 x 951 client area.
    const ViewLayout l = DefaultViewLayout(1600, 951, 0, 49);
    // H = 951 - 49 = 902, T = 0 + 49 + 51 = 100, W div 3 = 533.
    EXPECT_EQ(l.wave, QRect(0, 100, 533, 451));
    EXPECT_EQ(l.spect, QRect(0, 551, 533, 451));
    EXPECT_EQ(l.sptm, QRect(534, 100, 1064, 900));
}

TEST(DefaultViewLayout, DivisionsTruncate)
{
    const ViewLayout l = DefaultViewLayout(1001, 500, 10, 49);
    // H = 451 (odd), W div 3 = 333.
    EXPECT_EQ(l.wave, QRect(0, 110, 333, 225));
    EXPECT_EQ(l.spect.top(), 110 + 225);
    EXPECT_EQ(l.sptm, QRect(334, 110, 664, 449));
}

TEST(DefaultViewLayout, ViewsFillTheClientAreaAtItsRealScreenOffset)
{
    // No window manager: the client area starts at the top of a 1000-pixel
    // screen, so the spectrum window ends on the screen (on row 998: the
    // odd H = 951 loses a row to the halving) instead of 51 rows below it.
    const ViewLayout bare = DefaultViewLayout(1280, 1000, 0, 49, 0);
    EXPECT_EQ(bare.wave.top(), 49);
    EXPECT_EQ(bare.spect.bottom(), 998);
    EXPECT_EQ(bare.sptm, QRect(427, 49, 850, 949));
    // Taller bars push the views down by the same amount.
    EXPECT_EQ(DefaultViewLayout(1280, 960, 0, 49, 70).wave.top(), 119);
}
