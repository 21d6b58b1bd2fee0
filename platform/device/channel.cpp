// The channel between the device's processes: one datagram socket per
// attached process at run/proc/<pid>.sock, read by a plain host thread that
// checks each JSON message against its kind's schema and hands it to the
// kind's handler.  Emulates the cross-process delivery the Windows CE kernel
// does for posted messages; leaves out everything else of the kernel's IPC
// (no replies, no ordering between different senders).  Its only security
// is the host's: the socket is the owner's alone and a datagram counts only
// when its sender runs as the same user.
#include "channel.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "device/device.h"
#include "device/eventlog.h"
#include "device/files.h"

namespace wince::channel {
namespace {

// Largest message accepted; the platform's messages are a few hundred bytes.
constexpr size_t max_message = 64 * 1024;

struct Registration {
    Schema schema;
    Handler handler;
};

struct Listener {
    std::mutex mutex;
    std::map<std::string, Registration, std::less<>> kinds;
    std::set<std::string, std::less<>> rejected; // reasons already logged
    int fd = -1;
    pid_t owner = 0; // the pid the socket was bound for (a forked child is not it)
    std::atomic<bool> stopping{false};
    std::atomic<bool> end_with_device{false};
    int device_watch = -1; // inotify on the folders that hold the socket, or -1
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

// Logs `reason` the first time this process rejects a message for it.
void reject(const std::string& reason)
{
    {
        Listener& l = listener();
        std::lock_guard held(l.mutex);
        if (!l.rejected.insert(reason).second)
            return;
    }
    eventlog::write("channel.reject", {{"reason", reason}});
}

// An integer that is not negative, however the JSON library stores it.
std::optional<uint64_t> unsigned_value(const nlohmann::json& value)
{
    if (value.is_number_unsigned())
        return value.get<uint64_t>();
    if (value.is_number_integer() && value.get<int64_t>() >= 0)
        return static_cast<uint64_t>(value.get<int64_t>());
    return std::nullopt;
}

bool is_u32(const nlohmann::json& value)
{
    const auto number = unsigned_value(value);
    return number && *number <= std::numeric_limits<uint32_t>::max();
}

bool has_type(const nlohmann::json& value, const Field& field)
{
    switch (field.type) {
    case Type::u32:
        return is_u32(value);
    case Type::u64:
        return unsigned_value(value).has_value();
    case Type::i64:
        return value.is_number_integer() &&
               (!value.is_number_unsigned() ||
                value.get<uint64_t>() <= static_cast<uint64_t>(std::numeric_limits<int64_t>::max()));
    case Type::boolean:
        return value.is_boolean();
    case Type::text:
        return value.is_string();
    case Type::u32_list:
        return value.is_array() && value.size() <= field.max_items &&
               std::all_of(value.begin(), value.end(), is_u32);
    }
    return false;
}

const char* type_name(Type type)
{
    switch (type) {
    case Type::u32: return "an unsigned 32-bit integer";
    case Type::u64: return "an unsigned 64-bit integer";
    case Type::i64: return "a signed 64-bit integer";
    case Type::boolean: return "true or false";
    case Type::text: return "a string";
    case Type::u32_list: return "a short list of unsigned 32-bit integers";
    }
    return "?";
}

// The registration for a message's kind (a copy: a kind may be registered
// again meanwhile), or why the message has none.
std::optional<Registration> registration_of(const nlohmann::json& message, std::string& reason)
{
    if (!message.is_object()) {
        reason = message.is_discarded() ? "not JSON" : "not a JSON object";
        return std::nullopt;
    }
    auto kind = message.find("kind");
    if (kind == message.end() || !kind->is_string()) {
        reason = "no kind";
        return std::nullopt;
    }
    Listener& l = listener();
    std::lock_guard held(l.mutex);
    auto found = l.kinds.find(kind->get_ref<const std::string&>());
    if (found == l.kinds.end()) {
        reason = "unknown kind";
        return std::nullopt;
    }
    return found->second;
}

void dispatch(const nlohmann::json& message)
{
    std::string reason;
    const std::optional<Registration> registration = registration_of(message, reason);
    if (!registration) {
        reject(reason);
        return;
    }
    const std::string& kind = message["kind"].get_ref<const std::string&>();
    reason = violation(message, kind, registration->schema);
    if (!reason.empty()) {
        reject(reason);
        return;
    }
    try {
        registration->handler(message);
    } catch (const std::exception&) {
        reject(kind + ": its handler failed");
    }
}

// The sender's user, from the credentials the kernel attaches to each
// datagram (SO_PASSCRED); none when they are missing.
std::optional<uid_t> sender_of(msghdr& header)
{
    for (cmsghdr* c = CMSG_FIRSTHDR(&header); c; c = CMSG_NXTHDR(&header, c))
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_CREDENTIALS && c->cmsg_len >= CMSG_LEN(sizeof(ucred))) {
            ucred credentials;
            std::memcpy(&credentials, CMSG_DATA(c), sizeof credentials);
            return credentials.uid;
        }
    return std::nullopt;
}

// Watches the folders on the way to the socket `file`: any entry of its
// folder removed or renamed, or any of them removed or moved.  -1 when
// inotify is not to be had; the process then lives on as before.
int watch_device(const std::string& file)
{
    const int watch = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (watch < 0)
        return -1;
    constexpr uint32_t gone = IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR | IN_DONT_FOLLOW;
    const std::filesystem::path folder = std::filesystem::path(file).parent_path();
    bool watched = ::inotify_add_watch(watch, folder.c_str(), gone | IN_DELETE | IN_MOVED_FROM) >= 0;
    for (const auto& above : {device::run_dir(), device::root()})
        watched = watched && ::inotify_add_watch(watch, above.c_str(), gone) >= 0;
    if (!watched) {
        ::close(watch);
        return -1;
    }
    return watch;
}

// Whether the socket `file` this process bound (inode `inode`) is still
// where other processes look for it.
bool still_reachable(const std::string& file, ino_t inode)
{
    struct stat status {};
    return ::lstat(file.c_str(), &status) == 0 && status.st_ino == inode;
}

// Blocks until a datagram arrives; returns when stop() has shut the socket
// down, and only then.  With `watch` (see watch_device) the process ends
// when its socket has gone.
void read_messages(int fd, int watch, std::string file, ino_t inode)
{
    std::vector<char> buffer(max_message);
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred))];
    const uid_t owner = ::getuid();
    for (;;) {
        if (watch >= 0) {
            pollfd waits[] = {{fd, POLLIN, 0}, {watch, POLLIN, 0}};
            if (::poll(waits, 2, -1) < 0 && errno != EINTR && errno != ENOMEM)
                return;
            if (listener().stopping.load())
                return;
            if (waits[1].revents & POLLIN) {
                alignas(inotify_event) char events[4096];
                while (::read(watch, events, sizeof events) > 0) {
                }
                // Thrown away with its device: there is no log left to
                // write to, nor anyone to ask this process to end.
                if (!still_reachable(file, inode))
                    ::_exit(1);
            }
            if (!(waits[0].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
        }
        iovec data{buffer.data(), buffer.size()};
        msghdr header{};
        header.msg_iov = &data;
        header.msg_iovlen = 1;
        header.msg_control = control;
        header.msg_controllen = sizeof control;
        const ssize_t n = ::recvmsg(fd, &header, MSG_TRUNC | MSG_CMSG_CLOEXEC);
        if (listener().stopping.load())
            return;
        if (n < 0) {
            // A signal or a short-lived lack of memory; nothing a sender
            // does makes the socket itself unusable.
            if (errno == EINTR || errno == ENOMEM || errno == ENOBUFS)
                continue;
            return;
        }
        if (sender_of(header) != owner)
            reject("sender is not the device's owner");
        else if (n == 0)
            reject("empty datagram");
        else if (static_cast<size_t>(n) > buffer.size() || (header.msg_flags & MSG_TRUNC))
            reject("datagram too large");
        else
            dispatch(nlohmann::json::parse(buffer.begin(), buffer.begin() + n, nullptr, false));
    }
}

} // namespace

