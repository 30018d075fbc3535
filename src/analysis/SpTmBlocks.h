// The hand-over of analysed blocks from the block path to the spectrogram.
//
// Spectra holds only the block analysed last. When two blocks arrive before
// one paint, the spectrogram still draws each of them at its own columns, so
// the block path keeps a copy of every analysed block (its twenty rows and
// the sweep position it belongs to) in a small ring, and the render takes
// what has gathered since its last visit. Both sides hold DataLock while
// they touch the ring; the render draws from its own copy without the lock.
#pragma once

#include "state/global.h"

#include <cstdint>

namespace sptm {

inline constexpr int ShownBins = TopBin + 1; // bins 0..1858

struct Block {
    int32_t column;                       // sweep position: the block fills pixel columns 10*(column-1) .. 10*column-1
    float rows[2][SliceCount][ShownBins]; // [channel 0/1][slice + 9][bin]
    const float* Row(int channel, int slice) const { return rows[channel - 1][slice + SliceCount - 1]; }
};

// Blocks kept between two renders; older ones are dropped when more arrive
// (their columns then keep the previous sweep's picture).
inline constexpr int KeptBlocks = 8;

// Takes the blocks kept since the last call, oldest first, into `out`
// (room for KeptBlocks) and returns how many (0 when none arrived: the
// surface still holds everything drawn). Each gets the column it is to be
// drawn at on a panel `width` pixels wide: a block that reaches the right
// edge wraps the sweep, and the blocks after it (and SpTmColumn) count on
// from the left edge. Takes DataLock. UI thread.
int TakeBlocks(int width, Block* out);

// Forgets every kept block (tests).
void ForgetBlocks();

} // namespace sptm

// Keeps the block just analysed, with SpTmColumn as advanced for it, for the
// spectrogram's next render. Called by AnalyseBlock; caller holds DataLock.
void SpTmKeepBlock();
