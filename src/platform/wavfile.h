// Impulse responses as 32-bit float mono WAV files (libsndfile). A file is
// encoded in memory and then replaces its target whole (see atomicfile.h),
// so a failed save leaves neither a partial file nor a temporary behind.
// No Qt in here.
#pragma once

#include <string>
#include <vector>

namespace platform {

// Writes `samples` at `sampleRate` to `path` as a mono WAV of 32-bit floats.
// The folder must exist. Empty on success, else why it failed (with the
// system's reason, e.g. "No such file or directory").
std::string WriteFloatWav(const std::string& path, const std::vector<float>& samples, int sampleRate);

struct WavRead {
    bool ok = false;
    std::vector<float> samples;
    int sampleRate = 0;
    std::string message; // why it could not be read when not ok
};

// Reads a mono WAV (float samples are returned bit for bit; other sample
// formats are converted to floats by libsndfile). Files of more than one
// channel are refused.
WavRead ReadMonoWav(const std::string& path);

} // namespace platform
