// Numbers in the text files other tools write (microphone responses,
// measured responses): a line split into fields at spaces, tabs or commas,
// and a field read as a number whatever the program's locale.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace measure {

// The line's fields, split at spaces, tabs, commas and stray carriage returns.
std::vector<std::string_view> Fields(std::string_view line);

// The whole field as a number (NaN and infinity included), with '.' as the
// decimal point whatever the locale, a leading '+' allowed; none when
// anything else is in it.
std::optional<double> Number(std::string_view field);

// A number with `decimals` decimals for a reader or a program, '.' whatever
// the locale, never "-0.0"; "inf", "-inf" or "nan" when not finite.
std::string FixedText(double value, int decimals);

} // namespace measure
