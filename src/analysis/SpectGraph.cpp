#include "analysis/SpectGraph.h"

#include "analysis/tracktables.h"
#include "state/global.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>

namespace {
const double LogFrequencySpan = std::log(LogHighHz) - std::log(LogLowHz);
const double LogLevelSpan = std::log(LogFullScale) - std::log(LogFloor);

int Round(double value)
{
    return static_cast<int>(std::nearbyint(value));
}
} // namespace

PlotRect SpectPlotRect(int clientWidth, int clientHeight, bool peakLine)
{
    return {25, clientWidth, 0, clientHeight - 25 - (peakLine ? PeakLineHeight : 0)};
}

ShadingStyle SpectShading()
{
    return {25, 4, true, false};
}

float FrameLnScaleX(const PlotRect& p)
{
    return static_cast<float>((p.right - p.left) / LogFrequencySpan);
}

float RenderLnScaleX()
{
    return static_cast<float>(2.0 / LogFrequencySpan);
}

float RenderLnScaleY()
{
    return static_cast<float>(2.0 / LogLevelSpan);
}

std::string SpectLinearAmplitudeText(float rangeY, int i)
{
    const double value = i * static_cast<double>(rangeY) / 10.0;
    int width = 3, decimals = 0;
    if (rangeY < 1) {
        width = 4;
        decimals = 2;
    } else if (rangeY < 10) {
        decimals = 1;
    }
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%*.*f", width, decimals, value);
    return buffer;
}

std::vector<FrameText> SpectLinearLabels(const PlotRect& p, float rangeY, int32_t rangeX)
{
    const int L = p.left, R = p.right, T = p.top, B = p.bottom;
    std::vector<FrameText> labels{{L - 15, T + 10, "%"}};
    for (int i = 1; i <= 10; ++i) {
        const int gridY = B - i * (B - T) / 10;
        labels.push_back({L - 22, gridY - 2, SpectLinearAmplitudeText(rangeY, i)});
    }
    for (int i = 0; i <= 10; ++i) {
        const int gridX = i * (R - L) / 10 + L - 8;
        const auto hz = static_cast<int64_t>(std::nearbyint(i * static_cast<double>(rangeX) / 10.0));
        labels.push_back({gridX - 10, B + 2, std::to_string(hz)});
    }
    labels.push_back({R - 80, B + 12, "Frequency [Hz]"});
    return labels;
}

namespace {
// A level number of the logarithmic axis: whole decibels, or tenths when a
// calibration's offset has them.
std::string LevelNumber(double db)
{
    if (db == std::round(db))
        return std::to_string(static_cast<long long>(db));
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", db);
    return text;
}
} // namespace

std::vector<FrameText> SpectLogLabels(const PlotRect& p, std::optional<double> offsetDb)
{
    const int L = p.left, R = p.right, T = p.top, B = p.bottom;
    std::vector<FrameText> labels{{L - 20, T + 10, "[dB]"}};
    constexpr int DigitWidth = 6;
    for (int i = 0; i <= 6; ++i) {
        const int gridY = i * (B - T) / 7 + T;
        const std::string dbfs = std::to_string(-20 * i);
        if (!offsetDb) {
            labels.push_back({L - 18 - i, gridY, dbfs});
            continue;
        }
        // The plot covers whatever runs past the margin: longer numbers
        // start further left, no further than the form's edge.
        const std::string spl = LevelNumber(-20 * i + *offsetDb);
        const int shift = DigitWidth * (static_cast<int>(spl.size()) - static_cast<int>(dbfs.size()));
        labels.push_back({std::max(0, L - 18 - i - shift), gridY, spl});
    }
    struct Mark {
        int tens; // frequency in units of 10 Hz
        const char* text;
    };
    static constexpr Mark marks[] = {{1, "10"},   {2, "20"},   {5, "50"},   {10, "100"},   {20, "200"},  {50, "500"},
                                     {100, "1k"}, {200, "2k"}, {500, "5k"}, {1000, "10k"}, {2000, "20k"}};
    const float scale = FrameLnScaleX(p);
    for (const Mark& mark : marks) {
        const int gridX = Round(std::log(static_cast<double>(mark.tens)) * scale) + L;
        const int shift = mark.tens == 2000 ? 0 : 5; // "20k" would run off the right edge
        labels.push_back({gridX - shift, B + 2, mark.text});
    }
    labels.push_back({R - 80, B + 12, "Frequency [Hz]"});
    return labels;
}

