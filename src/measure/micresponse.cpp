#include "measure/micresponse.h"
#include "measure/textfields.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>

namespace measure {
namespace {

// Makers' files hold a few hundred lines; a file this big is something else.
constexpr std::size_t MaxFileBytes = 4 * 1024 * 1024;

std::string_view TrimStart(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    return s;
}

// A line of words (a header) begins with something that is no number and
// does not look like one.
bool StartsLikeANumber(std::string_view field)
{
    const char c = field.front();
    return Number(field) || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
}

std::string Text(double value)
{
    char text[40];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

std::string Quoted(std::string_view field)
{
    constexpr std::size_t Longest = 24;
    return "'" + std::string(field.substr(0, Longest)) + (field.size() > Longest ? "...'" : "'");
}

MicParse Refused(int line, const std::string& what)
{
    MicParse parse;
    parse.line = line;
    parse.message = (line > 0 ? "line " + std::to_string(line) + ": " : std::string()) + what;
    return parse;
}

// Checks one line of numbers; empty when it is good.
std::string Fault(const std::vector<std::string_view>& fields, const MicResponse& so_far, int previousLine, double& hz,
                  double& db)
{
    const std::optional<double> frequency = Number(fields[0]);
    if (!frequency)
        return "the frequency " + Quoted(fields[0]) + " is not a number";
    if (fields.size() < 2)
        return "a frequency without a level in dB";
    const std::optional<double> level = Number(fields[1]);
    if (!level)
        return "the level " + Quoted(fields[1]) + " is not a number";
    hz = *frequency;
    db = *level;
    if (std::isnan(hz) || std::isnan(db))
        return std::string("NaN (not a number) as the ") + (std::isnan(hz) ? "frequency" : "level");
    if (!(hz > 0.0) || std::isinf(hz))
        return "the frequency " + Text(hz) + " Hz is not a positive frequency";
    if (!so_far.hz.empty() && hz <= so_far.hz.back())
        return "the frequency " + Text(hz) + " Hz is out of order: it does not rise above " + Text(so_far.hz.back()) +
               " Hz on line " + std::to_string(previousLine);
    if (std::fabs(db) > MicResponseLimitDb)
        return "the level " + Text(db) + " dB is beyond +-" + Text(MicResponseLimitDb) + " dB";
    return {};
}

} // namespace

double MicResponse::DbAt(double f) const
{
    if (hz.empty())
        return 0.0;
    if (!(f > hz.front())) // below the first point, and no frequency at all
        return db.front();
    if (f >= hz.back())
        return db.back();
    const std::size_t upper = static_cast<std::size_t>(std::upper_bound(hz.begin(), hz.end(), f) - hz.begin());
    const std::size_t lower = upper - 1;
    const double t = std::log(f / hz[lower]) / std::log(hz[upper] / hz[lower]);
    return db[lower] + t * (db[upper] - db[lower]);
}

MicParse ParseMicResponse(std::string_view text)
{
    if (text.starts_with("\xEF\xBB\xBF"))
        text.remove_prefix(3);
    MicResponse response;
    int lineNumber = 0, previousLine = 0;
    while (!text.empty()) {
        ++lineNumber;
        const std::size_t end = text.find('\n');
        const std::string_view line = TrimStart(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);

        const std::vector<std::string_view> fields = Fields(line);
        if (fields.empty() || line.front() == '*' || line.front() == '"' || line.front() == '#')
            continue;
        if (!StartsLikeANumber(fields[0])) {
            if (response.Empty())
                continue; // the header line of words
            return Refused(lineNumber, "words where a frequency and a level belong: " + Quoted(fields[0]));
        }
        double hz = 0.0, db = 0.0;
        if (const std::string fault = Fault(fields, response, previousLine, hz, db); !fault.empty())
            return Refused(lineNumber, fault);
        response.hz.push_back(hz);
        response.db.push_back(db);
        previousLine = lineNumber;
    }
    if (response.Empty())
        return Refused(0, "no line of numbers (frequency and level) in the file");
    MicParse parse;
    parse.ok = true;
    parse.response = std::move(response);
    return parse;
}

MicParse LoadMicResponse(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return Refused(0, path + " cannot be read: " + std::strerror(errno));
    std::string text(MaxFileBytes + 1, '\0');
    file.read(text.data(), static_cast<std::streamsize>(text.size()));
    if (file.bad())
        return Refused(0, path + " cannot be read: " + std::strerror(errno));
    text.resize(static_cast<std::size_t>(file.gcount()));
    if (text.size() > MaxFileBytes)
        return Refused(0, path + " is too large for a microphone's response file");
    MicParse parse = ParseMicResponse(text);
    if (!parse.ok)
        parse.message = path + ", " + parse.message;
    return parse;
}

} // namespace measure
