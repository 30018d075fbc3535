#include "meters/levelsgeometry.h"

#include "measure/levels.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace levelsview {

namespace {

bool IsSilence(double db)
{
    return !(db > measure::SilenceDb); // NaN too
}

std::string Format(const char* format, double value)
{
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::optional<double> Level(double db)
{
    return IsSilence(db) ? std::nullopt : std::optional<double>(db);
}

std::string MaxNote(std::optional<double> db)
{
    return db ? "max " + LevelText(*db) : std::string();
}

// The five lines of one channel.
std::vector<MeterLine> ChannelLines(const MeterReadings& readings, int channel)
{
    const measure::ChannelLevels& levels = readings.channels[channel];
    const Calibration& calibration = readings.calibration;
    const std::string name = channel == 0 ? "L" : "R";
    const double rmsTop = RmsShown(0.0, calibration);
    const std::string rmsUnit = RmsUnit(readings.weighting, calibration);

    MeterLine peak;
    peak.caption = "Peak";
    // The sample peak tells the headroom: it stays in dBFS on a calibrated
    // device, as the true peak stays in dBTP.
    peak.value = Level(levels.samplePeakDb);
    peak.number = LevelText(levels.samplePeakDb);
    peak.held = Level(levels.samplePeakMaxDb);
    peak.unit = "dBFS";
    peak.note = "max " + LevelText(levels.samplePeakMaxDb) + "  clip " + std::to_string(levels.clippedSamples);
    peak.alarm = levels.clippedSamples > 0;

    MeterLine truePeak;
    truePeak.caption = "True Peak";
    truePeak.value = readings.loudness.truePeakNowDbtp[channel];
    truePeak.number = LevelText(truePeak.value);
    truePeak.held = readings.loudness.truePeakDbtp[channel];
    truePeak.unit = "dBTP";
    truePeak.note = MaxNote(truePeak.held);
    truePeak.alarm = truePeak.held && *truePeak.held > 0.0;

    const auto rms = [&](const char* caption, double now, double max) {
        MeterLine line;
        line.caption = caption;
        line.value = Level(RmsShown(now, calibration));
        line.number = LevelText(RmsShown(now, calibration));
        line.held = Level(RmsShown(max, calibration));
        line.barLowDb = rmsTop - BarSpanDb, line.barHighDb = rmsTop;
        line.unit = rmsUnit;
        line.note = MaxNote(line.held);
        return line;
    };
    MeterLine fast = rms("Fast", levels.fastDb, levels.fastMaxDb);
    MeterLine slow = rms("Slow", levels.slowDb, levels.slowMaxDb);
    MeterLine leq = rms("Leq", levels.leqDb, measure::SilenceDb);
    leq.note = Format("%.0f s", std::floor(levels.seconds));

    std::vector<MeterLine> lines;
    for (MeterLine* line : {&peak, &truePeak, &fast, &slow, &leq}) {
        line->channel = name;
        line->channelIndex = channel;
        lines.push_back(*line);
    }
    return lines;
}

void AddLoudnessLines(std::vector<MeterLine>& lines, const measure::LoudnessLevels& loudness)
{
    const auto line = [](const char* caption, std::optional<double> value, std::optional<double> held,
                         const char* unit) {
        MeterLine meter;
        meter.caption = caption;
        meter.value = value;
        meter.held = held;
        meter.number = LevelText(value);
        meter.unit = unit;
        meter.note = MaxNote(held);
        return meter;
    };
    lines.push_back(line("Momentary", loudness.momentaryLufs, loudness.momentaryMaxLufs, "LUFS"));
    lines.push_back(line("Short-term", loudness.shortTermLufs, loudness.shortTermMaxLufs, "LUFS"));
    lines.push_back(line("Integrated", loudness.integratedLufs, std::nullopt, "LUFS"));
    MeterLine range = line("Range", loudness.loudnessRangeLu, std::nullopt, "LU");
    range.bar = false;
    lines.push_back(range);
    MeterLine truePeak = line("Max True Peak", loudness.truePeakMaxDbtp, std::nullopt, "dBTP");
    truePeak.alarm = truePeak.value && *truePeak.value > 0.0;
    lines.push_back(truePeak);
}

} // namespace

double RmsShown(double dbfs, const Calibration& calibration)
{
    if (!calibration || IsSilence(dbfs))
        return dbfs;
    return dbfs + *calibration;
}

double PeakShown(double dbfs, const Calibration& calibration)
{
    if (!calibration || IsSilence(dbfs))
        return dbfs;
    return dbfs + *calibration + SinePeakOverRmsDb;
}

std::string PeakUnit(const Calibration& calibration)
{
    return calibration ? "dB SPL" : "dBFS";
}

std::string RmsUnit(measure::Weighting weighting, const Calibration& calibration)
{
    if (weighting == measure::Weighting::Z)
        return calibration ? "dB SPL" : "dBFS";
    const std::string letter = measure::WeightingName(weighting);
    return (calibration ? "dB(" : "dBFS(") + letter + ")";
}

std::optional<double> ParseTypedLevel(const std::string& text)
{
    std::string number;
    for (char c : text)
        number += c == ',' ? '.' : c;
    const auto first = number.find_first_not_of(" \t");
    if (first == std::string::npos)
        return std::nullopt;
    const auto last = number.find_last_not_of(" \t");
    number = number.substr(first, last - first + 1);
    // Digits with at most one point: no exponents, signs, "inf" or "nan".
    if (number.find_first_not_of("0123456789.") != std::string::npos ||
        std::count(number.begin(), number.end(), '.') > 1 || number == ".")
        return std::nullopt;
    // from_chars reads the point whatever the desktop's locale says.
    double value = 0.0;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (error != std::errc() || end != number.data() + number.size() || !(value > 0.0 && value <= MaxTypedDbSpl))
        return std::nullopt;
    return value;
}

std::string CalibrationText(const Calibration& calibration)
{
    if (!calibration)
        return "dBFS (not calibrated)";
    return "0 dBFS = " + LevelText(*calibration) + " dB SPL";
}

std::string LevelText(double db)
{
    if (IsSilence(db))
        return "-inf";
    const std::string text = Format("%.1f", db);
    return text == "-0.0" ? "0.0" : text;
}

std::string LevelText(std::optional<double> db)
{
    return db ? LevelText(*db) : std::string("--");
}

std::vector<MeterLine> MeterLines(const MeterReadings& readings)
{
    // Each quantity's left line, then its right line.
    const std::vector<MeterLine> left = ChannelLines(readings, 0), right = ChannelLines(readings, 1);
    std::vector<MeterLine> lines;
    for (std::size_t i = 0; i < left.size(); ++i) {
        lines.push_back(left[i]);
        lines.push_back(right[i]);
    }
    AddLoudnessLines(lines, readings.loudness);
    return lines;
}

int BarFill(std::optional<double> db, double lowDb, double highDb, int length)
{
    if (!db || length <= 0 || !(highDb > lowDb))
        return 0;
    const double share = (*db - lowDb) / (highDb - lowDb);
    if (!(share > 0.0)) // NaN too
        return 0;
    if (share >= 1.0)
        return length;
    return std::clamp(static_cast<int>(std::lround(share * length)), 0, length);
}

MeterLayout LayoutMeters(int width, int height, int channelLines, int loudnessLines)
{
    constexpr int Margin = 6, CaptionWidth = 88, ChannelWidth = 14, NumberWidth = 66, UnitWidth = 54, NoteWidth = 104,
                  Gap = 6;
    MeterLayout layout{};
    layout.captionLeft = Margin;
    layout.channelLeft = Margin + CaptionWidth;
    layout.barLeft = layout.channelLeft + ChannelWidth;
    layout.noteLeft = std::max(layout.barLeft, width - Margin - NoteWidth);
    layout.unitLeft = std::max(layout.barLeft, layout.noteLeft - UnitWidth);
    layout.numberRight = std::max(layout.barLeft, layout.unitLeft - Gap);
    layout.numberLeft = std::max(layout.barLeft, layout.numberRight - NumberWidth);
    layout.barRight = layout.numberLeft - Gap - 1;

    const int count = std::max(0, channelLines) + std::max(0, loudnessLines);
    if (count == 0 || height <= 0)
        return layout;
    // Half a line between the sections; the lines share the rest.
    const double step = std::clamp((height - 2.0 * Margin) / (count + 0.5), 1.0, 30.0);
    const int lineHeight = std::max(1, static_cast<int>(step) - 2);
    layout.numberPixels = std::clamp(lineHeight - 2, 8, 22);
    for (int i = 0; i < count; ++i) {
        const double gap = i >= channelLines ? step / 2.0 : 0.0;
        const int top = Margin + static_cast<int>(std::lround(i * step + gap));
        layout.lines.push_back({std::min(top, std::max(0, height - lineHeight)), std::min(lineHeight, height)});
    }
    return layout;
}

} // namespace levelsview
