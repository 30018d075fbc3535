#include "generator/FreqScale.h"

#include <cmath>
#include <limits>

namespace gen {

int32_t FrequencyOfPosition(int position)
{
    const long double x = position * 141.43L / 275.0L;
    return 10 * static_cast<int32_t>(std::trunc(x * x * 0.1L));
}

TrackPosition PositionOfFrequency(double frequency)
{
    const long double p = std::nearbyint(std::sqrt(static_cast<long double>(frequency)) * 275.0L / 141.43L);
    if (p > FreqTrackMax)
        return {FreqTrackMax, true};
    if (!(p >= FreqTrackMin)) // 0 Hz (and anything odd) sits at the minimum
        return {FreqTrackMin, false};
    return {static_cast<int>(p), false};
}

std::optional<int32_t> ParseFrequency(const std::string& text)
{
    if (text.empty())
        return std::nullopt;
    int64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
        if (value > std::numeric_limits<int32_t>::max())
            return std::nullopt;
    }
    return static_cast<int32_t>(value);
}

std::string NotAnIntegerMessage(const std::string& text)
{
    return "'" + text + "' is not a valid integer value.";
}

std::string FixedText(double value)
{
    const double rounded = std::round(value);
    return std::to_string(static_cast<long long>(rounded == 0 ? 0 : rounded));
}

std::string VolumeText(uint32_t volume)
{
    return FixedText(volume / 655.35) + "%";
}

} // namespace gen
