// The recording library: recording devices with enabled/default/loopback
// flags, init/free of one device, capture delivered as interleaved 16-bit
// stereo at 44100 Hz through a procedure called on the library's own thread,
// and the input level as 0.0-1.0 on the source volume.
//
// Every source of the sound server is a recording device, numbered 1, 2, 3 ...
// in the server's order. A monitor of a sink carries the loopback flag and
// that sink's description as its name. No Qt in here.
#pragma once

#include <cstdint>
#include <string>

namespace platform::rec {

inline constexpr uint32_t DEVICE_ENABLED = 1;
inline constexpr uint32_t DEVICE_DEFAULT = 2;
inline constexpr uint32_t DEVICE_LOOPBACK = 8;

// Error codes (ErrorGetCode).
inline constexpr int OK = 0;
inline constexpr int ERROR_MEM = 1;
inline constexpr int ERROR_DRIVER = 3;    // sound server not reachable
inline constexpr int ERROR_HANDLE = 5;    // not a valid channel
inline constexpr int ERROR_FORMAT = 6;    // sample format not supported (44100 Hz, 2 channels, 16-bit only)
inline constexpr int ERROR_INIT = 8;      // no device initialised
inline constexpr int ERROR_ALREADY = 14;  // already initialised / started
inline constexpr int ERROR_ILLPARAM = 20; // an invalid parameter (null pointer, unknown input)
inline constexpr int ERROR_DEVICE = 23;   // no such device
inline constexpr int ERROR_NOTAVAIL = 37; // requested data not available
inline constexpr int ERROR_UNKNOWN = -1;

struct DeviceInfo {
    std::string name;   // UTF-8
    std::string driver; // server's source name
    uint32_t flags = 0;
};

// Called on the library's thread each time another block (17640 bytes) has
// arrived and at least a block is buffered, with buffer = nullptr and length
// = the bytes buffered; the procedure reads them with ChannelGetData. Returns
// true to go on recording. The buffer keeps the newest second of data.
using RecordProc = bool (*)(uint32_t handle, const void* buffer, uint32_t length, void* user);

// (major << 16 | minor) of the sound-server client library loaded at run time.
uint32_t GetVersion();
// (major << 16 | minor) of the client library the program was built against.
uint32_t BuiltVersion();

bool RecordGetDeviceInfo(int device, DeviceInfo* info);
// Fails with ERROR_DEVICE for a number not listed (-1 included), with
// ERROR_DRIVER when the sound server is not reachable.
// Device -1 stands for the default recording device.
inline constexpr int DefaultDevice = -1;
bool RecordInit(int device);
// Releases the initialised device and ends any recording on it, waiting for
// a running procedure call to return (so the procedure must not wait for
// the thread that calls this).
bool RecordFree();
// Starts capture on the initialised device; returns a channel handle, 0 on failure.
// Handles are never 0 or 1. Only one recording runs at a time. A failing
// stream (device or server gone) ends the procedure calls; one whose reads
// the server refused also tells the user why.
uint32_t RecordStart(uint32_t freq, uint32_t chans, uint32_t flags, RecordProc proc, void* user);
// Reads up to length bytes of captured data; returns the bytes delivered, or
// (uint32_t)-1 on failure.
uint32_t ChannelGetData(uint32_t handle, void* buffer, uint32_t length);
// Frames of the recording lost since its start: the oldest ones the buffer
// let go unread because newer ones came (it keeps the newest second), and
// those the sound server lost on the way. 0 (ERROR_HANDLE) for a handle that
// names no running recording.
uint64_t ChannelGetDroppedFrames(uint32_t handle);
// Why the recording's stream ended on its own (device removed, stream
// killed, server gone); empty while it runs or once it is stopped.
std::string ChannelEndedBecause(uint32_t handle);
// Both end the recording and release its handle; false (ERROR_HANDLE) for a
// handle that names no running recording.
bool ChannelStop(uint32_t handle);
bool StreamFree(uint32_t handle);
// Level of the initialised device's source, 0.0-1.0. Inputs 0 and -1 (the
// master) are the same single level. Setting a negative level leaves it as
// it is; above 1.0 is full.
bool RecordGetInput(int input, float* volume);
bool RecordSetInput(int input, uint32_t flags, float volume);
// Code of the last failure on the calling thread; OK when the last call succeeded.
int ErrorGetCode();
// Why the last call on the calling thread failed, in words a user can read:
// the sound server's own reason where it gave one (a refused stream), else
// what the code means. Empty when the last call succeeded.
std::string ErrorGetText();
bool Free();

} // namespace platform::rec
