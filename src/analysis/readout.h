// The numbers under the pointer and the spectrum's peak, free of any
// display: each view's pointer position (in normalised device coordinates
// of its plot, or pixel columns) turned back into time, frequency and
// level by the same rules its drawing uses, and the texts the readouts show.
#pragma once

#include "analysis/SpTmMap.h"

#include <cstdint>
#include <optional>
#include <string>

namespace readout {

// ---- waveform ----------------------------------------------------------------

// The sample (0 .. 2a, a = span / 2) whose vertex lies nearest to x on a
// trace of `span` samples.
int WaveSampleAt(double ndcX, int32_t span);
// Time of sample k from the left edge, in ms.
double WaveMs(int sample);
// Level of a sample value relative to full scale (32768); -infinity for 0.
double Dbfs(int value);
// "12.3 ms" and one line per shown channel: "L 1234 (-28.5 dBFS)".
std::string WaveText(double ms, const std::optional<int>& left, const std::optional<int>& right);

// ---- spectrum ------------------------------------------------------------------

// Frequency at x on the logarithmic axis (10 Hz .. 25 kHz) and on the linear
// axis of `rangeX` Hz.
double SpectLogHzAt(double ndcX);
double SpectLinearHzAt(double ndcX, int32_t rangeX);
// The bin nearest to `hz`, within 0 .. TopBin.
int NearestBin(double hz, float binWidth);
// Level in dB of a magnitude against the logarithmic axis (0 dB = 32767),
// no lower than its floor (-140 dB).
double LevelDb(double magnitude);
// Percent of full scale (32767), as the linear axis counts.
double Percent(double magnitude);
// How levels in dB read: against full scale as the logarithmic axis draws
// them, or on a calibrated device as sound pressure level (dBFS + offsetDb)
// named by its unit.
struct LevelScale {
    double offsetDb = 0.0;
    std::string unit = "dB";
};
// The sound pressure level scale of a device calibrated with `offsetDb`:
// "dB SPL", or "dB(A)" / "dB(C)" with weighting 1 / 2.
LevelScale SplScale(double offsetDb, int weighting);
// "1001 Hz" then per shown channel "L -3.2 dB" (logarithmic axis, in
// `scale`) or "L 45.1 %" (linear axis).
std::string SpectText(double hz, bool logAxis, const std::optional<float>& left, const std::optional<float>& right,
                      const LevelScale& scale = {});

// The strongest bin of a row (as the spectrogram's peak mark picks it;
// none when every one is 0), refined by a parabola through the natural logarithms of its magnitude
// and its two neighbours': the vertex gives the frequency and the level.
struct Peak {
    int bin;
    double hz;
    double db;
};
std::optional<Peak> InterpolatedPeak(const float* row, float binWidth);
// "Peak L 1234.5 Hz -3.2 dB" for one channel, the level in `scale`.
std::string PeakText(char channel, const Peak& peak, const LevelScale& scale = {});

// ---- spectrogram -----------------------------------------------------------------

// Sweep time at a pixel column from the left edge: 100 columns a second.
double SpTmSeconds(double column);
// The channel (1 left, 2 right) whose band holds normalised y, with the
// frequency there; none between or outside the shown bands.
struct BandPoint {
    int channel;
    double hz;
};
std::optional<BandPoint> SpTmBandAt(double ndcY, bool showLeft, bool showRight);
// The palette level (0 .. 600) whose colour is `colour`; none for a colour
// not in the palette (erase, cursor, clear colour).
std::optional<int> LevelOfColour(sptm::Rgb colour, bool lightBackground);
// The magnitude's level in dB that colour level `level` stands for at `gain`
// (level = sqrt(magnitude) * gain).
double SpTmLevelDb(int level, float gain);
// "2.35 s", "L 1001 Hz" and "level 312 (-41.6 dB)" or "no level".
std::string SpTmText(double seconds, const std::optional<BandPoint>& point, const std::optional<int>& level,
                     float gain);

// ---- export -----------------------------------------------------------------------

// The name the window-function choice shows for window 0, 1 or 2; "none"
// for any other value.
std::string WindowName(int window);
// What the exported spectrum is: its averaging as the choices name it, the
// slices averaged into it (1 without averaging), its weighting ("Z", "A",
// "C").
struct SpectrumNotes {
    std::string averaging = "Off";
    int64_t slices = 1;
    std::string weighting = "Z";
};
// The spectrum of both channels as shown, as CSV: a header row naming the
// columns, then the window function, the time, and (with averaging or a
// weighting on) the averaging, the slices in it and the weighting, then one
// row per bin 0 .. TopBin: frequency in Hz,
// then magnitude and level in dB of the left and of the right channel.
std::string SpectrumCsv(const float* left, const float* right, float binWidth, int window, const std::string& time,
                        const SpectrumNotes& notes = {});

} // namespace readout
