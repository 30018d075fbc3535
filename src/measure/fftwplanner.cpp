#include "measure/fftwplanner.h"

namespace measure {

std::mutex& FftwPlannerLock()
{
    static std::mutex lock;
    return lock;
}

} // namespace measure
