#include "platform/wavfile.h"

#include "platform/atomicfile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>

#include <sndfile.h>
#include <sys/stat.h>

namespace platform {
namespace {

// A file in memory that libsndfile writes to through its virtual I/O.
struct MemoryFile {
    std::string bytes;
    sf_count_t at = 0;
};

sf_count_t Length(void* user)
{
    return static_cast<sf_count_t>(static_cast<MemoryFile*>(user)->bytes.size());
}

sf_count_t Seek(sf_count_t offset, int whence, void* user)
{
    auto* file = static_cast<MemoryFile*>(user);
    const sf_count_t base = whence == SEEK_CUR ? file->at : whence == SEEK_END ? Length(user) : 0;
    file->at = std::max<sf_count_t>(0, base + offset);
    return file->at;
}

sf_count_t Read(void* out, sf_count_t count, void* user)
{
    auto* file = static_cast<MemoryFile*>(user);
    const sf_count_t available = std::max<sf_count_t>(0, Length(user) - file->at);
    const sf_count_t n = std::min(count, available);
    std::memcpy(out, file->bytes.data() + file->at, static_cast<std::size_t>(n));
    file->at += n;
    return n;
}

sf_count_t Write(const void* in, sf_count_t count, void* user)
{
    auto* file = static_cast<MemoryFile*>(user);
    const std::size_t end = static_cast<std::size_t>(file->at + count);
    if (end > file->bytes.size())
        file->bytes.resize(end);
    std::memcpy(file->bytes.data() + file->at, in, static_cast<std::size_t>(count));
    file->at += count;
    return count;
}

sf_count_t Tell(void* user)
{
    return static_cast<MemoryFile*>(user)->at;
}

struct Closer {
    void operator()(SNDFILE* file) const { sf_close(file); }
};
using SoundFile = std::unique_ptr<SNDFILE, Closer>;

// The WAV file's bytes, or empty with `failure` set.
std::string EncodeFloatWav(const std::vector<float>& samples, int sampleRate, std::string& failure)
{
    SF_VIRTUAL_IO io{Length, Seek, Read, Write, Tell};
    MemoryFile memory;
    SF_INFO info{};
    info.samplerate = sampleRate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    {
        SoundFile file(sf_open_virtual(&io, SFM_WRITE, &info, &memory));
        if (!file) {
            failure = std::string("cannot encode the WAV file: ") + sf_strerror(nullptr);
            return {};
        }
        const auto count = static_cast<sf_count_t>(samples.size());
        if (sf_writef_float(file.get(), samples.data(), count) != count) {
            failure = std::string("cannot encode the WAV file: ") + sf_strerror(file.get());
            return {};
        }
    } // closing writes the header's final sizes
    return std::move(memory.bytes);
}

// Empty when the folder `path` goes into is there, else why not.
std::string FolderProblem(const std::string& path)
{
    std::filesystem::path folder = std::filesystem::path(path).parent_path();
    if (folder.empty())
        folder = ".";
    struct stat st;
    if (::stat(folder.c_str(), &st) != 0)
        return "cannot write " + path + ": " + std::strerror(errno);
    if (!S_ISDIR(st.st_mode))
        return "cannot write " + path + ": " + std::strerror(ENOTDIR);
    return {};
}

} // namespace

std::string WriteFloatWav(const std::string& path, const std::vector<float>& samples, int sampleRate)
{
    if (sampleRate <= 0)
        return "cannot write " + path + ": the sample rate " + std::to_string(sampleRate) + " Hz is not positive";
    if (std::string problem = FolderProblem(path); !problem.empty())
        return problem;
    std::string failure;
    const std::string bytes = EncodeFloatWav(samples, sampleRate, failure);
    if (!failure.empty())
        return failure;
    return ReplaceFileAtomically(path, bytes);
}

WavRead ReadMonoWav(const std::string& path)
{
    WavRead read;
    SF_INFO info{};
    SoundFile file(sf_open(path.c_str(), SFM_READ, &info));
    if (!file) {
        read.message = "cannot read " + path + ": " + sf_strerror(nullptr);
        return read;
    }
    if (info.channels != 1) {
        read.message = path + " has " + std::to_string(info.channels) + " channels, not one";
        return read;
    }
    read.samples.resize(static_cast<std::size_t>(info.frames));
    const sf_count_t got = sf_readf_float(file.get(), read.samples.data(), info.frames);
    if (got != info.frames) {
        read.samples.clear();
        read.message = "cannot read " + path + ": it ends early";
        return read;
    }
    read.sampleRate = info.samplerate;
    read.ok = true;
    return read;
}

} // namespace platform
