#include "measure/calibration.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace measure {
namespace {

// Below this the input holds no calibrator's tone, only the noise of a
// microphone input with nothing on it (or nothing at all).
constexpr double SilentBelowDbfs = -80.0;
// A calibrator holds its level within a few tenths of a dB; a tone whose
// tenths of a second spread wider than this is being moved or switched.
constexpr double MaxSpreadDb = 1.0;
// A steady tone of f Hz crosses zero f/10 times in each tenth, give or take
// one at the tenth's edges; noise and speech vary by far more.
constexpr int MaxCrossingSpread = 2;
// Tones below 20 Hz (and a constant offset, which has no crossings at all)
// are no calibrator's.
constexpr int MinCrossingsPerTenth = 2;
constexpr double MaxReferenceDbSpl = 200.0;

std::string OneDecimal(double db)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", db);
    return text;
}

CalibrationVerdict Refused(CalibrationRefusal refusal, double measuredDbfs, std::string message)
{
    CalibrationVerdict verdict;
    verdict.refusal = refusal;
    verdict.measuredDbfs = measuredDbfs;
    verdict.message = std::move(message);
    return verdict;
}

// One channel of the capture as numbers around its mean: a sound card's
// constant offset is no sound pressure.
struct Tone {
    std::vector<double> samples;
    std::size_t clipped = 0;
    double meanSquare = 0.0;
};

Tone ReadTone(const int16_t* samples, std::size_t frames, std::size_t stride)
{
    Tone tone;
    tone.samples.resize(frames);
    double sum = 0.0;
    for (std::size_t i = 0; i < frames; ++i) {
        const int16_t s = samples[i * stride];
        tone.clipped += (s == 32767 || s == -32768) ? 1 : 0;
        tone.samples[i] = s;
        sum += s;
    }
    const double mean = frames ? sum / static_cast<double>(frames) : 0.0;
    double squares = 0.0;
    for (double& s : tone.samples) {
        s -= mean;
        squares += s * s;
    }
    tone.meanSquare = frames ? squares / static_cast<double>(frames) : 0.0;
    return tone;
}

// Per tenth of a second: its level and how often the signal went from below
// -threshold to above +threshold (so that noise on a tone counts no extra
// crossings).
struct Tenths {
    std::vector<double> levelsDb;
    std::vector<int> crossings;
};

Tenths SplitIntoTenths(const std::vector<double>& samples, std::size_t tenth, double threshold)
{
    Tenths tenths;
    bool below = false;
    for (std::size_t start = 0; start + tenth <= samples.size(); start += tenth) {
        double squares = 0.0;
        int crossings = 0;
        for (std::size_t i = start; i < start + tenth; ++i) {
            const double s = samples[i];
            squares += s * s;
            if (s < -threshold) {
                below = true;
            } else if (s > threshold && below) {
                below = false;
                ++crossings;
            }
        }
        tenths.levelsDb.push_back(PowerToDbfs(squares / static_cast<double>(tenth)));
        tenths.crossings.push_back(crossings);
    }
    return tenths;
}

// Empty when the tenths look like one steady tone, else why they do not.
std::string WhyNotSteady(const Tenths& tenths)
{
    if (tenths.levelsDb.size() < 2)
        return "The measurement is too short to tell a steady tone: measure for " + OneDecimal(CalibratorSeconds) +
               " s.";
    const auto [quietest, loudest] = std::minmax_element(tenths.levelsDb.begin(), tenths.levelsDb.end());
    if (*loudest - *quietest > MaxSpreadDb)
        return "The level varied by " + OneDecimal(*loudest - *quietest) +
               " dB while measuring: hold the calibrator still on the microphone and measure again.";
    const auto [fewest, most] = std::minmax_element(tenths.crossings.begin(), tenths.crossings.end());
    if (*fewest < MinCrossingsPerTenth || *most - *fewest > MaxCrossingSpread)
        return "The input is not a steady tone (noise, speech or music?): put the calibrator on the microphone, "
               "switch it on and measure again.";
    return {};
}

} // namespace

CalibrationVerdict JudgeCalibratorTone(const int16_t* samples, std::size_t frames, std::size_t stride,
                                       double referenceDbSpl, double sampleRate)
{
    if (!std::isfinite(referenceDbSpl) || referenceDbSpl <= 0.0 || referenceDbSpl > MaxReferenceDbSpl)
        return Refused(CalibrationRefusal::BadReference, SilenceDb,
                       "The calibrator's level must lie above 0 and up to " + OneDecimal(MaxReferenceDbSpl) +
                           " dB SPL.");
    const Tone tone = ReadTone(samples, samples ? frames : 0, std::max<std::size_t>(stride, 1));
    const double levelDbfs = PowerToDbfs(tone.meanSquare);
    if (levelDbfs < SilentBelowDbfs)
        return Refused(CalibrationRefusal::Silent, levelDbfs,
                       "The input is silent (" +
                           (levelDbfs <= SilenceDb ? std::string("no signal") : OneDecimal(levelDbfs) + " dBFS") +
                           "): put the calibrator on the microphone, switch it on and measure again.");
    if (tone.clipped > 0)
        return Refused(CalibrationRefusal::Clipping, levelDbfs,
                       "The input clips (" + std::to_string(tone.clipped) +
                           " samples at full scale): turn the input's gain down and measure again.");
    const auto tenth = static_cast<std::size_t>(std::max(1.0, std::round(sampleRate / 10.0)));
    // Half the RMS: a third of a sine's peak, far above the noise on a tone.
    const std::string why = WhyNotSteady(SplitIntoTenths(tone.samples, tenth, 0.5 * std::sqrt(tone.meanSquare)));
    if (!why.empty())
        return Refused(CalibrationRefusal::NotSteady, levelDbfs, why);

    CalibrationVerdict verdict;
    verdict.measuredDbfs = levelDbfs;
    verdict.offsetDb = referenceDbSpl - levelDbfs;
    return verdict;
}

} // namespace measure
