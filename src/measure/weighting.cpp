#include "measure/weighting.h"

#include <cmath>
#include <limits>

namespace measure {

namespace {

constexpr double PoleLow = WeightingPoleLowHz;     // f1, both weightings (double pole)
constexpr double PoleMidA = WeightingPoleMidAHz;   // f2, A only
constexpr double PoleHighA = WeightingPoleHighAHz; // f3, A only
constexpr double PoleHigh = WeightingPoleHighHz;   // f4, both weightings (double pole)

// The gains at 1 kHz of the unnormalised responses, which the normalised
// curves subtract so that both read 0 dB there.
constexpr double A1000Db = -2.000;
constexpr double C1000Db = -0.062;

double Square(double x)
{
    return x * x;
}

// |H_C(f)| before normalisation: f4^2 f^2 / ((f^2 + f1^2)(f^2 + f4^2)).
double RawC(double hz)
{
    const double f2 = Square(hz);
    return Square(PoleHigh) * f2 / ((f2 + Square(PoleLow)) * (f2 + Square(PoleHigh)));
}

// |H_A(f)|: the C network with two more poles, at f2 and f3, and a further
// zero pair at the origin.
double RawA(double hz)
{
    const double f2 = Square(hz);
    return RawC(hz) * f2 / std::sqrt((f2 + Square(PoleMidA)) * (f2 + Square(PoleHighA)));
}

} // namespace

const char* WeightingName(Weighting weighting)
{
    switch (weighting) {
    case Weighting::A: return "A";
    case Weighting::C: return "C";
    case Weighting::Z: break;
    }
    return "Z";
}

double WeightingDb(Weighting weighting, double hz)
{
    if (weighting == Weighting::Z)
        return 0.0;
    if (!(hz > 0.0))
        return -std::numeric_limits<double>::infinity();
    if (weighting == Weighting::A)
        return 20.0 * std::log10(RawA(hz)) - A1000Db;
    return 20.0 * std::log10(RawC(hz)) - C1000Db;
}

double WeightingPowerFactor(Weighting weighting, double hz)
{
    if (weighting == Weighting::Z)
        return 1.0;
    if (!(hz > 0.0))
        return 0.0;
    return std::pow(10.0, WeightingDb(weighting, hz) / 10.0);
}

} // namespace measure
