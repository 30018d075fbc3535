#include "cli/options.h"

#include "measure/octavebands.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <iterator>

namespace cli {

const char* const UsageText =
    "usage: sonalyx-measure devices\n"
    "       sonalyx-measure bands --record DEVICE [--seconds 5] [--fraction 1|3|6|12|24]\n"
    "                             [--weighting Z|A|C] [--play DEVICE [--signal pink|white]]\n"
    "       sonalyx-measure levels --record DEVICE [--seconds 10] [--weighting Z|A|C]\n"
    "       sonalyx-measure distortion --record DEVICE [--channel left|right] [--seconds 3]\n"
    "                                  [--play DEVICE [--freq 997] [--level -6]]\n"
    "       sonalyx-measure response --play DEVICE --record DEVICE [--seconds 4] [--level -6]\n"
    "                                [--reference generated|left|right] [--channel left|right]\n"
    "                                [--out FILE.txt] [--ir FILE.wav]\n"
    "       sonalyx-measure --help\n"
    "\n"
    "devices     lists the playback and recording devices (loopbacks included) as JSON\n"
    "bands       records for the given time and prints the fractional-octave band levels\n"
    "            (power average, dBFS) as JSON; --play plays the generator's noise meanwhile\n"
    "levels      records for the given time and prints per channel sample and true peak,\n"
    "            Leq and the Fast and Slow maxima (dBFS, or dB SPL for a calibrated device)\n"
    "            and the loudness (LUFS) as JSON\n"
    "distortion  records one channel for the given time (at least 65536 frames) and prints\n"
    "            the test tone's frequency and level, THD, THD+N, SINAD, SNR and the\n"
    "            harmonics H2 up to H10 below 20 kHz (dB relative to the fundamental, null\n"
    "            below the noise; those above 20 kHz left out) as JSON; --play plays the\n"
    "            test tone (--freq 20 to 20000 Hz, --level 0 to -60 dBFS) meanwhile\n"
    "response    plays a 20 Hz - 20 kHz sweep (--seconds 1 to 16, --level 0 to -40 dBFS) and\n"
    "            prints the delay, the impulse response's peak (dB) and the magnitude (dB) and\n"
    "            phase (degrees, delay removed) at 1/48-octave points as JSON; --reference\n"
    "            left|right divides the other channel by the one carrying the played signal;\n"
    "            --out writes the points as \"frequency dB phase\" text, --ir the impulse\n"
    "            response as a 32-bit float WAV whose first sample is at zero delay\n"
    "DEVICE      a server name (alsa_output....monitor) or a description as listed\n"
    "\n"
    "exit codes: 0 done, 1 device or stream failed, 2 wrong arguments, 3 no sound server,\n"
    "            4 no such device, 5 no samples within 5 s, 6 no test tone found,\n"
    "            7 no sweep found, 8 the recording clipped (the JSON is printed all the same)\n";

namespace {

std::optional<double> ParseSeconds(const std::string& text)
{
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !std::isfinite(value) || value <= 0.0 || value > MaxSeconds)
        return std::nullopt;
    return value;
}

std::optional<int> ParseFraction(const std::string& text)
{
    for (int fraction : measure::BandFractions)
        if (text == std::to_string(fraction))
            return fraction;
    return std::nullopt;
}

std::optional<measure::Weighting> ParseWeighting(const std::string& text)
{
    if (text == "Z" || text == "z")
        return measure::Weighting::Z;
    if (text == "A" || text == "a")
        return measure::Weighting::A;
    if (text == "C" || text == "c")
        return measure::Weighting::C;
    return std::nullopt;
}

std::optional<Signal> ParseSignal(const std::string& text)
{
    if (text == "pink")
        return Signal::Pink;
    if (text == "white")
        return Signal::White;
    return std::nullopt;
}

// A number from first to last, or nothing.
std::optional<double> ParseWithin(const std::string& text, double first, double last)
{
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !std::isfinite(value) || value < first || value > last)
        return std::nullopt;
    return value;
}

