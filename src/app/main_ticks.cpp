#include "app/main_ticks.h"

#include "analysis/spectrum.h"
#include "app/main.h"
#include "capture/WaveIn.h"
#include "generator/WaveOut.h"
#include "platform/reclib.h"
#include "state/global.h"
#include "views/SpTmForm.h"

#include <array>
#include <cstring>
#include <mutex>

namespace {
constexpr uint32_t LoopbackBlockBytes = 17640;

// Started is raised once, at the first activation of the main window; a
// device start holds Paused raised while it runs. Once started, captured
// blocks are taken while capture is not paused. Before that the views are
// still being set up and blocks are taken only while a device start runs,
// so that the device's first blocks reach them.
bool CaptureTakesBlocks()
{
    return Started != Paused;
}

// The capture tick polls the wave-in buffers by the same rule, and once
// started also stands aside on loopback, whose blocks come through the
// recording procedure; before the first activation a raised Loopback counts
// as a device start does.
bool WaveInTickTakesBlocks()
{
    return Started != (Paused || Loopback);
}
} // namespace

void CaptureTick(uint32_t, void*)
{
    TrBarVolumeTag = 1;
    if (GenPlaying) {
        GenRefillIdle = false;
        RefillWaveOut();
        GenRefillIdle = true;
    }
    if (!WaveInTickTakesBlocks())
        return; // the Tag stays 1
    int taken;
    {
        std::lock_guard<std::mutex> guard(DataLock);
        taken = WaveInPoll(AcceptBlocks);
    }
    if (taken >= 0 && Started)
        RepaintViews();
    TrBarVolumeTag = 0;
}

bool RecordProc(uint32_t, const void*, uint32_t, void*)
{
    if (!Loopback)
        return true;
    std::array<uint8_t, LoopbackBlockBytes> block{}; // a short read leaves silence
    const uint32_t got = platform::rec::ChannelGetData(RecChannel, block.data(), LoopbackBlockBytes);
    LoopbackBytes = got;
    if (!CaptureTakesBlocks())
        return true;
    const uint32_t usable = got == static_cast<uint32_t>(-1) ? 0 : std::min(got, LoopbackBlockBytes);
    const CapturedBlock captured{block.data(), usable};
    {
        std::lock_guard<std::mutex> guard(DataLock);
        AcceptBlocks(&captured, 1);
    }
    RepaintViews();
    return true;
}

void AcceptBlocks(const CapturedBlock* blocks, int count)
{
    for (int k = 0; k < count; ++k) {
        ShiftHistory();
        StoreInterleavedBlock(blocks[k].data, blocks[k].bytes);
    }
    if (count > 0)
        AnalyseBlock();
    CapturedBlocks += static_cast<uint64_t>(count);
}

void StoreInterleavedBlock(const uint8_t* data, uint32_t bytes)
{
    const int frames = BlockLen;
    for (int f = 0; f < frames; ++f) {
        int16_t left = 0, right = 0;
        if (4u * f + 4 <= bytes) {
            left = static_cast<int16_t>(data[4 * f] | (data[4 * f + 1] << 8));
            right = static_cast<int16_t>(data[4 * f + 2] | (data[4 * f + 3] << 8));
        }
        Sample(1, f) = left;
        Sample(2, f) = right;
    }
}

void ShiftHistory()
{
    // Always one whole block slot, whatever BlockLen says.
    for (int ch = 1; ch <= 2; ++ch)
        std::memmove(&Sample(ch, -HistoryHalf), &Sample(ch, 0), HistoryHalf * sizeof(int16_t));
}

void RepaintViews()
{
    if (NewData.exchange(false))
        PostRepaintShownViews();
}

void ClearBlock()
{
    {
        std::lock_guard<std::mutex> guard(DataLock);
        const int frames = BlockLen;
        for (int f = 0; f < frames; ++f) {
            Sample(1, f) = 0;
            Sample(2, f) = 0;
        }
        AnalyseBlock();
    }
    ClearSpTm();
    RepaintViews();
}
