#include "cli/recording.h"

#include "cli/options.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace cli {

Outcome Failure(int code, const std::string& why)
{
    return {code, {}, why, {}};
}

void CapturedFrames::Add(const int16_t* frames, std::size_t count)
{
    std::lock_guard<std::mutex> guard(lock);
    pending.insert(pending.end(), frames, frames + 2 * count);
}

void CapturedFrames::End(const std::string& reason)
{
    std::lock_guard<std::mutex> guard(lock);
    ended = true;
    why = reason;
}

Outcome RecordFrames(CapturedFrames& captured, const std::string& device, uint64_t leadIn, uint64_t frames,
                     const FrameSink& feed, const std::function<void()>& leadInEnded)
{
    using Clock = std::chrono::steady_clock;
    std::vector<int16_t> chunk;
    uint64_t done = 0;
    auto lastArrival = Clock::now();
    const auto patience = std::chrono::duration<double>(NoSamplesSeconds);
    while (done < leadIn + frames) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        {
            std::lock_guard<std::mutex> guard(captured.lock);
            if (captured.ended)
                return Failure(ExitFailed, "the recording from '" + device + "' ended: " + captured.why);
            chunk.swap(captured.pending);
        }
        if (chunk.empty()) {
            if (Clock::now() - lastArrival > patience)
                return Failure(ExitNoSamples, "no samples from '" + device + "' within 5 s");
            continue;
        }
        lastArrival = Clock::now();
        for (std::size_t at = 0; at < chunk.size() / 2 && done < leadIn + frames;) {
            // The lead-in ends exactly at its frame.
            const uint64_t stop = done < leadIn ? leadIn : leadIn + frames;
            const auto take = static_cast<std::size_t>(std::min<uint64_t>(stop - done, chunk.size() / 2 - at));
            feed(chunk.data() + 2 * at, take);
            at += take;
            done += take;
            if (done == leadIn)
                leadInEnded();
        }
        chunk.clear();
    }
    return {};
}

std::optional<NamedDevices> FindNamedDevices(const Options& options, Outcome* failure)
{
    const std::vector<DeviceEntry> recording = RecordingDevices();
    const std::optional<size_t> source = FindDevice(recording, options.record);
    if (!source) {
        *failure = Failure(ExitNoDevice, "no recording device named '" + options.record + "'");
        return std::nullopt;
    }
    NamedDevices devices{recording[*source], std::nullopt};
    if (!options.play.empty()) {
        const std::optional<size_t> sink = FindDevice(PlaybackDevices(), options.play);
        if (!sink) {
            *failure = Failure(ExitNoDevice, "no playback device named '" + options.play + "'");
            return std::nullopt;
        }
        devices.play = static_cast<int>(*sink);
    }
    return devices;
}

std::unique_ptr<platform::CaptureStream> OpenRecording(const Options& options, const NamedDevices& devices,
                                                       CapturedFrames& captured, Outcome* failure)
{
    std::string error;
    std::unique_ptr<platform::CaptureStream> stream = platform::Server().openCapture(
        devices.record.name, [&captured](const int16_t* frames, size_t count) { captured.Add(frames, count); },
        [&captured](const std::string& why) { captured.End(why); }, &error);
    if (!stream)
        *failure = Failure(ExitFailed, "the recording device '" + options.record + "' could not be opened: " + error);
    return stream;
}

} // namespace cli
