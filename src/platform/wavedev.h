// Wave-in / wave-out devices over the sound server, with the semantics the
// capture tick and the generator rely on: device ids with the server's
// default device first (id 0), capability records with a product name of at
// most 31 characters, open results with an error text, buffer headers whose
// "bytes recorded" and "done" state another thread polls, output volume.
//
// Wave-in devices are the server's sources that are not monitors; wave-out
// devices are its sinks. Ids are resolved against the server's current lists
// at each call. No Qt in here.
#pragma once

#include "platform/soundserver.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

using MMResult = uint32_t;
inline constexpr MMResult MMSYSERR_NOERROR = 0;
inline constexpr MMResult MMSYSERR_ERROR = 1;
inline constexpr MMResult MMSYSERR_BADDEVICEID = 2;
inline constexpr MMResult MMSYSERR_ALLOCATED = 4;
inline constexpr MMResult MMSYSERR_INVALHANDLE = 5;
inline constexpr MMResult MMSYSERR_NODRIVER = 6;
inline constexpr MMResult MMSYSERR_INVALPARAM = 11;
inline constexpr MMResult WAVERR_BADFORMAT = 32;
inline constexpr MMResult WAVERR_STILLPLAYING = 33;
inline constexpr MMResult WAVERR_UNPREPARED = 34;

// Format flag for 44.1 kHz stereo 16-bit.
inline constexpr uint32_t WAVE_FORMAT_4S16 = 0x800;

inline constexpr uint32_t WHDR_DONE = 0x01;
inline constexpr uint32_t WHDR_PREPARED = 0x02;
inline constexpr uint32_t WHDR_INQUEUE = 0x10;

inline constexpr int MaxPnameChars = 31;

// The device id that stands for "the server's default device" in opens.
inline constexpr int WAVE_MAPPER = -1;

struct WaveFormat {
    uint16_t formatTag = 1; // PCM
    uint16_t channels = 2;
    uint32_t samplesPerSec = 44100;
    uint32_t avgBytesPerSec = 176400;
    uint16_t blockAlign = 4;
    uint16_t bitsPerSample = 16;
    uint16_t cbSize = 0;
};

// The program's only format, for capture and playback alike: PCM, 2
// channels, 44100 Hz, 176400 bytes per second, 4-byte frames, 16 bits.
inline WaveFormat StereoFormat()
{
    return WaveFormat{1, 2, 44100, 176400, 4, 16, 0};
}

struct WaveCaps {
    std::string productName; // UTF-8, at most 31 characters
    uint32_t formats = 0;    // WAVE_FORMAT_* flags
    uint16_t channels = 2;
};

// A buffer handed to a device. The device thread writes bytesRecorded
// (capture) and sets WHDR_DONE in flags, both with release order, after the
// data is in place; the polling thread reads them with acquire order. A
// capture device stores the byte count of a full buffer last, so a poller
// that sees the full count owns the header and may re-queue it at once.
struct WaveHeader {
    char* data = nullptr;
    uint32_t bufferLength = 0;
    std::atomic<uint32_t> bytesRecorded{0};
    std::atomic<uint32_t> flags{0};
    uintptr_t user = 0;
};

class WaveInDevice;
class WaveOutDevice;
using HWaveIn = WaveInDevice*;
using HWaveOut = WaveOutDevice*;

// ---- wave-in ----
int WaveInGetNumDevs();
MMResult WaveInGetDevCaps(int id, WaveCaps* caps);
// Id WAVE_MAPPER opens the server's default source.
MMResult WaveInOpen(HWaveIn* handle, int id, const WaveFormat& format);
MMResult WaveInPrepareHeader(HWaveIn h, WaveHeader* hdr);
MMResult WaveInUnprepareHeader(HWaveIn h, WaveHeader* hdr);
MMResult WaveInAddBuffer(HWaveIn h, WaveHeader* hdr);
MMResult WaveInStart(HWaveIn h);
// Stops recording and returns every queued buffer marked done.
MMResult WaveInReset(HWaveIn h);
// Fails with WAVERR_STILLPLAYING while buffers are queued (reset first).
// Once it returns, the device touches no header any more.
MMResult WaveInClose(HWaveIn h);
// Frames of audio lost since the open: those that arrived while recording
// with no buffer queued (the poller fell behind) and those the sound server
// lost on the way. Never goes back.
MMResult WaveInGetDroppedFrames(HWaveIn h, uint64_t* frames);
// Why the device's stream ended on its own (device removed, stream killed,
// server gone); empty while it runs, and for a handle that names no device.
std::string WaveInEndedBecause(HWaveIn h);
// A readable text for a result code. For the code of the calling thread's
// last failed open it also gives the sound server's reason.
std::string WaveInGetErrorText(MMResult result);

// ---- wave-out ----
int WaveOutGetNumDevs();
MMResult WaveOutGetDevCaps(int id, WaveCaps* caps);
// The server's sinks in wave-out id order (the default first): entry id is
// the device WaveOutOpen(id) plays to, with its server name.
std::vector<SinkInfo> WaveOutDeviceList();
// Id WAVE_MAPPER opens the server's default sink.
MMResult WaveOutOpen(HWaveOut* handle, int id, const WaveFormat& format);
MMResult WaveOutPrepareHeader(HWaveOut h, WaveHeader* hdr);
MMResult WaveOutUnprepareHeader(HWaveOut h, WaveHeader* hdr);
// Queues a prepared buffer for playback; WHDR_DONE is set once it has been
// handed to the server in full.
MMResult WaveOutWrite(HWaveOut h, WaveHeader* hdr);
MMResult WaveOutReset(HWaveOut h);
// Fails with WAVERR_STILLPLAYING while buffers are queued (reset first).
MMResult WaveOutClose(HWaveOut h);
// Volume packed as left in the low 16 bits, right in the high 16 bits,
// 0xFFFF = full.
MMResult WaveOutSetVolume(HWaveOut h, uint32_t volume);
MMResult WaveOutGetVolume(HWaveOut h, uint32_t* volume);
// Times the sound server ran out of the device's data (its buffers came too
// late) and played silence in the middle of the sound, since the open.
// Never goes back.
MMResult WaveOutGetUnderruns(HWaveOut h, uint64_t* count);
// The device's stream clock: the frame of the written sound being played
// now (the first frame written is frame 0). MMSYSERR_ERROR while the server
// has not told it yet.
MMResult WaveOutGetClock(HWaveOut h, StreamClock* clock);
// Why the device's stream ended on its own (sink removed, server gone);
// empty while it runs.
std::string WaveOutEndedBecause(HWaveOut h);
// As WaveInGetErrorText, for wave-out opens.
std::string WaveOutGetErrorText(MMResult result);

// Cuts a UTF-8 text to at most n characters (code points), as device names
// are cut for matching.
std::string CutChars(const std::string& text, int n);

} // namespace platform
