// The spectrum view's geometry, texts and vertices, free of any display:
// the plot rectangle and shading of its frame, the numbers of the linear
// (percent over hertz) and logarithmic (decibels over a logarithmic
// frequency axis) frames, grids and traces of both modes, and the track bar
// tables. The spectrum window (SpectForm) calls these and draws.
#pragma once

#include "analysis/plotgeometry.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Fixed axes of the logarithmic mode: 0 dB is 32767, the floor 0.0032767
// (-140 dB); frequencies from 10 Hz (left edge) to 25000 Hz (right edge).
inline constexpr double LogFullScale = 32767.0;
inline constexpr double LogFloor = 0.0032767;
inline constexpr double LogLowHz = 10.0;
inline constexpr double LogHighHz = 25000.0;

// Scale factors of the logarithmic axes. The frame stores pixels per unit of
// natural logarithm in LnScaleX; the logarithmic render stores device units
// per unit of logarithm in LnScaleX and LnScaleY. Each sets them before use.
inline float LnScaleX = 0.0f;
inline float LnScaleY = 0.0f;

// Frame margins: left 25, right client width, top 0, bottom client height - 25,
// and 14 more below when the peak readout has its line there.
inline constexpr int PeakLineHeight = 14;
PlotRect SpectPlotRect(int clientWidth, int clientHeight, bool peakLine = false);
// 25 vertical shading lines with k = 4, line i from row top - i, in one loop
// with the horizontal ones.
ShadingStyle SpectShading();

// The frame's LnScaleX: (right - left) / (ln 25000 - ln 10).
float FrameLnScaleX(const PlotRect& plot);
// The render's LnScaleX and LnScaleY.
float RenderLnScaleX();
float RenderLnScaleY();

// Amplitude number i (1..10) of the linear frame: i * rangeY / 10, three
// characters wide without decimals from a range of 10 on, three wide with one
// decimal from 1, four wide with two decimals below 1.
std::string SpectLinearAmplitudeText(float rangeY, int i);
// All texts of the linear frame: "%", the ten amplitude numbers, the eleven
// frequency numbers (0 .. rangeX) and "Frequency [Hz]".
std::vector<FrameText> SpectLinearLabels(const PlotRect& plot, float rangeY, int32_t rangeX);
// All texts of the logarithmic frame: "[dB]", 0 .. -120 dB, the frequency
// numbers 10 .. 20k and "Frequency [Hz]". On a calibrated device the level
// numbers are sound pressure levels, dBFS + offsetDb, their right ends
// where those of the dBFS numbers are.
std::vector<FrameText> SpectLogLabels(const PlotRect& plot, std::optional<double> offsetDb = std::nullopt);

// The frame's note of a frequency weighting, "dB(A)" on the logarithmic
// axis and "%, A-weighted" on the linear one, in the bottom line left of
// "Frequency [Hz]" and right of the channel legend.
FrameText SpectWeightingLabel(const PlotRect& plot, bool logAxis, const std::string& weighting);
// The level unit of a calibrated device ("dB SPL", "dB(A)") in the same place.
FrameText SpectUnitLabel(const PlotRect& plot, const std::string& unit);

// Linear mode: the bin at the right edge, nearest integer to
// rangeX / BinWidth, plus 1 (94 at 1000 Hz, 1859 at 20000 Hz).
int SpectLinearTopBin(int32_t rangeX);
// Linear mode: sample units at the top edge, nearest integer to
// rangeY * 32767 / 100.
int32_t SpectLinearFull(float rangeY);
// Linear grid as GL_LINES pairs: horizontal lines y = -0.8 .. 0.8, then
// vertical lines x = -0.8 .. 0.8.
const std::vector<PlotVertex>& SpectLinearGrid();
// Linear trace of one channel's row (BinSlots values): bins 0 .. h at
// (2i/h - 1, 2 value/full - 1). Callers pass usable ranges.
void SpectLinearTrace(const float* row, int32_t rangeX, float rangeY, std::vector<PlotVertex>& out);

// A grid line in its own colour-table entry.
struct GridLine {
    PlotVertex a, b;
    int colorEntry;
};
// Logarithmic grid: six horizontal lines between the seven 20 dB bands.
const std::vector<PlotVertex>& SpectLogHorizontalGrid();
// Logarithmic grid: every 10 Hz from 20 to 200 Hz, every 100 Hz to 2 kHz,
// every 1 kHz to 20 kHz; emphasised (entry 1) at 20, 50, 100 ... 20000 Hz.
const std::vector<GridLine>& SpectLogVerticalGrid();
// Normalised x of `hz` on the logarithmic axis.
double SpectLogX(double hz);
// Logarithmic trace of one channel's row: bins 1 .. 1858; levels below the
// floor lie on the bottom edge.
void SpectLogTrace(const float* row, std::vector<PlotVertex>& out);

// Track bar tables: TrackBarFX positions 1..5, TrackBarFY positions 1..9.
inline constexpr int32_t SpectRangeXTable[5] = {1000, 2000, 5000, 10000, 20000};
inline constexpr float SpectRangeYTable[9] = {100.0f, 50.0f, 20.0f, 10.0f, 5.0f, 2.0f, 1.0f, 0.5f, 0.2f};
int32_t SpectRangeXAt(int position); // positions outside 1..5 clamp to the nearest end
float SpectRangeYAt(int position);   // positions outside 1..9 clamp to the nearest end
// The position whose value equals `range`; 0 when the table has no such value.
int SpectRangeXPosition(int32_t range);
int SpectRangeYPosition(float range);
