#include "meters/responsegeometry.h"

#include "measure/textfields.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

namespace responseview {

namespace {

constexpr double LogSpan = 3.0; // decades from AxisLowHz to AxisHighHz

double Fraction(double from, double to, double value)
{
    return to != from ? (value - from) / (to - from) : 0.0;
}

} // namespace

measure::ResponseReference ReferenceFor(int choice)
{
    switch (choice) {
    case ReferenceLeft: return measure::ResponseReference::Left;
    case ReferenceRight: return measure::ResponseReference::Right;
    default: return measure::ResponseReference::Generated;
    }
}

measure::Smoothing SmoothingFor(int choice)
{
    static constexpr measure::Smoothing Choices[SmoothingChoiceCount] = {
        measure::Smoothing::None,     measure::Smoothing::Octave48, measure::Smoothing::Octave24,
        measure::Smoothing::Octave12, measure::Smoothing::Octave6,  measure::Smoothing::Octave3};
    return Choices[std::clamp(choice, 0, SmoothingChoiceCount - 1)];
}

double FrequencyColumn(double hz, const Box& plot)
{
    return plot.left + (plot.width - 1) * std::log10(hz / AxisLowHz) / LogSpan;
}

double ColumnFrequency(double column, const Box& plot)
{
    const double fraction = plot.width > 1 ? (column - plot.left) / (plot.width - 1) : 0.0;
    return AxisLowHz * std::pow(10.0, LogSpan * fraction);
}

double ValueRow(double value, const ValueRange& range, const Box& plot)
{
    return plot.top + Fraction(range.top, range.bottom, value) * (plot.height - 1);
}

double RowValue(double row, const ValueRange& range, const Box& plot)
{
    const double fraction = plot.height > 1 ? (row - plot.top) / (plot.height - 1) : 0.0;
    return range.top + fraction * (range.bottom - range.top);
}

double TimeColumn(double ms, const TimeRange& range, const Box& plot)
{
    return plot.left + Fraction(range.startMs, range.endMs, ms) * (plot.width - 1);
}

double ColumnTime(double column, const TimeRange& range, const Box& plot)
{
    const double fraction = plot.width > 1 ? (column - plot.left) / (plot.width - 1) : 0.0;
    return range.startMs + fraction * (range.endMs - range.startMs);
}

std::vector<Tick> FrequencyTicks(const Box& plot)
{
    std::vector<Tick> ticks;
    for (double hz : {20.0, 50.0, 100.0, 200.0, 500.0, 1000.0, 2000.0, 5000.0, 10000.0, 20000.0}) {
        const std::string text = hz >= 1000 ? measure::FixedText(hz / 1000, 0) + "k" : measure::FixedText(hz, 0);
        ticks.push_back({hz, static_cast<int>(std::lround(FrequencyColumn(hz, plot))), text});
    }
    return ticks;
}

std::vector<Tick> ValueTicks(const ValueRange& range, double step, const Box& plot)
{
    std::vector<Tick> ticks;
    if (!(step > 0))
        return ticks;
    const double low = std::min(range.top, range.bottom), high = std::max(range.top, range.bottom);
    const int decimals = step >= 1 ? 0 : (step >= 0.1 ? 1 : 2);
    for (double value = std::ceil(low / step - 1e-9) * step; value <= high + 1e-9 * step; value += step)
        ticks.push_back(
            {value, static_cast<int>(std::lround(ValueRow(value, range, plot))), measure::FixedText(value, decimals)});
    return ticks;
}

std::vector<Tick> TimeTicks(const TimeRange& range, const Box& plot, int wanted)
{
    std::vector<Tick> ticks;
    const double span = range.endMs - range.startMs;
    if (!(span > 0) || wanted < 1)
        return ticks;
    // The step of 1, 2 or 5 times a power of ten nearest span / wanted (by
    // ratio).
    const double rough = span / wanted;
    const double decade = std::pow(10.0, std::floor(std::log10(rough)));
    double step = decade;
    for (double factor : {2.0, 5.0, 10.0})
        if (std::fabs(std::log(decade * factor / rough)) < std::fabs(std::log(step / rough)))
            step = decade * factor;
    const int decimals = step >= 1 ? 0 : static_cast<int>(std::ceil(-std::log10(step) - 1e-9));
    for (double ms = std::ceil(range.startMs / step - 1e-9) * step; ms <= range.endMs + 1e-9 * step; ms += step)
        ticks.push_back(
            {ms, static_cast<int>(std::lround(TimeColumn(ms, range, plot))), measure::FixedText(ms, decimals)});
    return ticks;
}

ValueRange MagnitudeRange(const std::vector<double>& values)
{
    double low = std::numeric_limits<double>::infinity(), high = -low;
    for (double value : values)
        if (std::isfinite(value) && value > -250)
            low = std::min(low, value), high = std::max(high, value);
    if (!(low <= high))
        return {10, -50};
    ValueRange range{std::ceil((high + 2.0) / 10.0) * 10.0, std::floor((low - 2.0) / 10.0) * 10.0};
    range.bottom = std::clamp(range.bottom, range.top - 120.0, range.top - 40.0);
    return range;
}

ValueRange PhaseRange(const std::vector<double>& values, bool unwrapped)
{
    if (!unwrapped)
        return {180, -180};
    double low = std::numeric_limits<double>::infinity(), high = -low;
    for (double value : values)
        if (std::isfinite(value))
            low = std::min(low, value), high = std::max(high, value);
    if (!(low <= high))
        return {180, -180};
    ValueRange range{std::ceil(high / 180.0) * 180.0, std::floor(low / 180.0) * 180.0};
    if (range.top - range.bottom < 360)
        range.top = range.bottom + 360;
    return range;
}

double MagnitudeStep(const ValueRange& range)
{
    return std::fabs(range.top - range.bottom) > 80 ? 20.0 : 10.0;
}

double PhaseStep(const ValueRange& range)
{
    const double span = std::fabs(range.top - range.bottom);
    if (span <= 360)
        return 45.0;
    return 180.0 * std::ceil(span / 180.0 / 8.0);
}

std::vector<std::vector<Vertex>> CurveVertices(const std::vector<double>& hz, const std::vector<double>& values,
                                               const ValueRange& range, const Box& plot)
{
    std::vector<std::vector<Vertex>> stretches(1);
    const std::size_t count = std::min(hz.size(), values.size());
    for (std::size_t i = 0; i < count; ++i) {
        const bool usable = std::isfinite(values[i]) && hz[i] >= AxisLowHz * (1 - 1e-9) &&
                            hz[i] <= AxisHighHz * (1 + 1e-9);
        if (!usable) {
            if (!stretches.back().empty())
                stretches.emplace_back();
            continue;
        }
        const double row = std::clamp(ValueRow(values[i], range, plot), static_cast<double>(plot.top),
                                      static_cast<double>(plot.Bottom()));
        stretches.back().push_back({FrequencyColumn(hz[i], plot), row});
    }
    if (stretches.back().empty())
        stretches.pop_back();
    return stretches;
}

std::vector<Vertex> ImpulseVertices(const std::vector<double>& samples, double startMs, double msPerSample,
                                    const TimeRange& range, const ValueRange& values, const Box& plot)
{
    std::vector<Vertex> vertices;
    if (samples.empty() || !(msPerSample > 0))
        return vertices;
    const auto row = [&](double value) {
        const double y = std::isfinite(value) ? ValueRow(value, values, plot) : plot.Bottom();
        return std::clamp(y, static_cast<double>(plot.top), static_cast<double>(plot.Bottom()));
    };
    int column = std::numeric_limits<int>::min();
    double low = 0, high = 0;
    const auto flush = [&] {
        if (column == std::numeric_limits<int>::min())
            return;
        vertices.push_back({static_cast<double>(column), row(high)});
        if (low != high)
            vertices.push_back({static_cast<double>(column), row(low)});
    };
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const double ms = startMs + i * msPerSample;
        if (ms < range.startMs || ms > range.endMs)
            continue;
        const int c = static_cast<int>(std::lround(TimeColumn(ms, range, plot)));
        if (c != column) {
            flush();
            column = c, low = high = samples[i];
        } else {
            low = std::min(low, samples[i]), high = std::max(high, samples[i]);
        }
    }
    flush();
    return vertices;
}

