// Emulates what the window manager of a single device knows across
// processes: the top-level windows, their z-order and the foreground.  Each
// process writes its own file atomically (write, then rename); readers skip
// files of processes that are no longer alive.  Child windows stay private.
#include "toplevel.h"

#include <algorithm>
#include <fstream>
#include <mutex>

#include "device/device.h"
#include "kernel/process_table.h"
#include "kernel/sync.h"
#include "state.h"

namespace wince::user::toplevel {
namespace {

namespace fs = std::filesystem;

fs::path windows_dir() { return device::run_dir() / "windows"; }

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
    e.hwnd = j.value("hwnd", uint64_t{0});
    e.class_name = j.value("class", "");
    e.title = j.value("title", "");
    e.visible = j.value("visible", false);
    e.created = j.value("created", 0.0);
    e.raised = j.value("raised", 0.0);
    e.serial = j.value("serial", uint64_t{0});
    e.thread = j.value("thread", 0u);
    e.focus = j.value("focus", uint64_t{0});
    if (auto d = j.find("details"); d != j.end() && d->is_object())
        e.details = *d;
    return e;
}

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
    std::error_code error;
    fs::create_directories(windows_dir(), error);
    const fs::path target = windows_dir() / (std::to_string(pid) + ".json");
    const fs::path temporary = windows_dir() / (std::to_string(pid) + ".json.tmp");
    {
        std::ofstream out(temporary, std::ios::trunc);
        out << file.dump();
        if (!out)
            return;
    }
    fs::rename(temporary, target, error);
}

std::vector<Entry> list()
{
    std::vector<Entry> result;
    std::error_code error;
    if (!fs::is_directory(windows_dir(), error))
        return result;
    const auto processes = process::list();
    for (const auto& item : fs::directory_iterator(windows_dir(), error)) {
        if (item.path().extension() != ".json")
            continue;
        std::ifstream in(item.path());
        const nlohmann::json file = nlohmann::json::parse(in, nullptr, false);
        if (!file.is_object() || !file.contains("windows") || !file["windows"].is_array())
            continue;
        const uint32_t pid = file.value("pid", 0u);
        const uint64_t host_start = file.value("host_start", uint64_t{0});
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
