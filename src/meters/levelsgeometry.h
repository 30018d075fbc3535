// The levels view's plain logic, free of Qt and of the display: what each
// meter line shows (caption, bar, large number, unit, held maximum), the
// conversion to sound pressure level of a calibrated device, and where the
// lines, bars and numbers lie in the panel.
#pragma once

#include "measure/levelmeter.h"
#include "measure/loudness.h"
#include "measure/weighting.h"

#include <optional>
#include <string>
#include <vector>

namespace levelsview {

// The bars span this many dB below their top: full scale, or the level
// full scale stands for on a calibrated device (0 LUFS for loudness).
inline constexpr double BarSpanDb = 80.0;

// 10 lg 2: a sine's peak sound pressure level lies this far above its RMS
// level, while in dBFS (full-scale sine = 0 dB) both read the same.
inline constexpr double SinePeakOverRmsDb = 3.0102999566398120;

// The calibration of the device measured: dB SPL = dBFS + offsetDb.
// Without one, levels stay in dBFS.
using Calibration = std::optional<double>;

// An RMS level (Fast, Slow, Leq, calibrator) as shown: dBFS, or dB SPL on a
// calibrated device. Silence stays silence.
double RmsShown(double dbfs, const Calibration& calibration);
// A weighted peak level (the log's LCpeak) as shown: dBFS, or the peak sound
// pressure level on a calibrated device (a sine's peak lies 3 dB above its
// RMS level). The sample and true peaks stay relative to full scale.
double PeakShown(double dbfs, const Calibration& calibration);

// The units: "dBFS" or "dB SPL" for the levels without weighting (the
// log's); the RMS levels with the weighting: "dBFS", "dBFS(A)", "dBFS(C)"
// uncalibrated, "dB SPL", "dB(A)", "dB(C)" calibrated.
std::string PeakUnit(const Calibration& calibration);
std::string RmsUnit(measure::Weighting weighting, const Calibration& calibration);

// A level the user typed (the level 0 dBFS stands for, a calibrator's
// level): a plain decimal number, comma or point, blanks around it allowed,
// above 0 and at most MaxTypedDbSpl. None otherwise.
inline constexpr double MaxTypedDbSpl = 200.0;
std::optional<double> ParseTypedLevel(const std::string& text);
// What the window says about the device's calibration: "0 dBFS = 114.0 dB
// SPL", or "dBFS (not calibrated)".
std::string CalibrationText(const Calibration& calibration);

// A level as a number with one decimal: "-inf" for silence, "--" for no
// value yet, never "-0.0".
std::string LevelText(double db);
std::string LevelText(std::optional<double> db);

// One line of the panel: a caption (on the first line of a quantity), the
// channel ("L", "R" or none), a bar from barLowDb to barHighDb filled to
// `value` with a mark at `held`, the large number, its unit and a smaller
// note (the held maximum, the clip count).
struct MeterLine {
    std::string caption;
    std::string channel; // "L", "R" or ""
    int channelIndex = -1;
    bool bar = true;
    std::optional<double> value;
    std::optional<double> held;
    double barLowDb = -BarSpanDb, barHighDb = 0.0;
    std::string number;
    std::string unit;
    std::string note;
    bool alarm = false; // samples at full scale or a true peak above 0 dBTP
};

struct MeterReadings {
    measure::ChannelLevels channels[2];
    measure::LoudnessLevels loudness;
    measure::Weighting weighting = measure::Weighting::Z;
    Calibration calibration;
};

// The lines in the order they are drawn: sample peak, true peak, Fast,
// Slow and Leq, each for the left and then the right channel (the caption
// on both); then momentary, short-term and integrated loudness, loudness
// range and maximum true peak.
inline constexpr int ChannelLineCount = 10, LoudnessLineCount = 5;
std::vector<MeterLine> MeterLines(const MeterReadings& readings);

// ---- layout ------------------------------------------------------------

// Pixels of a bar `length` long filled by `db` on a scale from `lowDb` to
// `highDb`: 0 at or below the low end (no value, silence, NaN), all of it
// at or above the top.
int BarFill(std::optional<double> db, double lowDb, double highDb, int length);

// Where the parts of each line lie in a panel `width` x `height`: the
// caption from the left edge, the channel letter, the bar, then the number
// (right-aligned in its column), the unit and the note. Lines are evenly
// spaced from the top, with an extra gap between the channel section and
// the loudness section; every part stays inside the panel.
struct LinePlace {
    int top, height;
};
struct MeterLayout {
    int captionLeft, channelLeft;
    int barLeft, barRight; // inclusive; barRight < barLeft: no room for bars
    int numberLeft, numberRight;
    int unitLeft, noteLeft;
    int numberPixels; // the large number's font height
    std::vector<LinePlace> lines;
};
// `channelLines` lines first, the rest after the section gap.
MeterLayout LayoutMeters(int width, int height, int channelLines, int loudnessLines);

} // namespace levelsview
