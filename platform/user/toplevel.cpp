// Emulates what the window manager of a single device knows across
// processes: the top-level windows, their z-order and the foreground.  Each
// process writes its own file whole (written aside, then renamed over it);
// readers skip files of processes that are no longer alive.  Child windows
// stay private.
//
// The folder is shared with whatever else runs as the device's owner, so a
// reader trusts nothing in it: it opens an entry without following links
// and without blocking, takes only a regular file of bounded size that
// parses as an entry of the process its name gives, and skips anything
// else with one warning on stderr, never waiting for it.
#include "toplevel.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <set>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include "device/channel.h"
#include "device/device.h"
#include "device/files.h"
#include "kernel/process_table.h"
#include "kernel/sync.h"
#include "state.h"

namespace wince::user::toplevel {
namespace {

namespace fs = std::filesystem;

fs::path windows_dir() { return device::run_dir() / "windows"; }

// A window entry is a few KiB (an icon's pixels included); anything much
// larger is not one.
constexpr off_t max_entry_bytes = 1 << 20;

using device::Descriptor;

// A field of an entry; its default when missing or of another type.
template <class T>
T field(const nlohmann::json& j, const char* key, T fallback)
{
    try {
        return j.value(key, fallback);
    } catch (const nlohmann::json::exception&) {
        return fallback;
    }
}

// One line on stderr per entry and problem, however often the folder is read.
void warn(const std::string& name, const std::string& what)
{
    static std::mutex* warned_mutex = new std::mutex;
    static auto* warned = new std::set<std::string>;
    {
        std::lock_guard held(*warned_mutex);
        if (!warned->insert(name + '\n' + what).second)
            return;
    }
    std::fprintf(stderr, "%s: warning: %s %s\n", device::program_name().c_str(), (windows_dir() / name).c_str(),
                 what.c_str());
}

std::string kind_of(mode_t mode)
{
    if (S_ISDIR(mode))
        return "a folder";
    if (S_ISFIFO(mode))
        return "a FIFO";
    if (S_ISSOCK(mode))
        return "a socket";
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return "a device file";
    return "not a regular file";
}

// The pid that an entry's name "<pid>.json" gives; 0 for any other name.
uint32_t pid_of_name(const std::string& name)
{
    if (name.size() <= 5 || name.size() > 15 || name.compare(name.size() - 5, 5, ".json") != 0)
        return 0;
    const size_t digits = name.size() - 5;
    uint64_t pid = 0;
    for (size_t i = 0; i < digits; ++i) {
        if (name[i] < '0' || name[i] > '9')
            return 0;
        pid = pid * 10 + static_cast<uint64_t>(name[i] - '0');
    }
    return pid > 0 && pid <= UINT32_MAX ? static_cast<uint32_t>(pid) : 0;
}

// The entry `name` of the folder `dir`, parsed; null (and `problem` says
// why, empty when it has merely gone) when it is no entry to read.
nlohmann::json read_entry(int dir, const std::string& name, std::string& problem)
{
    problem.clear();
    Descriptor file(::openat(dir, name.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC));
    if (file.get() < 0) {
        if (errno != ENOENT)
            problem = errno == ELOOP ? "a symbolic link" : std::strerror(errno);
        return nullptr;
    }
    struct stat status {};
    if (::fstat(file.get(), &status) != 0) {
        problem = std::strerror(errno);
        return nullptr;
    }
    if (!S_ISREG(status.st_mode)) {
        problem = kind_of(status.st_mode);
        return nullptr;
    }
    const std::optional<std::string> bytes = device::read_bounded(file.get(), max_entry_bytes);
    if (!bytes) {
        problem = errno == EFBIG ? "larger than 1 MiB" : std::strerror(errno);
        return nullptr;
    }
    nlohmann::json entry = nlohmann::json::parse(*bytes, nullptr, false);
    if (!entry.is_object() || !entry.contains("windows") || !entry["windows"].is_array()) {
        problem = "not a window entry (damaged or cut short)";
        return nullptr;
    }
    if (field(entry, "pid", 0u) != pid_of_name(name)) {
        problem = "the entry of another process";
        return nullptr;
    }
    return entry;
}

// Serialises writers of this process's file, so an older snapshot never
// overwrites a newer one.  Taken before the kernel lock.
std::mutex& publish_mutex()
{
    static std::mutex* m = new std::mutex;
    return *m;
}

uint64_t own_host_start()
{
    static const uint64_t start = process::host_start_of(current_pid()).value_or(0);
    return start;
}

bool topmost_first(const Entry& a, const Entry& b)
{
    if (a.raised != b.raised)
        return a.raised > b.raised;
    if (a.pid != b.pid)
        return a.pid > b.pid;
    return a.serial > b.serial;
}

Entry from_json(uint32_t pid, const nlohmann::json& j)
{
    Entry e;
    e.pid = pid;
    e.hwnd = field(j, "hwnd", uint64_t{0});
    e.class_name = field(j, "class", std::string());
    e.title = field(j, "title", std::string());
    e.visible = field(j, "visible", false);
    e.created = field(j, "created", 0.0);
    e.raised = field(j, "raised", 0.0);
    e.serial = field(j, "serial", uint64_t{0});
    e.thread = field(j, "thread", 0u);
    e.focus = field(j, "focus", uint64_t{0});
    if (auto d = j.find("details"); d != j.end() && d->is_object())
        e.details = *d;
    return e;
}

// A live process whose entry cannot be read is asked to write it anew, and
// the reader waits a moment (in real time: the owner's thread runs at host
// speed) for the new file.  Each damaged file is asked about once, so a
// reader never waits twice for an owner that does not answer.
constexpr int mend_wait_ms = 250;

struct Damage {
    std::string name;
    ino_t inode = 0;
    off_t size = 0;
    int64_t changed_ns = 0;
    auto operator<=>(const Damage&) const = default;
};

bool first_time_damaged(int dir, const std::string& name)
{
    static std::mutex* asked_mutex = new std::mutex;
    static auto* asked = new std::set<Damage>;
    struct stat status {};
    if (::fstatat(dir, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0)
        return false;
    const Damage damage{name, status.st_ino, status.st_size,
                        static_cast<int64_t>(status.st_ctim.tv_sec) * 1000000000 + status.st_ctim.tv_nsec};
    std::lock_guard held(*asked_mutex);
    return asked->insert(damage).second;
}

// Asks process `pid` to rewrite its entry `name`; true once a new file
// has been renamed into place within the wait.
bool ask_to_mend(uint32_t pid, const std::string& name)
{
    Descriptor watch(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    if (watch.get() < 0 || ::inotify_add_watch(watch.get(), windows_dir().c_str(), IN_MOVED_TO | IN_ONLYDIR) < 0)
        return false;
    if (!channel::send(pid, {{"kind", "windows.publish"}}))
        return false;
    alignas(inotify_event) char events[4096];
    pollfd ready{watch.get(), POLLIN, 0};
    while (::poll(&ready, 1, mend_wait_ms) > 0) {
        const ssize_t n = ::read(watch.get(), events, sizeof events);
        for (ssize_t at = 0; at < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(events + at);
            if (event->len > 0 && name == event->name)
                return true;
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
    return false;
}

[[maybe_unused]] const bool mend_handler = [] {
    channel::on("windows.publish", {}, [](const nlohmann::json&) { publish(); });
    return true;
}();

} // namespace

nlohmann::json to_json(const Entry& e)
{
    return {{"pid", e.pid},         {"hwnd", e.hwnd},       {"class", e.class_name},
            {"title", e.title},     {"visible", e.visible}, {"created", e.created},
            {"raised", e.raised},   {"serial", e.serial},   {"thread", e.thread},
            {"focus", e.focus},     {"details", e.details}};
}

void publish()
{
    std::lock_guard writer(publish_mutex());
    const uint32_t pid = current_pid();
    nlohmann::json windows = nlohmann::json::array();
    {
        auto held = sync::lock();
        for (const auto& [hwnd, w] : state().windows) {
            if (!w.top_level() || !w.announced)
                continue;
            Entry e;
            e.pid = pid;
            e.hwnd = hwnd_value(hwnd);
            e.class_name = narrow(w.class_name);
            e.title = narrow(w.title);
            e.visible = w.visible;
            e.created = w.created;
            e.raised = w.raised;
            e.serial = w.serial;
            e.thread = w.thread;
            e.focus = hwnd_value(w.focus);
            e.details = w.details;
            nlohmann::json j = to_json(e);
            j.erase("pid");
            windows.push_back(std::move(j));
        }
    }
    const nlohmann::json file = {{"pid", pid}, {"host_start", own_host_start()}, {"windows", windows}};
    const fs::path target = windows_dir() / (std::to_string(pid) + ".json");
    if (device::replace_file(target, file.dump()) || (errno != EISDIR && errno != ENOTEMPTY && errno != EEXIST))
        return;
    // A folder squats this process's name: it is moved aside, not removed,
    // so that nobody's files are lost, and the entry written again.
    const fs::path aside = target.string() + "." + std::to_string(::gettid()) + ".aside";
    if (::rename(target.c_str(), aside.c_str()) == 0) {
        warn(target.filename(), "was a folder: moved aside to " + aside.filename().string());
        device::replace_file(target, file.dump());
    }
}

std::vector<Entry> list()
{
    std::vector<Entry> result;
    Descriptor dir(::open(windows_dir().c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (dir.get() < 0)
        return result;
    std::vector<std::string> names;
    {
        const int listed = ::dup(dir.get());
        DIR* stream = listed >= 0 ? ::fdopendir(listed) : nullptr;
        if (stream == nullptr) {
            if (listed >= 0)
                ::close(listed);
            return result;
        }
        while (const dirent* item = ::readdir(stream))
            if (fs::path(item->d_name).extension() == ".json")
                names.emplace_back(item->d_name);
        ::closedir(stream);
    }
    const auto processes = process::list();
    for (const std::string& name : names) {
        std::string problem;
        nlohmann::json file = read_entry(dir.get(), name, problem);
        if (file.is_null() && !problem.empty()) {
            warn(name, "skipped: " + problem);
            const uint32_t owner = pid_of_name(name);
            const bool live = owner != current_pid() && std::any_of(processes.begin(), processes.end(),
                                                                    [&](const auto& p) { return p.pid == owner; });
            if (live && first_time_damaged(dir.get(), name) && ask_to_mend(owner, name))
                file = read_entry(dir.get(), name, problem);
        }
        if (file.is_null())
            continue;
        const uint32_t pid = field(file, "pid", 0u);
        const uint64_t host_start = field(file, "host_start", uint64_t{0});
        const bool alive = pid == current_pid() ||
                           std::any_of(processes.begin(), processes.end(), [&](const process::Info& p) {
                               return p.pid == pid && p.host_start == host_start;
                           });
        if (!alive)
            continue;
        for (const auto& j : file["windows"])
            if (j.is_object())
                result.push_back(from_json(pid, j));
    }
    std::sort(result.begin(), result.end(), topmost_first);
    return result;
}

std::optional<Entry> topmost_visible(const std::vector<Entry>& windows)
{
    auto found = std::find_if(windows.begin(), windows.end(), [](const Entry& e) { return e.visible; });
    if (found == windows.end())
        return std::nullopt;
    return *found;
}

// With no visible window a key still goes somewhere: to the most recently
// created top-level window, hidden or not.  That is how the Return key
// reaches the monitor's hidden call window while the screen is dark.
std::optional<Entry> key_receiver(const std::vector<Entry>& windows)
{
    if (auto visible = topmost_visible(windows))
        return visible;
    auto newest = std::max_element(windows.begin(), windows.end(), [](const Entry& a, const Entry& b) {
        if (a.created != b.created)
            return a.created < b.created;
        if (a.pid != b.pid)
            return a.pid < b.pid;
        return a.serial < b.serial;
    });
    if (newest == windows.end())
        return std::nullopt;
    return *newest;
}

std::optional<Entry> find(HWND hwnd)
{
    for (Entry& e : list())
        if (e.hwnd == hwnd_value(hwnd))
            return e;
    return std::nullopt;
}

std::optional<Entry> find_by_class(const std::string& class_name)
{
    const std::wstring wanted = device::widen(class_name);
    for (Entry& e : list())
        if (!CaseInsensitiveLess{}(wanted, device::widen(e.class_name)) &&
            !CaseInsensitiveLess{}(device::widen(e.class_name), wanted))
            return e;
    return std::nullopt;
}

std::optional<Entry> foreground() { return topmost_visible(list()); }

std::optional<Entry> key_target() { return key_receiver(list()); }

} // namespace wince::user::toplevel
