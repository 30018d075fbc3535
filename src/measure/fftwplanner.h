// FFTW's planner keeps global state shared by every transform in the
// program: plans are made and destroyed under this one lock, whichever
// instrument makes them. Executing distinct plans needs no lock.
#pragma once

#include <mutex>

namespace measure {

std::mutex& FftwPlannerLock();

} // namespace measure
