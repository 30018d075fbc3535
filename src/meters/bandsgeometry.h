// The octave view's plain geometry and texts, free of Qt and of the display:
// where each band's bars lie, which labels fit, the level scale, the hover
// readout and the CSV export.
#pragma once

#include "measure/bandmeter.h"
#include "measure/micresponse.h"
#include "measure/octavebands.h"
#include "measure/weighting.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace bandsview {

// The fractions in the order the panel lists them (index stored in the
// settings) and their names ("1/1 Octave", "1/3 Octave").
int FractionAt(int index);
std::string FractionName(int fraction);

// The level axis: `topDb` at the top of the plot, `spanDb` below it at the
// bottom. The choices the panel offers, top first.
inline constexpr int TopChoices[] = {0, -10, -20, -30, -40, -50, -60};
inline constexpr int SpanChoices[] = {20, 40, 60, 80, 100, 120, 140};
bool IsTopChoice(double db);
bool IsSpanChoice(double db);

// The pixel row (0 at the top of a plot `height` rows high) of a level,
// clamped to the plot; levels below the axis give `height`.
int LevelRow(double db, double topDb, double spanDb, int height);
// The levels of the horizontal grid lines: every 10 dB, or every 20 dB
// when the span is above 80 dB.
std::vector<int> GridLevels(double topDb, double spanDb);

// A band's bars span the plot's width divided evenly among the bands; with
// both channels shown the left channel's bar takes the left half of the
// band's slot and the right channel's the right half, with a gap of a
// tenth of the slot (at least a pixel when there is room) between bands.
struct BarSpan {
    int left;  // first pixel column
    int right; // last pixel column, inclusive; right < left: no room
};
BarSpan BarColumns(int band, int bandCount, int width, int channel, bool bothShown);
// The band under pixel column x; -1 off the bands.
int BandAtColumn(int x, int bandCount, int width);

// The bands whose labels are drawn: every k-th, k the smallest of 1, 2, 3,
// 6, 12 or 24 that leaves each label `labelWidth` pixels, counted from the
// 1 kHz band (or the band nearest it) so that the labels stay on round values.
std::vector<int> LabelledBands(const std::vector<measure::OctaveBand>& bands, int width, int labelWidth);

// The hover readout: nominal and exact centre, edges, and the level of each
// shown channel in `unit` (UnitLabel's), relative to full scale, or with
// the device's calibration as sound pressure level (dBFS + offsetDb).
std::string ReadoutText(const measure::OctaveBand& band, std::optional<double> leftDb, std::optional<double> rightDb,
                        std::optional<double> offsetDb, std::string_view unit);

// Takes a measurement microphone's response out of band levels: each
// band's level (and held peak) less the response at its centre. Silence
// stays silence; an empty response changes nothing.
void SubtractMicResponse(measure::BandReading& reading, const measure::MicResponse& response);

// The level axis' label of a grid level `db` (dBFS): the number itself, or
// with the device's calibration the sound pressure level it stands for (to
// 0.1 dB when the offset is no whole number).
std::string GridLabel(int db, std::optional<double> offsetDb);
// The unit under the level axis: "dBFS", "dB(A)", "dB(C)" by the weighting
// (an index of its choices); with a calibration "dB SPL" for Z.
std::string UnitLabel(int weighting, std::optional<double> offsetDb);

// The export: a header naming the fraction, weighting, averaging (with the
// blocks averaged) and time, then one row per band: nominal, centre, lower
// and upper edge in Hz, level of each channel in the unit of the weighting.
struct CsvContext {
    int fraction;
    measure::Weighting weighting;
    std::string averaging;
    long long blocks;
    std::string time; // ISO 8601
};
std::string BandsCsv(const std::vector<measure::OctaveBand>& bands, const std::vector<double>& leftDb,
                     const std::vector<double>& rightDb, const CsvContext& context);

} // namespace bandsview
