// Averaging of power spectra (per FFT bin) or of band powers (per band):
// off, exponential with a time constant, linear over the last N, or
// infinite since the last reset. What is averaged is power (magnitude
// squared or mean square), never decibels.
#pragma once

#include <cstdint>
#include <vector>

namespace measure {

// The averaging choices, in the order the panels list them and the settings
// store them (0 .. AveragingCount - 1).
enum class Averaging {
    Off,
    Exponential125ms, // "Fast"
    Exponential1s,    // "Slow"
    Exponential4s,
    Exponential10s,
    Linear10,
    Linear50,
    Linear100,
    Linear500,
    Infinite,
};
inline constexpr int AveragingCount = 10;

// The choice's name as lists and exports show it ("Off", "Fast (0.125 s)").
const char* AveragingName(Averaging mode);
// The time constant of an exponential choice in seconds; 0 for the others.
double AveragingTimeConstant(Averaging mode);
// The number of sets a linear choice averages; 0 for the others.
int AveragingLength(Averaging mode);

// One average of `size` powers, fed one set at a time at a fixed interval
// (seconds between two sets, which sets the exponential averages' weight).
// Exponential: each set weighs 1 - e^(-interval / time constant), so that a
// step is answered by 1 - 1/e of it after one time constant; until about one
// time constant has been seen after a reset the average is the plain mean of
// what came, so it starts from the signal rather than from zero. Linear: the
// mean of the last N sets (of all sets while fewer have come). Infinite: the
// mean of every set since the reset. A NaN, infinite or negative power counts
// as 0.
class PowerAverager {
public:
    PowerAverager(int size, double interval, Averaging mode = Averaging::Off);

    // Changes the choice and starts again from nothing.
    void SetMode(Averaging mode);
    Averaging Mode() const { return mode_; }
    // Forgets everything added; Count() becomes 0.
    void Reset();
    // Adds one set of `size` powers.
    void Add(const double* power);
    // The average (with Off: the last set added); zeros before the first Add.
    const std::vector<double>& Power() const { return average_; }
    // Sets added since the last reset (every mode counts them all).
    int64_t Count() const { return count_; }

private:
    void AddExponential(const double* power);
    void AddInfinite(const double* power);
    void AddLinear(const double* power);
    void SumHistoryAfresh();

    Averaging mode_;
    std::vector<double> average_;
    int64_t count_ = 0;
    double interval_;
    double smoothing_ = 1.0;     // weight of a new set in an exponential average
    int length_ = 0;             // sets a linear average holds
    int next_ = 0;               // the history's slot for the next set
    std::vector<float> history_; // linear: the last length_ sets, slot by slot
    std::vector<double> sum_;    // linear and infinite: the sum of the sets held
};

} // namespace measure
