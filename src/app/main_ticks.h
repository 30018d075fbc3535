// The block path: the 20 ms capture tick, the loopback recording procedure,
// and the routines that move a block from a capture thread to the views.
#pragma once

#include "capture/WaveIn.h"

#include <atomic>
#include <cstdint>
#include <string>

// The Tag of TrBarVolume. Each capture tick raises it on entry and lowers it
// only after it has polled the wave-in buffers; a tick stopped at the capture
// gate (paused or on loopback once started; before the first activation,
// outside a device start) leaves it raised.
// So it is 0 only after a tick that passed the gate, until the next tick
// begins. The level handler writes the input level to the device only while
// it is 0: not while a tick runs, and not while capture is held at the gate.
inline std::atomic<int> TrBarVolumeTag{0};
inline uint32_t MMTimerID = 0;

// Every 20 ms on the timer thread.
void CaptureTick(uint32_t timerId, void* user);
// On the recording library's thread while a loopback source is captured.
bool RecordProc(uint32_t handle, const void* buffer, uint32_t length, void* user);

// The one way in for captured sound, from both capture paths: each block in
// turn becomes the newest block of the history (the one before it moves to
// the previous half), then the newest is analysed once, which keeps it for
// the spectrogram and raises NewData, and its slices feed the spectrum's
// averages and peak hold; while those are on, the blocks before the newest
// are analysed for them too. Caller holds DataLock.
void AcceptBlocks(const CapturedBlock* blocks, int count);
// Blocks accepted since start, from either path.
inline std::atomic<uint64_t> CapturedBlocks{0};
// Moves the newest block to the previous-block half. Caller holds DataLock.
void ShiftHistory();
// Asks the shown views to repaint when a new block was analysed; any thread.
void RepaintViews();
// Zeroes the newest block, analyses it, clears the spectrogram, repaints.
// UI thread.
void ClearBlock();
// Stores one block of interleaved stereo bytes as the newest block; bytes
// beyond `bytes` are silence. Caller holds DataLock.
void StoreInterleavedBlock(const uint8_t* data, uint32_t bytes);

// What the main window says about lost audio: empty for none, else the
// frames and their duration.
std::string LostAudioText(uint64_t frames);
// A device was started: the shown count of lost audio begins again at 0
// (DroppedFrames itself goes on, for readings that hold a mark).
void RestartDropCount();
// Why the running capture (wave-in or loopback) ended on its own; empty
// while it runs. UI thread.
std::string CaptureEndedBecause();
