// The command line of sonalyx-measure: the command, its options, the exit
// codes and the usage text.
#pragma once

#include "measure/weighting.h"

#include <optional>
#include <string>
#include <vector>

namespace cli {

// What the program ends with; each failure has its own code so that a
// script can tell them apart without reading the message.
enum ExitCode {
    ExitOk = 0,
    ExitFailed = 1,    // a device could not be opened, or its stream ended
    ExitUsage = 2,     // wrong arguments
    ExitNoServer = 3,  // the sound server does not answer
    ExitNoDevice = 4,  // no device of that name or description
    ExitNoSamples = 5, // the recording device delivered nothing for 5 s
};

enum class Command { Help, Devices, Bands, Levels };
enum class Signal { Pink, White };

struct Options {
    Command command = Command::Help;
    std::string record; // bands, levels: the recording device, a name or a description
    std::string play;   // bands: the playback device; empty plays nothing
    Signal signal = Signal::Pink;
    double seconds = 5.0; // 10 for levels
    int fraction = 3;
    measure::Weighting weighting = measure::Weighting::Z;
};

struct Parsed {
    std::optional<Options> options;
    std::string error; // why the arguments are wrong, when there are no options
};

// The arguments after the program's name.
Parsed ParseArguments(const std::vector<std::string>& args);

// The usage, as --help prints it and a wrong argument is followed by.
extern const char* const UsageText;

// The longest capture asked for: a day.
inline constexpr double MaxSeconds = 86400.0;

} // namespace cli
