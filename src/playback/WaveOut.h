// The generator's playback engine: two sines (one per channel, each with its
// own frequency), white noise or pink noise, 44100 Hz 16-bit stereo, played
// through one
// wave-out device with two 100 ms buffers in flight. The 20 ms capture tick
// refills whichever buffer the device has finished, so playback runs 100 to
// 200 ms ahead of the tick.
//
// Threads: RefillWaveOut (and through it FillBuffer and QueueBuffer) runs on
// the capture tick's thread, everything else on the UI thread. One lock keeps
// a refill and an open or close from touching the headers or the device at
// the same time. No Qt in here: the program's generator window and the
// command-line measurer both play through it.
#pragma once

#include "platform/wavedev.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

inline constexpr int GenBufSamples = 8820;                 // 16-bit values per buffer (4410 frames)
inline constexpr uint32_t GenBufBytes = 2 * GenBufSamples; // 17640

// Both output buffers, buffer k at samples 8820 k ... 8820 k + 8819,
// interleaved left, right.
inline int16_t GenBuffer[2 * GenBufSamples] = {};

// The playback devices' capabilities by device id, rebuilt by
// ListWaveOutDevices; as long as the server has devices.
inline std::vector<platform::WaveCaps> OutCaps;

// Opens the device (WAVE_MAPPER: the server's default sink) and, while the
// generator plays, queues both buffers. Does nothing when open already. On
// failure returns false and sets *error to the device's error text; the
// engine stays closed.
bool OpenWaveOut(int deviceId, std::string* error);
// Stops playback and closes the device; does nothing when closed.
void CloseWaveOut();
// Refills and resubmits every buffer the device has finished; nothing when
// closed. Capture tick thread.
void RefillWaveOut();

// What the generator window says about the server running out of the
// generator's sound (GenUnderruns): empty for never, else the count.
std::string UnderrunText(uint64_t underruns);

// Generates buffer k (0 or 1) from the mode flags: the sines at the frame
// counter, then, over them, white noise, then pink noise. With no flag the
// buffer keeps what it held.
void FillBuffer(int k);
// Resets header k and submits buffer k to the device.
void QueueBuffer(int k);

// The device's volume as 0 ... 65535 (its right channel); empty when closed
// or while the server cannot say (PipeWire may not list a stream at once).
std::optional<uint32_t> GetOutVolume();
// Sets both channels to v (0 ... 65535); nothing when closed.
void SetOutVolume(uint32_t v);

// Fills OutCaps from the server's current playback devices and returns
// their names, in id order.
std::vector<std::string> ListWaveOutDevices();

// The noise source: a 32-bit linear congruential generator whose state is
// taken from a clock at start-up. NoiseRandom(m) advances the state and
// gives a value 0 ... m - 1. Capture tick thread, or a test.
uint32_t NoiseRandom(uint32_t m);
void SetNoiseState(uint32_t state);
// The pink noise's two sources start from keys taken from a clock at
// start-up, one per channel, so that the channels are independent; a test
// sets them. Capture tick thread, or a test.
void SetPinkKeys(uint32_t left, uint32_t right);

// The signal GenSweep plays, mono in 16-bit units, on both channels; null
// plays silence. UI thread; takes the engine's lock, so it may be called
// while the device plays.
void SetSweepSignal(std::shared_ptr<const std::vector<int16_t>> mono);
// Frames of the sweep signal handed to the device since its open (its
// length once it has all gone, silence following).
uint64_t SweepFramesQueued();

// The engine's stream clock (see WaveOutGetClock): frame 0 is the first
// frame played after the open. Empty when closed or not known yet. Takes the
// engine's lock; not on the server's thread.
std::optional<platform::StreamClock> EngineClock();
// Why the engine's stream ended on its own (its device removed, the server
// gone); empty while it plays or when closed.
std::string EngineEndedBecause();

// The peak of the generator's sine: full scale, 0 dBFS.
inline constexpr double FullScaleSine = 32767.0;
// The test tone's peak for a level in dBFS (0 dBFS: FullScaleSine); levels
// above 0 or not finite give full scale.
double ToneAmplitudeFor(double levelDbfs);

// One sine sample: sin(pi m f / 44100) amplitude, evaluated in extended
// precision on the unreduced argument and rounded to the nearest integer
// (halves to even). m is twice the frame counter, as an unsigned 32-bit
// value.
int16_t SineSample(uint32_t m, float frequency, double amplitude = FullScaleSine);
// The same value, about ten times faster, as the fill computes it: for a
// whole number of Hz the phase is reduced exactly in integers and the sine
// taken in double precision; a result within reach of a rounding boundary
// is computed the extended way instead.
int16_t SineSampleFast(uint32_t m, float frequency, double amplitude = FullScaleSine);
