#include "measure/miccorrection.h"

#include <cmath>
#include <utility>

namespace measure {

double MicCorrectionDb(const std::vector<OctaveBand>& bands, const std::vector<double>& powers, Weighting weighting,
                       const MicResponse& response)
{
    if (response.Empty())
        return 0.0;
    double heard = 0.0, corrected = 0.0;
    for (std::size_t band = 0; band < bands.size() && band < powers.size(); ++band) {
        const double hz = bands[band].centreHz;
        const double weighted = powers[band] * WeightingPowerFactor(weighting, hz);
        heard += weighted;
        corrected += weighted * std::pow(10.0, -response.DbAt(hz) / 10.0);
    }
    return heard > SilentBandPower && corrected > 0.0 ? 10.0 * std::log10(corrected / heard) : 0.0;
}

void BandPowerSum::Add(const std::vector<double>& powers, std::size_t frames)
{
    sums_.resize(powers.size(), 0.0);
    for (std::size_t band = 0; band < powers.size(); ++band)
        sums_[band] += powers[band] * static_cast<double>(frames);
    frames_ += static_cast<double>(frames);
}

void BandPowerSum::Clear()
{
    sums_.clear();
    frames_ = 0.0;
}

std::vector<double> BandPowerSum::Means() const
{
    std::vector<double> means(sums_.size(), 0.0);
    for (std::size_t band = 0; band < sums_.size(); ++band)
        means[band] = sums_[band] / frames_;
    return means;
}

MicCorrection::MicCorrection(MicResponse response)
    : response_(std::move(response)), bank_(std::make_unique<OctaveFilterBank>(MicBandFraction))
{
}

MicCorrection::~MicCorrection() = default;

const std::vector<OctaveBand>& MicCorrection::Bands() const
{
    return bank_->Bands();
}

void MicCorrection::Process(const int16_t* samples, std::size_t count, std::size_t stride)
{
    if (count == 0)
        return;
    scratch_.resize(count);
    for (std::size_t i = 0; i < count; ++i)
        scratch_[i] = samples[i * stride];
    bank_->Process(scratch_.data(), static_cast<int>(count));
    lastPowers_ = bank_->TakePowers();
    sinceRestart_.Add(lastPowers_, count);
}

double MicCorrection::LastDb(Weighting weighting) const
{
    return MicCorrectionDb(Bands(), lastPowers_, weighting, response_);
}

double MicCorrection::SinceRestartDb(Weighting weighting) const
{
    return Db(weighting, sinceRestart_);
}

double MicCorrection::Db(Weighting weighting, const BandPowerSum& interval) const
{
    return MicCorrectionDb(Bands(), interval.Means(), weighting, response_);
}

} // namespace measure
