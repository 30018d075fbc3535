#include "analysis/SpTmBlocks.h"

#include "analysis/SpTmMap.h"

#include <cstring>
#include <mutex>

namespace sptm {
namespace {

// All guarded by DataLock.
Block ring[KeptBlocks];
int oldest = 0;  // ring index of the oldest block not yet taken
int pending = 0; // blocks kept since the last take

void CopyRows(Block& block)
{
    for (int ch = 1; ch <= 2; ++ch)
        for (int slice = 1 - SliceCount; slice <= 0; ++slice)
            std::memcpy(block.rows[ch - 1][slice + SliceCount - 1], &Spectrum(ch, slice, 0), ShownBins * sizeof(float));
}

} // namespace

int TakeBlocks(int width, Block* out)
{
    std::lock_guard<std::mutex> guard(DataLock);
    // Columns were counted from the origin SpTmColumn had when each block
    // arrived; a wrap moves the origin for the blocks after it.
    int32_t origin = 0;
    for (int i = 0; i < pending; ++i) {
        out[i] = ring[(oldest + i) % KeptBlocks];
        out[i].column -= origin;
        if (SweepWraps(out[i].column, width))
            origin += out[i].column;
    }
    SpTmColumn -= origin;
    const int count = pending;
    oldest = (oldest + pending) % KeptBlocks;
    pending = 0;
    return count;
}

void ForgetBlocks()
{
    std::lock_guard<std::mutex> guard(DataLock);
    oldest = 0;
    pending = 0;
}

} // namespace sptm

void SpTmKeepBlock()
{
    using namespace sptm;
    if (pending == KeptBlocks) { // the render is behind: drop the oldest
        oldest = (oldest + 1) % KeptBlocks;
        --pending;
    }
    Block& block = ring[(oldest + pending) % KeptBlocks];
    block.column = SpTmColumn;
    CopyRows(block);
    ++pending;
}
