// The spectrogram's pixels computed on the CPU.
//
// A block is drawn as line batches: a full-height erase line per slice
// column, a one-pixel vertical line per bin cell, a point per peak mark and
// the full-height sweep cursor. Under a software renderer those tens of
// thousands of tiny lines cost more than all the rest of the program, yet
// where each one lands depends only on the layout: which device column a
// line at a given x lights, which rows a full-height line lights, which
// rows each bin's cell ends up owning after the later cells have drawn
// over the earlier ones, and which row each bin's peak mark lights. A
// RasterPlan holds exactly that, learnt by drawing probes with the renderer
// itself (each primitive in a colour of its own) and reading them back, so
// the CPU writes the very pixels the renderer would have written.
#pragma once

#include "analysis/SpTmBlocks.h"
#include "views/SpTmGraph.h"

#include <QImage>
#include <QSize>

#include <array>
#include <cstdint>
#include <limits>
#include <vector>

namespace sptm {

struct RasterPlan {
    // The layout the plan was learnt for.
    int logicalWidth = 0;
    QSize deviceSize;
    bool showLeft = false;
    bool showRight = false;
    float binWidth = 0;

    std::vector<int> sliceColumn;  // device column of the line at logical column p; -1: none
    std::vector<int> peakColumn;   // device column of a peak mark at logical column p; -1: none
    std::vector<int> cursorColumn; // device column of the cursor after the block at sweep position c; -1: none
    std::vector<int> lineRows;     // rows (top row 0) that a full-height line lights

    struct CellRow {
        int row;
        int bin;
    };
    // Per channel (0 left, 1 right): every row a cell of the band lights,
    // with the last bin drawn there. Empty when the channel is not shown.
    std::vector<CellRow> cells[2];
    // Per channel: the row of the peak mark of each bin; -1: it lights none.
    std::array<int, ShownBins> peakRow[2]{};

    bool Fits(const Look& look, QSize device) const;
};

// ---- learning a plan from probes ---------------------------------------------

// The colour a probe draws primitive `index` (from 0) in, and back: index+1
// in the 24 bits of red, green and blue; black is no primitive.
struct ProbeColour {
    uint8_t r, g, b;
};
ProbeColour ProbeColourOf(int index);
// -1 for black.
int ProbeIndexOf(QRgb pixel);

// From a probe of `count` vertical lines (or points), each in its probe
// colour: the column each lights into `columns` (-1: none), and the rows
// they light into `rows`. False when one lights more than one column, or
// two light different rows: then the picture of such lines is not a column
// plus a row set, and the plan cannot stand in for the renderer.
bool ReadLineProbe(const QImage& probe, int count, std::vector<int>& columns, std::vector<int>& rows);

// From a probe of one band's cells drawn at device column `column`, bin j in
// the probe colour of j: each lit row and its bin, top row first.
std::vector<RasterPlan::CellRow> ReadCellProbe(const QImage& probe, int column);

// From a probe of peak marks: mark `first + k` drawn at device column
// columns[k], in the probe colour of its bin. Sets `rows[bin]` to the row it
// lit, -1 for none. False when a mark lit more than one pixel.
bool ReadPeakProbe(const QImage& probe, const std::vector<int>& columns, int first, int count,
                   std::array<int, ShownBins>& rows);

// ---- drawing with a plan --------------------------------------------------------

// Device columns first .. last; empty when first > last.
struct ColumnSpan {
    int first = std::numeric_limits<int>::max();
    int last = -1;
    bool Empty() const { return first > last; }
};

// Writes `count` blocks into `picture` (RGB32, the plan's device size), in
// the order and with the colours of their line batches: erase, cells of the
// shown channels, peak marks, cursor. Returns the columns written.
ColumnSpan RasterBlocks(const Block* blocks, int count, const Look& look, const RasterPlan& plan, QImage& picture);

} // namespace sptm