std::vector<double> SamplesInDb(const std::vector<double>& samples)
{
    std::vector<double> db(samples.size());
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const double magnitude = std::fabs(samples[i]);
        db[i] = magnitude > 1e-10 ? std::max(-200.0, 20.0 * std::log10(magnitude)) : -200.0;
    }
    return db;
}

std::optional<double> ValueAt(const std::vector<double>& hz, const std::vector<double>& values, double hz0)
{
    const std::size_t count = std::min(hz.size(), values.size());
    if (count == 0 || !(hz0 >= hz.front()) || !(hz0 <= hz[count - 1]))
        return std::nullopt;
    const auto above = static_cast<std::size_t>(std::lower_bound(hz.begin(), hz.begin() + count, hz0) - hz.begin());
    if (above == 0 || hz[above] == hz0)
        return std::isfinite(values[above]) ? std::optional<double>(values[above]) : std::nullopt;
    const std::size_t below = above - 1;
    if (!std::isfinite(values[below]) || !std::isfinite(values[above]))
        return std::nullopt;
    const double t = Fraction(std::log(hz[below]), std::log(hz[above]), std::log(hz0));
    return values[below] + t * (values[above] - values[below]);
}

PanelPlaces LayoutPanel(int width, int height, bool coherenceStrip)
{
    width = std::max(width, 1), height = std::max(height, 1);
    // Room for the value labels left, the frequency labels below, the axis
    // label above.
    constexpr int Left = 52, Right = 12, Top = 22, Below = 20, Gap = 8;
    PanelPlaces places;
    const int plotWidth = std::max(1, width - Left - Right);
    const int usable = std::max(2, height - Top - Below);
    int plotHeight = usable;
    if (coherenceStrip) {
        const int strip = std::max(1, usable / 5);
        plotHeight = std::max(1, usable - strip - Gap);
        places.coherence = Box{Left, Top + plotHeight + Gap, plotWidth, strip};
    }
    places.plot = {Left, Top, plotWidth, plotHeight};
    return places;
}

