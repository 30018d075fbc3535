// Capture and playback streams of the PulseAudio client. Opened by the
// server (pulseserver.cpp) with its loop lock held; see there for the
// threading rules their callbacks follow. No Qt in here.
#pragma once

#include "platform/pulseloop.h"

#include <memory>

namespace platform::pulse {

// Null on failure, with *error set to a text a user can read. Loop lock held.
std::unique_ptr<CaptureStream> OpenCapture(std::shared_ptr<Loop> loop, pa_context* context, const std::string& source,
                                           CaptureCallback onData, StreamFailureCallback onFailure, std::string* error);
std::unique_ptr<PlaybackStream> OpenPlayback(std::shared_ptr<Loop> loop, pa_context* context, const std::string& sink,
                                             PlaybackCallback fill, StreamFailureCallback onFailure,
                                             std::string* error);

} // namespace platform::pulse
