#include "measure/levelmeter.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace measure {

namespace {

// Samples are filtered in chunks of this many, on the stack.
constexpr std::size_t ChunkSamples = 512;

// Level of a mean square of samples scaled to full scale = 1: a full-scale
// sine has the mean square 1/2 and reads 0 dB.
double MeanSquareDb(double meanSquare)
{
    return PowerRatioToDb(2.0 * meanSquare);
}

// Level of a peak magnitude scaled to full scale = 1.
double PeakDb(double magnitude)
{
    return PowerRatioToDb(magnitude * magnitude);
}

// The weight of each new squared sample in an exponential average with the
// time constant `tau`: the exact step of the analogue RC averager.
double SmoothingFactor(double tau, double sampleRate)
{
    return 1.0 - std::exp(-1.0 / (tau * sampleRate));
}

bool IsClipped(int16_t sample)
{
    return sample == 32767 || sample == -32768;
}

} // namespace

ChannelLevelMeter::ChannelLevelMeter(Weighting weighting, double sampleRate)
    : sampleRate_(sampleRate), filter_(weighting, sampleRate)
{
}

void ChannelLevelMeter::SetWeighting(Weighting weighting)
{
    filter_ = WeightingFilter(weighting, sampleRate_);
    Restart();
}

Weighting ChannelLevelMeter::CurrentWeighting() const
{
    return filter_.Kind();
}

void ChannelLevelMeter::Process(const int16_t* samples, std::size_t count, std::size_t stride)
{
    if (count == 0)
        return;
    const double fastFactor = SmoothingFactor(FastTimeConstant, sampleRate_);
    const double slowFactor = SmoothingFactor(SlowTimeConstant, sampleRate_);
    int rawPeak = 0;
    double weightedPeak = 0.0, fastMax = 0.0, slowMax = 0.0;
    double chunk[ChunkSamples];
    for (std::size_t done = 0; done < count;) {
        const std::size_t n = std::min(ChunkSamples, count - done);
        for (std::size_t i = 0; i < n; ++i) {
            const int16_t sample = samples[(done + i) * stride];
            rawPeak = std::max(rawPeak, std::abs(static_cast<int>(sample)));
            levels_.clippedSamples += IsClipped(sample);
            chunk[i] = sample / FullScale;
        }
        filter_.Process(chunk, chunk, n);
        // The time weightings: the exponential averages of the squared
        // weighted signal, and their highest values at any sample.
        for (std::size_t i = 0; i < n; ++i) {
            const double square = chunk[i] * chunk[i];
            weightedPeak = std::max(weightedPeak, std::fabs(chunk[i]));
            energy_ += square;
            fastPower_ += fastFactor * (square - fastPower_);
            slowPower_ += slowFactor * (square - slowPower_);
            fastMax = std::max(fastMax, fastPower_);
            slowMax = std::max(slowMax, slowPower_);
        }
        done += n;
    }
    samplesSinceReset_ += count;
    // After minutes of silence the averages would sink into subnormal
    // numbers, which are slow to compute with.
    if (fastPower_ < 1e-30)
        fastPower_ = 0.0;
    if (slowPower_ < 1e-30)
        slowPower_ = 0.0;

    levels_.samplePeakDb = PeakDb(rawPeak / FullScale);
    levels_.samplePeakMaxDb = std::max(levels_.samplePeakMaxDb, levels_.samplePeakDb);
    levels_.weightedPeakDb = PeakDb(weightedPeak);
    levels_.weightedPeakMaxDb = std::max(levels_.weightedPeakMaxDb, levels_.weightedPeakDb);
    levels_.fastDb = MeanSquareDb(fastPower_);
    levels_.slowDb = MeanSquareDb(slowPower_);
    levels_.fastMaxDb = std::max(levels_.fastMaxDb, MeanSquareDb(fastMax));
    levels_.slowMaxDb = std::max(levels_.slowMaxDb, MeanSquareDb(slowMax));
    levels_.leqDb = MeanSquareDb(energy_ / static_cast<double>(samplesSinceReset_));
    levels_.seconds = static_cast<double>(samplesSinceReset_) / sampleRate_;
}

void ChannelLevelMeter::Reset()
{
    levels_.samplePeakMaxDb = SilenceDb;
    levels_.weightedPeakMaxDb = SilenceDb;
    levels_.clippedSamples = 0;
    // The time weightings go on; their maxima start from where they are.
    levels_.fastMaxDb = levels_.fastDb;
    levels_.slowMaxDb = levels_.slowDb;
    levels_.leqDb = SilenceDb;
    levels_.seconds = 0.0;
    energy_ = 0.0;
    samplesSinceReset_ = 0;
}

void ChannelLevelMeter::Restart()
{
    filter_.Reset();
    fastPower_ = slowPower_ = 0.0;
    energy_ = 0.0;
    samplesSinceReset_ = 0;
    levels_ = ChannelLevels{};
}

} // namespace measure
