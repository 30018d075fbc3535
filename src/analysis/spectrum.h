// Spectrum analysis: every captured block becomes ten magnitude spectra per
// channel, from 4096-sample windows that start 441 samples (10 ms) apart, so
// that successive blocks give one spectrum every 441 samples without gaps.
//
// Locking: AnalyseBlock and AnalyseSlice read Samples and write Spectra,
// SpTmColumn and NewData without taking DataLock themselves. Callers hold
// DataLock around them; the block path stores a block and analyses it under
// one hold of the lock, so painting never sees a half-written spectrum.
// The working storage of a slice lives on the caller's stack (48 KB),
// so two threads may analyse different rows at the same time.
#pragma once

#include <cstdint>

inline constexpr int FftSize = 4096;  // samples per slice and points of the transform
inline constexpr int SliceStep = 441; // samples between the starts of two slices

// Analyses slices 1 - SlicesPerBlock .. 0, channel 1 then channel 2 for each
// slice, then advances SpTmColumn, hands the block to the spectrogram
// (SpTmKeepBlock) and raises NewData. Caller holds DataLock.
void AnalyseBlock();
// The first part of AnalyseBlock alone: the slices, nothing handed on.
void AnalyseSlices();

// Rewrites bins 0..TopBin of Spectra row (channel, slice) from the 4096
// samples of that channel starting at Samples index 441 * slice. Channel is 1
// or 2, slice -9..0; other arguments are ignored. Caller holds DataLock.
void AnalyseSlice(int channel, int slice);

// The computation behind AnalyseSlice, free of shared state: weights the 4096
// samples at `samples` with window 0 (rectangular), 1 (Hann) or 2 (Hamming;
// any other value: no weighting), transforms them and writes the magnitudes
// of bins 0..TopBin (1859 values) to `magnitudes`. Reads WindowFunction never.
// It computes up to 8 butterflies at once where the processor allows;
// `maxLanes` (1, 2, 4 or 8; 1 = no vector instructions) caps that, so that
// tests can check the narrower code other processors run.
void SliceMagnitudes(const int16_t* samples, int window, float* magnitudes, int maxLanes = 8);

// The same result computed the plain way: trigonometric weights on every
// call, running twiddle factors, one butterfly after the other. Slow; it is
// the yardstick SliceMagnitudes must match bit for bit.
void SliceMagnitudesReference(const int16_t* samples, int window, float* magnitudes);
