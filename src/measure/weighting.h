// Frequency weightings of IEC 61672-1: Z (none), A and C, as the analogue
// magnitude responses the standard defines by their poles, normalised to
// 0 dB at 1 kHz.
#pragma once

namespace measure {

// In the order panels list them and the settings store them.
enum class Weighting { Z, A, C };
inline constexpr int WeightingCount = 3;

// The pole frequencies of the analogue networks, in hertz: a double pole at
// WeightingPoleLowHz and one at WeightingPoleHighHz for both curves, and for
// A two more, at WeightingPoleMidAHz and WeightingPoleHighAHz.
inline constexpr double WeightingPoleLowHz = 20.598997;
inline constexpr double WeightingPoleMidAHz = 107.65265;
inline constexpr double WeightingPoleHighAHz = 737.86223;
inline constexpr double WeightingPoleHighHz = 12194.217;

// "Z", "A", "C".
const char* WeightingName(Weighting weighting);
// The weighting's gain in dB at `hz` (0 for Z; -inf at 0 Hz for A and C).
double WeightingDb(Weighting weighting, double hz);
// The same as a power factor (10^(dB/10)); 0 at 0 Hz for A and C.
double WeightingPowerFactor(Weighting weighting, double hz);

} // namespace measure
