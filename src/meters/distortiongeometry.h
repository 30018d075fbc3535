// The distortion window's plain logic, free of Qt and of the display: the
// logarithmic frequency axis and the dBFS axis of the spectrum picture, the
// markers of the fundamental and its harmonics, the spectrum reduced to one
// span per pixel column, the texts of the readings and of the pointer's
// readout, and the CSV export.
#pragma once

#include <optional>
#include <string>
#include <vector>

// Only declared: the window's header, which every moc file of the program
// meets in one unit, stays clear of the analyzer's.
namespace measure {
struct DistortionReading;
struct HarmonicReading;
} // namespace measure

namespace distortionview {

// The transform sizes offered (the analyzer's), 65536 by default.
inline constexpr int SizeChoices[] = {16384, 65536, 131072};
inline constexpr int DefaultSize = 65536;

// The spectrum's axes: 20 Hz ... 20 kHz on a log scale, 0 ... -160 dBFS.
inline constexpr double AxisLowHz = 20.0, AxisHighHz = 20000.0;
inline constexpr double AxisTopDb = 0.0, AxisBottomDb = -160.0;

// The test tone's choices.
inline constexpr double DefaultToneHz = 997.0, MinToneHz = 20.0, MaxToneHz = 20000.0;
inline constexpr double DefaultToneDbfs = -6.0, MinToneDbfs = -60.0, MaxToneDbfs = 0.0;

// The averaging choices: Off (1), 2, 4, 8, 16.
inline constexpr int AverageCounts[] = {1, 2, 4, 8, 16};
inline constexpr int AverageChoiceCount = 5;
// The channel choices.
inline constexpr int ChannelLeft = 0, ChannelRight = 1, ChannelBoth = 2, ChannelChoiceCount = 3;

// dB SPL = dBFS + offset; none: levels in dBFS.
using Calibration = std::optional<double>;

// A horizontal span of `width` pixels starting at `left` (column left is
// 20 Hz, column left + width - 1 is 20 kHz).
struct Span {
    int left = 0, width = 1;
};

// The column of a frequency, as a real number (not rounded): left + (width
// - 1) log(hz / 20) / log(1000). Frequencies outside the axis give columns
// outside the span.
double FrequencyColumn(double hz, Span span);
// The frequency at a column; the inverse of FrequencyColumn.
double ColumnFrequency(double column, Span span);
// The row of a level between `top` (AxisTopDb) and `top + height - 1`
// (AxisBottomDb), clamped into it.
int LevelRow(double db, int top, int height);
// The level at a row; the inverse of LevelRow (not clamped).
double RowLevel(int row, int top, int height);

// Where one channel's section of the panel puts its parts: the readings'
// text on the left, the spectrum right of it with room for its axis labels,
// the residual waveform below the spectrum. Sections are stacked from the
// top, one per channel shown. Every part lies inside the panel.
struct Box {
    int left = 0, top = 0, width = 1, height = 1;
    bool Holds(int x, int y) const { return x >= left && x < left + width && y >= top && y < top + height; }
};
struct SectionPlaces {
    Box section, text, spectrum, residual;
};
SectionPlaces LayoutSection(int width, int height, int index, int count);

// A marker: the fundamental (order 1) or a harmonic, at its column.
struct Marker {
    int order = 1;
    double hz = 0;
    int column = 0;
};
// The fundamental's and each harmonic's marker, those inside the axis.
// None when no tone was found.
std::vector<Marker> Markers(const measure::DistortionReading& reading, Span span);

// One pixel column of the spectrum: the lowest and highest level of the
// bins that fall in it.
struct ColumnLevels {
    int column = 0;
    double minDb = 0, maxDb = 0;
};
// The spectrum (bin k at k * binHz, levels in dB) reduced to one span per
// column of `span`, in column order. Bins outside 20 Hz ... 20 kHz are left
// out. A column that no bin falls in (low on the log axis bins are wider
// than columns) takes the level interpolated between the bins either side,
// so that the trace stays joined.
std::vector<ColumnLevels> ReduceToColumns(const std::vector<double>& db, double binHz, Span span);

// A level with one decimal, never "-0.0".
std::string DbText(double db);
// A harmonic's relative level and its own level: "-96.3 dB" or, below the
// noise, "< -120.4 dB" (an upper bound).
std::string RelativeText(const measure::HarmonicReading& harmonic);
// The unit of absolute levels: "dBFS" or "dB SPL".
std::string LevelUnit(const Calibration& calibration);
// An absolute level as shown (dBFS + offset on a calibrated device).
double LevelShown(double dbfs, const Calibration& calibration);

// The readings as the panel shows them, one line each: the fundamental's
// frequency (0.01 Hz) and level, each harmonic, THD, THD+N, SINAD, SNR and
// the noise floor per bin. "No test tone found" alone when none was; every
// line marked "clipped" when the samples were.
std::vector<std::string> ReadingLines(const measure::DistortionReading& reading, const Calibration& calibration);

// The pointer's readout over the spectrum: "1000.0 Hz  -96.3 dBFS".
std::string HoverText(double hz, double level, const Calibration& calibration);

// One channel's reading for the CSV export, under its name ("Left",
// "Right").
struct ChannelReading {
    std::string channel;
    const measure::DistortionReading* reading;
};
// The header "channel,reading,frequency_hz,level,level_unit,relative_db,
// percent,status" and one row per reading and harmonic of each channel;
// numbers with '.' decimals, empty fields where a quantity has no such
// value. status says "clipped", "below noise" (an upper bound) or, as the
// channel's only row, "no test tone found". Lines end in "\n".
std::string CsvText(const std::vector<ChannelReading>& readings, const Calibration& calibration);

} // namespace distortionview
