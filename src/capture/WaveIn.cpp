#include "capture/WaveIn.h"

#include "platform/dialogs.h"
#include "state/global.h"

#include <mutex>

using namespace platform;

namespace {
// Open and close run on the UI thread, polling on the capture tick: the lock
// keeps a close from pulling the device out from under a poll.
std::mutex waveInLock;

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
    CapturedBlock full[2];
    int taken[2];
    int count = 0;
    for (int i = 0; i < 2; ++i) {
        if (InHeaders[i].bytesRecorded.load(std::memory_order_acquire) != InBufBytes)
            continue;
        full[count] = {reinterpret_cast<const uint8_t*>(InBuffer.data() + i * InBufSamples), InBufBytes};
        taken[count++] = i;
    }
    if (count == 0)
        return -1;
    take(full, count);
    // Queued again only once handed over: the device writes into them at once.
    for (int k = 0; k < count; ++k)
        QueueLocked(taken[k]);
    return taken[count - 1];
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
