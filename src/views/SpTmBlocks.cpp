#include "views/SpTmBlocks.h"

#include "views/SpTmMap.h"

#include <cstring>
#include <mutex>

namespace sptm {
namespace {

// All guarded by DataLock.
Block ring[KeptBlocks];
int oldest = 0;  // ring index of the oldest block not yet taken
int pending = 0; // blocks kept since the last take
int newest = -1; // ring index of the newest block kept, -1 before the first

void CopyRows(Block& block)
{
    for (int ch = 1; ch <= 2; ++ch)
        for (int slice = 1 - SliceCount; slice <= 0; ++slice)
            std::memcpy(block.rows[ch - 1][slice + SliceCount - 1], &Spectrum(ch, slice, 0),
                        ShownBins * sizeof(float));
}

} // namespace

int TakeBlocks(int width, Block* out)
{
    std::lock_guard<std::mutex> guard(DataLock);
    int count = 0;
    if (pending > 0) {
        // Columns were counted from the origin SpTmColumn had when each block
        // arrived; a wrap moves the origin for the blocks after it.
        int32_t origin = 0;
        for (; count < pending; ++count) {
            out[count] = ring[(oldest + count) % KeptBlocks];
            out[count].column -= origin;
            if (SweepWraps(out[count].column, width))
                origin += out[count].column;
        }
        SpTmColumn -= origin;
        oldest = (oldest + pending) % KeptBlocks;
        pending = 0;
    } else {
        if (newest >= 0)
            out[0] = ring[newest];
        else
            std::memset(out[0].rows, 0, sizeof out[0].rows);
        out[0].column = SpTmColumn;
        if (SweepWraps(SpTmColumn, width))
            SpTmColumn = 0;
        count = 1;
    }
    return count;
}

void ForgetBlocks()
{
    std::lock_guard<std::mutex> guard(DataLock);
    oldest = 0;
    pending = 0;
    newest = -1;
}

} // namespace sptm

void SpTmKeepBlock()
{
    using namespace sptm;
    if (pending == KeptBlocks) { // the render is behind: drop the oldest
        oldest = (oldest + 1) % KeptBlocks;
        --pending;
    }
    newest = (oldest + pending) % KeptBlocks;
    ring[newest].column = SpTmColumn;
    CopyRows(ring[newest]);
    ++pending;
}
