#include "cli/response.h"

#include "cli/json.h"
#include "measure/responsefile.h"
#include "measure/sweep.h"
#include "platform/atomicfile.h"
#include "platform/soundserver.h"
#include "platform/wavfile.h"
#include "playback/sweeprecording.h"

#include <chrono>
#include <cmath>
#include <ctime>
#include <optional>
#include <stdexcept>
#include <thread>

namespace cli {

namespace {

constexpr auto PollPeriod = std::chrono::milliseconds(20);

std::string PointJson(const measure::ResponsePoint& p)
{
    return "{\"hz\": " + JsonNumber(p.hz, 4) + ", \"db\": " + JsonNumber(p.magnitudeDb, 3) +
           ", \"deg\": " + JsonNumber(p.phaseDegrees, 2) + "}";
}

std::string UtcNow()
{
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
    gmtime_r(&now, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &parts);
    return text;
}

std::string ResponseText(const measure::ResponseMeasurement& m, const Options& options)
{
    measure::ResponseHeader header;
    header.program = "sonalyx-measure";
    header.date = UtcNow();
    header.name = options.record;
    header.delayMs = m.delayMs;
    header.levelDbfs = options.sweepDbfs;
    measure::ResponseCurve curve;
    for (const measure::ResponsePoint& p : m.points) {
        curve.hz.push_back(p.hz);
        curve.db.push_back(p.magnitudeDb);
        curve.degrees.push_back(p.phaseDegrees);
    }
    return measure::FormatResponseFile(header, curve);
}

// Writes the files the options ask for; the reason of the first that fails.
std::optional<std::string> WriteFiles(const measure::ResponseMeasurement& m, const Options& options)
{
    if (!options.responseFile.empty()) {
        const std::string why = platform::ReplaceFileAtomically(options.responseFile, ResponseText(m, options));
        if (!why.empty())
            return "the response could not be written to '" + options.responseFile + "': " + why;
    }
    if (!options.impulseFile.empty()) {
        const std::string why = platform::WriteFloatWav(options.impulseFile, measure::ImpulseFromZeroDelay(m),
                                                        static_cast<int>(m.sampleRate));
        if (!why.empty())
            return "the impulse response could not be written to '" + options.impulseFile + "': " + why;
    }
    return std::nullopt;
}

// Plays and records until the sweep is in; fills `take` or says why not.
std::optional<Outcome> Record(const Options& options, const NamedDevices& devices,
                              const measure::ExponentialSweep& sweep, SweepTake* take)
{
    SweepRecording recording;
    std::string error;
    if (!recording.Start(platform::Server(), devices.record.name, *devices.play, sweep, true, &error))
        return Failure(ExitFailed, error);
    for (;;) {
        std::this_thread::sleep_for(PollPeriod);
        const SweepRecording::State state = recording.Poll();
        if (state == SweepRecording::State::Done)
            break;
        if (state == SweepRecording::State::Failed) {
            if (recording.TimedOut())
                return Failure(ExitNoSamples, "no samples from '" + options.record + "' within 5 s");
            return Failure(ExitFailed, recording.Error());
        }
    }
    *take = recording.Take();
    return std::nullopt;
}

} // namespace

std::string ResponseJson(const measure::ResponseMeasurement& m)
{
    std::string points;
    for (const measure::ResponsePoint& p : m.points)
        points += (points.empty() ? "" : ", ") + PointJson(p);
    return "{\"delay_samples\": " + JsonNumber(m.delaySamples + 0.0, 2) +
           ", \"delay_ms\": " + JsonNumber(m.delayMs + 0.0, 3) + ", \"peak_db\": " + JsonNumber(m.peakDb, 2) +
           ", \"points\": [" + points + "], \"clipped\": " + (m.clipped ? "true" : "false") + "}\n";
}

Outcome RunResponse(const Options& options)
{
    Outcome failure;
    const std::optional<NamedDevices> devices = FindNamedDevices(options, &failure);
    if (!devices)
        return failure;
    measure::SweepParameters parameters;
    parameters.seconds = options.seconds;
    parameters.levelDbfs = options.sweepDbfs;
    try {
        measure::ValidateSweepParameters(parameters);
    } catch (const std::invalid_argument& wrong) {
        return Failure(ExitUsage, wrong.what());
    }
    const measure::ExponentialSweep sweep(parameters);

    SweepTake take;
    if (const std::optional<Outcome> failed = Record(options, *devices, sweep, &take))
        return *failed;
    const bool generated = options.reference == measure::ResponseReference::Generated;
    // A recorded reference times the path itself, between the two channels.
    const double offset = generated && take.offsetKnown ? take.offsetFrames : 0.0;
    const measure::ResponseOutcome analysed = measure::AnalyseResponse(sweep, take.stereo, options.reference,
                                                                       options.channel, offset);
    if (!analysed.measurement)
        return Failure(ExitNoSweep, analysed.error);
    const measure::ResponseMeasurement& m = *analysed.measurement;
    if (const std::optional<std::string> why = WriteFiles(m, options))
        return Failure(ExitFailed, *why);

    Outcome outcome;
    outcome.json = ResponseJson(m);
    if (generated && !take.offsetKnown)
        outcome.warning =
            "the sound server did not tell its stream clocks: the delay counts from the recording's start";
    if (m.clipped) {
        outcome.exitCode = ExitClipped;
        outcome.error = "the recording clipped: lower --level or the recording device's volume";
    }
    return outcome;
}

} // namespace cli
