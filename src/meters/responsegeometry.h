// The response window's plain logic, free of Qt and of the display: the
// choices it offers and stores, the log frequency axis and the value axes of
// its views, the curves turned into vertex lists, the legend's layout, the
// texts of the pointer's readout, and the list of kept measurements with
// its limit.
#pragma once

#include "measure/response.h"
#include "measure/smoothing.h"

#include <optional>
#include <string>
#include <vector>

namespace responseview {

// The sweep's lengths in seconds and its level, as offered and stored.
inline constexpr int LengthChoices[] = {1, 2, 4, 8, 16};
inline constexpr int DefaultLengthSeconds = 4;
inline constexpr double MinLevelDbfs = -40.0, MaxLevelDbfs = 0.0, DefaultLevelDbfs = -6.0;

// Reference: the sweep as generated, or the left or right input carrying it.
inline constexpr int ReferenceGenerated = 0, ReferenceLeft = 1, ReferenceRight = 2, ReferenceChoiceCount = 3;
inline constexpr int ChannelChoiceCount = 2; // left, right
enum View { ViewMagnitude, ViewPhase, ViewImpulse, ViewDistortion, ViewChoiceCount };
// None, 1/48, 1/24, 1/12, 1/6, 1/3 octave, in measure::Smoothing's order.
inline constexpr int SmoothingChoiceCount = 6;
inline constexpr int PhaseWrapped = 0, PhaseUnwrapped = 1, PhaseChoiceCount = 2;
inline constexpr int ImpulseLinear = 0, ImpulseDb = 1, ImpulseChoiceCount = 2;

measure::ResponseReference ReferenceFor(int choice);
measure::Smoothing SmoothingFor(int choice);

// The frequency axis: 20 Hz ... 20 kHz on a log scale.
inline constexpr double AxisLowHz = 20.0, AxisHighHz = 20000.0;

struct Box {
    int left = 0, top = 0, width = 1, height = 1;
    bool Holds(int x, int y) const { return x >= left && x < left + width && y >= top && y < top + height; }
    int Right() const { return left + width - 1; }
    int Bottom() const { return top + height - 1; }
};

// The column of a frequency, not rounded: left + (width - 1) log(hz / 20) /
// log(1000); and its inverse.
double FrequencyColumn(double hz, const Box& plot);
double ColumnFrequency(double column, const Box& plot);

// A value axis: `top` at the plot's first row, `bottom` at its last.
struct ValueRange {
    double top = 10, bottom = -50;
};
// The row of a value (not rounded, not clamped), and its inverse.
double ValueRow(double value, const ValueRange& range, const Box& plot);
double RowValue(double row, const ValueRange& range, const Box& plot);

// The time axis of the impulse view, milliseconds from `startMs` at the
// first column to `endMs` at the last.
struct TimeRange {
    double startMs = 0, endMs = 100;
};
double TimeColumn(double ms, const TimeRange& range, const Box& plot);
double ColumnTime(double column, const TimeRange& range, const Box& plot);

// A labelled grid line: at `place` (column or row), reading `text`.
struct Tick {
    double value = 0;
    int place = 0;
    std::string text;
};
// 20, 50, 100, 200, 500, 1k, 2k, 5k, 10k, 20k at their columns.
std::vector<Tick> FrequencyTicks(const Box& plot);
// Lines every `step` inside the range, at their rows.
std::vector<Tick> ValueTicks(const ValueRange& range, double step, const Box& plot);
// Lines on round milliseconds across the range, about `wanted` of them.
std::vector<Tick> TimeTicks(const TimeRange& range, const Box& plot, int wanted = 8);

// A magnitude axis holding every value given: whole tens above and below,
// at least 40 dB and at most 120 dB tall (the top kept when cut); -50 ...
// +10 when there are no values.
ValueRange MagnitudeRange(const std::vector<double>& values);
// Wrapped phase -180 ... 180; unwrapped: whole half turns around the values.
ValueRange PhaseRange(const std::vector<double>& values, bool unwrapped);
// The grid step for a range: 10 dB up to 80 dB tall, else 20; phases 45
// degrees wrapped, else a whole number of half turns giving at most 8 lines.
double MagnitudeStep(const ValueRange& range);
double PhaseStep(const ValueRange& range);

struct Vertex {
    double x = 0, y = 0;
};
// One curve as joined stretches of vertices: a point whose value is not
// finite (or whose frequency is outside the axis) breaks the line. Values
// beyond the range are kept to the plot's top or bottom row.
std::vector<std::vector<Vertex>> CurveVertices(const std::vector<double>& hz, const std::vector<double>& values,
                                               const ValueRange& range, const Box& plot);
// The impulse's samples (`samples[i]` at `startMs + i * msPerSample`) as
// vertices, at most one min/max pair per column.
std::vector<Vertex> ImpulseVertices(const std::vector<double>& samples, double startMs, double msPerSample,
                                    const TimeRange& range, const ValueRange& values, const Box& plot);
// The samples in dB (20 log10 |x|, floored at -200 dB).
std::vector<double> SamplesInDb(const std::vector<double>& samples);

// The value of a curve at `hz`, interpolated in log frequency between the
// points either side; none outside the curve or where a neighbour is not
// finite.
std::optional<double> ValueAt(const std::vector<double>& hz, const std::vector<double>& values, double hz0);

// Where the panel puts the plot (room for the value labels on the left and
// the frequency labels below) and, with `coherenceStrip`, the coherence's
// strip (0 ... 1) under it.
struct PanelPlaces {
    Box plot;
    std::optional<Box> coherence;
};
PanelPlaces LayoutPanel(int width, int height, bool coherenceStrip);

// The legend's entries, one row each at the plot's top right corner, `rowHeight`
// apart and `width` wide; as many rows as fit, the rest left out.
std::vector<Box> LegendRows(int count, const Box& plot, int width, int rowHeight);

// One curve's reading at the pointer, for the readout.
struct CurveValue {
    std::string name;
    std::optional<double> value;
};
// "1000.0 Hz" followed by one line per curve, "Measurement 1: -0.2 dB".
std::string HoverText(double hz, const std::vector<CurveValue>& values, const std::string& unit, int decimals = 1);

// The line a kept measurement shows in the list and the legend: its name,
// delay in ms and samples, peak, and "clipped".
std::string DelayText(double delayMs, double delaySamples);
std::string LegendText(const std::string& name, bool clipped);

// The magnitude's unit and axis label: dB of gain, or dB SPL (the sweep's
// level and the recording device's calibration added).
std::string MagnitudeAxisLabel(const std::optional<double>& calibrationDb, double levelDbfs);

// The kept measurements and curves loaded from files.
struct Kept {
    std::string name;
    int colour = 0; // index into the window's palette
    bool shown = true;
    std::string date;
    double levelDbfs = 0;
    double offsetFrames = 0;
    std::optional<double> calibrationDb;                     // dB SPL = gain dB + level + this, when the device had one
    std::optional<measure::ResponseMeasurement> measurement; // none for a loaded file
    std::vector<double> hz, magnitudeDb, phaseDegrees, unwrappedDegrees; // what is drawn (mic corrected)
    bool fromFile = false;
};

inline constexpr int MaxKept = 8;
inline constexpr int PaletteSize = MaxKept;

// The kept measurements, oldest first; the newest is the current one. Adding
// a ninth drops the oldest: a measurement is made to be compared with the
// ones just before it.
class KeptList {
public:
    // Adds `kept` with the first colour no other entry uses; returns the
    // name of the entry dropped to make room, or empty.
    std::string Add(Kept kept);
    bool Remove(std::size_t index);
    std::size_t Size() const { return entries.size(); }
    bool Empty() const { return entries.empty(); }
    Kept& operator[](std::size_t index) { return entries[index]; }
    const Kept& operator[](std::size_t index) const { return entries[index]; }
    const std::vector<Kept>& Entries() const { return entries; }
    // "Measurement N" with the smallest N above every number used so far.
    std::string NextName();

private:
    std::vector<Kept> entries;
    int numbered = 0;
};

// The magnitude as drawn: smoothed, less the microphone's response where
// given (`micDb` per point, empty: none).
std::vector<double> CorrectedMagnitude(const std::vector<double>& hz, const std::vector<double>& db,
                                       const std::vector<double>& micDb, measure::Smoothing smoothing);

} // namespace responseview
