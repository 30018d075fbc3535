// What the recording commands share: their outcome, the capture stream's
// frames handed to the measuring thread, and the loop that feeds them to
// the instruments with a lead-in that is not counted.
#pragma once

#include "cli/devicelist.h"
#include "cli/options.h"
#include "platform/soundserver.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace cli {

// Filters settle and the played noise arrives during this lead-in; the
// levels cover the `seconds` of recording after it.
inline constexpr double LeadInSeconds = 0.5;
// Waiting longer than this for the first (or the next) samples gives up.
inline constexpr double NoSamplesSeconds = 5.0;

struct Outcome {
    int exitCode = ExitOk;
    std::string json;    // on success: the whole answer, one line
    std::string error;   // on failure: one line naming the cause
    std::string warning; // on success: a line for standard error, if any
};

Outcome Failure(int code, const std::string& why);

// Frames from a capture stream, handed from the server's thread to the
// measuring one.
struct CapturedFrames {
    std::mutex lock;
    std::vector<int16_t> pending; // interleaved left, right
    bool ended = false;
    std::string why;

    void Add(const int16_t* frames, std::size_t count);
    void End(const std::string& reason);
};

// Interleaved stereo frames for the instruments.
using FrameSink = std::function<void(const int16_t* frames, std::size_t count)>;

// Records until `frames` frames after `leadIn` ones have gone to `feed`;
// `leadInEnded` is called once, right after the lead-in's last frame.
// Empty on success, else the failure (`device` as the user named it).
Outcome RecordFrames(CapturedFrames& captured, const std::string& device, uint64_t leadIn, uint64_t frames,
                     const FrameSink& feed, const std::function<void()>& leadInEnded);

// The devices a command's options name, found among the server's: the
// recording device, and the playback device's id when --play names one.
struct NamedDevices {
    DeviceEntry record;
    std::optional<int> play;
};
// Empty with *failure set when a name matches no device.
std::optional<NamedDevices> FindNamedDevices(const Options& options, Outcome* failure);

// Opens a capture of the recording device whose frames go to `captured`.
// Null with *failure set when the device could not be opened.
std::unique_ptr<platform::CaptureStream> OpenRecording(const Options& options, const NamedDevices& devices,
                                                       CapturedFrames& captured, Outcome* failure);

} // namespace cli
