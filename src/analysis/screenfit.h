// Where a stored window may go on the screens at hand: stored geometry
// comes from a file that may have been written on other screens, or edited,
// and a window far off every screen, or larger than any, is lost to the user
// or costs memory without end.
#pragma once

#include <optional>
#include <vector>

struct ScreenRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool operator==(const ScreenRect&) const = default;
};

// How much of a window's top edge must lie on a screen for the user to grab
// its title and drag it back: the whole title height, and this much of its width.
inline constexpr int GrabTitleHeight = 20;
inline constexpr int GrabTitleWidth = 40;

// `window` (outer geometry, title included) as it may be placed on the
// available areas `screens`: its size cut to the screen that holds most of
// its title, its position kept. None when it has no size, or when not enough
// of its title lies on any screen (then the default layout applies).
std::optional<ScreenRect> FitToScreens(const ScreenRect& window, const std::vector<ScreenRect>& screens);
