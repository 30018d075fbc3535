// Shared analyzer state: the sample history, the spectra computed from it,
// the capture flags, the colour scheme, the view geometry and the per-view
// settings. Every unit reads and writes these directly.
//
// Threads: the UI thread, the 20 ms capture tick and the recording library's
// thread share this state. Flags that cross threads are atomics. Samples,
// Spectra and SpTmColumn are written only under DataLock (block path and the
// UI's re-analysis); painting copies what it needs under the same lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

// ---- sizes -------------------------------------------------------------
inline constexpr int HistoryHalf = 4410;                 // frames in one block slot
inline constexpr int HistorySlots = 2 * HistoryHalf + 1; // k = -4410 .. +4410
inline constexpr int SliceCount = 10;                    // slices -9 .. 0
inline constexpr int BinSlots = 2049;                    // bins 0 .. 2048
inline constexpr int TopBin = 1858;
inline constexpr uint32_t NoReadMark = 54321;

// ---- sample history and analysis results (guarded by DataLock) ---------
inline std::mutex DataLock;
// Samples[channel 0/1][k + 4410]; use Sample(ch, k) with ch = 1 or 2.
inline int16_t Samples[2][HistorySlots] = {};
inline int16_t& Sample(int ch, int k)
{
    return Samples[ch - 1][k + HistoryHalf];
}
// Spectra[channel 0/1][slice + 9][bin]; use Spectrum(ch, slice, bin).
inline float Spectra[2][SliceCount][BinSlots] = {};
inline float& Spectrum(int ch, int slice, int bin)
{
    return Spectra[ch - 1][slice + SliceCount - 1][bin];
}
inline int32_t SpTmColumn = 0;

inline std::atomic<int32_t> BlockLen{4410};
inline std::atomic<int32_t> SlicesPerBlock{10};
inline float BinWidth = 10.7666f;
inline std::atomic<bool> NewData{false};

// ---- capture and user-interface flags ----------------------------------
inline std::atomic<bool> Paused{false};
inline std::atomic<bool> Started{false};
inline std::atomic<bool> Loopback{false};
inline std::atomic<uint32_t> LoopbackBytes{0};
inline bool IsInstalled = false;
inline std::atomic<bool> GenPlaying{false};
inline std::atomic<bool> GenRefillIdle{false};

// ---- lost audio (any thread) -------------------------------------------
// Captured frames that never reached the history: the wave-in device had no
// buffer queued (the tick fell behind), the recording library's buffer let
// the oldest go unread, the sound server lost them. Counted since the
// program started and never reset, so that a reading can take a mark and ask
// later whether it spans a gap (DroppedFramesSince).
inline std::atomic<uint64_t> DroppedFrames{0};
// DroppedFrames when the current device was started; the main window shows
// what was lost since then (DeviceDroppedFrames).
inline std::atomic<uint64_t> DroppedFramesAtDeviceStart{0};
inline uint64_t DroppedFramesSince(uint64_t mark)
{
    return DroppedFrames.load() - mark;
}
inline uint64_t DeviceDroppedFrames()
{
    return DroppedFramesSince(DroppedFramesAtDeviceStart.load());
}

// ---- signal generator (the wave-out engine and its window) -------------
inline std::atomic<bool> WaveOutIsOpen{false};
inline std::atomic<uint32_t> GenSampleCounter{0}; // frames of sine generated since the open
inline std::atomic<float> FreqLeft{20.0f};        // Hz
inline std::atomic<float> FreqRight{50.0f};
inline std::atomic<bool> GenSine{false};
inline std::atomic<bool> GenNoise{false};
// Pink noise, written over whatever the other two flags made.
inline std::atomic<bool> GenPink{false};
// The generator's signal as the window offers and the settings store it.
inline constexpr int32_t GenSignalSine = 0, GenSignalWhiteNoise = 1, GenSignalPinkNoise = 2;
inline int32_t GenSignal = GenSignalSine; // UI thread
// The distortion analyzer's test tone: while GenTestTone is set, the sines
// play ToneFreq on both channels at the peak ToneAmplitude (sample units)
// instead of the generator's own frequencies at full scale.
inline std::atomic<bool> GenTestTone{false};
inline std::atomic<float> ToneFreq{997.0f};
inline std::atomic<double> ToneAmplitude{16422.0};
// The response measurement's sweep: while GenSweep is set, both channels
// play the signal handed to SetSweepSignal from the device's open on (frame
// 0 of the stream is the signal's first sample), then silence.
inline std::atomic<bool> GenSweep{false};
// Times the server ran out of the generator's sound since its device opened.
inline std::atomic<uint64_t> GenUnderruns{0};

// ---- view selection and appearance -------------------------------------
inline std::atomic<bool> ShowLeft{true};
inline std::atomic<bool> ShowRight{true};
inline float LineWidth = 1.0f;
inline bool ThickLines = false;
inline bool LightBackground = false;
inline uint8_t SchemeR[13] = {};
inline uint8_t SchemeG[13] = {};
inline uint8_t SchemeB[13] = {};
inline bool WaveShow = true;
inline bool SpectShow = true;
inline bool SpTmShow = true;

