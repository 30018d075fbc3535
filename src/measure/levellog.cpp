#include "measure/levellog.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <system_error>

#include <sys/stat.h>
#include <unistd.h>

namespace measure {
namespace {

std::string ErrnoText(int err)
{
    return std::error_code(err, std::generic_category()).message();
}

// A field as CSV wants it: quoted when it holds a separator, a quote or a
// line end.
std::string CsvField(const std::string& text)
{
    if (text.find_first_of(",\"\r\n") == std::string::npos)
        return text;
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"')
            quoted += '"';
        quoted += c;
    }
    return quoted + '"';
}

// Two decimals and a '.', never the locale's comma: the line must parse.
std::string CsvNumber(const std::optional<double>& value)
{
    if (!value || !std::isfinite(*value))
        return {};
    char text[48];
    const auto [end, error] = std::to_chars(text, text + sizeof text, *value, std::chars_format::fixed, 2);
    return error == std::errc() ? std::string(text, end) : std::string();
}

std::string Header(const std::string& unit)
{
    const std::string u = " (" + unit + ")";
    std::string line = "time";
    for (const char* name : {"LAeq", "LAFmax", "LCpeak"})
        for (const char* side : {" left", " right"})
            line += "," + CsvField(name + std::string(side) + u);
    return line + ",momentary (LUFS),short-term (LUFS)\n";
}

std::string Line(const LevelLogLine& line)
{
    std::string text = CsvField(line.time);
    for (const auto* levels : {line.laeq, line.lafmax, line.lcpeak})
        for (int side = 0; side < 2; ++side)
            text += "," + CsvNumber(levels[side]);
    return text + "," + CsvNumber(line.momentaryLufs) + "," + CsvNumber(line.shortTermLufs) + "\n";
}

} // namespace

LevelLog::~LevelLog()
{
    Close();
}

bool LevelLog::Open(const std::string& path, const std::string& unit)
{
    Close();
    error_.clear();
    path_ = path;
    written_ = 0;
    file_ = std::fopen(path.c_str(), "we");
    if (!file_) {
        error_ = "The level log " + path + " could not be created: " + ErrnoText(errno) + ".";
        return false;
    }
    struct stat st;
    if (::fstat(::fileno(file_), &st) == 0) {
        device_ = st.st_dev;
        inode_ = st.st_ino;
    }
    return Append(Header(unit));
}

bool LevelLog::Write(const LevelLogLine& line)
{
    if (!file_) {
        error_ = "The level log is not open.";
        return false;
    }
    if (!StillThere())
        return false;
    return Append(Line(line));
}

// Goes straight to the file descriptor: nothing waits in a buffer, and a
// failed line can be cut off again so the file ends with a whole line.
bool LevelLog::Append(const std::string& text)
{
    const int fd = ::fileno(file_);
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int err = n < 0 ? errno : ENOSPC;
            const bool leftPart = done > 0 && ::ftruncate(fd, static_cast<off_t>(written_)) != 0;
            Fail("writing failed: " + ErrnoText(err) + (leftPart ? " (it ends in part of a line)" : ""));
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    written_ += text.size();
    return true;
}

// A file that was removed or renamed since Open takes our lines where
// nobody finds them; the log stops instead.
bool LevelLog::StillThere()
{
    struct stat st;
    if (::stat(path_.c_str(), &st) == 0 && st.st_dev == device_ && st.st_ino == inode_)
        return true;
    Fail("the file is gone (removed, or its folder removed or renamed)");
    return false;
}

void LevelLog::Fail(const std::string& why)
{
    const bool started = written_ > 0;
    Close();
    error_ = "The level log " + path_ + (started ? " was stopped: " : " could not be started: ") + why + ".";
}

void LevelLog::Close()
{
    if (!file_)
        return;
    if (std::fclose(file_) != 0 && error_.empty())
        error_ = "The level log " + path_ + " could not be closed: " + ErrnoText(errno) + ".";
    file_ = nullptr;
}

} // namespace measure
