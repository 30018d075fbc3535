// Second-order filters with their analytic responses, for tests that send a
// sweep through a known system: the audio EQ cookbook's (R. Bristow-Johnson)
// peaking, low-pass and high-shelf sections, run sample by sample and evaluated as
// H(e^jw) from their coefficients.
#pragma once

#include <cmath>
#include <complex>
#include <numbers>
#include <vector>

namespace testsupport {

struct Biquad {
    double b0, b1, b2, a1, a2; // normalised to a0 = 1

    std::vector<double> Run(const std::vector<double>& x) const
    {
        std::vector<double> y(x.size());
        double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
        for (std::size_t n = 0; n < x.size(); ++n) {
            y[n] = b0 * x[n] + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
            x2 = x1, x1 = x[n], y2 = y1, y1 = y[n];
        }
        return y;
    }
    std::complex<double> At(double hz, double rate) const
    {
        const std::complex<double> z1 = std::polar(1.0, -2 * std::numbers::pi * hz / rate);
        return (b0 + b1 * z1 + b2 * z1 * z1) / (1.0 + a1 * z1 + a2 * z1 * z1);
    }
};

inline Biquad NormalisedBiquad(double b0, double b1, double b2, double a0, double a1, double a2)
{
    return {b0 / a0, b1 / a0, b2 / a0, a1 / a0, a2 / a0};
}

inline Biquad PeakingBiquad(double hz, double q, double gainDb, double rate)
{
    const double A = std::pow(10.0, gainDb / 40), w = 2 * std::numbers::pi * hz / rate;
    const double alpha = std::sin(w) / (2 * q);
    return NormalisedBiquad(1 + alpha * A, -2 * std::cos(w), 1 - alpha * A, 1 + alpha / A, -2 * std::cos(w),
                            1 - alpha / A);
}

inline Biquad LowPassBiquad(double hz, double q, double rate)
{
    const double w = 2 * std::numbers::pi * hz / rate, alpha = std::sin(w) / (2 * q), c = std::cos(w);
    return NormalisedBiquad((1 - c) / 2, 1 - c, (1 - c) / 2, 1 + alpha, -2 * c, 1 - alpha);
}

inline Biquad HighShelfBiquad(double hz, double q, double gainDb, double rate)
{
    const double A = std::pow(10.0, gainDb / 40), w = 2 * std::numbers::pi * hz / rate;
    const double c = std::cos(w), root = 2 * std::sqrt(A) * std::sin(w) / (2 * q);
    return NormalisedBiquad(A * ((A + 1) + (A - 1) * c + root), -2 * A * ((A - 1) + (A + 1) * c),
                            A * ((A + 1) + (A - 1) * c - root), (A + 1) - (A - 1) * c + root,
                            2 * ((A - 1) - (A + 1) * c), (A + 1) - (A - 1) * c - root);
}

} // namespace testsupport
