// Changes in folders of the device, as inotify tells them: one descriptor
// for any number of folders, to sleep on in poll() beside others.  Folders
// are watched rather than files, because the device replaces files whole
// (a new file renamed over the old one), which a watch on the file itself
// would not outlive.  Leaves out recursion: a folder made later is watched
// only when its watcher adds it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

#include <sys/inotify.h>

#include "device/files.h"

namespace wince::device {

// One change to an entry of a watched folder.
struct FolderChange {
    int folder = -1;  // as FolderWatch::add returned it
    uint32_t mask = 0; // IN_* bits
    std::string name; // the entry; empty when the change is to the folder itself
};

class FolderWatch {
public:
    // An entry appended to, made, removed or renamed into the folder: all a
    // reader of the device's files needs to learn that it should look again.
    static constexpr uint32_t changes = IN_MODIFY | IN_CREATE | IN_DELETE | IN_MOVED_TO;

    // Watches nothing yet; false as a bool, with errno set, when inotify is
    // not to be had.
    FolderWatch();
    explicit operator bool() const { return static_cast<bool>(fd_); }
    int fd() const { return fd_.get(); }

    // Watches the folder `dir` for `events` (IN_DONT_FOLLOW among them
    // when a link there must not be taken for the folder); the watch's
    // number, or -1 with errno set (ENOTDIR when `dir` is no folder).
    int add(const std::filesystem::path& dir, uint32_t events = changes);

    // Sleeps until a change is there to read, at most `timeout_ms` (-1:
    // without end), as poll(2) does: 1 when one is there, 0 when the time
    // ran out, -1 with errno set on failure.
    int wait(int timeout_ms);

    // Reads every change there is without waiting, handing each to `each`;
    // how many there were.
    size_t drain(const std::function<void(const FolderChange&)>& each = {});

private:
    Descriptor fd_;
};

} // namespace wince::device