std::vector<Box> LegendRows(int count, const Box& plot, int width, int rowHeight)
{
    std::vector<Box> rows;
    width = std::min(width, plot.width - 8);
    if (width < 1 || rowHeight < 1)
        return rows;
    const int fitting = (plot.height - 8) / rowHeight;
    for (int i = 0; i < std::min(count, fitting); ++i)
        rows.push_back({plot.left + plot.width - 4 - width, plot.top + 4 + i * rowHeight, width, rowHeight});
    return rows;
}

std::string HoverText(double hz, const std::vector<CurveValue>& values, const std::string& unit, int decimals)
{
    std::string text = measure::FixedText(hz, hz < 100.0 ? 2 : 1) + " Hz";
    for (const CurveValue& curve : values)
        text += "\n" + curve.name + ": " +
                (curve.value ? measure::FixedText(*curve.value, decimals) + " " + unit : "-");
    return text;
}

std::string DelayText(double delayMs, double delaySamples)
{
    return measure::FixedText(delayMs, 2) + " ms (" + measure::FixedText(delaySamples, 1) + " samples)";
}

std::string LegendText(const std::string& name, bool clipped)
{
    return clipped ? name + " (clipped)" : name;
}

std::string MagnitudeAxisLabel(const std::optional<double>& calibrationDb, double levelDbfs)
{
    if (calibrationDb)
        return "dB SPL (sweep at " + measure::FixedText(levelDbfs, 1) + " dBFS)";
    return "dB";
}

std::string KeptList::Add(Kept kept)
{
    std::string dropped;
    if (entries.size() >= static_cast<std::size_t>(MaxKept)) {
        dropped = entries.front().name;
        entries.erase(entries.begin());
    }
    for (int colour = 0; colour < PaletteSize; ++colour)
        if (std::none_of(entries.begin(), entries.end(), [&](const Kept& k) { return k.colour == colour; })) {
            kept.colour = colour;
            break;
        }
    entries.push_back(std::move(kept));
    return dropped;
}

bool KeptList::Remove(std::size_t index)
{
    if (index >= entries.size())
        return false;
    entries.erase(entries.begin() + static_cast<std::ptrdiff_t>(index));
    return true;
}

std::string KeptList::NextName()
{
    return "Measurement " + std::to_string(++numbered);
}

std::vector<double> CorrectedMagnitude(const std::vector<double>& hz, const std::vector<double>& db,
                                       const std::vector<double>& micDb, measure::Smoothing smoothing)
{
    std::vector<double> corrected = db;
    if (micDb.size() == corrected.size())
        for (std::size_t i = 0; i < corrected.size(); ++i)
            corrected[i] -= micDb[i];
    if (smoothing == measure::Smoothing::None || hz.size() != corrected.size() || hz.empty())
        return corrected;
    return measure::SmoothMagnitudeDb(hz, corrected, smoothing);
}

} // namespace responseview
