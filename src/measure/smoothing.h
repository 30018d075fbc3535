// Fractional-octave smoothing of a measured frequency response, on whatever
// frequency grid it was measured (an FFT's linear bins or a log-spaced list).
//
// Every point stands for the stretch of log frequency halfway to each of its
// neighbours (the first and last as far outward as inward). The smoothed
// value at f is the mean power |H|^2 over the band f*2^(-1/(2n)) ..
// f*2^(1/(2n)), weighted by how much of that band each point covers in log
// frequency: a linear grid's denser top of a band does not outweigh its
// bottom, and the result barely depends on the grid. Near the ends of the
// data the band is cut to what was measured.
#pragma once

#include <complex>
#include <string>
#include <vector>

namespace measure {

enum class Smoothing { None, Octave48, Octave24, Octave12, Octave6, Octave3 };

// n of 1/n octave; 0 for None.
int SmoothingFraction(Smoothing smoothing);
// "none", "1/48 octave", ... as written into exported files.
std::string SmoothingName(Smoothing smoothing);

// Smooths magnitudes in dB given at strictly increasing positive
// frequencies `hz` (same length); returns dB. None returns `db` as it is.
std::vector<double> SmoothMagnitudeDb(const std::vector<double>& hz, const std::vector<double>& db,
                                      Smoothing smoothing);

// Smooths a complex response: the magnitude as SmoothMagnitudeDb does (mean
// power), the phase as the angle of the complex mean over the same band, so
// a phase that turns within the band (a delay) averages towards the
// response's smooth part instead of being unwrapped.
std::vector<std::complex<double>> SmoothComplex(const std::vector<double>& hz,
                                                const std::vector<std::complex<double>>& response, Smoothing smoothing);

} // namespace measure
