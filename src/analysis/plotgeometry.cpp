#include "analysis/plotgeometry.h"

#include "state/global.h"

#include <algorithm>
#include <cstdlib>

PlotRgba SchemeClearColor(bool lightBackground)
{
    return lightBackground ? PlotRgba{0.9f, 0.9f, 0.9f, 1.0f} : PlotRgba{0.0f, 0.0f, 0.1f, 1.0f};
}

void SetPlotRect(const PlotRect& plot)
{
    PlotLeft = plot.left;
    PlotRight = plot.right;
    PlotTop = plot.top;
    PlotBottom = plot.bottom;
}

namespace {
int ShadeGrey(int k, int i)
{
    return (k * i + 150) % 256;
}
} // namespace

std::vector<ShadeLine> ShadingLines(const PlotRect& p, const ShadingStyle& style)
{
    std::vector<ShadeLine> lines;
    auto vertical = [&](int i) {
        const int start = style.verticalFromTopMinusI ? p.top - i : p.top;
        lines.push_back({p.left - i, start, p.left - i, p.bottom + i, ShadeGrey(style.verticalK, i)});
    };
    auto horizontal = [&](int i) {
        lines.push_back({p.left - i, p.bottom + i, p.right, p.bottom + i, ShadeGrey(4, i)});
    };
    if (style.verticalFirst) {
        for (int i = 1; i <= style.verticalCount; ++i)
            vertical(i);
        for (int i = 1; i <= HorizontalShadeCount; ++i)
            horizontal(i);
        return lines;
    }
    const int count = std::max(style.verticalCount, HorizontalShadeCount);
    for (int i = 1; i <= count; ++i) {
        if (i <= HorizontalShadeCount)
            horizontal(i);
        if (i <= style.verticalCount)
            vertical(i);
    }
    return lines;
}

Legend ChannelLegend(const PlotRect& p)
{
    const int y = p.bottom + 18;
    Legend legend;
    legend.left = {p.left + 10, p.left + 40, y, ColorLeft};
    legend.right = {p.left + 90, p.left + 120, y, ColorRight};
    legend.leftText = {p.left + 50, p.bottom + 12, "Left"};
    legend.rightText = {p.left + 130, p.bottom + 12, "Right"};
    return legend;
}

void LiftOntoBottomRow(std::vector<PlotVertex>& vertices, int heightPixels)
{
    if (heightPixels <= 0)
        return;
    const float bottomRow = -1.0f + 1.0f / static_cast<float>(heightPixels);
    for (PlotVertex& v : vertices)
        v.y = std::max(v.y, bottomRow);
}

bool DragLeavesDeadZone(int x, int y, int dragX, int dragY)
{
    return std::abs(x - dragX) > 5 || std::abs(y - dragY) > 5;
}
