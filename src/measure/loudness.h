// Loudness of a stereo signal after EBU R128 / ITU-R BS.1770-4, measured by
// libebur128: momentary (400 ms), short-term (3 s), integrated (gated, since
// the last reset), loudness range, and the true peak (4x oversampled) per
// channel. A quantity with no value yet (the integrated loudness of silence,
// anything before the first 400 ms, the short-term loudness and the range
// before the first 3 s) is std::nullopt. Not for two threads at once:
// Levels() reads the library's state that Process() changes.
#pragma once

#include "measure/levels.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

namespace measure {

struct LoudnessLevels {
    std::optional<double> momentaryLufs;
    std::optional<double> shortTermLufs;
    std::optional<double> momentaryMaxLufs; // highest momentary since the reset
    std::optional<double> shortTermMaxLufs; // highest short-term since the reset
    std::optional<double> integratedLufs;
    std::optional<double> loudnessRangeLu;
    std::optional<double> truePeakDbtp[2];    // highest per channel since the reset
    std::optional<double> truePeakNowDbtp[2]; // of the last block
    std::optional<double> truePeakMaxDbtp;    // the higher of the two channels
};

class LoudnessMeter {
public:
    explicit LoudnessMeter(double sampleRate = SampleRate);
    ~LoudnessMeter();
    LoudnessMeter(const LoudnessMeter&) = delete;
    LoudnessMeter& operator=(const LoudnessMeter&) = delete;

    // Feeds `frames` interleaved stereo frames. Momentary and short-term
    // loudness, and their maxima, are updated at every 100 ms of signal,
    // however the frames are split into calls.
    void Process(const int16_t* interleaved, std::size_t frames);
    // Starts integrated loudness, range, true peak and the maxima again;
    // momentary and short-term loudness go on.
    void Reset();
    LoudnessLevels Levels() const;

private:
    // The library's state (its type is an unnamed struct, which cannot be
    // declared ahead here) and the loudness of the last 100 ms intervals.
    struct State;
    double sampleRate_;
    std::unique_ptr<State> state_;
    LoudnessLevels held_;
};

} // namespace measure
