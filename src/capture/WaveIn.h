// Capture from an ordinary recording device: two 100 ms buffers queued on the
// wave-in device, polled by the 20 ms capture tick, taken in buffer order into
// the newest block of the sample history and queued again.
#pragma once

#include "platform/wavedev.h"

#include <atomic>
#include <cstdint>
#include <vector>

inline constexpr int InBufSamples = 8820;         // 16-bit values per buffer
inline constexpr uint32_t InBufBytes = 2 * InBufSamples;

inline std::atomic<bool> InOpen{false};
inline platform::HWaveIn InHandle = nullptr;
inline platform::WaveHeader InHeaders[2];
inline std::vector<int16_t> InBuffer;
inline platform::MMResult InResult = platform::MMSYSERR_NOERROR;

// Opens the wave-in device with the given id and queues both buffers; failures
// are shown to the user. Does nothing when a device is open already.
void WaveInOpenDev(int id);
void WaveInQueue(int buffer);
// Takes every full buffer (buffer 0 first), storing each as the newest block.
// Returns the index of the last buffer taken, or -1. The caller holds DataLock.
int WaveInPoll();
void WaveInTake(int buffer);
void WaveInClose();
