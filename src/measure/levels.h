// Level conventions shared by the instruments. Captured samples are 16-bit;
// levels are in dB relative to full scale as AES17 defines it: a sine whose
// peaks reach full scale (32767) reads 0 dBFS, in the time domain (RMS) and
// in the spectrum and the bands alike.
#pragma once

namespace measure {

inline constexpr double SampleRate = 44100.0;
inline constexpr double FullScale = 32767.0;
// Mean square of a full-scale sine: the power that reads 0 dBFS.
inline constexpr double FullScalePower = FullScale * FullScale / 2.0;
// Level of silence: what a zero power reads, low enough for any axis.
inline constexpr double SilenceDb = -200.0;

// Level in dBFS of a mean square of sample values; SilenceDb for zero, a
// negative or a NaN power.
double PowerToDbfs(double meanSquare);

// Level in dB of a power ratio; SilenceDb for zero or less.
double PowerRatioToDb(double ratio);

} // namespace measure
