#include "measure/textfields.h"

#include <charconv>
#include <cmath>
#include <system_error>

namespace measure {
namespace {

bool IsSeparator(char c)
{
    return c == ' ' || c == '\t' || c == ',' || c == '\r' || c == '\v' || c == '\f';
}

} // namespace

std::vector<std::string_view> Fields(std::string_view line)
{
    std::vector<std::string_view> fields;
    std::size_t at = 0;
    while (at < line.size()) {
        while (at < line.size() && IsSeparator(line[at]))
            ++at;
        const std::size_t start = at;
        while (at < line.size() && !IsSeparator(line[at]))
            ++at;
        if (at > start)
            fields.push_back(line.substr(start, at - start));
    }
    return fields;
}

std::optional<double> Number(std::string_view field)
{
    if (field.size() > 1 && field.front() == '+' && field[1] != '-')
        field.remove_prefix(1);
    double value = 0.0;
    const auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), value);
    if (error != std::errc() || end != field.data() + field.size())
        return std::nullopt;
    return value;
}

std::string FixedText(double value, int decimals)
{
    if (!std::isfinite(value))
        return value > 0 ? "inf" : (value < 0 ? "-inf" : "nan");
    char text[64];
    const auto end = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals).ptr;
    std::string result(text, end);
    if (result.front() == '-' && result.find_first_not_of("-0.") == std::string::npos)
        result.erase(0, 1);
    return result;
}

} // namespace measure
