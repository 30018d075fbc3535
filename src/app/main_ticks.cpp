#include "app/main_ticks.h"

#include "analysis/spectinstruments.h"
#include "analysis/spectrum.h"
#include "app/main.h"
#include "capture/WaveIn.h"
#include "meters/BandsForm.h"
#include "meters/DistortionForm.h"
#include "meters/LevelsForm.h"
#include "platform/reclib.h"
#include "playback/WaveOut.h"
#include "state/global.h"
#include "views/SpTmForm.h"

#include <array>
#include <atomic>
#include <cstdio>
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

// The loopback recording's count of lost frames as last seen, and whose it
// is. Library thread (one recording's thread after another).
std::atomic<uint32_t> dropsChannel{0};
std::atomic<uint64_t> loopbackDropsSeen{0};

// Adds what the loopback recording lost since the last look to DroppedFrames.
void CountLoopbackDrops(uint32_t channel)
{
    if (channel <= 1) // none, or given up
        return;
    const uint64_t lost = platform::rec::ChannelGetDroppedFrames(channel);
    if (dropsChannel.exchange(channel) != channel)
        loopbackDropsSeen = 0; // a new recording counts from 0
    const uint64_t seen = loopbackDropsSeen.exchange(lost);
    if (lost > seen)
        DroppedFrames += lost - seen;
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
    if (!WaveInTickTakesBlocks()) {
        WaveInSkipDrops();
        return; // the Tag stays 1
    }
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
    const uint32_t channel = RecChannel;
    const uint32_t got = platform::rec::ChannelGetData(channel, block.data(), LoopbackBlockBytes);
    LoopbackBytes = got;
    CountLoopbackDrops(channel);
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
        FeedBands(&Sample(1, 0), &Sample(2, 0), BlockLen);
        FeedLevels(&Sample(1, 0), &Sample(2, 0), BlockLen);
        FeedDistortion(&Sample(1, 0), &Sample(2, 0), BlockLen);
        // The views show the newest block only, but the spectrum's
        // averages take every slice of every block.
        if (k + 1 < count && SpectInstrumentsWanted()) {
            AnalyseSlices();
            FeedSpectInstruments();
        }
    }
    if (count > 0) {
        AnalyseBlock();
        FeedSpectInstruments();
    }
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

std::string LostAudioText(uint64_t frames)
{
    if (frames == 0)
        return {};
    const double seconds = static_cast<double>(frames) / 44100.0;
    char text[96];
    std::snprintf(text, sizeof text, "Lost audio: %llu %s (%.2f s)", static_cast<unsigned long long>(frames),
                  frames == 1 ? "frame" : "frames", seconds);
    return text;
}

void RestartDropCount()
{
    DroppedFramesAtDeviceStart = DroppedFrames.load();
}

std::string CaptureEndedBecause()
{
    if (Loopback)
        return RecChannel > 1 ? platform::rec::ChannelEndedBecause(RecChannel) : std::string();
    return WaveInEndedBecause();
}
