// The little JSON the commands print: strings with their escapes, numbers
// with a fixed number of decimals.
#pragma once

#include <string>

namespace cli {

// `text` (UTF-8) as a JSON string, quotes included.
std::string JsonString(const std::string& text);
// `value` with `decimals` decimals ("-6.02"); a value that is not finite,
// which JSON cannot hold, as null.
std::string JsonNumber(double value, int decimals);

} // namespace cli
