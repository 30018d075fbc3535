#include "capture/WaveIn.h"

#include "platform/dialogs.h"
#include "state/global.h"

#include <mutex>

using namespace platform;

namespace {
// Open and close run on the UI thread, polling on the capture tick: the lock
// keeps a close from pulling the device out from under a poll.
std::mutex waveInLock;
// The buffer the device fills next: the one queued longest ago. Under waveInLock.
int oldestQueued = 0;
// The device's count of lost frames as last seen. Under waveInLock.
uint64_t dropsSeen = 0;

// Adds what the device lost since the last look to DroppedFrames, or only
// takes note of it (`count` false). Caller holds waveInLock, device open.
void TakeDeviceDrops(bool count)
{
    uint64_t lost = dropsSeen;
    if (WaveInGetDroppedFrames(InHandle, &lost) != MMSYSERR_NOERROR || lost < dropsSeen)
        return;
    if (count)
        DroppedFrames += lost - dropsSeen;
    dropsSeen = lost;
}

void QueueLocked(int i)
{
    WaveHeader& hdr = InHeaders[i];
    hdr.data = reinterpret_cast<char*>(InBuffer.data() + i * InBufSamples);
    hdr.bufferLength = InBufBytes;
    hdr.bytesRecorded.store(0, std::memory_order_relaxed);
    hdr.flags.store(0, std::memory_order_relaxed);
    hdr.user = 0;
    WaveInPrepareHeader(InHandle, &hdr);
    WaveInAddBuffer(InHandle, &hdr);
    WaveInStart(InHandle);
}
} // namespace

void WaveInOpenDev(int id)
{
    std::string failure;
    {
        std::lock_guard<std::mutex> guard(waveInLock);
        if (InOpen)
            return;
        WaveCaps caps;
        WaveInGetDevCaps(id, &caps);
        if (caps.formats < WAVE_FORMAT_4S16) {
            failure = "44100 Hz is not supported!";
        } else {
            BlockLen = 4410;
            InBuffer.assign(2 * InBufSamples, 0);
            InResult = WaveInOpen(&InHandle, id, StereoFormat());
            if (InResult == MMSYSERR_NOERROR) {
                InOpen = true;
                oldestQueued = 0;
                dropsSeen = 0;
                QueueLocked(0);
                QueueLocked(1);
            } else {
                InHandle = nullptr;
                failure = WaveInGetErrorText(InResult);
            }
        }
    }
    if (!failure.empty())
        ShowMessage(failure); // outside the lock: the box runs an event loop
}

void WaveInQueue(int buffer)
{
    std::lock_guard<std::mutex> guard(waveInLock);
    if (InOpen)
        QueueLocked(buffer);
}

int WaveInPoll(BlockTaker take)
{
    std::lock_guard<std::mutex> guard(waveInLock);
    if (!InOpen)
        return -1;
    // Both buffers full means the tick came late: nothing is lost by that
    // alone, both go to the history in the order they were filled. What is
    // lost is what the device received meanwhile with no buffer queued; it
    // counts that itself, in frames, and the count is taken over here.
    TakeDeviceDrops(true);
    CapturedBlock full[2];
    int taken[2];
    int count = 0;
    for (int k = 0; k < 2; ++k) {
        const int i = (oldestQueued + k) % 2;
        if (InHeaders[i].bytesRecorded.load(std::memory_order_acquire) != InBufBytes)
            break; // the device fills in queue order: a later one cannot be full
        full[count] = {reinterpret_cast<const uint8_t*>(InBuffer.data() + i * InBufSamples), InBufBytes};
        taken[count++] = i;
    }
    if (count == 0)
        return -1;
    take(full, count);
    // Queued again only once handed over: the device writes into them at once.
    for (int k = 0; k < count; ++k)
        QueueLocked(taken[k]);
    oldestQueued = (oldestQueued + count) % 2;
    return taken[count - 1];
}

void WaveInSkipDrops()
{
    std::lock_guard<std::mutex> guard(waveInLock);
    if (InOpen)
        TakeDeviceDrops(false);
}

std::string WaveInEndedBecause()
{
    std::lock_guard<std::mutex> guard(waveInLock);
    return InOpen ? platform::WaveInEndedBecause(InHandle) : std::string();
}

void WaveInClose()
{
    std::lock_guard<std::mutex> guard(waveInLock);
    if (!InOpen)
        return;
    WaveInReset(InHandle);
    WaveInUnprepareHeader(InHandle, &InHeaders[0]);
    WaveInUnprepareHeader(InHandle, &InHeaders[1]);
    platform::WaveInClose(InHandle);
    InHandle = nullptr;
    InOpen = false;
}
