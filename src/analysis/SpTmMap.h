// The spectrogram's mapping rules, free of any display: where a slice goes
// on the time axis, where a bin goes on the square-root frequency axis of its
// channel band, how a magnitude becomes a colour level through the gain, the
// two palettes, the peak bin of a slice, and the numbers of the frame around
// the plot (frequency and time scales, colour legend, gain panel).
//
// Every conversion from real to integer rounds to the nearest integer with
// ties to even.
#pragma once

#include "analysis/plotgeometry.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace sptm {

inline constexpr int SlicesPerColumnBlock = 10; // pixel columns one block adds
inline constexpr int MaxLevel = 600;
inline constexpr int FirstBin = 1;   // bin 0 is never shown
inline constexpr int LastBin = 1858; // about 20 kHz
inline constexpr float BandTopHz = 21000.0f;
inline constexpr float FirstBinLowHz = 3.0f; // lower edge of bin 1's cell

struct Rgb {
    uint8_t r, g, b;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

// ---- time axis -----------------------------------------------------------

// Pixel column (from the panel's left edge, from 0) of slice -9..0 of the
// block drawn with sweep position `column`: 10 * column + slice - 1.
int64_t SliceColumn(int32_t column, int slice);
// Normalised x of the centre of pixel column `pixel` on a panel `width` wide.
float PixelX(int64_t pixel, int width);
// Normalised x of the sweep cursor drawn after the block at `column`.
float CursorX(int32_t column, int width);
// True when the block at `column` reached the right edge, so the next block
// starts again at the left edge.
bool SweepWraps(int32_t column, int width);

// ---- frequency axis ----------------------------------------------------------

// The frequency scale factor K: 1/sqrt(21000) with both channels shown,
// twice that otherwise.
float FreqScale(bool showLeft, bool showRight);

// One channel's band: y(f) = scale * sqrt(f) + offset, in normalised y.
struct Band {
    float scale;
    float offset;
    float Y(float hz) const;
};
// The band of channel 1 (left) or 2 (right) for the given selection; none
// when that channel is not drawn.
std::optional<Band> ChannelBand(int channel, bool showLeft, bool showRight);

// Lower and upper frequency of bin j's cell: f(j - 1) .. f(j), with f(0)
// taken as 3 Hz.
float BinHz(int bin, float binWidth);
float CellLowHz(int bin, float binWidth);

// ---- level and palettes --------------------------------------------------------

// Level 0..600 of a magnitude at gain G: Round(sqrt(m) * G), capped at 600.
// A magnitude that is NaN or negative gives 0; an unusable gain (NaN,
// infinite, not positive) counts as 10.
int Level(float magnitude, float gain);
// Palette colour of a level; levels outside 0..600 are clamped into it.
Rgb PaletteColor(int level, bool lightBackground);
inline Rgb MagnitudeColor(float magnitude, float gain, bool lightBackground)
{
    return PaletteColor(Level(magnitude, gain), lightBackground);
}

// Bin 1..1858 of the largest magnitude, the lowest on ties; 0 when no bin
// exceeds 0. `magnitudes` holds bins 0..1858.
int PeakBin(const float* magnitudes);

// ---- frame -----------------------------------------------------------------

// Plot area on the form: 25 px strips left (frequency), below (time) and
// right (colour legend).
PlotRect PlotArea(int clientWidth, int clientHeight);
// Bevel shading left of and under the plot: 25 lines each way, k = 4,
// the vertical ones from the top row, one loop.
ShadingStyle Shading();

// Tick density of the two-band frequency scale: n ticks per decade of
// `step` units. Outer height up to 700: n 5, step 2; above: n 10, step 1.
struct TickDensity {
    int n, step;
    friend bool operator==(const TickDensity&, const TickDensity&) = default;
};
TickDensity FreqTickDensity(int outerHeight);

struct Line {
    int x0, y0, x1, y1;
};
struct ScaleDrawing {
    std::vector<Line> lines;      // drawn without their end points
    std::vector<FrameText> texts; // placed by their top-left corner
};

// Form row of frequency `hz` in a band whose 0 Hz row is `base`, with
// `pixelsPerRootHz` rows per sqrt(Hz) held in single precision.
int ScaleRow(int base, float hz, float pixelsPerRootHz);
// The frequency scale on the left strip: one band per shown channel when
// both are shown (density by outer height), else one band at full density.
ScaleDrawing FrequencyScale(const PlotRect& plot, bool bothShown, int outerHeight);
// The time scale under the plot: a tick and a label every 100 px (one
// second of sweep), then "Time, s".
ScaleDrawing TimeScale(const PlotRect& plot);

// Colour legend: the level shown on row plot.bottom - k (k = 0..bottom).
int LegendLevel(int k, int plotBottom);
// Row of legend tick i (1..9), labelled i * 0.1.
int LegendTickRow(int tick, int plotBottom);

// ---- gain panel ---------------------------------------------------------------

inline constexpr int GainTrackMin = 1;
inline constexpr int GainTrackMax = 20;
// Trackbar position that shows `gain` (the bar runs downwards: position 1 is
// gain 20), clamped into the bar's range as the bar itself does.
int GainTrackPosition(float gain);
// The whole-number gain of a trackbar position.
int GainAtPosition(int position);

} // namespace sptm
