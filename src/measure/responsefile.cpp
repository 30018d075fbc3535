#include "measure/responsefile.h"
#include "measure/textfields.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>

namespace measure {
namespace {

// A response of a few thousand points is well below this; anything larger
// is not a response file.
constexpr std::size_t MaxFileBytes = 64 * 1024 * 1024;

// printf-like output that ignores the locale (no decimal commas).
std::string Fixed(double value, int decimals)
{
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
    return std::string(text, result.ptr);
}

std::string General(double value, int digits)
{
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::general, digits);
    return std::string(text, result.ptr);
}

std::string OneLine(std::string text)
{
    for (char& c : text)
        if (c == '\n' || c == '\r')
            c = ' ';
    return text;
}

std::string HeaderLines(const ResponseHeader& header)
{
    std::string text;
    text += "* Program: " + OneLine(header.program) + "\n";
    text += "* Date: " + OneLine(header.date) + "\n";
    text += "* Measurement: " + OneLine(header.name) + "\n";
    text += "* Delay: " + Fixed(header.delayMs, 3) + " ms\n";
    text += "* Level: " + Fixed(header.levelDbfs, 2) + " dBFS\n";
    text += "* Smoothing: " + SmoothingName(header.smoothing) + "\n";
    return text;
}

// What a reader gets back from `text` (written by General, so always a number).
double ReadBack(const std::string& text)
{
    double value = 0.0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

// The frequency with as many digits as it takes to stay above the one
// printed before (six unless the grid is finer than that).
std::string FrequencyText(double hz, double previous)
{
    std::string text = General(hz, 6);
    for (int digits = 7; digits <= 17 && ReadBack(text) <= previous; ++digits)
        text = General(hz, digits);
    return text;
}

// Values no file reader takes: a magnitude of zero (-inf dB) is written as
// the floor, a point without a number (NaN) or at no real frequency is left out.
constexpr double FloorDb = -300.0;

std::string PointLines(const std::vector<double>& hz, const std::vector<double>& db, const std::vector<double>& degrees)
{
    std::string text = "* Frequency (Hz)  Magnitude (dB)  Phase (degrees)\n";
    double previous = 0.0;
    for (std::size_t i = 0; i < hz.size() && i < db.size(); ++i) {
        const double phase = i < degrees.size() && std::isfinite(degrees[i]) ? degrees[i] : 0.0;
        if (!std::isfinite(hz[i]) || !(hz[i] > previous) || std::isnan(db[i]))
            continue;
        const std::string frequency = FrequencyText(hz[i], previous);
        previous = ReadBack(frequency);
        text += frequency + " " + Fixed(std::clamp(db[i], FloorDb, -FloorDb), 3) + " " + Fixed(phase, 2) + "\n";
    }
    return text;
}

std::string Quoted(std::string_view field)
{
    constexpr std::size_t Longest = 24;
    return "'" + std::string(field.substr(0, Longest)) + (field.size() > Longest ? "...'" : "'");
}

bool IsComment(const std::vector<std::string_view>& fields)
{
    if (fields.empty())
        return true;
    const char c = fields.front().front();
    return c == '*' || c == '#' || c == ';';
}

// Reads one line's numbers into the curve; empty when the line is good,
// else what is wrong with it.
std::string TakePoint(const std::vector<std::string_view>& fields, ResponseCurve& curve)
{
    static const char* const What[] = {"frequency", "level", "phase"};
    if (fields.size() < 2)
        return "a frequency without a level in dB";
    if (fields.size() > 3)
        return "more than three numbers (frequency, dB, phase)";
    double values[3] = {0.0, 0.0, 0.0};
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const std::optional<double> value = Number(fields[i]);
        if (!value)
            return std::string("the ") + What[i] + " " + Quoted(fields[i]) + " is not a number";
        if (!std::isfinite(*value))
            return std::string("the ") + What[i] + " " + Quoted(fields[i]) + " is not a finite number";
        values[i] = *value;
    }
    if (!(values[0] > 0.0))
        return "the frequency " + General(values[0], 6) + " Hz is not positive";
    if (!curve.hz.empty() && values[0] <= curve.hz.back())
        return "the frequency " + General(values[0], 6) + " Hz does not rise above the previous " +
               General(curve.hz.back(), 6) + " Hz";
    curve.hz.push_back(values[0]);
    curve.db.push_back(values[1]);
    curve.degrees.push_back(values[2]);
    return {};
}

ResponseParse Refused(int line, const std::string& what)
{
    ResponseParse parse;
    parse.line = line;
    parse.message = (line > 0 ? "line " + std::to_string(line) + ": " : std::string()) + what;
    return parse;
}

} // namespace

std::string FormatResponseFile(const ResponseHeader& header, const ResponseCurve& curve)
{
    return HeaderLines(header) + PointLines(curve.hz, curve.db, curve.degrees);
}

std::string FormatHarmonicFile(const ResponseHeader& header, int harmonic, const std::vector<double>& hz,
                               const std::vector<double>& db)
{
    return HeaderLines(header) + "* Harmonic: " + std::to_string(harmonic) + " (H" + std::to_string(harmonic) +
           ", relative to the fundamental)\n" + PointLines(hz, db, {});
}

ResponseParse ParseResponseFile(std::string_view text)
{
    if (text.starts_with("\xEF\xBB\xBF")) // a byte-order mark, as some Windows tools write
        text.remove_prefix(3);
    ResponseParse parse;
    int lineNumber = 0;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        ++lineNumber;
        const std::vector<std::string_view> fields = Fields(line);
        if (IsComment(fields))
            continue;
        const std::string fault = TakePoint(fields, parse.curve);
        if (!fault.empty())
            return Refused(lineNumber, fault);
    }
    if (parse.curve.hz.empty())
        return Refused(0, "no lines of frequency, dB and phase in the file");
    parse.ok = true;
    return parse;
}

ResponseParse LoadResponseFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return Refused(0, "cannot open " + path + ": " + std::strerror(errno));
    std::string text;
    char chunk[65536];
    while (in.read(chunk, sizeof chunk) || in.gcount() > 0) {
        text.append(chunk, static_cast<std::size_t>(in.gcount()));
        if (text.size() > MaxFileBytes)
            return Refused(0, path + " is too large to be a response file");
    }
    if (in.bad())
        return Refused(0, "cannot read " + path + ": " + std::strerror(errno));
    return ParseResponseFile(text);
}

} // namespace measure
