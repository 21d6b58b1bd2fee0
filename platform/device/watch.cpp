// inotify on folders of the device (see watch.h).
#include "device/watch.h"

#include <algorithm>
#include <cerrno>

#include <poll.h>
#include <unistd.h>

namespace wince::device {

FolderWatch::FolderWatch() : fd_(::inotify_init1(IN_CLOEXEC | IN_NONBLOCK)) {}

int FolderWatch::add(const std::filesystem::path& dir, uint32_t events)
{
    return ::inotify_add_watch(fd_.get(), dir.c_str(), events | IN_ONLYDIR);
}

int FolderWatch::wait(int timeout_ms)
{
    pollfd ready{fd_.get(), POLLIN, 0};
    int result;
    while ((result = ::poll(&ready, 1, timeout_ms)) < 0 && errno == EINTR) {
    }
    return result;
}

size_t FolderWatch::drain(const std::function<void(const FolderChange&)>& each)
{
    alignas(inotify_event) char buffer[8192];
    size_t count = 0;
    ssize_t n;
    while ((n = ::read(fd_.get(), buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR)) {
        for (const char* at = buffer; at < buffer + std::max<ssize_t>(n, 0);) {
            const auto* event = reinterpret_cast<const inotify_event*>(at);
            at += sizeof(inotify_event) + event->len;
            ++count;
            if (each)
                each({event->wd, event->mask, event->len ? event->name : ""});
        }
    }
    return count;
}

} // namespace wince::device
