#include "analysis/readout.h"

#include "analysis/SpectGraph.h"
#include "state/global.h"
#include "state/usable.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

namespace readout {
namespace {
std::string Format(const char* format, double a, double b = 0)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, format, a, b);
    return buffer;
}

std::string DbText(double db)
{
    return std::isinf(db) ? std::string("-inf") : Format("%.1f", db);
}
} // namespace

// ---- waveform ----------------------------------------------------------------

int WaveSampleAt(double ndcX, int32_t span)
{
    const int a = std::clamp(span, 2, HistoryHalf) / 2;
    const double k = std::nearbyint(a * (std::clamp(ndcX, -1.0, 1.0) + 1.0));
    return std::clamp(static_cast<int>(k), 0, std::min(2 * a, HistoryHalf - 1));
}

double WaveMs(int sample)
{
    return sample * 1000.0 / 44100.0;
}

double Dbfs(int value)
{
    if (value == 0)
        return -std::numeric_limits<double>::infinity();
    return 20.0 * std::log10(std::abs(value) / 32768.0);
}

std::string WaveText(double ms, const std::optional<int>& left, const std::optional<int>& right)
{
    std::string text = Format("%.2f ms", ms);
    const auto line = [&text](const char* name, int value) {
        text += "\n" + std::string(name) + " " + std::to_string(value) + " (" + DbText(Dbfs(value)) + " dBFS)";
    };
    if (left)
        line("L", *left);
    if (right)
        line("R", *right);
    return text;
}

// ---- spectrum ------------------------------------------------------------------

double SpectLogHzAt(double ndcX)
{
    return std::exp((ndcX + 1.0) / RenderLnScaleX() + std::log(LogLowHz));
}

double SpectLinearHzAt(double ndcX, int32_t rangeX)
{
    // The linear trace puts bin i at 2i/h - 1, h the bin at the right edge.
    const int h = std::clamp(SpectLinearTopBin(rangeX), 1, BinSlots - 1);
    return (std::clamp(ndcX, -1.0, 1.0) + 1.0) * 0.5 * h * BinWidth;
}

int NearestBin(double hz, float binWidth)
{
    if (!(binWidth > 0) || !std::isfinite(hz))
        return 0;
    return static_cast<int>(std::clamp(std::nearbyint(hz / binWidth), 0.0, static_cast<double>(TopBin)));
}

double LevelDb(double magnitude)
{
    return 20.0 * std::log10(std::max(magnitude, LogFloor) / LogFullScale);
}

double Percent(double magnitude)
{
    return 100.0 * magnitude / LogFullScale;
}

LevelScale SplScale(double offsetDb, int weighting)
{
    static const char* const units[] = {"dB SPL", "dB(A)", "dB(C)"};
    return {offsetDb, units[std::clamp(weighting, 0, 2)]};
}

std::string SpectText(double hz, bool logAxis, const std::optional<float>& left, const std::optional<float>& right,
                      const LevelScale& scale)
{
    std::string text = Format("%.0f Hz", hz);
    const auto line = [&](const char* name, float magnitude) {
        text += "\n" + std::string(name) + " " +
                (logAxis ? DbText(LevelDb(magnitude) + scale.offsetDb) + " " + scale.unit
                         : Format("%.1f %%", Percent(magnitude)));
    };
    if (left)
        line("L", *left);
    if (right)
        line("R", *right);
    return text;
}

std::optional<Peak> InterpolatedPeak(const float* row, float binWidth)
{
    const int peak = sptm::PeakBin(row);
    if (peak == 0)
        return std::nullopt;
    // Natural logarithms of the three magnitudes; a silent neighbour counts
    // as the floor, so the vertex stays between the neighbours.
    const auto ln = [](float m) { return std::log(std::max(static_cast<double>(m), LogFloor)); };
    // The top bin has no neighbour above: its mirror stands in, and the vertex stays on it.
    const double a = ln(row[peak - 1]), b = ln(row[peak]), c = peak < TopBin ? ln(row[peak + 1]) : a;
    const double curvature = a - 2 * b + c;
    const double offset = curvature < 0 ? std::clamp(0.5 * (a - c) / curvature, -0.5, 0.5) : 0.0;
    const double lnPeak = b - 0.25 * (a - c) * offset;
    return Peak{peak, (peak + offset) * binWidth, 20.0 * (lnPeak - std::log(LogFullScale)) / std::log(10.0)};
}

