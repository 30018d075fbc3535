#include "platform/atomicfile.h"

#include <cerrno>
#include <filesystem>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

std::string ErrnoText(int err)
{
    return std::error_code(err, std::generic_category()).message();
}

std::string ParentDir(const std::string& path)
{
    std::filesystem::path parent = std::filesystem::path(path).parent_path();
    return parent.empty() ? "." : parent.string();
}

bool WriteAll(int fd, std::string_view data)
{
    while (!data.empty()) {
        ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        data.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

// A symbolic link (as dotfile managers make) is followed so that the link stays.
std::string WriteTarget(const std::string& path)
{
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        std::error_code ec;
        std::filesystem::path target = std::filesystem::weakly_canonical(path, ec);
        if (!ec)
            return target.string();
    }
    return path;
}

// Writes content to a new file beside target and renames it over target.
std::string ReplaceAtomically(const std::string& target, std::string_view content)
{
    const std::string dir = ParentDir(target);
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec)
        return "cannot create the folder " + dir + ": " + ec.message();

    std::string temp;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        temp = target + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(attempt);
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            return "cannot create " + temp + ": " + ErrnoText(errno);
    }
    if (fd < 0)
        return "cannot create a temporary file in " + dir;

    struct stat old;
    if (::stat(target.c_str(), &old) == 0)
        ::fchmod(fd, old.st_mode & 07777); // keep the permissions the user gave the file

    std::string failure;
    if (!WriteAll(fd, content))
        failure = "cannot write " + temp + ": " + ErrnoText(errno);
    else if (::fsync(fd) != 0)
        failure = "cannot flush " + temp + ": " + ErrnoText(errno);
    if (::close(fd) != 0 && failure.empty())
        failure = "cannot close " + temp + ": " + ErrnoText(errno);
    if (failure.empty() && ::rename(temp.c_str(), target.c_str()) != 0)
        failure = "cannot replace " + target + ": " + ErrnoText(errno);
    if (!failure.empty()) {
        ::unlink(temp.c_str());
        return failure;
    }

    // Make the rename itself durable. File systems that cannot sync a folder say EINVAL.
    int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        if (::fsync(dirFd) != 0 && errno != EINVAL)
            failure = "cannot flush the folder " + dir + ": " + ErrnoText(errno);
        ::close(dirFd);
    }
    return failure;
}

} // namespace

std::string ReplaceFileAtomically(const std::string& path, std::string_view content)
{
    return ReplaceAtomically(WriteTarget(path), content);
}

} // namespace platform
