// The conventions of the plot views that need no display: vertices in
// normalised device coordinates, the plot rectangle, the colour-table
// entries, the bevel shading, frame texts and the channel legend.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct PlotVertex {
    float x, y;
};

struct PlotRgba {
    float r, g, b, a;
};

// Clear colour of the plot surfaces: light (0.9, 0.9, 0.9), dark (0, 0, 0.1).
PlotRgba SchemeClearColor(bool lightBackground);

// Colour-table entries of the line plots.
enum PlotColor : int {
    ColorGrid = 0,
    ColorGridEmphasised = 1,
    ColorZeroLine = 2,
    ColorLeft = 3,
    ColorRight = 4,
};

// Grid stipple pattern: 12 pixels drawn, 4 skipped. Traces are solid.
inline constexpr uint16_t GridStipple = 0x0FFF;

// The plot area of a view in form client pixels, inclusive on all sides.
struct PlotRect {
    int left, right, top, bottom;
    friend bool operator==(const PlotRect&, const PlotRect&) = default;
};

// Copies the rectangle into PlotLeft, PlotRight, PlotTop and PlotBottom.
void SetPlotRect(const PlotRect& plot);

// One line of the bevel shading, from (x1, y1) towards (x2, y2) with the end
// point left out (as window-system lines are drawn), in grey (g, g, g).
struct ShadeLine {
    int x1, y1, x2, y2;
    int grey;
};

// How a view shades the left and bottom edges of its plot. Line i (from 1)
// has the grey (k * i + 150) mod 256.
struct ShadingStyle {
    int verticalCount;          // vertical lines i = 1 .. verticalCount
    int verticalK;              // k of the vertical lines
    bool verticalFromTopMinusI; // start row top - i instead of top
    bool verticalFirst;         // all vertical lines, then the horizontal ones;
                                // otherwise one loop, horizontal then vertical
};
inline constexpr int HorizontalShadeCount = 25; // horizontal lines, k = 4

std::vector<ShadeLine> ShadingLines(const PlotRect& plot, const ShadingStyle& style);

// A text with the top-left corner of its cell at (x, y).
struct FrameText {
    int x, y;
    std::string text;
    friend bool operator==(const FrameText&, const FrameText&) = default;
};

// The channel legend under the plot: two swatches with "Left" and "Right".
struct LegendSwatch {
    int x1, x2, y;
    int colorEntry;
};
struct Legend {
    LegendSwatch left, right;
    FrameText leftText, rightText;
};
Legend ChannelLegend(const PlotRect& plot);

// A horizontal line at exactly y = -1 runs along the lower boundary of the
// bottom pixel row and lights no pixel. Trace points at or below the bottom
// edge (silence on a spectrum) are raised to the centre of that row, so that
// they show on the edge, on a surface `heightPixels` high.
void LiftOntoBottomRow(std::vector<PlotVertex>& vertices, int heightPixels);

// Scale-panel drag: a move leaves the panel where it is while the pointer
// stays within 5 pixels of the anchor in both directions.
bool DragLeavesDeadZone(int x, int y, int dragX, int dragY);