std::string PeakText(char channel, const Peak& peak, const LevelScale& scale)
{
    return std::string("Peak ") + channel + " " + Format("%.1f Hz ", peak.hz) + DbText(peak.db + scale.offsetDb) + " " +
           scale.unit;
}

// ---- spectrogram -----------------------------------------------------------------

double SpTmSeconds(double column)
{
    return column / 100.0;
}

std::optional<BandPoint> SpTmBandAt(double ndcY, bool showLeft, bool showRight)
{
    for (int channel = 1; channel <= 2; ++channel) {
        const std::optional<sptm::Band> band = sptm::ChannelBand(channel, showLeft, showRight);
        if (!band)
            continue;
        const double root = (ndcY - band->offset) / band->scale;
        const double hz = root * root;
        if (root >= 0 && hz <= sptm::BandTopHz)
            return BandPoint{channel, hz};
    }
    return std::nullopt;
}

std::optional<int> LevelOfColour(sptm::Rgb colour, bool lightBackground)
{
    for (int level = 0; level <= sptm::MaxLevel; ++level)
        if (sptm::PaletteColor(level, lightBackground) == colour)
            return level;
    return std::nullopt;
}

double SpTmLevelDb(int level, float gain)
{
    const double root = level / static_cast<double>(UsableKaSpTm(gain));
    return LevelDb(root * root);
}

std::string SpTmText(double seconds, const std::optional<BandPoint>& point, const std::optional<int>& level, float gain)
{
    std::string text = Format("%.2f s", seconds);
    if (point)
        text += "\n" + std::string(point->channel == 1 ? "L " : "R ") + Format("%.0f Hz", point->hz);
    if (level)
        text += "\nlevel " + std::to_string(*level) + " (" + DbText(SpTmLevelDb(*level, gain)) + " dB)";
    else
        text += "\nno level";
    return text;
}

// ---- export -----------------------------------------------------------------------

std::string WindowName(int window)
{
    // As the window-function box names them.
    static const char* const names[] = {"Recrangular", "Hann", "Hamming"};
    return window >= 0 && window <= 2 ? names[window] : "none";
}

std::string SpectrumCsv(const float* left, const float* right, float binWidth, int window, const std::string& time,
                        const SpectrumNotes& notes)
{
    std::string csv = "Frequency [Hz],Left magnitude,Left level [dB],Right magnitude,Right level [dB],Window: " +
                      WindowName(window) + ",Time: " + time;
    // Without averaging and weighting the header stays as exports have
    // always had it, for the scripts that read them.
    if (notes.averaging != "Off" || notes.weighting != "Z")
        csv += ",Averaging: " + notes.averaging + ",Slices: " + std::to_string(notes.slices) +
               ",Weighting: " + notes.weighting;
    csv += "\n";
    // Numbers with a decimal point whatever the user's locale says.
    const auto add = [&csv](double value, std::chars_format format, int precision, char after) {
        char number[64];
        const auto end = std::to_chars(number, number + sizeof number, value, format, precision).ptr;
        csv.append(number, end);
        csv += after;
    };
    for (int bin = 0; bin <= TopBin; ++bin) {
        add(bin * static_cast<double>(binWidth), std::chars_format::fixed, 4, ',');
        add(left[bin], std::chars_format::general, 7, ',');
        add(LevelDb(left[bin]), std::chars_format::fixed, 3, ',');
        add(right[bin], std::chars_format::general, 7, ',');
        add(LevelDb(right[bin]), std::chars_format::fixed, 3, '\n');
    }
    return csv;
}

} // namespace readout
