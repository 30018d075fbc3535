#include "cli/bands.h"

#include "cli/devicelist.h"
#include "cli/json.h"
#include "cli/player.h"
#include "measure/levels.h"
#include "measure/octavebands.h"
#include "measure/weighting.h"
#include "platform/soundserver.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

namespace cli {

namespace {

// Both channels' filter banks, fed frame by frame.
class StereoBands {
public:
    explicit StereoBands(int fraction) : left_(fraction), right_(fraction) {}

    void Process(const int16_t* frames, size_t count)
    {
        leftSamples_.resize(count);
        rightSamples_.resize(count);
        for (size_t i = 0; i < count; ++i) {
            leftSamples_[i] = frames[2 * i];
            rightSamples_[i] = frames[2 * i + 1];
        }
        left_.Process(leftSamples_.data(), static_cast<int>(count));
        right_.Process(rightSamples_.data(), static_cast<int>(count));
    }
    const std::vector<measure::OctaveBand>& Bands() const { return left_.Bands(); }
    std::vector<double> TakeLeft() { return left_.TakePowers(); }
    std::vector<double> TakeRight() { return right_.TakePowers(); }

private:
    measure::OctaveFilterBank left_, right_;
    std::vector<float> leftSamples_, rightSamples_;
};

std::string BandsJson(const Options& options, const std::vector<measure::OctaveBand>& bands,
                      const std::vector<double>& left, const std::vector<double>& right, uint64_t dropped)
{
    std::string text = "{\"fraction\": " + std::to_string(options.fraction) + ", \"weighting\": \"" +
                       measure::WeightingName(options.weighting) +
                       "\", \"seconds\": " + JsonNumber(options.seconds, std::fmod(options.seconds, 1.0) == 0 ? 1 : 3) +
                       ", \"dropped_frames\": " + std::to_string(dropped) + ", \"bands\": [";
    for (size_t i = 0; i < bands.size(); ++i) {
        const measure::OctaveBand& band = bands[i];
        // Filters that rang down to nothing read as silence, not as -500 dB.
        auto level = [&](double power) {
            return std::max(measure::SilenceDb,
                            measure::PowerToDbfs(power) + measure::WeightingDb(options.weighting, band.centreHz));
        };
        char nominal[32];
        std::snprintf(nominal, sizeof nominal, "%g", band.nominalHz);
        text += (i ? ", " : "") + std::string("{\"nominal_hz\": ") + nominal +
                ", \"centre_hz\": " + JsonNumber(band.centreHz, 2) + ", \"lower_hz\": " + JsonNumber(band.lowerHz, 2) +
                ", \"upper_hz\": " + JsonNumber(band.upperHz, 2) + ", \"left_db\": " + JsonNumber(level(left[i]), 2) +
                ", \"right_db\": " + JsonNumber(level(right[i]), 2) + "}";
    }
    return text + "]}\n";
}

} // namespace

Outcome RunBands(const Options& options)
{
    Outcome failure;
    const std::optional<NamedDevices> devices = FindNamedDevices(options, &failure);
    if (!devices)
        return failure;

    StereoBands bands(options.fraction);
    CapturedFrames captured;
    std::unique_ptr<platform::CaptureStream> stream = OpenRecording(options, *devices, captured, &failure);
    if (!stream)
        return failure;
    // The recording first: PipeWire (0.3.65) delivered nothing to a capture of
    // a sink's monitor opened while one of our streams already played to
    // that sink.
    Player player;
    std::string error;
    if (devices->play && !player.Start(*devices->play, NoiseSound(options.signal), &error))
        return Failure(ExitFailed, "the playback device '" + options.play + "' could not be opened: " + error);

    const auto leadIn = static_cast<uint64_t>(std::llround(LeadInSeconds * measure::SampleRate));
    const auto frames = static_cast<uint64_t>(std::max(1LL, std::llround(options.seconds * measure::SampleRate)));
    // The lead-in's powers are dropped.
    Outcome outcome = RecordFrames(
        captured, options.record, leadIn, frames, [&](const int16_t* f, std::size_t n) { bands.Process(f, n); },
        [&] {
            bands.TakeLeft();
            bands.TakeRight();
        });
    const uint64_t dropped = stream->droppedFrames();
    stream.reset();
    player.Stop();
    if (outcome.exitCode != ExitOk)
        return outcome;
    outcome.json = BandsJson(options, bands.Bands(), bands.TakeLeft(), bands.TakeRight(), dropped);
    return outcome;
}

} // namespace cli
