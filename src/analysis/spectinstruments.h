// The spectrum's instruments: per channel an average of the slices' powers
// (magnitude squared, bin by bin) and a peak hold of the averaged spectrum,
// and the frequency weighting of what the window reads. The block path
// feeds them every slice of every analysed block while the spectrum window
// is shown and one of them is on; the window reads the result.
//
// Locking: everything here but SpectInstrumentsFed is guarded by DataLock,
// as Spectra is. Choosing, resetting, feeding and reading all want the
// caller to hold it; the block path feeds under the hold it analyses in.
#pragma once

#include "measure/averaging.h"
#include "measure/micresponse.h"
#include "measure/weighting.h"

#include <atomic>
#include <cstdint>

// Raised while the spectrum window is shown: nothing is averaged for a
// hidden window. Any thread.
inline std::atomic<bool> SpectInstrumentsFed{false};

// Seconds between two slices: the interval the averages count time in.
inline constexpr double SliceSeconds = 441.0 / 44100.0;

// Sets the averaging and the peak hold. A changed averaging starts the
// average and the peaks again, peak hold turned on or off the peaks; a
// changed decay keeps both.
void ChooseSpectInstruments(measure::Averaging averaging, bool peakHold, double decayDbPerSecond);
// Forgets the averages and the held peaks.
void ResetSpectInstruments();
// Averaging on, or peak hold on: feeding has something to do.
bool SpectInstrumentsActive();
// Feeds slices 1 - SlicesPerBlock .. 0 of both channels, in time order, as
// AnalyseBlock left them in Spectra: each slice enters the average, then the
// average enters the peak hold. Nothing unless SpectInstrumentsWanted.
void FeedSpectInstruments();
// SpectInstrumentsFed and SpectInstrumentsActive: a block's slices are
// wanted.
bool SpectInstrumentsWanted();
// Slices fed since the last reset.
int64_t SpectAveragedSlices();

// The spectrum of channel 1 or 2 as the window shows it, BinSlots
// magnitudes in sample units: the root of the averaged power while averaging
// is on and has been fed, else slice 0 of Spectra itself; then weighted and
// corrected for the microphone. With averaging off, weighting Z and no
// microphone response the row is Spectra's, bit for bit.
void SpectShownRow(int channel, measure::Weighting weighting, float* row);
// The held peaks of channel 1 or 2 as magnitudes, weighted and corrected
// for the microphone. False, and the
// row untouched, while peak hold is off or nothing has been held yet.
bool SpectPeakRow(int channel, measure::Weighting weighting, float* row);

// The recording device's measurement microphone response, taken off the
// shown rows and the held peaks bin by bin (MicResponse::DbAt at each bin's
// frequency) after the weighting. An empty one takes nothing off: the rows
// stay exactly as they were. Computes the bins' gains only when the
// response differs from the one set last.
void SetSpectMicResponse(const measure::MicResponse& response);

// The weighting's gain on magnitudes at bin `bin` (0 .. BinSlots - 1),
// the root of its power factor at the bin's frequency, k * 44100 / 4096 Hz.
float SpectWeightingGain(measure::Weighting weighting, int bin);
