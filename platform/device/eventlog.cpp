// Event log writer: each event is formatted in memory and appended with a
// single write() under an exclusive advisory lock, so lines from many
// processes never interleave.
#include "eventlog.h"

#include <cmath>
#include <fstream>
#include <string>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "clock.h"
#include "device.h"

namespace wince::eventlog {

void write(std::string_view event, const nlohmann::json& fields)
{
    nlohmann::json line = nlohmann::json::object();
    line["t"] = std::round(clock::now() * 1000.0) / 1000.0;
    line["pid"] = static_cast<long>(getpid());
    line["exe"] = device::program_name();
    line["event"] = std::string(event);
    if (fields.is_object())
        for (auto it = fields.begin(); it != fields.end(); ++it)
            line[it.key()] = *it;
    const std::string text = line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";

    const auto path = device::log_file();
    int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    ::flock(fd, LOCK_EX);
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
    ::flock(fd, LOCK_UN);
    ::close(fd);
}

std::vector<nlohmann::json> read_all()
{
    std::vector<nlohmann::json> events;
    std::ifstream in(device::log_file());
    std::string text;
    while (std::getline(in, text)) {
        nlohmann::json event = nlohmann::json::parse(text, nullptr, false);
        if (event.is_object())
            events.push_back(std::move(event));
    }
    return events;
}

} // namespace wince::eventlog
