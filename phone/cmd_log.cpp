// phone log: the device's event log, one readable line per event or the raw
// JSON lines; --follow keeps printing what the device's processes append,
// woken by inotify.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common.h"
#include "device/device.h"

namespace phone {
namespace {

namespace device = wince::device;

struct LogOptions {
    bool follow = false;
    bool json = false;
};

// "  55.012  CallTicker.exe  4242  reg.set  key=HKLM\Software value=Enabled"
std::string readable(const std::string& line)
{
    const nlohmann::json event = nlohmann::json::parse(line, nullptr, false);
    if (!event.is_object())
        return line;
    char head[64];
    const double t = event.value("t", 0.0);
    std::snprintf(head, sizeof head, "%10.3f", t / 1000.0);
    std::string text = head;
    text += "  " + event.value("exe", std::string("?"));
    text += "  " + (event.contains("pid") ? event["pid"].dump() : std::string("?"));
    text += "  " + event.value("event", std::string("?"));
    for (auto it = event.begin(); it != event.end(); ++it) {
        if (it.key() == "t" || it.key() == "exe" || it.key() == "pid" || it.key() == "event")
            continue;
        std::string value;
        if (it->is_string() && it->get<std::string>().find_first_of(" \"=") == std::string::npos &&
            !it->get<std::string>().empty())
            value = it->get<std::string>();
        else
            value = it->dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
        text += "  " + it.key() + "=" + value;
    }
    return text;
}

void print_line(const std::string& line, const LogOptions& options)
{
    if (line.empty())
        return;
    const std::string text = options.json ? line : readable(line);
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\n', stdout);
}

// Reads the log from `offset`, printing complete lines; a partial last line
// waits for the rest.  A log that shrank or was replaced starts again.
class LogReader {
public:
    explicit LogReader(const LogOptions& options) : options_(options) {}

    void drain()
    {
        struct stat info {};
        if (::stat(device::log_file().c_str(), &info) != 0)
            return;
        if (info.st_ino != inode_ || static_cast<off_t>(offset_) > info.st_size) {
            inode_ = info.st_ino;
            offset_ = 0;
            pending_.clear();
        }
        const int fd = ::open(device::log_file().c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return;
        char buffer[65536];
        for (;;) {
            const ssize_t n = ::pread(fd, buffer, sizeof buffer, static_cast<off_t>(offset_));
            if (n <= 0)
                break;
            offset_ += static_cast<size_t>(n);
            pending_.append(buffer, static_cast<size_t>(n));
        }
        ::close(fd);
        size_t start = 0;
        for (size_t end; (end = pending_.find('\n', start)) != std::string::npos; start = end + 1)
            print_line(pending_.substr(start, end - start), options_);
        pending_.erase(0, start);
        std::fflush(stdout);
    }

private:
    const LogOptions& options_;
    ino_t inode_ = 0;
    size_t offset_ = 0;
    std::string pending_;
};

[[noreturn]] void follow(LogReader& reader)
{
    const int watcher = ::inotify_init1(IN_CLOEXEC);
    if (watcher < 0)
        throw Failure(std::string("cannot watch the log: ") + std::strerror(errno));
    // The folder is watched, not the file, so a log that init replaces is
    // still seen.
    const auto dir = device::root();
    if (::inotify_add_watch(watcher, dir.c_str(), IN_MODIFY | IN_CREATE | IN_MOVED_TO | IN_CLOSE_WRITE) < 0)
        throw Failure("cannot watch " + dir.string() + ": " + std::strerror(errno));
    alignas(inotify_event) char events[4096];
    for (;;) {
        const ssize_t n = ::read(watcher, events, sizeof events);
        if (n < 0 && errno != EINTR)
            throw Failure(std::string("cannot watch the log: ") + std::strerror(errno));
        reader.drain();
    }
}

void show_log(const LogOptions& options)
{
    if (!options.follow && !std::filesystem::exists(device::log_file()))
        throw Failure("no event log at " + device::log_file().string() + " (run phone init first)");
    LogReader reader(options);
    reader.drain();
    if (options.follow)
        follow(reader);
}

} // namespace

void add_log_commands(CLI::App& app)
{
    auto options = std::make_shared<LogOptions>();
    CLI::App* cmd = app.add_subcommand("log", "The event log, readable or raw");
    cmd->add_flag("--follow,-f", options->follow, "Keep printing new events as they come");
    cmd->add_flag("--json", options->json, "Raw JSON lines as the device writes them");
    cmd->callback([options] { show_log(*options); });
}

} // namespace phone
