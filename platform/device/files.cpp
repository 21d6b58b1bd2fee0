// Owner-only folders and files, whole-file replacement, reading and removal
// without following links, and the device's marker and lock.  Modes are set
// with fchmod after creation because open(2) and mkdir(2) only ever take
// bits away according to the umask.
#include "files.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "device.h"

namespace wince::device {
namespace {

namespace fs = std::filesystem;

constexpr mode_t private_folder = 0700;
constexpr mode_t private_file = 0600;

// Tells a device folder from any other; made by claim_device() and held
// locked by whole-device operations.
constexpr const char* marker_name = ".wince-device";
constexpr std::string_view marker_text = "This folder is an emulated phone; 'phone init' made it.\n";

// A listing of the open folder `dir` from its first entry; null with errno
// set when it cannot be read.
DIR* list_folder(int dir)
{
    const int copy = ::dup(dir);
    DIR* listing = copy >= 0 ? ::fdopendir(copy) : nullptr;
    if (!listing && copy >= 0)
        ::close(copy);
    if (listing)
        ::rewinddir(listing); // the copy shares the offset an earlier listing left
    return listing;
}

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

// After openat() failed on `name` in `dir`: ELOOP when it is a link, else
// errno as it was.
void explain_failed_open(int dir, const char* name)
{
    const int saved = errno;
    struct stat status {};
    errno = ::fstatat(dir, name, &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(status.st_mode) ? ELOOP : saved;
}

// Opens the folder `name` in `dir` without following a link, making it
// (the owner's alone) when it is missing and `create` is set.
Descriptor open_folder_at(int dir, const char* name, bool create)
{
    constexpr int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    Descriptor folder(::openat(dir, name, flags));
    if (!folder && errno == ENOENT && create) {
        const bool made = ::mkdirat(dir, name, private_folder) == 0;
        if (!made && errno != EEXIST)
            return folder;
        folder.reset(::openat(dir, name, flags));
        if (folder && made)
            ::fchmod(folder.get(), private_folder);
    }
    if (!folder)
        explain_failed_open(dir, name);
    return folder;
}

// The path of `path` below the device folder ("run/proc"), or nullopt when
// `path` is not inside it.
std::optional<fs::path> inside_device(const fs::path& path)
{
    const fs::path relative =
        fs::absolute(path).lexically_normal().lexically_relative(fs::absolute(root()).lexically_normal());
    if (relative.empty() || *relative.begin() == "..")
        return std::nullopt;
    if (relative == ".")
        return fs::path();
    return relative;
}

// Creates `dir` and its missing parents by path, as for a folder outside
// the device (the device folder itself, a user's export).
bool make_dirs_by_path(const fs::path& dir)
{
    std::error_code error;
    if (fs::is_directory(dir, error))
        return true;
    const auto parent = dir.parent_path();
    if (!parent.empty() && parent != dir && !make_dirs_by_path(parent))
        return false;
    if (::mkdir(dir.c_str(), private_folder) == 0)
        return ::chmod(dir.c_str(), private_folder) == 0;
    return errno == EEXIST && fs::is_directory(dir, error);
}

// An open descriptor of the folder `dir`: inside the device reached from
// the device folder one folder at a time, following no link; elsewhere by
// its path.
Descriptor open_folder(const fs::path& dir, bool create)
{
    const auto relative = inside_device(dir);
    if (!relative) {
        if (create && !make_dirs_by_path(dir))
            return Descriptor();
        return Descriptor(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    }
    Descriptor folder(::open(root().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    for (const auto& name : *relative) {
        if (!folder)
            break;
        folder = open_folder_at(folder.get(), name.c_str(), create);
    }
    if (!folder && errno == ELOOP)
        errno = ENOTDIR;
    return folder;
}

// The folder that holds `file` and the file's name in it.
struct Place {
    Descriptor folder;
    std::string name;
};

std::optional<Place> place_of(const fs::path& file, bool create)
{
    const fs::path absolute = fs::absolute(file).lexically_normal();
    Place place{open_folder(absolute.parent_path(), create), absolute.filename().string()};
    if (!place.folder || place.name.empty()) {
        if (place.name.empty())
            errno = EISDIR;
        return std::nullopt;
    }
    return place;
}

// openat() of the regular file `name` in `dir`, never following a link nor
// blocking on a FIFO.
int open_file_at(int dir, const char* name, int flags)
{
    int fd;
    do
        fd = ::openat(dir, name, flags | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, private_file);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        if (errno == ENXIO || errno == ENODEV || errno == EWOULDBLOCK)
            errno = ENXIO; // a FIFO without a reader, a socket, a device node
        else
            explain_failed_open(dir, name);
        return -1;
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        errno = S_ISDIR(status.st_mode) ? EISDIR : ENXIO;
        return -1;
    }
    if (!(flags & O_NONBLOCK))
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    // Only what this process owns is its to tighten; a file of the device's
    // owner made by another of its processes is already private.
    if ((flags & O_CREAT) && status.st_uid == ::geteuid())
        ::fchmod(fd, private_file);
    return fd;
}

bool remove_at(int dir, const char* name)
{
    struct stat status {};
    if (::fstatat(dir, name, &status, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT;
    if (!S_ISDIR(status.st_mode))
        return ::unlinkat(dir, name, 0) == 0 || errno == ENOENT;
    Descriptor folder(::openat(dir, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!folder)
        return errno == ENOENT;
    // A program still running may add an entry while the folder is emptied.
    for (int attempt = 0; attempt < 3; ++attempt) {
        DIR* listing = list_folder(folder.get());
        if (!listing)
            return false;
        bool emptied = true;
        while (const dirent* entry = ::readdir(listing)) {
            const std::string_view entry_name = entry->d_name;
            if (entry_name != "." && entry_name != "..")
                emptied = remove_at(folder.get(), entry->d_name) && emptied;
        }
        ::closedir(listing);
        if (!emptied)
            return false;
        if (::unlinkat(dir, name, AT_REMOVEDIR) == 0 || errno == ENOENT)
            return true;
        if (errno != ENOTEMPTY)
            return false;
    }
    return false;
}

Descriptor open_marker(int dir, int flags)
{
    Descriptor marker(open_file_at(dir, marker_name, flags | O_RDWR));
    if (!marker && errno != ENOENT)
        throw std::runtime_error(refusal(root() / marker_name, errno));
    return marker;
}

bool folder_is_empty(int dir)
{
    DIR* listing = list_folder(dir);
    if (!listing)
        return false;
    bool empty = true;
    while (const dirent* entry = ::readdir(listing))
        if (std::string_view(entry->d_name) != "." && std::string_view(entry->d_name) != "..")
            empty = false;
    ::closedir(listing);
    return empty;
}

DeviceLock hold(Descriptor marker, std::chrono::milliseconds wait)
{
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (::flock(marker.get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR)
            throw std::runtime_error("cannot lock the device " + root().string() + ": " + std::strerror(errno));
        if (std::chrono::steady_clock::now() >= deadline)
            throw std::runtime_error("the device " + root().string() +
                                     " is busy: another init or boot is still running on it");
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return DeviceLock(marker.release());
}

Descriptor open_device_folder(bool create)
{
    const fs::path dir = root();
    bool made = false;
    if (create) {
        made = ::mkdir(dir.c_str(), private_folder) == 0;
        if (!made && errno == ENOENT)
            made = make_dirs_by_path(dir);
    }
    Descriptor folder(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder) {
        if (errno == ENOTDIR)
            throw std::runtime_error(dir.string() + " exists and is not a folder");
        throw std::runtime_error("cannot open the device folder " + dir.string() + ": " + std::strerror(errno));
    }
    // A folder made here is the device's own; one the user made keeps its mode.
    if (made)
        ::fchmod(folder.get(), private_folder);
    return folder;
}

} // namespace

std::string refusal(const fs::path& file, int error)
{
    switch (error) {
    case ELOOP:
        return file.string() + ": a symbolic link (the device follows none)";
    case ENXIO:
        return file.string() + ": not a regular file";
    case EISDIR:
        return file.string() + ": a folder, not a file";
    case ENOTDIR:
        return file.string() + ": a folder on its path is a symbolic link or no folder";
    case EFBIG:
        return file.string() + ": too large";
    default:
        return file.string() + ": " + std::strerror(error);
    }
}

bool make_private_dirs(const fs::path& dir)
{
    if (!inside_device(dir) || inside_device(dir)->empty())
        return make_dirs_by_path(dir);
    return static_cast<bool>(open_folder(dir, true));
}

int open_private(const fs::path& file, int flags)
{
    auto place = place_of(file, (flags & O_CREAT) != 0);
    return place ? open_file_at(place->folder.get(), place->name.c_str(), flags) : -1;
}

void make_private(const fs::path& file) { ::fchmodat(AT_FDCWD, file.c_str(), private_file, AT_SYMLINK_NOFOLLOW); }

bool replace_file(const fs::path& file, std::string_view bytes)
{
    auto place = place_of(file, true);
    if (!place)
        return false;
    const int dir = place->folder.get();
    struct stat status {};
    if (::fstatat(dir, place->name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISREG(status.st_mode)) {
        errno = S_ISLNK(status.st_mode) ? ELOOP : S_ISDIR(status.st_mode) ? EISDIR : ENXIO;
        return false;
    }
    const std::string temp = place->name + "." + std::to_string(::gettid()) + ".tmp";
    ::unlinkat(dir, temp.c_str(), 0); // left by a thread of an earlier process with this id
    const int fd = open_file_at(dir, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL);
    if (fd < 0)
        return false;
    bool written = write_all(fd, bytes);
    int saved = errno;
    if (::close(fd) != 0 && written) {
        written = false;
        saved = errno;
    }
    if (written && ::renameat(dir, temp.c_str(), dir, place->name.c_str()) == 0)
        return true;
    if (written)
        saved = errno;
    ::unlinkat(dir, temp.c_str(), 0);
    errno = saved;
    return false;
}

std::optional<std::string> read_bounded(int fd, size_t max_bytes)
{
    struct stat status {};
    if (::fstat(fd, &status) != 0)
        return std::nullopt;
    if (static_cast<uintmax_t>(status.st_size) > max_bytes) {
        errno = EFBIG;
        return std::nullopt;
    }
    std::string text;
    char buffer[16384];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return std::nullopt;
        if (n == 0)
            return text;
        text.append(buffer, static_cast<size_t>(n));
        // The file may grow while it is read.
        if (text.size() > max_bytes) {
            errno = EFBIG;
            return std::nullopt;
        }
    }
}

std::optional<std::string> read_file(const fs::path& file, size_t max_bytes)
{
    Descriptor fd(open_private(file, O_RDONLY));
    if (!fd)
        return std::nullopt;
    return read_bounded(fd.get(), max_bytes);
}

bool remove_tree(const fs::path& path)
{
    auto place = place_of(path, false);
    if (!place)
        return errno == ENOENT;
    return remove_at(place->folder.get(), place->name.c_str());
}

DeviceLock::~DeviceLock()
{
    if (fd_ >= 0)
        ::close(fd_);
}

DeviceLock claim_device(std::chrono::milliseconds wait)
{
    const Descriptor folder = open_device_folder(true);
    for (;;) {
        if (Descriptor marker = open_marker(folder.get(), 0))
            return hold(std::move(marker), wait);
        if (!folder_is_empty(folder.get()))
            throw std::runtime_error(root().string() +
                                     " is not a device and not empty: give a new or empty folder (nothing in it was touched)");
        Descriptor marker(open_file_at(folder.get(), marker_name, O_RDWR | O_CREAT | O_EXCL));
        if (!marker && errno == EEXIST)
            continue; // another init marked it first
        if (!marker)
            throw std::runtime_error(refusal(root() / marker_name, errno));
        write_all(marker.get(), marker_text);
        return hold(std::move(marker), wait);
    }
}

DeviceLock lock_device(std::chrono::milliseconds wait)
{
    const Descriptor folder = open_device_folder(false);
    Descriptor marker = open_marker(folder.get(), 0);
    if (!marker)
        throw std::runtime_error(root().string() + " is not a device: run 'phone init' first");
    return hold(std::move(marker), wait);
}

} // namespace wince::device
