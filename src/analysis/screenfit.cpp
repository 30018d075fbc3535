#include "analysis/screenfit.h"

#include <algorithm>
#include <cstdint>

namespace {

// The length of [a, a + la) and [b, b + lb) in common; 64 bits, as a stored
// position plus a stored size may pass the range of int.
int64_t Overlap(int64_t a, int64_t la, int64_t b, int64_t lb)
{
    return std::max<int64_t>(0, std::min(a + la, b + lb) - std::max(a, b));
}

// How much of the title's width lies on `screen` once the window is cut to
// the screen's size; 0 unless the whole title height is on it.
int64_t TitleOnScreen(const ScreenRect& window, const ScreenRect& screen)
{
    const int64_t width = std::min(window.width, screen.width);
    const int64_t titleHeight = std::min(window.height, GrabTitleHeight);
    if (Overlap(window.y, titleHeight, screen.y, screen.height) < titleHeight)
        return 0;
    return Overlap(window.x, width, screen.x, screen.width);
}

} // namespace

std::optional<ScreenRect> FitToScreens(const ScreenRect& window, const std::vector<ScreenRect>& screens)
{
    if (window.width <= 0 || window.height <= 0)
        return std::nullopt;
    const ScreenRect* best = nullptr;
    int64_t bestTitle = 0;
    for (const ScreenRect& screen : screens) {
        const int64_t title = TitleOnScreen(window, screen);
        if (title > bestTitle) {
            best = &screen;
            bestTitle = title;
        }
    }
    if (!best || bestTitle < std::min(window.width, GrabTitleWidth))
        return std::nullopt;
    return ScreenRect{window.x, window.y, std::min(window.width, best->width), std::min(window.height, best->height)};
}
