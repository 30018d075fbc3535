// Spectrogram rendering: the ten columns of each analysed block with their
// peak marks and the sweep cursor, drawn onto a surface that keeps what was
// drawn (the picture is the spectrogram's only history); the clear step; and
// the axis frame around the plot.
#pragma once

#include "analysis/SpTmBlocks.h"
#include "analysis/SpTmMap.h"

#include <QFont>
#include <QImage>
#include <QLocale>

#include <cstdint>
#include <vector>

// The frequency scale factor K of the last render (1/sqrt(21000) with both
// channels shown, else 2/sqrt(21000)). UI thread.
inline float SpTmFreqScale = 0;

namespace sptm {

// Vertices of one OpenGL batch in normalised device coordinates, with a
// colour per vertex, laid out for glVertexPointer / glColorPointer.
struct Vertices {
    std::vector<float> xy;
    std::vector<uint8_t> rgb;

    void Clear()
    {
        xy.clear();
        rgb.clear();
    }
    void Add(float x, float y, Rgb colour)
    {
        xy.insert(xy.end(), {x, y});
        rgb.insert(rgb.end(), {colour.r, colour.g, colour.b});
    }
    int Count() const { return static_cast<int>(xy.size() / 2); }
};

// What a render needs to know besides the block.
struct Look {
    int width; // plot panel width in pixels (> 0)
    bool showLeft;
    bool showRight;
    float gain;     // KaSpTm as stored; unusable values count as 10
    bool light;     // LightBackground
    float binWidth; // Hz per bin
};

// One block's drawing, in drawing order: erase lines (GL_LINES), cells of
// the shown channels, left band first (GL_LINES), peak marks (GL_POINTS of
// size 1), cursor (GL_LINES).
struct BlockDrawing {
    Vertices erase;
    Vertices cells;
    Vertices peaks;
    Vertices cursor;
};

Rgb EraseColor(bool light);
Rgb CursorColor(bool light);
// Clear colour of the surface (RGBA, 0..1).
struct ClearColor {
    float r, g, b, a;
};
ClearColor SurfaceClearColor(bool light);

// Fills `out` with the drawing of `block` at its column.
void DrawingOfBlock(const Block& block, const Look& look, BlockDrawing& out);

// What the frame shows besides the plot geometry.
struct FrameLook {
    bool showLeft;
    bool showRight;
    int outerHeight; // the form's outer height: tick density of two bands
    bool light;
    QFont font;
    QColor background;
    QLocale locale; // decimal separator of the legend labels
};

// Paints the frame onto the form canvas: bevel shading, frequency scale,
// time scale, colour legend with its ticks and labels, marker pixel.
void PaintFrame(QImage& canvas, const PlotRect& plot, const FrameLook& look);

} // namespace sptm

// Draws the blocks analysed since the last render onto the spectrogram
// surface, each at its own columns, and moves the sweep on, wrapping at the
// right edge. Never clears: a paint without a new block leaves the picture
// as it is. Outside a paint of the plot panel it asks for one. UI thread.
void RenderSpTm();
// Fills the spectrogram surface with the scheme's clear colour; the sweep
// position stays. UI thread.
void ClearSpTm();
// Draws the axis frame of the spectrogram window. UI thread.
void DrawSpTmFrame();
// Sets the current OpenGL colour to the palette colour of a magnitude's level.
void SpTmColor(float magnitude);
