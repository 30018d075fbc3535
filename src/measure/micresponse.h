// A measurement microphone's response file: lines "frequency  dB  [phase]",
// separated by blanks, tabs or commas; lines starting with '*', '"' or '#'
// and a header line of words are comments. The response is interpolated on a
// log frequency axis (held flat beyond the first and last points) and
// subtracted from what the instruments read while it is chosen.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace measure {

inline constexpr double MicResponseLimitDb = 40.0;

struct MicResponse {
    std::vector<double> hz; // strictly increasing, positive
    std::vector<double> db;
    bool Empty() const { return hz.empty(); }
    // The microphone's response in dB at `hz`; 0 when empty.
    double DbAt(double hz) const;
};

struct MicParse {
    bool ok = false;
    MicResponse response;
    int line = 0;        // 1-based line of the fault when not ok (0: the file as a whole)
    std::string message; // names the line and what is wrong with it
};

// A file with no numbers, frequencies out of order, NaN or values beyond
// +-MicResponseLimitDb is refused with a message naming the line.
MicParse ParseMicResponse(std::string_view text);
// Reads and parses the file at `path`; a file that cannot be read, or one
// too large to be a response file, is refused with a message (line 0).
MicParse LoadMicResponse(const std::string& path);

} // namespace measure
