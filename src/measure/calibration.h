// Calibration to sound pressure level: the offset in dB that turns a level
// in dBFS into dB SPL for one recording device, found by typing the level
// that 0 dBFS stands for or by measuring a calibrator's tone.
#pragma once

#include "measure/levels.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace measure {

inline constexpr double CalibratorSeconds = 3.0; // how long "Measure" averages

// BadReference: the level the tone stands for is not a number a calibrator
// could have (typed in error).
enum class CalibrationRefusal { None, Silent, Clipping, NotSteady, BadReference };

struct CalibrationVerdict {
    CalibrationRefusal refusal = CalibrationRefusal::None;
    double offsetDb = 0.0;           // dB SPL = dBFS + offsetDb, when not refused
    double measuredDbfs = SilenceDb; // the RMS level of the tone
    std::string message;             // the user's message when refused
};

// Judges `frames` frames of one channel (`stride` apart) of a calibrator's
// tone and the level it stands for (94.0, 114.0 or typed, in dB SPL).
// Refused when the input is silent, has samples at full scale, or its RMS
// level varies from one tenth of a second to the next by more than a
// steady calibrator tone does, or it is no tone at all (noise, speech).
CalibrationVerdict JudgeCalibratorTone(const int16_t* samples, std::size_t frames, std::size_t stride,
                                       double referenceDbSpl, double sampleRate = SampleRate);

// The offset for a typed level that 0 dBFS stands for.
inline double OffsetForFullScale(double fullScaleDbSpl)
{
    return fullScaleDbSpl;
}

} // namespace measure
