// Owner-only folders and files, and whole-file replacement.  Modes are set
// with chmod after creation because open(2) and mkdir(2) only ever take
// bits away according to the umask.
#include "files.h"

#include <cerrno>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace wince::device {
namespace {

constexpr mode_t private_folder = 0700;
constexpr mode_t private_file = 0600;

bool write_all(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC;
            return false;
        }
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

} // namespace

bool make_private_dirs(const std::filesystem::path& dir)
{
    std::error_code error;
    if (std::filesystem::is_directory(dir, error))
        return true;
    const auto parent = dir.parent_path();
    if (!parent.empty() && parent != dir && !make_private_dirs(parent))
        return false;
    if (::mkdir(dir.c_str(), private_folder) == 0)
        return ::chmod(dir.c_str(), private_folder) == 0;
    return errno == EEXIST && std::filesystem::is_directory(dir, error);
}

int open_private(const std::filesystem::path& file, int flags)
{
    int fd;
    do
        fd = ::open(file.c_str(), flags | O_CLOEXEC, private_file);
    while (fd < 0 && errno == EINTR);
    if (fd >= 0 && (flags & O_CREAT)) {
        struct stat status {};
        // Only what this process owns is its to tighten; a file of the
        // device's owner made by another of its processes is already private.
        if (::fstat(fd, &status) == 0 && status.st_uid == ::geteuid())
            ::fchmod(fd, private_file);
    }
    return fd;
}

void make_private(const std::filesystem::path& file) { ::chmod(file.c_str(), private_file); }

bool replace_file(const std::filesystem::path& file, std::string_view bytes)
{
    if (!make_private_dirs(file.parent_path()))
        return false;
    const std::filesystem::path temp = file.string() + "." + std::to_string(::gettid()) + ".tmp";
    const int fd = open_private(temp, O_WRONLY | O_CREAT | O_TRUNC);
    if (fd < 0)
        return false;
    bool written = write_all(fd, bytes);
    int saved = errno;
    if (::close(fd) != 0 && written) {
        written = false;
        saved = errno;
    }
    if (written && ::rename(temp.c_str(), file.c_str()) == 0)
        return true;
    if (written)
        saved = errno;
    ::unlink(temp.c_str());
    errno = saved;
    return false;
}

} // namespace wince::device
