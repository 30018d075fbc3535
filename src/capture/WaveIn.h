// Capture from an ordinary recording device: two 100 ms buffers queued on the
// wave-in device, polled by the 20 ms capture tick, handed over in buffer
// order and queued again.
#pragma once

#include "platform/wavedev.h"

#include <atomic>
#include <cstdint>
#include <vector>

inline constexpr int InBufSamples = 8820; // 16-bit values per buffer
inline constexpr uint32_t InBufBytes = 2 * InBufSamples;

inline std::atomic<bool> InOpen{false};
inline platform::HWaveIn InHandle = nullptr;
inline platform::WaveHeader InHeaders[2];
inline std::vector<int16_t> InBuffer;
inline platform::MMResult InResult = platform::MMSYSERR_NOERROR;

// A captured block as both capture paths hand it over: interleaved 16-bit
// little-endian stereo, `bytes` long; frames beyond them are silence.
struct CapturedBlock {
    const uint8_t* data;
    uint32_t bytes;
};
// Receives the blocks one poll took, oldest first.
using BlockTaker = void (*)(const CapturedBlock* blocks, int count);

// Opens the wave-in device with the given id and queues both buffers; failures
// are shown to the user. Does nothing when a device is open already.
void WaveInOpenDev(int id);
void WaveInQueue(int buffer);
// Hands every full buffer (the one filled first, first) to `take` in one
// call, then queues them again. Returns the index of the last buffer taken,
// or -1. Adds the frames the device lost since the last poll (no buffer
// queued) to DroppedFrames. The caller holds whatever `take` needs.
int WaveInPoll(BlockTaker take);
// Takes note of the device's lost frames without counting them: while
// capture is paused nothing is taken, and what the device cannot keep
// meanwhile is not missed.
void WaveInSkipDrops();
// Why the open device's stream ended on its own; empty while it runs or
// when no device is open.
std::string WaveInEndedBecause();
void WaveInClose();
