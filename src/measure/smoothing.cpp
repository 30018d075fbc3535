#include "measure/smoothing.h"

#include <algorithm>
#include <cmath>

namespace measure {
namespace {

// Where each point's stretch of log frequency begins; edges[i + 1] is where
// it ends. Sums run in long double: a deep notch beside loud points must not
// vanish in the rounding of a running total.
std::vector<double> CellEdges(const std::vector<double>& hz)
{
    const std::size_t n = hz.size();
    std::vector<double> edges(n + 1);
    for (std::size_t i = 1; i < n; ++i)
        edges[i] = 0.5 * (std::log(hz[i - 1]) + std::log(hz[i]));
    const double first = std::log(hz.front());
    const double last = std::log(hz.back());
    edges[0] = n > 1 ? 2.0 * first - edges[1] : first - 0.5;
    edges[n] = n > 1 ? 2.0 * last - edges[n - 1] : last + 0.5;
    return edges;
}

// A piecewise constant function of log frequency (one value per point's
// stretch) whose integral from the lowest edge up to any x is looked up.
class StepIntegral {
public:
    StepIntegral(const std::vector<double>& edges, std::vector<double> values)
        : edges_(edges), values_(std::move(values)), totals_(values_.size() + 1, 0.0L)
    {
        for (std::size_t i = 0; i < values_.size(); ++i)
            totals_[i + 1] = totals_[i] + static_cast<long double>(values_[i]) * (edges_[i + 1] - edges_[i]);
    }

    long double Upto(double x) const
    {
        if (x <= edges_.front())
            return 0.0L;
        if (x >= edges_.back())
            return totals_.back();
        const std::size_t cell = std::upper_bound(edges_.begin(), edges_.end(), x) - edges_.begin() - 1;
        return totals_[cell] + static_cast<long double>(values_[cell]) * (x - edges_[cell]);
    }

    double Over(double lo, double hi) const { return static_cast<double>(Upto(hi) - Upto(lo)); }

private:
    const std::vector<double>& edges_;
    std::vector<double> values_;
    std::vector<long double> totals_;
};

// Half the band's width in natural log units.
double HalfBand(Smoothing smoothing)
{
    return std::log(2.0) / (2.0 * SmoothingFraction(smoothing));
}

std::vector<double> Powers(const std::vector<double>& db)
{
    std::vector<double> power(db.size());
    for (std::size_t i = 0; i < db.size(); ++i)
        power[i] = std::pow(10.0, db[i] / 10.0);
    return power;
}

} // namespace

int SmoothingFraction(Smoothing smoothing)
{
    switch (smoothing) {
    case Smoothing::None: return 0;
    case Smoothing::Octave48: return 48;
    case Smoothing::Octave24: return 24;
    case Smoothing::Octave12: return 12;
    case Smoothing::Octave6: return 6;
    case Smoothing::Octave3: return 3;
    }
    return 0;
}

std::string SmoothingName(Smoothing smoothing)
{
    const int n = SmoothingFraction(smoothing);
    return n == 0 ? "none" : "1/" + std::to_string(n) + " octave";
}

std::vector<double> SmoothMagnitudeDb(const std::vector<double>& hz, const std::vector<double>& db, Smoothing smoothing)
{
    if (smoothing == Smoothing::None || hz.empty() || hz.size() != db.size())
        return db;
    const std::vector<double> edges = CellEdges(hz);
    const StepIntegral power(edges, Powers(db));
    const StepIntegral span(edges, std::vector<double>(hz.size(), 1.0));
    const double half = HalfBand(smoothing);
    std::vector<double> smoothed(hz.size());
    for (std::size_t i = 0; i < hz.size(); ++i) {
        const double centre = std::log(hz[i]);
        const double mean = power.Over(centre - half, centre + half) / span.Over(centre - half, centre + half);
        smoothed[i] = 10.0 * std::log10(mean);
    }
    return smoothed;
}

std::vector<std::complex<double>> SmoothComplex(const std::vector<double>& hz,
                                                const std::vector<std::complex<double>>& response, Smoothing smoothing)
{
    if (smoothing == Smoothing::None || hz.empty() || hz.size() != response.size())
        return response;
    const std::size_t n = hz.size();
    std::vector<double> power(n), re(n), im(n);
    for (std::size_t i = 0; i < n; ++i) {
        power[i] = std::norm(response[i]);
        re[i] = response[i].real();
        im[i] = response[i].imag();
    }
    const std::vector<double> edges = CellEdges(hz);
    const StepIntegral powerSum(edges, std::move(power)), reSum(edges, std::move(re)), imSum(edges, std::move(im));
    const StepIntegral span(edges, std::vector<double>(n, 1.0));
    const double half = HalfBand(smoothing);
    std::vector<std::complex<double>> smoothed(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double lo = std::log(hz[i]) - half, hi = std::log(hz[i]) + half;
        const double width = span.Over(lo, hi);
        const double magnitude = std::sqrt(powerSum.Over(lo, hi) / width);
        const double phase = std::atan2(imSum.Over(lo, hi), reSum.Over(lo, hi));
        smoothed[i] = std::polar(magnitude, phase);
    }
    return smoothed;
}

} // namespace measure
