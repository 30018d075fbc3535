// The command line of sonalyx-measure: the command, its options, the exit
// codes and the usage text.
#pragma once

#include "measure/response.h"
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
    ExitNoTone = 6,    // distortion: no test tone in the recording
    ExitNoSweep = 7,   // response: no sweep in the recording
    ExitClipped = 8,   // response: the recording clipped (the answer is printed all the same)
};

enum class Command { Help, Devices, Bands, Levels, Distortion, Response };
enum class Signal { Pink, White };

struct Options {
    Command command = Command::Help;
    std::string record; // the recording device, a name or a description
    std::string play;   // bands, distortion: the playback device; empty plays nothing
    Signal signal = Signal::Pink;
    double seconds = 5.0; // 10 for levels, 3 for distortion
    int fraction = 3;
    measure::Weighting weighting = measure::Weighting::Z;
    int channel = 0;        // distortion: 0 left, 1 right
    double toneHz = 997.0;  // distortion: the played test tone's frequency
    double toneDbfs = -6.0; // and its level
    // response: the sweep's level (its seconds are `seconds`, 4 by default),
    // what the recording is divided by, and the files to write
    double sweepDbfs = -6.0;
    measure::ResponseReference reference = measure::ResponseReference::Generated;
    std::string responseFile; // --out: the response as "frequency dB phase" text
    std::string impulseFile;  // --ir: the impulse response as a 32-bit float WAV
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

// The test tone the distortion command can play.
inline constexpr double MinToneHz = 20.0, MaxToneHz = 20000.0;
inline constexpr double MinToneDbfs = -60.0, MaxToneDbfs = 0.0;

// The sweep the response command plays.
inline constexpr double MinSweepSeconds = 1.0, MaxSweepSeconds = 16.0;
inline constexpr double MinSweepDbfs = -40.0, MaxSweepDbfs = 0.0;

} // namespace cli