std::optional<int> ParseChannel(const std::string& text)
{
    if (text == "left")
        return 0;
    if (text == "right")
        return 1;
    return std::nullopt;
}

Parsed Wrong(const std::string& why)
{
    return {std::nullopt, why};
}

const char* CommandName(Command command)
{
    switch (command) {
    case Command::Bands: return "bands";
    case Command::Levels: return "levels";
    case Command::Distortion: return "distortion";
    case Command::Response: return "response";
    default: return "";
    }
}

// The options of "bands", "levels" or "distortion", from args[1] on; levels
// takes no player.
Parsed ParseRecording(Command command, const std::vector<std::string>& args)
{
    Options options;
    options.command = command;
    const bool bands = command == Command::Bands;
    const bool distortion = command == Command::Distortion;
    if (command == Command::Levels)
        options.seconds = 10.0;
    if (distortion)
        options.seconds = 3.0;
    bool signalGiven = false, toneGiven = false;
    for (size_t i = 1; i < args.size(); i += 2) {
        const std::string& option = args[i];
        if (i + 1 >= args.size())
            return Wrong(option.starts_with("--") ? option + " needs a value" : "unexpected argument '" + option + "'");
        const std::string& value = args[i + 1];
        if (option == "--record") {
            options.record = value;
        } else if (option == "--play" && (bands || distortion)) {
            options.play = value;
        } else if (option == "--seconds") {
            const std::optional<double> seconds = ParseSeconds(value);
            if (!seconds)
                return Wrong("--seconds wants a time above 0 and up to 86400, not '" + value + "'");
            options.seconds = *seconds;
        } else if (option == "--channel" && distortion) {
            const std::optional<int> channel = ParseChannel(value);
            if (!channel)
                return Wrong("--channel wants left or right, not '" + value + "'");
            options.channel = *channel;
        } else if (option == "--freq" && distortion) {
            const std::optional<double> hz = ParseWithin(value, MinToneHz, MaxToneHz);
            if (!hz)
                return Wrong("--freq wants a frequency from 20 to 20000 Hz, not '" + value + "'");
            options.toneHz = *hz;
            toneGiven = true;
        } else if (option == "--level" && distortion) {
            const std::optional<double> dbfs = ParseWithin(value, MinToneDbfs, MaxToneDbfs);
            if (!dbfs)
                return Wrong("--level wants a level from -60 to 0 dBFS, not '" + value + "'");
            options.toneDbfs = *dbfs;
            toneGiven = true;
        } else if (option == "--fraction" && bands) {
            const std::optional<int> fraction = ParseFraction(value);
            if (!fraction)
                return Wrong("--fraction wants 1, 3, 6, 12 or 24, not '" + value + "'");
            options.fraction = *fraction;
        } else if (option == "--weighting" && !distortion) {
            const std::optional<measure::Weighting> weighting = ParseWeighting(value);
            if (!weighting)
                return Wrong("--weighting wants Z, A or C, not '" + value + "'");
            options.weighting = *weighting;
        } else if (option == "--signal" && bands) {
            const std::optional<Signal> signal = ParseSignal(value);
            if (!signal)
                return Wrong("--signal wants pink or white, not '" + value + "'");
            options.signal = *signal;
            signalGiven = true;
        } else {
            return Wrong("unknown option '" + option + "'");
        }
    }
    if (options.record.empty())
        return Wrong(std::string(CommandName(command)) + " needs --record DEVICE");
    if (signalGiven && options.play.empty())
        return Wrong("--signal needs --play DEVICE");
    if (toneGiven && options.play.empty())
        return Wrong("--freq and --level need --play DEVICE");
    return {options, {}};
}

std::optional<measure::ResponseReference> ParseReference(const std::string& text)
{
    if (text == "generated")
        return measure::ResponseReference::Generated;
    if (text == "left")
        return measure::ResponseReference::Left;
    if (text == "right")
        return measure::ResponseReference::Right;
    return std::nullopt;
}

