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
}

void CaptureTick(uint32_t, void*)
{
    TrBarVolumeTag = 1;
    if (GenPlaying) {
        GenRefillIdle = false;
        RefillWaveOut();
        GenRefillIdle = true;
    }
    // After the first activation the tick goes on only while neither paused
    // nor on loopback; before it, only while one of them is raised (as during
    // a device start). The Tag then stays 1.
    const bool gate = Paused || Loopback;
    if (gate == Started)
        return;
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
    if (Started == Paused)
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