void on(const std::string& kind, Schema schema, Handler handler)
{
    Listener& l = listener();
    std::lock_guard held(l.mutex);
    l.kinds.insert_or_assign(kind, Registration{std::move(schema), std::move(handler)});
}

std::string violation(const nlohmann::json& message, const std::string& kind, const Schema& schema)
{
    size_t known = 1; // "kind"
    for (const Field& field : schema) {
        auto value = message.find(field.name);
        if (value == message.end()) {
            if (field.required)
                return kind + ": " + field.name + " is missing";
            continue;
        }
        ++known;
        if (!has_type(*value, field))
            return kind + ": " + field.name + " is not " + type_name(field.type);
    }
    if (known != message.size())
        return kind + ": a field it does not have";
    return {};
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
        if (l.device_watch >= 0)
            ::close(l.device_watch);
        l.fd = l.device_watch = -1;
    }
    if (!device::make_private_dirs(socket_dir()))
        return;
    Address address(static_cast<uint32_t>(self));
    if (!address.valid())
        return;
    int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return;
    const int pass_credentials = 1;
    ::unlink(address.file().c_str()); // left by an earlier process with this pid
    if (::setsockopt(fd, SOL_SOCKET, SO_PASSCRED, &pass_credentials, sizeof pass_credentials) != 0 ||
        ::bind(fd, address.get(), address.length()) != 0) {
        ::close(fd);
        return;
    }
    // bind() makes the socket file by the umask; the folder is private
    // already, so nobody else can reach it before this.
    device::make_private(address.file());
    struct stat bound {};
    if (l.end_with_device.load() && ::lstat(address.file().c_str(), &bound) == 0)
        l.device_watch = watch_device(address.file());
    l.fd = fd;
    l.owner = self;
    l.stopping.store(false);
    l.reader = std::make_unique<std::thread>(read_messages, fd, l.device_watch, address.file(), bound.st_ino);
}

void stop()
{
    Listener& l = listener();
    std::unique_ptr<std::thread> reader;
    int fd, watch;
    {
        std::lock_guard held(l.mutex);
        if (l.owner != ::getpid() || l.fd < 0)
            return;
        fd = l.fd;
        watch = l.device_watch;
        l.fd = l.device_watch = -1;
        reader = std::move(l.reader);
    }
    // Stopping first: the reader must not take its own socket's removal for
    // the device's.
    l.stopping.store(true);
    ::unlink((socket_dir() / socket_name(static_cast<uint32_t>(::getpid()))).c_str());
    ::shutdown(fd, SHUT_RDWR); // wakes the reader out of recvmsg or poll
    if (reader && reader->joinable())
        reader->join();
    ::close(fd);
    if (watch >= 0)
        ::close(watch);
}

void end_with_device() { listener().end_with_device.store(true); }

} // namespace wince::channel