FrameText SpectWeightingLabel(const PlotRect& p, bool logAxis, const std::string& weighting)
{
    const int legendEnd = p.left + 165;
    const int x = std::max(legendEnd, p.right - 170);
    return {x, p.bottom + 12, logAxis ? "dB(" + weighting + ")" : "%, " + weighting + "-weighted"};
}

FrameText SpectUnitLabel(const PlotRect& p, const std::string& unit)
{
    FrameText label = SpectWeightingLabel(p, true, "");
    label.text = unit;
    return label;
}

int SpectLinearTopBin(int32_t rangeX)
{
    return Round(rangeX / static_cast<double>(BinWidth)) + 1;
}

int32_t SpectLinearFull(float rangeY)
{
    return Round(static_cast<double>(rangeY) * 32767.0 / 100.0);
}

const std::vector<PlotVertex>& SpectLinearGrid()
{
    static const std::vector<PlotVertex> lines = [] {
        std::vector<PlotVertex> v;
        for (int k = -4; k <= 4; ++k) {
            v.push_back({-1.0f, k / 5.0f});
            v.push_back({1.0f, k / 5.0f});
        }
        for (int k = -4; k <= 4; ++k) {
            v.push_back({k / 5.0f, -1.0f});
            v.push_back({k / 5.0f, 1.0f});
        }
        return v;
    }();
    return lines;
}

void SpectLinearTrace(const float* row, int32_t rangeX, float rangeY, std::vector<PlotVertex>& out)
{
    // The row has BinSlots values; a range whose top bin lies beyond it is
    // drawn up to the row's end.
    const int h = std::clamp(SpectLinearTopBin(rangeX), 1, BinSlots - 1);
    const double full = std::max(1, SpectLinearFull(rangeY));
    out.resize(h + 1);
    for (int i = 0; i <= h; ++i)
        out[i] = {static_cast<float>(2.0 * i / h - 1.0), static_cast<float>(2.0 * row[i] / full - 1.0)};
}

const std::vector<PlotVertex>& SpectLogHorizontalGrid()
{
    static const std::vector<PlotVertex> lines = [] {
        std::vector<PlotVertex> v;
        for (int i = 1; i <= 6; ++i) {
            const auto y = static_cast<float>(2.0 * i / 7.0 - 1.0);
            v.push_back({-1.0f, y});
            v.push_back({1.0f, y});
        }
        return v;
    }();
    return lines;
}

const std::vector<GridLine>& SpectLogVerticalGrid()
{
    static const std::vector<GridLine> lines = [] {
        const double scale = RenderLnScaleX();
        std::vector<GridLine> v;
        for (int i = 2; i <= 20; ++i) {
            const bool emphasised = i == 2 || i == 5 || i == 10 || i == 20;
            for (int factor : {1, 10, 100}) {
                const auto x = static_cast<float>(std::log(static_cast<double>(i * factor)) * scale - 1.0);
                v.push_back({{x, -1.0f}, {x, 1.0f}, emphasised ? ColorGridEmphasised : ColorGrid});
            }
        }
        return v;
    }();
    return lines;
}

double SpectLogX(double hz)
{
    return (std::log(hz) - std::log(LogLowHz)) * RenderLnScaleX() - 1.0;
}

void SpectLogTrace(const float* row, std::vector<PlotVertex>& out)
{
    const double scaleY = RenderLnScaleY();
    const double logFloor = std::log(LogFloor);
    out.resize(TopBin);
    for (int k = 1; k <= TopBin; ++k) {
        const double value = row[k];
        const double y = value < LogFloor ? -1.0 : (std::log(value) - logFloor) * scaleY - 1.0;
        out[k - 1] = {static_cast<float>(SpectLogX(k * static_cast<double>(BinWidth))), static_cast<float>(y)};
    }
}

int32_t SpectRangeXAt(int position)
{
    return TableAt(SpectRangeXTable, position);
}

float SpectRangeYAt(int position)
{
    return TableAt(SpectRangeYTable, position);
}

int SpectRangeXPosition(int32_t range)
{
    return TablePosition(SpectRangeXTable, range);
}

int SpectRangeYPosition(float range)
{
    return TablePosition(SpectRangeYTable, range);
}
