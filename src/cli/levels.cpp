#include "cli/levels.h"

#include "cli/devicelist.h"
#include "cli/json.h"
#include "measure/levelmeter.h"
#include "measure/loudness.h"
#include "measure/miccorrection.h"
#include "measure/micresponse.h"
#include "measure/weighting.h"
#include "platform/calibrations.h"
#include "platform/soundserver.h"

#include <cmath>
#include <memory>
#include <optional>
#include <vector>

namespace cli {

namespace {

std::optional<double> Level(double db)
{
    if (!std::isfinite(db) || db <= measure::SilenceDb)
        return std::nullopt;
    return db;
}

std::string Number(const std::optional<double>& value)
{
    return value ? JsonNumber(*value, 2) : "null";
}

// Both channels' meters and the loudness meter, fed the same frames.
class StereoLevels {
public:
    StereoLevels(measure::Weighting weighting, const measure::MicResponse& mic)
        : weighting_(weighting), meters_{measure::ChannelLevelMeter(weighting), measure::ChannelLevelMeter(weighting)}
    {
        if (!mic.Empty())
            for (auto& correction : mic_)
                correction = std::make_unique<measure::MicCorrection>(mic);
    }

    void Process(const int16_t* frames, std::size_t count)
    {
        for (int channel = 0; channel < 2; ++channel) {
            meters_[channel].Process(frames + channel, count, 2);
            if (mic_[channel])
                mic_[channel]->Process(frames + channel, count, 2);
        }
        loudness_.Process(frames, count);
    }
    // What the lead-in read is forgotten; the filters keep their state.
    void Restart()
    {
        for (int channel = 0; channel < 2; ++channel) {
            meters_[channel].Reset();
            if (mic_[channel])
                mic_[channel]->Restart();
        }
        loudness_.Reset();
    }

    std::string Json(const Options& options, const platform::DeviceCalibration& calibration, uint64_t dropped)
    {
        const measure::LoudnessLevels loudness = loudness_.Levels();
        std::string text = "{\"seconds\": " +
                           JsonNumber(options.seconds, std::fmod(options.seconds, 1.0) == 0 ? 1 : 3) +
                           ", \"unit\": \"" + (calibration.offsetDb ? "dB SPL" : "dBFS") + "\", \"weighting\": \"" +
                           measure::WeightingName(weighting_) +
                           "\", \"mic_file\": " + (mic_[0] ? JsonString(calibration.micFile) : "null") +
                           ", \"dropped_frames\": " + std::to_string(dropped);
        for (int channel = 0; channel < 2; ++channel)
            text += std::string(channel ? ", \"right\": " : ", \"left\": ") +
                    ChannelJson(channel, calibration.offsetDb.value_or(0.0), loudness.truePeakDbtp[channel]);
        return text + ", \"loudness\": {\"integrated_lufs\": " + Number(loudness.integratedLufs) +
               ", \"momentary_max_lufs\": " + Number(loudness.momentaryMaxLufs) +
               ", \"short_term_max_lufs\": " + Number(loudness.shortTermMaxLufs) +
               ", \"loudness_range_lu\": " + Number(loudness.loudnessRangeLu) +
               ", \"true_peak_max_dbtp\": " + Number(loudness.truePeakMaxDbtp) + "}}\n";
    }

private:
    std::string ChannelJson(int channel, double offsetDb, const std::optional<double>& truePeak)
    {
        const measure::ChannelLevels& levels = meters_[channel].Levels();
        // The whole run's spectrum weighs the response out of its maxima too.
        const double shift = offsetDb + (mic_[channel] ? mic_[channel]->SinceRestartDb(weighting_) : 0.0);
        auto weighted = [shift](double db) {
            const std::optional<double> level = Level(db);
            return level ? std::optional<double>(*level + shift) : std::nullopt;
        };
        return "{\"sample_peak_dbfs\": " + Number(Level(levels.samplePeakMaxDb)) +
               ", \"true_peak_dbtp\": " + Number(truePeak) + ", \"leq_db\": " + Number(weighted(levels.leqDb)) +
               ", \"fast_max_db\": " + Number(weighted(levels.fastMaxDb)) +
               ", \"slow_max_db\": " + Number(weighted(levels.slowMaxDb)) +
               ", \"clipped_samples\": " + std::to_string(levels.clippedSamples) + "}";
    }

    measure::Weighting weighting_;
    measure::ChannelLevelMeter meters_[2];
    std::unique_ptr<measure::MicCorrection> mic_[2];
    measure::LoudnessMeter loudness_;
};

} // namespace

Outcome RunLevels(const Options& options)
{
    Outcome failure;
    const std::optional<NamedDevices> devices = FindNamedDevices(options, &failure);
    if (!devices)
        return failure;
    // Calibrations belong to the name the program's list shows.
    const std::string& listed = devices->record.description;
    std::string warning;
    const platform::DeviceCalibration calibration = platform::LoadCalibration(listed, &warning);
    measure::MicResponse mic;
    if (!calibration.micFile.empty()) {
        measure::MicParse parse = measure::LoadMicResponse(calibration.micFile);
        if (!parse.ok)
            return Failure(ExitFailed, "the microphone file of '" + listed + "' is refused: " + parse.message);
        mic = std::move(parse.response);
    }

    StereoLevels levels(options.weighting, mic);
    CapturedFrames captured;
    std::unique_ptr<platform::CaptureStream> stream = OpenRecording(options, *devices, captured, &failure);
    if (!stream)
        return failure;

    const auto leadIn = static_cast<uint64_t>(std::llround(LeadInSeconds * measure::SampleRate));
    const auto frames = static_cast<uint64_t>(std::max(1LL, std::llround(options.seconds * measure::SampleRate)));
    Outcome outcome = RecordFrames(
        captured, options.record, leadIn, frames, [&](const int16_t* f, std::size_t n) { levels.Process(f, n); },
        [&] { levels.Restart(); });
    const uint64_t dropped = stream->droppedFrames();
    stream.reset();
    if (outcome.exitCode != ExitOk)
        return outcome;
    outcome.json = levels.Json(options, calibration, dropped);
    if (!warning.empty())
        outcome.warning = "the calibrations could not be read, so the levels are in dBFS: " + warning;
    return outcome;
}

} // namespace cli
