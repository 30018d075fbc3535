// Frequency weightings of IEC 61672-1: Z (none), A and C, as the analogue
// magnitude responses the standard defines by their poles, normalised to
// 0 dB at 1 kHz.
#pragma once

namespace measure {

// In the order panels list them and the settings store them.
enum class Weighting { Z, A, C };
inline constexpr int WeightingCount = 3;

// "Z", "A", "C".
const char* WeightingName(Weighting weighting);
// The weighting's gain in dB at `hz` (0 for Z; -inf at 0 Hz for A and C).
double WeightingDb(Weighting weighting, double hz);
// The same as a power factor (10^(dB/10)); 0 at 0 Hz for A and C.
double WeightingPowerFactor(Weighting weighting, double hz);

} // namespace measure
