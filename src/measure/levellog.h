// The level log: one CSV line per second written to a file and flushed line
// by line, so that a crash loses at most the last second. A write that fails
// (a full disk, a vanished folder) closes the log and keeps what was written.
// Numbers have a '.' for their decimal point whatever the locale.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

namespace measure {

// One second of the log; levels in the unit shown (dBFS or dB SPL),
// loudness in LUFS; std::nullopt is written as an empty field.
struct LevelLogLine {
    std::string time; // ISO 8601 local time of the end of the second
    std::optional<double> laeq[2], lafmax[2], lcpeak[2];
    std::optional<double> momentaryLufs, shortTermLufs;
};

class LevelLog {
public:
    LevelLog() = default;
    ~LevelLog();
    LevelLog(const LevelLog&) = delete;
    LevelLog& operator=(const LevelLog&) = delete;

    // Creates (or truncates) `path` and writes the header naming the unit.
    // False with Error() set when it cannot.
    bool Open(const std::string& path, const std::string& unit);
    bool IsOpen() const { return file_ != nullptr; }
    // Writes and flushes one line; on failure closes the log, keeps the
    // file as it was before the line and returns false with Error() set.
    // A log whose file was removed or renamed (its folder with it) is
    // stopped the same way: writing on would lose every line unseen.
    bool Write(const LevelLogLine& line);
    void Close();
    const std::string& Error() const { return error_; }

private:
    bool Append(const std::string& text);
    bool StillThere();
    void Fail(const std::string& why);

    std::FILE* file_ = nullptr;
    std::string path_;
    std::string error_;
    uint64_t written_ = 0;            // bytes of whole lines in the file
    uint64_t device_ = 0, inode_ = 0; // which file path_ named when opened
};

} // namespace measure
