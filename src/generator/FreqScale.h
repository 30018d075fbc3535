// The generator window's numbers, free of any widget: the frequency scale of
// its two track bars in both directions, the reading of a typed frequency,
// and the texts of its edits and volume label.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace gen {

inline constexpr int FreqTrackMin = 1;
inline constexpr int FreqTrackMax = 275;
inline constexpr int32_t FreqClamp = 20000; // Hz, what a position beyond the track bar's end stands for

// Track bar position (1 ... 275) to Hz: x = p 141.43 / 275, frequency x^2
// rounded down to a multiple of 10.
int32_t FrequencyOfPosition(int position);

struct TrackPosition {
    int position; // 1 ... 275
    bool clamped; // the frequency lies beyond the end: it becomes 20000 Hz
};
// Hz to track bar position: sqrt(f) 275 / 141.43 to the nearest integer
// (halves to even); beyond 275 the position is 275 and `clamped` is set.
TrackPosition PositionOfFrequency(double frequency);

// A typed or pasted frequency: digits only, at most 2147483647. Empty when
// the text is not such a whole number.
std::optional<int32_t> ParseFrequency(const std::string& text);
// The message for a text that is not a whole number.
std::string NotAnIntegerMessage(const std::string& text);

// A value in fixed notation without decimals, rounded half away from zero
// ("20", "100").
std::string FixedText(double value);
// The volume label: 0 ... 65535 as a percentage ("100%").
std::string VolumeText(uint32_t volume);

} // namespace gen
