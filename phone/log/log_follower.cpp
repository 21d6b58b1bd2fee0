#include "log/log_follower.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "device/device.h"
#include "device/files.h"

namespace phone {

LogNews LogFollower::read()
{
    namespace device = wince::device;
    LogNews news;
    device::Descriptor log(device::open_private(device::log_file(), O_RDONLY)); // never a FIFO's reader
    struct stat now {}, before {};
    if (!log || ::fstat(log.get(), &now) != 0)
        return news;
    if (log_ && (::fstat(log_.get(), &before) != 0 || before.st_ino != now.st_ino || before.st_dev != now.st_dev ||
                 now.st_size < offset_)) {
        news.restarted = true;
        *this = LogFollower();
    }
    log_ = std::move(log);
    char buffer[65536];
    ssize_t n;
    while ((n = ::pread(log_.get(), buffer, sizeof buffer, offset_)) > 0) {
        offset_ += n;
        pending_.append(buffer, static_cast<size_t>(n));
    }
    size_t start = 0;
    for (size_t end; (end = pending_.find('\n', start)) != std::string::npos; start = end + 1) {
        ++lines_;
        if (end == start)
            continue;
        std::string line = pending_.substr(start, end - start);
        nlohmann::json event = nlohmann::json::parse(line, nullptr, false);
        if (event.is_object())
            news.events.push_back({std::move(event), std::move(line)});
        else
            news.not_events.push_back(lines_);
    }
    pending_.erase(0, start);
    return news;
}

} // namespace phone
