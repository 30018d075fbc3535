#include "meters/bandsgeometry.h"

#include "measure/levels.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>

namespace bandsview {

int FractionAt(int index)
{
    return measure::BandFractions[std::clamp(index, 0, measure::BandFractionCount - 1)];
}

std::string FractionName(int fraction)
{
    return "1/" + std::to_string(fraction) + " Octave";
}

bool IsTopChoice(double db)
{
    return std::find(std::begin(TopChoices), std::end(TopChoices), db) != std::end(TopChoices);
}

bool IsSpanChoice(double db)
{
    return std::find(std::begin(SpanChoices), std::end(SpanChoices), db) != std::end(SpanChoices);
}

int LevelRow(double db, double topDb, double spanDb, int height)
{
    if (!(spanDb > 0.0) || height <= 0)
        return height;
    const double row = (topDb - db) / spanDb * height;
    if (!(row < height)) // NaN too
        return height;
    return std::max(0, static_cast<int>(std::lround(row)));
}

std::vector<int> GridLevels(double topDb, double spanDb)
{
    const int step = spanDb > 80.0 ? 20 : 10;
    std::vector<int> levels;
    const int first = static_cast<int>(std::floor(topDb / step)) * step;
    for (int db = first; db >= topDb - spanDb; db -= step)
        levels.push_back(db);
    return levels;
}

BarSpan BarColumns(int band, int bandCount, int width, int channel, bool bothShown)
{
    if (bandCount <= 0 || band < 0 || band >= bandCount)
        return {0, -1};
    const double slot = static_cast<double>(width) / bandCount;
    const double gap = slot >= 4.0 ? std::max(1.0, slot / 10.0) : 0.0;
    const double from = band * slot + gap / 2.0;
    const double to = (band + 1) * slot - gap / 2.0;
    double left = from, right = to;
    if (bothShown) {
        const double middle = (from + to) / 2.0;
        if (channel == 0)
            right = middle;
        else
            left = middle;
    }
    return {static_cast<int>(std::lround(left)), static_cast<int>(std::lround(right)) - 1};
}

int BandAtColumn(int x, int bandCount, int width)
{
    if (bandCount <= 0 || width <= 0 || x < 0 || x >= width)
        return -1;
    return std::min(bandCount - 1, static_cast<int>(static_cast<long long>(x) * bandCount / width));
}

std::vector<int> LabelledBands(const std::vector<measure::OctaveBand>& bands, int width, int labelWidth)
{
    std::vector<int> labelled;
    if (bands.empty() || width <= 0)
        return labelled;
    const double slot = static_cast<double>(width) / bands.size();
    int every = 24;
    for (int k : {1, 2, 3, 6, 12, 24})
        if (slot * k >= labelWidth) {
            every = k;
            break;
        }
    int anchor = 0;
    for (int i = 0; i < static_cast<int>(bands.size()); ++i)
        if (std::abs(std::log(bands[i].centreHz / 1000.0)) < std::abs(std::log(bands[anchor].centreHz / 1000.0)))
            anchor = i;
    for (int i = anchor % every; i < static_cast<int>(bands.size()); i += every)
        labelled.push_back(i);
    return labelled;
}

namespace {
std::string Format(const char* format, double value)
{
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string LevelText(double db)
{
    return db <= measure::SilenceDb ? std::string("-inf") : Format("%.1f", db);
}
} // namespace

std::string ReadoutText(const measure::OctaveBand& band, std::optional<double> leftDb, std::optional<double> rightDb,
                        std::optional<double> offsetDb, std::string_view unit)
{
    std::string text = measure::NominalText(band.nominalHz) + " Hz (" + Format("%.1f", band.centreHz) + " Hz, " +
                       Format("%.1f", band.lowerHz) + " - " + Format("%.1f", band.upperHz) + " Hz)";
    const auto level = [&](double db) {
        const double shown = offsetDb && db > measure::SilenceDb ? db + *offsetDb : db;
        return LevelText(shown) + " " + std::string(unit);
    };
    if (leftDb)
        text += "\nL: " + level(*leftDb);
    if (rightDb)
        text += "\nR: " + level(*rightDb);
    return text;
}

void SubtractMicResponse(measure::BandReading& reading, const measure::MicResponse& response)
{
    if (response.Empty())
        return;
    for (std::size_t band = 0; band < reading.bands.size(); ++band) {
        const double db = response.DbAt(reading.bands[band].centreHz);
        for (int channel = 0; channel < 2; ++channel)
            for (std::vector<double>* levels : {&reading.levelDb[channel], &reading.peakDb[channel]})
                if (band < levels->size() && (*levels)[band] > measure::SilenceDb)
                    (*levels)[band] = std::max(measure::SilenceDb, (*levels)[band] - db);
    }
}

std::string GridLabel(int db, std::optional<double> offsetDb)
{
    if (!offsetDb)
        return std::to_string(db);
    const double spl = db + *offsetDb;
    if (spl == std::round(spl))
        return std::to_string(static_cast<long long>(spl));
    std::string text = Format("%.1f", spl);
    return text == "-0.0" ? "0.0" : text;
}

std::string UnitLabel(int weighting, std::optional<double> offsetDb)
{
    const char* units[] = {"dBFS", "dB(A)", "dB(C)"};
    const int index = std::clamp(weighting, 0, 2);
    return index == 0 && offsetDb ? "dB SPL" : units[index];
}

std::string BandsCsv(const std::vector<measure::OctaveBand>& bands, const std::vector<double>& leftDb,
                     const std::vector<double>& rightDb, const CsvContext& context)
{
    std::string csv = "# Sonalyx octave bands, " + FractionName(context.fraction) + ", weighting " +
                      measure::WeightingName(context.weighting) + ", averaging " + context.averaging + " (" +
                      std::to_string(context.blocks) + " blocks), " + context.time + "\n";
    const std::string unit = UnitLabel(static_cast<int>(context.weighting), std::nullopt);
    csv += "Nominal (Hz),Centre (Hz),Lower (Hz),Upper (Hz),Left (" + unit + "),Right (" + unit + ")\n";
    for (std::size_t i = 0; i < bands.size(); ++i) {
        const auto& band = bands[i];
        const double left = i < leftDb.size() ? leftDb[i] : measure::SilenceDb;
        const double right = i < rightDb.size() ? rightDb[i] : measure::SilenceDb;
        char row[200];
        std::snprintf(row, sizeof row, "%g,%.3f,%.3f,%.3f,%.2f,%.2f\n", band.nominalHz, band.centreHz, band.lowerHz,
                      band.upperHz, left, right);
        csv += row;
    }
    return csv;
}

} // namespace bandsview
