#include "state/usable.h"

#include "state/global.h"

#include <cmath>

int32_t UsableWaveRangeX(int32_t rangeX)
{
    // The waveform shows at most the newest block.
    return (rangeX < 2 || rangeX > HistoryHalf) ? 4410 : rangeX;
}

int32_t UsableWaveRangeY(int32_t rangeY)
{
    return rangeY == 0 ? 20000 : rangeY;
}

int32_t UsableSpectRangeX(int32_t rangeX)
{
    return (rangeX <= 0 || rangeX > 20000) ? 5000 : rangeX;
}

float UsableSpectRangeY(float rangeY)
{
    return (!std::isfinite(rangeY) || rangeY <= 0) ? 2.0f : rangeY;
}

float UsableKaSpTm(float gain)
{
    return (!std::isfinite(gain) || gain <= 0) ? 10.0f : gain;
}
