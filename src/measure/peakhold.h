// Peak hold of power spectra or band powers: the highest power per bin since
// the last reset, optionally falling at a fixed rate in dB per second.
#pragma once

#include <vector>

namespace measure {

// The decay choices in dB per second, in the order panels list them and the
// settings store them; 0 holds for ever.
inline constexpr double PeakDecayChoices[] = {0.0, 3.0, 10.0, 20.0};
inline constexpr int PeakDecayCount = 4;

class PeakHold {
public:
    explicit PeakHold(int size, double decayDbPerSecond = 0.0);

    void SetDecay(double decayDbPerSecond);
    // Forgets every held peak.
    void Reset();
    // Lowers the held peaks by the decay over `seconds`, then keeps the
    // higher of each held peak and the new power.
    void Add(const double* power, double seconds);
    // The held powers; zeros before the first Add.
    const std::vector<double>& Power() const { return held_; }

private:
    double decay_;
    std::vector<double> held_;
};

} // namespace measure
