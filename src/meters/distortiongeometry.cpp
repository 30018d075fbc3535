#include "meters/distortiongeometry.h"

#include "measure/textfields.h"

#include "measure/distortion.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <iterator>

namespace distortionview {

static_assert(std::size(SizeChoices) == std::size(measure::DistortionSizes));
static_assert(SizeChoices[0] == measure::DistortionSizes[0] && SizeChoices[1] == measure::DistortionSizes[1] &&
              SizeChoices[2] == measure::DistortionSizes[2] && DefaultSize == measure::DefaultDistortionSize);

namespace {

double Percent(double db)
{
    return 100.0 * std::pow(10.0, db / 20.0);
}

// Percentages span many decades: four significant digits at least two
// decimals.
std::string PercentText(double percent)
{
    if (!(percent > 0.0) || !std::isfinite(percent))
        return measure::FixedText(percent, 2);
    const int decimals = percent >= 1.0 ? 2 : std::clamp(3 - static_cast<int>(std::floor(std::log10(percent))), 2, 8);
    return measure::FixedText(percent, decimals);
}

constexpr double LogSpan = 3.0; // decades from AxisLowHz to AxisHighHz

} // namespace

double FrequencyColumn(double hz, Span span)
{
    return span.left + (span.width - 1) * std::log10(hz / AxisLowHz) / LogSpan;
}

double ColumnFrequency(double column, Span span)
{
    const double fraction = span.width > 1 ? (column - span.left) / (span.width - 1) : 0.0;
    return AxisLowHz * std::pow(10.0, LogSpan * fraction);
}

int LevelRow(double db, int top, int height)
{
    const double fraction = (AxisTopDb - db) / (AxisTopDb - AxisBottomDb);
    const double row = top + fraction * (height - 1);
    if (!(row >= top)) // NaN too
        return std::isnan(row) ? top + height - 1 : top;
    return static_cast<int>(std::lround(std::min(row, static_cast<double>(top + height - 1))));
}

double RowLevel(int row, int top, int height)
{
    const double fraction = height > 1 ? static_cast<double>(row - top) / (height - 1) : 0.0;
    return AxisTopDb - fraction * (AxisTopDb - AxisBottomDb);
}

namespace {

// The box cut to `within`, at least one pixel each way.
Box Inside(Box box, const Box& within)
{
    box.left = std::clamp(box.left, within.left, within.left + within.width - 1);
    box.top = std::clamp(box.top, within.top, within.top + within.height - 1);
    box.width = std::clamp(box.width, 1, within.left + within.width - box.left);
    box.height = std::clamp(box.height, 1, within.top + within.height - box.top);
    return box;
}

} // namespace

SectionPlaces LayoutSection(int width, int height, int index, int count)
{
    width = std::max(width, 1), height = std::max(height, 1), count = std::max(count, 1);
    index = std::clamp(index, 0, count - 1);
    SectionPlaces places;
    const int top = height * index / count, bottom = std::max(top + 1, height * (index + 1) / count);
    places.section = {0, top, width, bottom - top};
    const int textWidth = std::min(260, width / 3);
    places.text = Inside({4, top + 4, textWidth - 8, bottom - top - 8}, places.section);
    // Room for the level labels left of the spectrum and the frequency
    // labels below it; the residual takes the lower quarter.
    constexpr int LevelLabels = 40, FrequencyLabels = 16, Gap = 6;
    const int plotLeft = textWidth + LevelLabels;
    const int plotWidth = width - plotLeft - 10;
    const int residualHeight = (bottom - top) / 4;
    const int spectrumHeight = bottom - top - residualHeight - FrequencyLabels - 3 * Gap;
    places.spectrum = Inside({plotLeft, top + Gap, plotWidth, spectrumHeight}, places.section);
    const int residualTop = places.spectrum.top + places.spectrum.height + FrequencyLabels + Gap;
    places.residual = Inside({plotLeft, residualTop, plotWidth, bottom - Gap - residualTop}, places.section);
    return places;
}

std::vector<Marker> Markers(const measure::DistortionReading& reading, Span span)
{
    std::vector<Marker> markers;
    if (!reading.toneFound)
        return markers;
    const auto add = [&](int order, double hz) {
        if (hz >= AxisLowHz && hz <= AxisHighHz)
            markers.push_back({order, hz, static_cast<int>(std::lround(FrequencyColumn(hz, span)))});
    };
    add(1, reading.fundamentalHz);
    for (const measure::HarmonicReading& harmonic : reading.harmonics)
        add(harmonic.order, harmonic.hz);
    return markers;
}

std::vector<ColumnLevels> ReduceToColumns(const std::vector<double>& db, double binHz, Span span)
{
    std::vector<ColumnLevels> columns;
    if (binHz <= 0 || span.width < 1)
        return columns;
    std::vector<double> low(span.width, 0.0), high(span.width, 0.0);
    std::vector<bool> filled(span.width, false);
    // The bins nearest the axis ends on either side, for the columns the
    // band's first and last bins do not reach.
    const auto first = static_cast<std::size_t>(std::ceil(AxisLowHz / binHz));
    const auto last = std::min(db.size() - 1, static_cast<std::size_t>(std::floor(AxisHighHz / binHz)));
    if (db.empty() || first > last)
        return columns;
    for (std::size_t k = first; k <= last; ++k) {
        const int column = static_cast<int>(std::lround(FrequencyColumn(k * binHz, span))) - span.left;
        if (column < 0 || column >= span.width)
            continue;
        if (!filled[column]) {
            low[column] = high[column] = db[k];
            filled[column] = true;
        } else {
            low[column] = std::min(low[column], db[k]);
            high[column] = std::max(high[column], db[k]);
        }
    }
    // An empty column takes the level on the straight line between the
    // bins either side of its frequency (in log frequency, as drawn).
    for (int c = 0; c < span.width; ++c) {
        if (filled[c])
            continue;
        const double hz = ColumnFrequency(span.left + c, span);
        const auto below = std::clamp(static_cast<std::size_t>(std::floor(hz / binHz)), first, last);
        const std::size_t above = std::min(below + 1, last);
        double level = db[below];
        if (above != below) {
            const double from = std::log10(below * binHz), to = std::log10(above * binHz);
            const double t = std::clamp((std::log10(hz) - from) / (to - from), 0.0, 1.0);
            level = db[below] + t * (db[above] - db[below]);
        }
        low[c] = high[c] = level;
    }
    columns.reserve(span.width);
    for (int c = 0; c < span.width; ++c)
        columns.push_back({span.left + c, low[c], high[c]});
    return columns;
}

std::string DbText(double db)
{
    return measure::FixedText(db, 1);
}

std::string RelativeText(const measure::HarmonicReading& harmonic)
{
    return (harmonic.belowNoise ? "< " : "") + DbText(harmonic.dbRelative) + " dB";
}

std::string LevelUnit(const Calibration& calibration)
{
    return calibration ? "dB SPL" : "dBFS";
}

double LevelShown(double dbfs, const Calibration& calibration)
{
    return calibration ? dbfs + *calibration : dbfs;
}

std::vector<std::string> ReadingLines(const measure::DistortionReading& reading, const Calibration& calibration)
{
    if (!reading.toneFound)
        return {reading.clipped ? "No test tone found (clipped)" : "No test tone found"};
    const std::string unit = " " + LevelUnit(calibration);
    const auto level = [&](double dbfs) { return DbText(LevelShown(dbfs, calibration)) + unit; };
    std::vector<std::string> lines;
    lines.push_back("Fundamental " + measure::FixedText(reading.fundamentalHz, 2) + " Hz  " +
                    level(reading.fundamentalDbfs));
    for (const measure::HarmonicReading& harmonic : reading.harmonics)
        lines.push_back("H" + std::to_string(harmonic.order) + "  " + measure::FixedText(harmonic.hz, 1) + " Hz  " +
                        RelativeText(harmonic) + "  " + (harmonic.belowNoise ? "< " : "") + level(harmonic.dbfs));
    lines.push_back("THD " + PercentText(reading.thdPercent) + " %  " + DbText(reading.thdDb) + " dB");
    lines.push_back("THD+N " + PercentText(reading.thdnPercent) + " %  " + DbText(reading.thdnDb) + " dB");
    lines.push_back("SINAD " + DbText(reading.sinadDb) + " dB");
    lines.push_back("SNR " + DbText(reading.snrDb) + " dB");
    lines.push_back("Noise floor " + level(reading.noiseFloorDbfs) + " per bin");
    if (reading.clipped)
        for (std::string& line : lines)
            line += "  clipped";
    return lines;
}

std::string HoverText(double hz, double level, const Calibration& calibration)
{
    return measure::FixedText(hz, hz < 100.0 ? 2 : 1) + " Hz  " + DbText(LevelShown(level, calibration)) + " " +
           LevelUnit(calibration);
}

std::string CsvText(const std::vector<ChannelReading>& readings, const Calibration& calibration)
{
    std::string csv = "channel,reading,frequency_hz,level,level_unit,relative_db,percent,status\n";
    const std::string unit = LevelUnit(calibration);
    for (const ChannelReading& channel : readings) {
        const measure::DistortionReading& reading = *channel.reading;
        const std::string clipped = reading.clipped ? "clipped" : "";
        const auto row = [&](const std::string& name, const std::string& hz, const std::string& level,
                             const std::string& relative, const std::string& percent, const std::string& status) {
            csv += channel.channel + "," + name + "," + hz + "," + level + "," + (level.empty() ? "" : unit) + "," +
                   relative + "," + percent + "," + status + "\n";
        };
        if (!reading.toneFound) {
            row("none", "", "", "", "", reading.clipped ? "no test tone found; clipped" : "no test tone found");
            continue;
        }
        const auto level = [&](double dbfs) { return measure::FixedText(LevelShown(dbfs, calibration), 2); };
        row("fundamental", measure::FixedText(reading.fundamentalHz, 2), level(reading.fundamentalDbfs), "", "",
            clipped);
        for (const measure::HarmonicReading& harmonic : reading.harmonics) {
            std::string status = harmonic.belowNoise ? "below noise" : "";
            if (reading.clipped)
                status += status.empty() ? "clipped" : "; clipped";
            row("H" + std::to_string(harmonic.order), measure::FixedText(harmonic.hz, 2), level(harmonic.dbfs),
                measure::FixedText(harmonic.dbRelative, 2), measure::FixedText(Percent(harmonic.dbRelative), 6),
                status);
        }
        row("THD", "", "", measure::FixedText(reading.thdDb, 2), measure::FixedText(reading.thdPercent, 6), clipped);
        row("THD+N", "", "", measure::FixedText(reading.thdnDb, 2), measure::FixedText(reading.thdnPercent, 6),
            clipped);
        row("SINAD", "", "", measure::FixedText(reading.sinadDb, 2), "", clipped);
        row("SNR", "", "", measure::FixedText(reading.snrDb, 2), "", clipped);
        row("noise floor per bin", "", level(reading.noiseFloorDbfs), "", "", clipped);
    }
    return csv;
}

} // namespace distortionview
