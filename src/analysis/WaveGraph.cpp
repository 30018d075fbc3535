#include "analysis/WaveGraph.h"

#include "analysis/tracktables.h"
#include "state/global.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <string>

PlotRect WavePlotRect(int clientWidth, int clientHeight)
{
    return {32, clientWidth - 5, 0, clientHeight - 25};
}

ShadingStyle WaveShading()
{
    return {32, 3, false, true};
}

std::vector<FrameText> WaveAmplitudeLabels(const PlotRect& p, int32_t fullScale)
{
    const int h = p.bottom - p.top;
    std::vector<FrameText> labels;
    for (int i = -10; i <= 10; ++i) {
        // 64-bit and rounded: a stored full scale far outside the table
        // neither overflows nor truncates.
        const auto value = static_cast<int64_t>(std::nearbyint(-static_cast<double>(i) * fullScale / 10.0));
        const int y = p.bottom - (h / 2 - (i * h) / 20) - 5;
        labels.push_back({p.left - 30, y, std::to_string(value)});
    }
    return labels;
}

std::vector<FrameText> WaveTimeLabels(const PlotRect& p, int32_t span)
{
    std::vector<FrameText> labels;
    for (int i = 1; i <= 9; ++i) {
        const int dx = (i * (p.right - p.left)) / 10;
        std::string text;
        if (span >= 441) {
            text = std::to_string((static_cast<int64_t>(span) * i * 10) / 4410);
        } else {
            char buffer[32];
            std::snprintf(buffer, sizeof buffer, "%.1f", span * i * 10 / 4410.0);
            text = buffer;
        }
        labels.push_back({p.left + dx - 5, p.bottom, text});
    }
    return labels;
}

FrameText WaveTimeCaption(const PlotRect& p)
{
    return {p.right - 50, p.bottom + 10, "Time [ms]"};
}

const std::vector<PlotVertex>& WaveGridLines()
{
    static const std::vector<PlotVertex> lines = [] {
        std::vector<PlotVertex> v;
        for (int k = -9; k <= 10; ++k) {
            v.push_back({-1.0f, k / 10.0f});
            v.push_back({1.0f, k / 10.0f});
        }
        for (int k = -5; k <= 5; ++k) {
            v.push_back({k / 5.0f, -1.0f});
            v.push_back({k / 5.0f, 1.0f});
        }
        return v;
    }();
    return lines;
}

const std::vector<PlotVertex>& WaveZeroLine()
{
    static const std::vector<PlotVertex> line{{-1.0f, 0.0f}, {1.0f, 0.0f}};
    return line;
}

void WaveTrace(const int16_t* block, int32_t span, int32_t fullScale, std::vector<PlotVertex>& out)
{
    const int a = std::clamp(span, 2, HistoryHalf) / 2;
    out.resize(2 * a + 1);
    for (int k = 0; k <= 2 * a; ++k) {
        const int16_t sample = block[std::min(k, HistoryHalf - 1)];
        out[k] = {static_cast<float>(static_cast<double>(k - a) / a),
                  static_cast<float>(static_cast<double>(sample) / fullScale)};
    }
}

int32_t WaveRangeXAt(int position)
{
    return TableAt(WaveRangeXTable, position);
}

int32_t WaveRangeYAt(int position)
{
    return TableAt(WaveRangeYTable, position);
}

int WaveRangeXPosition(int32_t range)
{
    return TablePosition(WaveRangeXTable, range);
}

int WaveRangeYPosition(int32_t range)
{
    return TablePosition(WaveRangeYTable, range);
}
