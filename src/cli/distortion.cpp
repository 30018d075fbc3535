#include "cli/distortion.h"

#include "cli/devicelist.h"
#include "cli/json.h"
#include "cli/player.h"
#include "measure/distortion.h"
#include "measure/levels.h"
#include "platform/soundserver.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <optional>

namespace cli {

namespace {

// A played tone needs the engine's buffers (up to 200 ms) and the server's
// latency to arrive; the lead-in is longer then, so that no transform
// holds its onset.
constexpr double PlayedLeadInSeconds = 1.0;

std::string DistortionJson(const measure::DistortionReading& r, bool clipped)
{
    std::string harmonics;
    for (const measure::HarmonicReading& h : r.harmonics)
        harmonics += (harmonics.empty() ? "" : ", ") +
                     (h.belowNoise ? std::string("null") : JsonNumber(h.dbRelative, 2));
    return "{\"fundamental_hz\": " + JsonNumber(r.fundamentalHz, 3) +
           ", \"fundamental_dbfs\": " + JsonNumber(r.fundamentalDbfs, 2) +
           ", \"thd_percent\": " + JsonNumber(r.thdPercent, 4) + ", \"thd_db\": " + JsonNumber(r.thdDb, 2) +
           ", \"thdn_percent\": " + JsonNumber(r.thdnPercent, 4) + ", \"thdn_db\": " + JsonNumber(r.thdnDb, 2) +
           ", \"sinad_db\": " + JsonNumber(r.sinadDb, 2) + ", \"snr_db\": " + JsonNumber(r.snrDb, 2) +
           ", \"harmonics_db\": [" + harmonics + "], \"clipped\": " + (clipped ? "true" : "false") + "}\n";
}

} // namespace

std::vector<double> AveragedPowerSpectrum(const std::vector<int16_t>& samples, double sampleRate)
{
    if (samples.size() < static_cast<std::size_t>(DistortionFrames))
        return {};
    measure::DistortionAnalyzer analyzer(DistortionFrames, sampleRate);
    std::vector<double> sum;
    int count = 0;
    for (std::size_t start = 0; start + DistortionFrames <= samples.size(); start += DistortionFrames / 2) {
        const std::vector<double> power = analyzer.PowerSpectrum(samples.data() + start);
        sum.resize(power.size(), 0.0);
        for (std::size_t b = 0; b < power.size(); ++b)
            sum[b] += power[b];
        ++count;
    }
    for (double& p : sum)
        p /= count;
    return sum;
}

Outcome RunDistortion(const Options& options)
{
    const std::vector<DeviceEntry> recording = RecordingDevices();
    const std::optional<size_t> source = FindDevice(recording, options.record);
    if (!source)
        return Failure(ExitNoDevice, "no recording device named '" + options.record + "'");
    std::optional<size_t> sink;
    if (!options.play.empty()) {
        sink = FindDevice(PlaybackDevices(), options.play);
        if (!sink)
            return Failure(ExitNoDevice, "no playback device named '" + options.play + "'");
    }

    std::string error;
    CapturedFrames captured;
    std::unique_ptr<platform::CaptureStream> stream = platform::Server().openCapture(
        recording[*source].name, [&](const int16_t* frames, size_t count) { captured.Add(frames, count); },
        [&](const std::string& why) { captured.End(why); }, &error);
    if (!stream)
        return Failure(ExitFailed, "the recording device '" + options.record + "' could not be opened: " + error);
    // The recording first, as for bands: PipeWire delivered nothing to a
    // monitor's capture opened while one of our streams played to its sink.
    // The tone then starts within the lead-in, before anything is counted.
    Player player;
    if (sink && !player.Start(static_cast<int>(*sink), ToneSound(options.toneHz, options.toneDbfs), &error))
        return Failure(ExitFailed, "the playback device '" + options.play + "' could not be opened: " + error);

    const double leadInSeconds = sink ? PlayedLeadInSeconds : LeadInSeconds;
    const auto leadIn = static_cast<uint64_t>(std::llround(leadInSeconds * measure::SampleRate));
    const auto frames = static_cast<uint64_t>(
        std::max<long long>(DistortionFrames, std::llround(options.seconds * measure::SampleRate)));
    std::vector<int16_t> samples;
    samples.reserve(static_cast<std::size_t>(frames));
    Outcome outcome = RecordFrames(
        captured, options.record, leadIn, frames,
        [&](const int16_t* f, std::size_t n) {
            for (std::size_t i = 0; i < n; ++i)
                samples.push_back(f[2 * i + options.channel]);
        },
        [&] { samples.clear(); });
    stream.reset();
    player.Stop();
    if (outcome.exitCode != ExitOk)
        return outcome;

    const measure::DistortionReading reading = measure::ReadPowerSpectrum(
        AveragedPowerSpectrum(samples, measure::SampleRate), DistortionFrames, measure::SampleRate);
    if (!reading.toneFound)
        return Failure(ExitNoTone, "No test tone found");
    const bool clipped = measure::HasClippedRun(samples.data(), samples.size());
    outcome.json = DistortionJson(reading, clipped);
    if (reading.aboveBand)
        outcome.warning = "the fundamental lies above 20 kHz: THD+N and SNR count it outside the band";
    return outcome;
}

} // namespace cli
