#include "measure/levels.h"

#include <cmath>

namespace measure {

double PowerToDbfs(double meanSquare)
{
    return PowerRatioToDb(meanSquare / FullScalePower);
}

double PowerRatioToDb(double ratio)
{
    if (!(ratio > 0.0))
        return SilenceDb;
    return 10.0 * std::log10(ratio);
}

} // namespace measure
