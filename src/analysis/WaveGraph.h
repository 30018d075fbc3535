// The waveform view's geometry, texts and vertices, free of any display:
// the plot rectangle and shading of its frame, the amplitude and time labels,
// the grid, zero line and trace vertices, and the track bar tables. The
// waveform window (WaveForm) calls these and draws.
#pragma once

#include "analysis/plotgeometry.h"

#include <cstdint>
#include <vector>

// Frame margins: left 32, right client width - 5, top 0, bottom client
// height - 25.
PlotRect WavePlotRect(int clientWidth, int clientHeight);
// 32 vertical shading lines with k = 3 from the top row, before the
// horizontal ones.
ShadingStyle WaveShading();

// One label per horizontal grid line, +fullScale at the top, 0 at mid-height,
// -fullScale at the bottom, each text's top 5 pixels above its line.
std::vector<FrameText> WaveAmplitudeLabels(const PlotRect& plot, int32_t fullScale);
// Milliseconds at the nine inner vertical grid lines, whole numbers from a
// span of 441 samples (10 ms) on, one decimal below.
std::vector<FrameText> WaveTimeLabels(const PlotRect& plot, int32_t span);
// "Time [ms]" at the lower right.
FrameText WaveTimeCaption(const PlotRect& plot);

// The dashed grid as GL_LINES pairs: 20 horizontal lines (y = -0.9 .. 1,
// none at the bottom edge), then 11 vertical lines (x = -1 .. 1).
const std::vector<PlotVertex>& WaveGridLines();
// The zero line across the plot.
const std::vector<PlotVertex>& WaveZeroLine();

// The trace of one channel over `span` samples of the newest block (`block`
// holds its HistoryHalf samples): vertex k = 0 .. 2a (a = span / 2) at
// x = (k - a) / a, y = sample / fullScale. Slots past the newest real sample
// repeat it, so the 100 ms span ends on the last sample captured rather than
// on the slot capture never writes. Callers pass usable ranges
// (UsableWaveRangeX/Y).
void WaveTrace(const int16_t* block, int32_t span, int32_t fullScale, std::vector<PlotVertex>& out);

// Track bar tables: TBarRangeX positions 1..4, TBarRangeY positions 1..7.
inline constexpr int32_t WaveRangeXTable[4] = {441, 882, 2205, 4410};
inline constexpr int32_t WaveRangeYTable[7] = {35000, 20000, 10000, 5000, 2000, 1000, 500};
int32_t WaveRangeXAt(int position); // positions outside 1..4 clamp to the nearest end
int32_t WaveRangeYAt(int position); // positions outside 1..7 clamp to the nearest end
// The position whose value equals `range`; 0 when the table has no such value.
int WaveRangeXPosition(int32_t range);
int WaveRangeYPosition(int32_t range);
