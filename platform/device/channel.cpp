// The channel between the device's processes: one datagram socket per
// attached process at run/proc/<pid>.sock, read by a plain host thread that
// hands each JSON message to the handler of its "kind".  Emulates the
// cross-process delivery the Windows CE kernel does for posted messages;
// leaves out everything else of the kernel's IPC (no replies, no ordering
// between different senders, no security).
#include "channel.h"

#include <cerrno>
#include <cstddef>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "device/device.h"

namespace wince::channel {
namespace {

// Largest message accepted; the platform's messages are a few hundred bytes.
constexpr size_t max_message = 64 * 1024;

struct Listener {
    std::mutex mutex;
    std::map<std::string, Handler, std::less<>> handlers;
    int fd = -1;
    pid_t owner = 0; // the pid the socket was bound for (a forked child is not it)
    std::unique_ptr<std::thread> reader;
};

// Never destroyed: the reader thread and late senders may still use it while
// the process's static objects are torn down.
Listener& listener()
{
    static Listener* instance = new Listener;
    return *instance;
}

std::filesystem::path socket_dir() { return device::run_dir() / "proc"; }

std::string socket_name(uint32_t pid) { return std::to_string(pid) + ".sock"; }

// A unix socket address for process `pid`.  Device folders can lie deeper
// than sun_path allows; the folder is then reached through an open
// descriptor of it (/proc/self/fd/N/...), which `dir_fd` keeps open.
class Address {
public:
    explicit Address(uint32_t pid)
    {
        addr_.sun_family = AF_UNIX;
        path_ = (socket_dir() / socket_name(pid)).string();
        std::string path = path_;
        if (path.size() >= sizeof(addr_.sun_path)) {
            dir_fd_ = ::open(socket_dir().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
            if (dir_fd_ < 0)
                return;
            path = "/proc/self/fd/" + std::to_string(dir_fd_) + "/" + socket_name(pid);
        }
        valid_ = path.size() < sizeof(addr_.sun_path);
        path.copy(addr_.sun_path, sizeof(addr_.sun_path) - 1);
        length_ = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size() + 1);
    }
    ~Address()
    {
        if (dir_fd_ >= 0)
            ::close(dir_fd_);
    }
    Address(const Address&) = delete;
    Address& operator=(const Address&) = delete;

    bool valid() const { return valid_; }
    const sockaddr* get() const { return reinterpret_cast<const sockaddr*>(&addr_); }
    socklen_t length() const { return length_; }
    const std::string& file() const { return path_; }

private:
    sockaddr_un addr_{};
    socklen_t length_ = 0;
    int dir_fd_ = -1;
    bool valid_ = false;
    std::string path_;
};

void dispatch(const nlohmann::json& message)
{
    if (!message.is_object())
        return;
    auto kind = message.find("kind");
    if (kind == message.end() || !kind->is_string())
        return;
    Handler handler;
    {
        Listener& l = listener();
        std::lock_guard held(l.mutex);
        auto found = l.handlers.find(kind->get<std::string>());
        if (found == l.handlers.end())
            return; // a kind nobody here handles is ignored
        handler = found->second;
    }
    handler(message);
}

// Blocks in recv until a datagram arrives or stop() shuts the socket down.
void read_messages(int fd)
{
    std::vector<char> buffer(max_message);
    for (;;) {
        ssize_t n = ::recv(fd, buffer.data(), buffer.size(), MSG_TRUNC);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (n == 0)
            return; // shut down by stop(); nobody sends empty datagrams otherwise
        if (static_cast<size_t>(n) > buffer.size())
            continue; // truncated: not one of ours
        dispatch(nlohmann::json::parse(buffer.begin(), buffer.begin() + n, nullptr, false));
    }
}

} // namespace

void on(const std::string& kind, Handler handler)
{
    Listener& l = listener();
    std::lock_guard held(l.mutex);
    l.handlers[kind] = std::move(handler);
}

bool send(uint32_t pid, const nlohmann::json& message)
{
    if (pid == 0)
        return false;
    if (pid == static_cast<uint32_t>(::getpid())) {
        dispatch(message);
        return true;
    }
    const std::string text = message.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    if (text.size() > max_message)
        return false;
    Address address(pid);
    if (!address.valid())
        return false;
    int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    // A receiver's queue is short; its reader drains it quickly, but a
    // process that hangs must not hang its senders for ever.
    timeval limit{2, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    ssize_t sent;
    do
        sent = ::sendto(fd, text.data(), text.size(), 0, address.get(), address.length());
    while (sent < 0 && errno == EINTR);
    ::close(fd);
    return sent == static_cast<ssize_t>(text.size());
}

void listen()
{
    Listener& l = listener();
    std::lock_guard held(l.mutex);
    const pid_t self = ::getpid();
    if (l.owner == self && l.fd >= 0)
        return;
    if (l.owner != self) {
        // A forked child inherited its parent's listener, whose thread does
        // not exist here: the record is dropped, not joined.
        static_cast<void>(l.reader.release());
        if (l.fd >= 0)
            ::close(l.fd); // this process's copy only; the parent keeps listening
        l.fd = -1;
    }
    std::error_code ignored;
    std::filesystem::create_directories(socket_dir(), ignored);
    Address address(static_cast<uint32_t>(self));
    if (!address.valid())
        return;
    int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return;
    ::unlink(address.file().c_str()); // left by an earlier process with this pid
    if (::bind(fd, address.get(), address.length()) != 0) {
        ::close(fd);
        return;
    }
    l.fd = fd;
    l.owner = self;
    l.reader = std::make_unique<std::thread>(read_messages, fd);
}

void stop()
{
    Listener& l = listener();
    std::unique_ptr<std::thread> reader;
    int fd;
    {
        std::lock_guard held(l.mutex);
        if (l.owner != ::getpid() || l.fd < 0)
            return;
        fd = l.fd;
        l.fd = -1;
        reader = std::move(l.reader);
    }
    ::unlink((socket_dir() / socket_name(static_cast<uint32_t>(::getpid()))).c_str());
    ::shutdown(fd, SHUT_RDWR); // wakes the reader out of recv
    if (reader && reader->joinable())
        reader->join();
    ::close(fd);
}

} // namespace wince::channel