// ---- window geometry and per-view settings -----------------------------
inline int32_t WaveX = 0, WaveY = 100, WaveW = 310, WaveH = 270;
inline int32_t SpectX = 0, SpectY = 370, SpectW = 310, SpectH = 270;
inline int32_t SpTmX = 298, SpTmY = 100, SpTmW = 500, SpTmH = 540;
inline int32_t WaveRangeX = 4410;
inline int32_t WaveRangeY = 20000;
inline int32_t SpectRangeX = 5000;
inline float SpectRangeY = 2.0f;
inline bool SpectIsLn = true;
inline bool SpectShowPeak = false; // the peak readout under the spectrum
// The spectrum's instruments as chosen (UI thread; the window hands them to
// the block path's instruments under DataLock): the averaging (an index of
// the averaging choices, 0 = off), peak hold and its decay (an index of the
// decay choices, 0 = hold), the frequency weighting (0 = Z, 1 = A, 2 = C).
inline int32_t SpectAveraging = 0;
inline bool SpectPeakHold = false;
inline int32_t SpectPeakDecay = 0;
inline int32_t SpectWeighting = 0;
inline float KaSpTm = 10.0f;
inline std::atomic<int32_t> WindowFunction{1};

// The octave bands view: closed until the user opens it, its own geometry,
// the fraction (index into 1/1, 1/3, 1/6, 1/12, 1/24), the level axis (top
// and span in dB), and its averaging, weighting and peak hold (indices into
// the choices of measure/averaging.h, weighting.h and peakhold.h).
inline bool BandsShow = false;
inline int32_t BandsX = 320, BandsY = 150, BandsW = 520, BandsH = 330;
inline int32_t BandsFraction = 1;
inline int32_t BandsTop = 0, BandsSpan = 100;
inline int32_t BandsAveraging = 0, BandsWeighting = 0, BandsPeakDecay = 0;
inline bool BandsPeak = false;
// The octave view's level axis and readout in dB SPL on a calibrated device.
inline bool BandsSpl = false;
// The spectrum's level axis, readout and peak line in dB SPL on a calibrated
// device.
inline bool SpectSpl = false;

// The levels view: closed until the user opens it, its own geometry and the
// frequency weighting of its RMS levels (0 = Z, 1 = A, 2 = C).
inline bool LevelsShow = false;
inline int32_t LevelsX = 360, LevelsY = 120, LevelsW = 560, LevelsH = 440;
inline int32_t LevelsWeighting = 0;

// The distortion window: closed until the user opens it, its own geometry,
// the channel (0 left, 1 right, 2 both), the transform size in samples, the
// spectra averaged (1: off), and its test tone's frequency, level in dBFS
// and playback device (an index of the device list).
inline bool DistortionShow = false;
inline int32_t DistortionX = 380, DistortionY = 140, DistortionW = 820, DistortionH = 560;
inline int32_t DistortionChannel = 0;
inline int32_t DistortionSize = 65536;
inline int32_t DistortionAverage = 1;
inline float DistortionToneHz = 997.0f;
inline float DistortionToneDbfs = -6.0f;
inline int32_t DistortionDevice = 0;

// The response window: closed until the user opens it, its own geometry, the
// sweep's length (s) and level (dBFS), the reference (0 generated, 1 left
// input, 2 right input), the measured channel (0 left, 1 right), the view
// (magnitude, phase, impulse, distortion), the smoothing (0 none ... 5 1/3
// octave), the phase wrapped (0) or unwrapped (1), the impulse linear (0) or
// in dB (1), and the playback and recording devices (indexes of their lists).
inline bool ResponseShow = false;
inline int32_t ResponseX = 400, ResponseY = 120, ResponseW = 900, ResponseH = 620;
inline int32_t ResponseLength = 4;
inline float ResponseLevel = -6.0f;
inline int32_t ResponseReferenceChoice = 0;
inline int32_t ResponseChannel = 0;
inline int32_t ResponseView = 0;
inline int32_t ResponseSmoothing = 0;
inline int32_t ResponsePhaseMode = 0;
inline int32_t ResponseImpulseMode = 0;
inline int32_t ResponsePlayDevice = 0;
inline int32_t ResponseRecordDevice = 0;

// ---- plot-geometry scratch and drag state (UI thread only) -------------
inline int32_t PlotLeft = 0, PlotRight = 0, PlotTop = 0, PlotBottom = 0;
inline int32_t GridX = 0, GridY = 0;
inline bool DragActive = false;
inline int32_t DragX = 0, DragY = 0;

// ---- strings (UI thread only) ------------------------------------------
inline std::string DeviceName;
inline std::string MediaFile;
inline std::string CaptionSuffix;

// ---- main-window capture bookkeeping -----------------------------------
// The loopback recording's channel: set on the UI thread, read by the
// recording procedure on the recording library's thread.
inline std::atomic<uint32_t> RecChannel{0};
// The rest: UI thread only.
inline int32_t NumInDevs = 0, NumOutDevs = 0, CurInDevs = 0, CurOutDevs = 0;
inline int32_t DefaultRecDev = -1, PlaybackLoopDev = -1, SelRecDev = -1;
// Indexed by recording-device number; grown to the device count by EnumDevices.
inline std::vector<int32_t> DevWaveIn;
inline std::vector<int32_t> DevWaveOut;

// Fills entries 0-4 of the plot colour table from LightBackground.
void ApplyColorScheme();