// One option of "response" with its value into `options`; the reason when
// it is wrong.
std::optional<std::string> TakeResponseOption(const std::string& option, const std::string& value, Options& options,
                                              bool& channelGiven)
{
    if (option == "--record") {
        options.record = value;
    } else if (option == "--play") {
        options.play = value;
    } else if (option == "--seconds") {
        const std::optional<double> seconds = ParseWithin(value, MinSweepSeconds, MaxSweepSeconds);
        if (!seconds)
            return "--seconds wants a sweep of 1 to 16 s, not '" + value + "'";
        options.seconds = *seconds;
    } else if (option == "--level") {
        const std::optional<double> dbfs = ParseWithin(value, MinSweepDbfs, MaxSweepDbfs);
        if (!dbfs)
            return "--level wants a level from -40 to 0 dBFS, not '" + value + "'";
        options.sweepDbfs = *dbfs;
    } else if (option == "--reference") {
        const std::optional<measure::ResponseReference> reference = ParseReference(value);
        if (!reference)
            return "--reference wants generated, left or right, not '" + value + "'";
        options.reference = *reference;
    } else if (option == "--channel") {
        const std::optional<int> channel = ParseChannel(value);
        if (!channel)
            return "--channel wants left or right, not '" + value + "'";
        options.channel = *channel;
        channelGiven = true;
    } else if (option == "--out" && !value.empty()) {
        options.responseFile = value;
    } else if (option == "--ir" && !value.empty()) {
        options.impulseFile = value;
    } else if (option == "--out" || option == "--ir") {
        return option + " wants a file name";
    } else {
        return "unknown option '" + option + "'";
    }
    return std::nullopt;
}

// The options of "response", from args[1] on.
Parsed ParseResponse(const std::vector<std::string>& args)
{
    Options options;
    options.command = Command::Response;
    options.seconds = 4.0;
    bool channelGiven = false;
    for (size_t i = 1; i < args.size(); i += 2) {
        const std::string& option = args[i];
        if (i + 1 >= args.size())
            return Wrong(option.starts_with("--") ? option + " needs a value" : "unexpected argument '" + option + "'");
        if (const std::optional<std::string> wrong = TakeResponseOption(option, args[i + 1], options, channelGiven))
            return Wrong(*wrong);
    }
    if (options.record.empty() || options.play.empty())
        return Wrong("response needs --play DEVICE and --record DEVICE");
    if (options.reference != measure::ResponseReference::Generated) {
        // With a recorded reference the measured channel is the other one.
        const int referenceChannel = options.reference == measure::ResponseReference::Left ? 0 : 1;
        if (channelGiven && options.channel == referenceChannel)
            return Wrong("--channel names the reference channel; the measured channel is the other one");
        options.channel = 1 - referenceChannel;
    }
    if (!options.responseFile.empty() && options.responseFile == options.impulseFile)
        return Wrong("--out and --ir name the same file");
    return {options, {}};
}

} // namespace

Parsed ParseArguments(const std::vector<std::string>& args)
{
    if (args.empty())
        return Wrong("no command");
    const std::string& command = args[0];
    if (command == "--help" || command == "-h" || command == "help")
        return {Options{}, {}};
    if (command == "devices") {
        if (args.size() > 1)
            return Wrong("devices takes no arguments");
        Options options;
        options.command = Command::Devices;
        return {options, {}};
    }
    for (Command recording : {Command::Bands, Command::Levels, Command::Distortion}) {
        if (command != CommandName(recording))
            continue;
        if (std::find(args.begin(), args.end(), "--help") != args.end())
            return {Options{}, {}};
        return ParseRecording(recording, args);
    }
    if (command == CommandName(Command::Response)) {
        if (std::find(args.begin(), args.end(), "--help") != args.end())
            return {Options{}, {}};
        return ParseResponse(args);
    }
    return Wrong("unknown command '" + command + "'");
}

} // namespace cli
