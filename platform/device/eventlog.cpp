// Event log writer: each event, with what the writing thread is handling, is formatted in memory and appended with a
// single write() under an exclusive advisory lock, so lines from many
// processes never interleave, and a line that cannot be written whole is
// taken back.
#include "eventlog.h"

#include <cerrno>
#include <cmath>
#include <string>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "clock.h"
#include "device.h"
#include "files.h"

namespace wince::eventlog {
namespace {

// Appends `text` to the locked log, or nothing: a line that cannot be
// written whole (a full disk, a file size limit) is cut off again, so
// readers never meet half a line and later lines still start on their own.
void append_whole(int fd, const std::string& text)
{
    struct stat before {};
    if (::fstat(fd, &before) != 0)
        return;
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
    if (done != 0 && done < text.size())
        while (::ftruncate(fd, before.st_size) != 0 && errno == EINTR) {
        }
}

thread_local std::optional<Handling> thread_handling;

} // namespace

void set_handling(std::optional<Handling> handling) { thread_handling = handling; }

std::optional<Handling> handling() { return thread_handling; }

nlohmann::json handling_fields(std::optional<Handling> handling)
{
    if (!handling)
        return nlohmann::json::object();
    return {{"handling", handling->message}, {"handling_wparam", handling->wparam}};
}

void write(std::string_view event, const nlohmann::json& fields)
{
    nlohmann::json line = nlohmann::json::object();
    line["t"] = std::round(clock::now() * 1000.0) / 1000.0;
    line["pid"] = static_cast<long>(getpid());
    line["exe"] = device::program_name();
    line["event"] = std::string(event);
    if (thread_handling) {
        line["handling"] = thread_handling->message;
        line["handling_wparam"] = thread_handling->wparam;
    }
    if (fields.is_object())
        for (auto it = fields.begin(); it != fields.end(); ++it)
            line[it.key()] = *it;
    const std::string text = line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";

    int fd = device::open_private(device::log_file(), O_WRONLY | O_APPEND | O_CREAT);
    if (fd < 0)
        return;
    ::flock(fd, LOCK_EX);
    append_whole(fd, text);
    ::flock(fd, LOCK_UN);
    ::close(fd);
}

std::vector<nlohmann::json> read_all()
{
    std::vector<nlohmann::json> events;
    const int fd = device::open_private(device::log_file(), O_RDONLY);
    if (fd < 0)
        return events;
    const auto take = [&events](std::string_view line) {
        nlohmann::json event = nlohmann::json::parse(line, nullptr, false);
        if (event.is_object())
            events.push_back(std::move(event));
    };
    std::string pending;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        pending.append(buffer, static_cast<size_t>(n));
        size_t start = 0;
        for (size_t end; (end = pending.find('\n', start)) != std::string::npos; start = end + 1)
            take(std::string_view(pending).substr(start, end - start));
        pending.erase(0, start);
    }
    ::close(fd);
    if (!pending.empty())
        take(pending);
    return events;
}

} // namespace wince::eventlog
