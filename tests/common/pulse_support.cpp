#include "common/pulse_support.h"

#include <algorithm>
#include <array>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace testsupport {

CommandResult RunCommand(const std::string& command)
{
    CommandResult result;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (!pipe)
        return result;
    std::array<char, 4096> chunk{};
    size_t got = 0;
    while ((got = fread(chunk.data(), 1, chunk.size(), pipe)) > 0)
        result.output.append(chunk.data(), got);
    int status = pclose(pipe);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

CommandResult Pactl(const std::string& arguments)
{
    return RunCommand("pactl " + arguments);
}

bool HavePrivateServer()
{
    const char* server = std::getenv("PULSE_SERVER");
    return server && *server;
}

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return done();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

LoadedModule::LoadedModule(const std::string& name, const std::string& arguments)
{
    CommandResult result = Pactl("load-module " + name + " " + arguments);
    if (result.exitCode == 0)
        index_ = std::strtol(result.output.c_str(), nullptr, 10);
}

LoadedModule::~LoadedModule()
{
    unload();
}

bool LoadedModule::unload()
{
    if (index_ < 0)
        return false;
    bool done = Pactl("unload-module " + std::to_string(index_)).exitCode == 0;
    index_ = -1;
    return done;
}

std::string SourcePath(const std::string& relative)
{
    // The build names the tree: __FILE__ is relative when a compiler cache
    // rewrites the paths it is given.
    return (std::filesystem::path(SONALYX_SOURCE_DIR) / relative).string();
}

#ifndef TONE_PLAYER
#define TONE_PLAYER ""
#endif

TonePlayer::TonePlayer(const std::string& sink, double leftHz, double rightHz, double amplitude)
{
    const std::string left = std::to_string(leftHz);
    const std::string right = std::to_string(rightHz > 0 ? rightHz : leftHz);
    const std::string level = std::to_string(amplitude);
    int out[2];
    if (std::string(TONE_PLAYER).empty() || pipe(out) != 0)
        return;
    const pid_t child = fork();
    if (child == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        execl(TONE_PLAYER, TONE_PLAYER, sink.c_str(), left.c_str(), right.c_str(), level.c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    // It says "playing" once its stream is open, or ends without a word.
    char said[16] = {};
    const ssize_t got = child > 0 ? read(out[0], said, sizeof said - 1) : -1;
    close(out[0]);
    if (got > 0 && std::string(said).rfind("playing", 0) == 0) {
        pid_ = child;
        return;
    }
    if (child > 0)
        waitpid(child, nullptr, 0);
}

TonePlayer::~TonePlayer()
{
    if (pid_ <= 0)
        return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
}

std::string SoundServerKind()
{
    const char* kind = std::getenv("SOUND_SERVER");
    return kind && *kind ? kind : "pulseaudio";
}

ScratchDaemon::ScratchDaemon()
{
    char pattern[] = "/tmp/sonalyx-scratch-pulse-XXXXXX";
    if (mkdtemp(pattern))
        dir_ = pattern;
    address_ = "unix:" + dir_ + "/native";
}

ScratchDaemon::~ScratchDaemon()
{
    stop();
    if (!dir_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
}

bool ScratchDaemon::start()
{
    if (dir_.empty())
        return false;
    return RunCommand("bash " + SourcePath("scripts/soundserver.sh") + " start " + dir_).exitCode == 0;
}

void ScratchDaemon::stop()
{
    if (!dir_.empty())
        RunCommand("bash " + SourcePath("scripts/soundserver.sh") + " stop " + dir_);
}

void FrameCollector::add(const int16_t* frames, size_t frameCount)
{
    std::lock_guard<std::mutex> guard(lock_);
    frames_.insert(frames_.end(), frames, frames + frameCount * 2);
}

std::vector<int16_t> FrameCollector::channel(int index) const
{
    std::lock_guard<std::mutex> guard(lock_);
    std::vector<int16_t> out;
    out.reserve(frames_.size() / 2);
    for (size_t i = static_cast<size_t>(index); i < frames_.size(); i += 2)
        out.push_back(frames_[i]);
    return out;
}

size_t FrameCollector::frameCount() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return frames_.size() / 2;
}

size_t FrameCollector::framesSinceSignal(int threshold) const
{
    std::lock_guard<std::mutex> guard(lock_);
    for (size_t i = 0; i < frames_.size(); ++i) {
        if (std::abs(frames_[i]) > threshold)
            return (frames_.size() - i) / 2;
    }
    return 0;
}

double ToneFrequency(const std::vector<int16_t>& samples, int rate, int threshold, size_t maxSamples)
{
    size_t start = 0;
    while (start < samples.size() && std::abs(samples[start]) <= threshold)
        ++start;
    const size_t end = std::min(samples.size(), start + maxSamples);
    std::vector<size_t> periods; // samples between successive rising zero crossings
    size_t lastRise = 0;
    for (size_t i = start + 1; i < end; ++i) {
        if (samples[i - 1] < 0 && samples[i] >= 0) {
            if (lastRise != 0)
                periods.push_back(i - lastRise);
            lastRise = i;
        }
    }
    if (periods.empty())
        return 0.0;
    // A dropout of the sound server (a few ms of silence as a stream joins
    // a busy graph) is one long period: left out, it does not pull the
    // tone's frequency down. Every other period counts.
    std::vector<size_t> sorted = periods;
    std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
    const size_t longest = sorted[sorted.size() / 2] * 3 / 2 + 1;
    size_t kept = 0, span = 0;
    for (const size_t period : periods)
        if (period <= longest) {
            ++kept;
            span += period;
        }
    return static_cast<double>(kept) * rate / static_cast<double>(span);
}

int PeakLevel(const std::vector<int16_t>& samples)
{
    int peak = 0;
    for (int16_t s : samples)
        peak = std::max(peak, std::abs(static_cast<int>(s)));
    return peak;
}

void WriteStereoWav(const std::string& path, const std::vector<int16_t>& interleaved)
{
    const auto dataBytes = static_cast<uint32_t>(interleaved.size() * sizeof(int16_t));
    std::ofstream out(path, std::ios::binary);
    auto put32 = [&](uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
    auto put16 = [&](uint16_t v) { out.write(reinterpret_cast<const char*>(&v), 2); };
    out.write("RIFF", 4);
    put32(36 + dataBytes);
    out.write("WAVEfmt ", 8);
    put32(16);
    put16(1); // PCM
    put16(2);
    put32(44100);
    put32(44100 * 4);
    put16(4);
    put16(16);
    out.write("data", 4);
    put32(dataBytes);
    out.write(reinterpret_cast<const char*>(interleaved.data()), dataBytes);
}

BackgroundCommand::BackgroundCommand(std::string command)
    : thread_([command = std::move(command)] { RunCommand(command); })
{
}

BackgroundCommand::~BackgroundCommand()
{
    thread_.join();
}

void SetHeadsetLoopbackToUnity()
{
    Pactl("set-sink-volume test_headset 100%");
    Pactl("set-sink-mute test_headset 0");
}

} // namespace testsupport
