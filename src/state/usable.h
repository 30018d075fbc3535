// Fallbacks for settings that cannot be used as they are. The settings load
// gives every stored value outside its control's range its default already;
// the code that uses a value still passes it through the matching function
// here where a number set any other way could make it index outside an array
// or divide by zero.
#pragma once

#include <cstdint>

int32_t UsableWaveRangeX(int32_t rangeX);  // below 2 or beyond one block (4410) -> 4410
int32_t UsableWaveRangeY(int32_t rangeY);  // 0 -> 20000
int32_t UsableSpectRangeX(int32_t rangeX); // <= 0 or beyond 20000 -> 5000
float UsableSpectRangeY(float rangeY);     // NaN, infinite or <= 0 -> 2
float UsableKaSpTm(float gain);            // NaN, infinite or <= 0 -> 10
