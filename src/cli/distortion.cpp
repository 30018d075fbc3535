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
           ", \"thd_percent\": " + JsonNumber(r.thdPercent, 6) + ", \"thd_db\": " + JsonNumber(r.thdDb, 2) +
           ", \"thdn_percent\": " + JsonNumber(r.thdnPercent, 6) + ", \"thdn_db\": " + JsonNumber(r.thdnDb, 2) +
           ", \"sinad_db\": " + JsonNumber(r.sinadDb, 2) + ", \"snr_db\": " + JsonNumber(r.snrDb, 2) +
           ", \"harmonics_db\": [" + harmonics + "], \"clipped\": " + (clipped ? "true" : "false") + "}\n";
}

} // namespace

ChannelSpectra::ChannelSpectra(double sampleRate) : analyzer_(DistortionFrames, sampleRate)
{
    held_.reserve(DistortionFrames + DistortionFrames / 2);
}

void ChannelSpectra::Add(const int16_t* frames, std::size_t count, int channels, int channel)
{
    // The clipping check sees the last two samples before these too, so a
    // run across two deliveries counts.
    const std::size_t before = std::min<std::size_t>(2, held_.size());
    const std::size_t start = held_.size() - before;
    for (std::size_t i = 0; i < count; ++i)
        held_.push_back(frames[i * channels + channel]);
    clipped_ = clipped_ || measure::HasClippedRun(held_.data() + start, held_.size() - start);
    while (held_.size() >= static_cast<std::size_t>(DistortionFrames)) {
        const std::vector<double> power = analyzer_.PowerSpectrum(held_.data());
        sum_.resize(power.size(), 0.0);
        for (std::size_t b = 0; b < power.size(); ++b)
            sum_[b] += power[b];
        ++transforms_;
        held_.erase(held_.begin(), held_.begin() + DistortionFrames / 2);
    }
}

std::vector<double> ChannelSpectra::Average() const
{
    std::vector<double> average(sum_);
    for (double& p : average)
        p /= transforms_;
    return average;
}

Outcome RunDistortion(const Options& options)
{
    Outcome failure;
    const std::optional<NamedDevices> devices = FindNamedDevices(options, &failure);
    if (!devices)
        return failure;

    CapturedFrames captured;
    std::unique_ptr<platform::CaptureStream> stream = OpenRecording(options, *devices, captured, &failure);
    if (!stream)
        return failure;
    // The recording first, as for bands: PipeWire delivered nothing to a
    // monitor's capture opened while one of our streams played to its sink.
    // The tone then starts within the lead-in, before anything is counted.
    Player player;
    std::string error;
    if (devices->play && !player.Start(*devices->play, ToneSound(options.toneHz, options.toneDbfs), &error))
        return Failure(ExitFailed, "the playback device '" + options.play + "' could not be opened: " + error);

    const double leadInSeconds = devices->play ? PlayedLeadInSeconds : LeadInSeconds;
    const auto leadIn = static_cast<uint64_t>(std::llround(leadInSeconds * measure::SampleRate));
    const auto frames = static_cast<uint64_t>(
        std::max<long long>(DistortionFrames, std::llround(options.seconds * measure::SampleRate)));
    // What the lead-in brought is dropped: a fresh start right after it.
    std::optional<ChannelSpectra> counted;
    Outcome outcome = RecordFrames(
        captured, options.record, leadIn, frames,
        [&](const int16_t* f, std::size_t n) {
            if (counted)
                counted->Add(f, n, 2, options.channel);
        },
        [&] { counted.emplace(measure::SampleRate); });
    stream.reset();
    player.Stop();
    if (outcome.exitCode != ExitOk)
        return outcome;
    if (!counted)
        counted.emplace(measure::SampleRate); // no lead-in: nothing was counted

    const measure::DistortionReading reading = measure::ReadPowerSpectrum(counted->Average(), DistortionFrames,
                                                                          measure::SampleRate);
    if (!reading.toneFound)
        return Failure(ExitNoTone, "No test tone found");
    outcome.json = DistortionJson(reading, counted->Clipped());
    if (reading.aboveBand)
        outcome.warning = "the fundamental lies above 20 kHz: THD+N and SNR count it outside the band";
    return outcome;
}

} // namespace cli
