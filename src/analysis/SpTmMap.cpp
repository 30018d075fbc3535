#include "analysis/SpTmMap.h"

#include "state/usable.h"

#include <algorithm>
#include <cmath>

namespace sptm {

namespace {

// Nearest integer, ties to even, for a real number that fits an int.
int RoundEven(double x)
{
    return static_cast<int>(std::nearbyint(x));
}

// Nearest integer to num / den (den > 0), ties to even, computed exactly:
// the palettes' factors are decimal fractions (2.55, 1.666, 0.7 ...), and
// their ties (2.55 * 10 = 25.5, 0.7 * 125 = 87.5) must not depend on how
// those fractions happen to be stored in binary.
int RoundRatio(int num, int den)
{
    int quotient = num / den;
    int remainder = num % den;
    if (remainder < 0) {
        remainder += den;
        --quotient;
    }
    const int twice = 2 * remainder;
    if (twice > den || (twice == den && quotient % 2 != 0))
        ++quotient;
    return quotient;
}

uint8_t Byte(int value)
{
    return static_cast<uint8_t>(std::clamp(value, 0, 255));
}

Rgb MakeRgb(int r, int g, int b)
{
    return {Byte(r), Byte(g), Byte(b)};
}

Rgb DarkColor(int b)
{
    if (b <= 30)
        return MakeRgb(3 * b, 0, 3 * b);
    if (b <= 60)
        return MakeRgb(180 - 3 * b, 0, b + 60);
    if (b <= 100)
        return MakeRgb(0, 0, 3 * b - 60);
    if (b <= 150)
        return MakeRgb(0, 2 * (b - 100), 240 - RoundRatio(48 * (b - 100), 10));
    if (b <= 300)
        return MakeRgb(0, b - 50, 0);
    if (b <= 400)
        return MakeRgb(RoundRatio(255 * (b - 300), 100), 250, 0);
    if (b <= 550)
        return MakeRgb(255, 250 - RoundRatio(1666 * (b - 400), 1000), 0);
    return MakeRgb(805 - b, 0, 0);
}

Rgb LightColor(int b)
{
    if (b <= 50) {
        const int grey = 230 - RoundRatio(15 * b, 10);
        return MakeRgb(grey, grey, 230 + RoundRatio(5 * b, 10));
    }
    if (b <= 100) {
        const int grey = 155 - RoundRatio(15 * b - 750, 10);
        return MakeRgb(grey, grey, 255);
    }
    if (b <= 200)
        return MakeRgb(80, 80 + RoundRatio(155 * (b - 100), 100), 355 - b);
    if (b <= 350)
        return MakeRgb(80 + RoundRatio(1166 * (b - 200), 1000), 235 + RoundRatio(133 * (b - 200), 1000), 355 - b);
    if (b <= 475)
        return MakeRgb(255, 955 - 2 * b, 100);
    return MakeRgb(255 - RoundRatio(7 * (b - 475), 10), 0, 0);
}

const float RootBandTop = std::sqrt(BandTopHz);

void AddTick(ScaleDrawing& scale, int y, int plotLeft)
{
    scale.lines.push_back({20, y, plotLeft, y});
}

// One band of the frequency scale: ticks up to 100 Hz with "0.1" at the
// last, ticks up to 1 kHz without text, ticks up to 20 kHz labelled in kHz,
// then "kHz" above the top tick.
void AddBandScale(ScaleDrawing& scale, const PlotRect& plot, int base, float r, TickDensity density)
{
    const int n = density.n;
    const int step = density.step;
    for (int k = 0; k <= n; ++k)
        AddTick(scale, ScaleRow(base, static_cast<float>(k * step * 10), r), plot.left);
    scale.texts.push_back({plot.left - 22, ScaleRow(base, 100.0f, r) - 7, "0.1"});
    for (int k = 1; k <= n; ++k)
        AddTick(scale, ScaleRow(base, static_cast<float>(k * step * 100), r), plot.left);
    for (int k = 1; k <= 2 * n; ++k) {
        const int y = ScaleRow(base, static_cast<float>(k * step * 1000), r);
        AddTick(scale, y, plot.left);
        scale.texts.push_back({plot.left - 20, y - 7, std::to_string(k * step)});
    }
    scale.texts.push_back({plot.left - 22, ScaleRow(base, 20000.0f, r) - 18, "kHz"});
}

} // namespace

// ---- time axis -----------------------------------------------------------

int64_t SliceColumn(int32_t column, int slice)
{
    return int64_t{SlicesPerColumnBlock} * column + slice - 1;
}

float PixelX(int64_t pixel, int width)
{
    return static_cast<float>(static_cast<double>(2 * pixel + 1) / width - 1.0);
}

float CursorX(int32_t column, int width)
{
    return static_cast<float>(2.0 * (int64_t{SlicesPerColumnBlock} * column + 1) / width - 1.0);
}

bool SweepWraps(int32_t column, int width)
{
    return int64_t{SlicesPerColumnBlock} * column >= int64_t{width};
}

// ---- frequency axis ----------------------------------------------------------

float FreqScale(bool showLeft, bool showRight)
{
    return (showLeft && showRight ? 1.0f : 2.0f) / RootBandTop;
}

float Band::Y(float hz) const
{
    return scale * std::sqrt(hz) + offset;
}

std::optional<Band> ChannelBand(int channel, bool showLeft, bool showRight)
{
    const float k = FreqScale(showLeft, showRight);
    if (channel == 1 && showLeft)
        return Band{k, showRight ? 0.0f : -1.0f};
    if (channel == 2 && showRight)
        return Band{k, -1.0f};
    return std::nullopt;
}

float BinHz(int bin, float binWidth)
{
    return static_cast<float>(bin) * binWidth;
}

float CellLowHz(int bin, float binWidth)
{
    return bin <= 1 ? FirstBinLowHz : BinHz(bin - 1, binWidth);
}

// ---- level and palettes --------------------------------------------------------

int Level(float magnitude, float gain)
{
    const double scaled = std::sqrt(static_cast<double>(magnitude)) * UsableKaSpTm(gain);
    if (!(scaled > 0)) // NaN from a negative or NaN magnitude, or silence
        return 0;
    if (scaled >= MaxLevel)
        return MaxLevel;
    return RoundEven(scaled);
}

Rgb PaletteColor(int level, bool lightBackground)
{
    const int b = std::clamp(level, 0, MaxLevel);
    return lightBackground ? LightColor(b) : DarkColor(b);
}

int PeakBin(const float* magnitudes)
{
    int peak = 0;
    float highest = 0;
    for (int bin = FirstBin; bin <= LastBin; ++bin)
        if (magnitudes[bin] > highest) {
            highest = magnitudes[bin];
            peak = bin;
        }
    return peak;
}

// ---- frame -----------------------------------------------------------------

PlotRect PlotArea(int clientWidth, int clientHeight)
{
    return {25, clientWidth - 25, 0, clientHeight - 25};
}

ShadingStyle Shading()
{
    return ShadingStyle{25, 4, false, false};
}

TickDensity FreqTickDensity(int outerHeight)
{
    return outerHeight <= 700 ? TickDensity{5, 2} : TickDensity{10, 1};
}

int ScaleRow(int base, float hz, float pixelsPerRootHz)
{
    return base - RoundEven(std::sqrt(static_cast<double>(hz)) * pixelsPerRootHz);
}

ScaleDrawing FrequencyScale(const PlotRect& plot, bool bothShown, int outerHeight)
{
    ScaleDrawing scale;
    const int height = plot.bottom - plot.top;
    if (bothShown) {
        const float r = static_cast<float>(height / (2.0 * RootBandTop));
        const TickDensity density = FreqTickDensity(outerHeight);
        AddBandScale(scale, plot, plot.bottom, r, density);
        AddBandScale(scale, plot, plot.bottom / 2, r, density);
    } else {
        const float r = static_cast<float>(height / static_cast<double>(RootBandTop));
        AddBandScale(scale, plot, plot.bottom, r, TickDensity{10, 1});
    }
    return scale;
}

ScaleDrawing TimeScale(const PlotRect& plot)
{
    ScaleDrawing scale;
    for (int d = 0; 100 * d < plot.right - plot.left - 100; ++d) {
        const int x = plot.left + 100 * d;
        scale.lines.push_back({x, plot.bottom, x, plot.bottom + 5});
        scale.texts.push_back({x - 5, plot.bottom + 5, std::to_string(d)});
    }
    scale.texts.push_back({plot.right - 50, plot.bottom + 5, "Time, s"});
    return scale;
}

int LegendLevel(int k, int plotBottom)
{
    if (plotBottom <= 0)
        return 0;
    const float q = static_cast<float>(MaxLevel) / static_cast<float>(plotBottom);
    return std::min(MaxLevel, RoundEven(static_cast<double>(k) * q));
}

int LegendTickRow(int tick, int plotBottom)
{
    const float h = static_cast<float>(plotBottom / std::sqrt(10.0));
    return plotBottom - RoundEven(std::sqrt(static_cast<double>(tick)) * h);
}

// ---- gain panel ---------------------------------------------------------------

int GainTrackPosition(float gain)
{
    const double position = GainTrackMax + 1 - std::nearbyint(static_cast<double>(UsableKaSpTm(gain)));
    return static_cast<int>(std::clamp<double>(position, GainTrackMin, GainTrackMax));
}

int GainAtPosition(int position)
{
    return GainTrackMax - position + 1;
}

} // namespace sptm
