// Files of the device folder.  The folder and everything the platform makes
// in it belong to the device's owner alone (folders 0700, files and sockets
// 0600), whatever the umask of the process that makes them: another user
// must not fake calls, rewrite the radio's state or lock the device's
// mutexes.
//
// Below the device folder no symbolic link is ever followed: each folder is
// opened relative to the one above it with O_NOFOLLOW, and what is opened
// must be a regular file or a folder.  A link, FIFO, socket or device node
// where the device keeps a file is refused (errno below, said in words by
// refusal()), and whatever a link points to is never read, written or
// chmod'ed.  The device folder itself is taken as named, links and all: the
// user chose it.
#pragma once

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include <unistd.h>

namespace wince::device {

// An open file descriptor, closed (errno kept) when its owner goes.
class Descriptor {
public:
    explicit Descriptor(int fd = -1) : fd_(fd) {}
    Descriptor(Descriptor&& other) noexcept : fd_(other.release()) {}
    Descriptor& operator=(Descriptor&& other) noexcept
    {
        reset(other.release());
        return *this;
    }
    ~Descriptor() { reset(); }
    int get() const { return fd_; }
    int release()
    {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void reset(int fd = -1)
    {
        if (fd_ >= 0) {
            const int saved = errno;
            ::close(fd_);
            errno = saved;
        }
        fd_ = fd;
    }
    explicit operator bool() const { return fd_ >= 0; }

private:
    int fd_;
};


// errno for an entry that is not what the device keeps there: ELOOP a
// symbolic link, ENXIO neither a regular file nor a folder (a FIFO, say),
// EISDIR a folder where a file belongs, ENOTDIR a link or a file where a
// folder on the way belongs,
// EFBIG a file larger than its reader takes.
// `file`'s failure with `error` in words: "DIR/registry.db: a symbolic link
// (the device follows none)".
std::string refusal(const std::filesystem::path& file, int error);

// Creates `dir` and its missing parents, each new folder the owner's alone;
// true when `dir` is a folder afterwards.  Inside the device only folders
// below an existing device folder are made (a program whose device was
// thrown away does not make it again).
bool make_private_dirs(const std::filesystem::path& dir);

// open(2) of the regular file `file` with `flags` (O_CLOEXEC and O_NOFOLLOW
// are added; it never blocks on a FIFO); a file it creates is the owner's
// alone.  -1 with errno on failure.
int open_private(const std::filesystem::path& file, int flags);

// Makes an existing file or socket the owner's alone; a link is left as it is.
void make_private(const std::filesystem::path& file);

// Replaces `file` whole with `bytes` (a temporary file renamed over it, so a
// reader sees the old or the new content, never a part).  False with errno
// set when it could not be written, e.g. ENOSPC on a full disk, or when
// `file` is there and not a regular file; `file` is then untouched.
bool replace_file(const std::filesystem::path& file, std::string_view bytes);

// The whole content of the regular file `file` when it is at most
// `max_bytes` long; nullopt with errno set (ENOENT when there is none).
std::optional<std::string> read_file(const std::filesystem::path& file, size_t max_bytes);

// What is left to read from the open file `fd` when it holds at most
// `max_bytes`; nullopt with errno set (EFBIG when it is larger, or grows
// larger while it is read).
std::optional<std::string> read_bounded(int fd, size_t max_bytes);

// Removes `path` and, when it is a folder, everything in it.  A link is
// removed itself, never what it points to.  False with errno set; a path
// that is not there is no failure.
bool remove_tree(const std::filesystem::path& path);

// The device lock.  Whole-device operations (init, boot, the demo's
// set-up) hold it while they run, so that two of them never clear run/ or
// the hive under each other.  It is an advisory lock on the device's
// marker file, the file that init writes to tell a device folder from any
// other.
class DeviceLock {
public:
    explicit DeviceLock(int fd) : fd_(fd) {}
    DeviceLock(DeviceLock&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    DeviceLock& operator=(DeviceLock&&) = delete;
    ~DeviceLock();

private:
    int fd_;
};

// How long a whole-device operation waits for another to finish.
inline constexpr std::chrono::seconds device_busy_wait{10};

// Locks the device at root(), first making it one when the folder does not
// exist (it is made, the owner's alone) or is empty.  Throws
// std::runtime_error with one line naming the folder when it is something
// else (a folder of the user's own, whose files must not be touched), or
// when another operation still holds the lock after `wait`.
DeviceLock claim_device(std::chrono::milliseconds wait = device_busy_wait);

// Locks the existing device at root(); throws as claim_device() does, and
// when the folder is not a device.
DeviceLock lock_device(std::chrono::milliseconds wait = device_busy_wait);

} // namespace wince::device
