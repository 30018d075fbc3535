// The text file of a measured frequency response that room-measurement and
// crossover-design tools import: comment lines starting with '*', then one
// line per point, "frequency dB phase" (Hz, dB, degrees).
//
// Reading is tolerant of what other tools write ('*', '#' or ';' comments,
// blank lines, CRLF, tabs or commas between numbers, no phase column) and
// strict about anything that is not a response: the first bad line is named.
#pragma once

#include "measure/smoothing.h"

#include <string>
#include <string_view>
#include <vector>

namespace measure {

struct ResponseCurve {
    std::vector<double> hz; // strictly increasing, positive
    std::vector<double> db;
    std::vector<double> degrees; // 0 where the file had no phase
    std::size_t Size() const { return hz.size(); }
};

// What the header of a written file says about the measurement.
struct ResponseHeader {
    std::string program; // program name and version
    std::string date;    // as the caller wants it shown
    std::string name;    // the measurement's name
    double delayMs = 0.0;
    double levelDbfs = 0.0; // the sweep's level
    Smoothing smoothing = Smoothing::None;
};

// The file's text: '*' comment lines of the header, then the points as
// "%.6g %.3f %.2f" with '.' decimals whatever the program's locale (a
// frequency gets more digits where six would not rise above the one before).
// Line breaks in the header's texts become blanks so that they cannot start
// lines of numbers. What no reader would take is not written: points with a
// NaN level or a frequency that is not finite and above the one before are
// left out, -inf dB (no signal) is written as -300 dB, a NaN phase as 0.
std::string FormatResponseFile(const ResponseHeader& header, const ResponseCurve& curve);

// One harmonic's distortion curve (k = 2 for the second harmonic) as its own
// file of the same format: the header names the harmonic, the phase is 0.
std::string FormatHarmonicFile(const ResponseHeader& header, int harmonic, const std::vector<double>& hz,
                               const std::vector<double>& db);

struct ResponseParse {
    bool ok = false;
    ResponseCurve curve;
    int line = 0;        // 1-based line of the fault when not ok (0: the file as a whole)
    std::string message; // "line N: what is wrong" or what is wrong with the file
};

// Parses a response file's text; on any fault the curve is empty.
ResponseParse ParseResponseFile(std::string_view text);
// Reads and parses the file at `path`; a file that cannot be read is
// refused with the system's reason (line 0).
ResponseParse LoadResponseFile(const std::string& path);

} // namespace measure
