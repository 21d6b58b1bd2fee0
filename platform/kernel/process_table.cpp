// The device's process table: one JSON file per attached process at
// run/proc/<pid>.json, always replaced whole (temporary file + rename) so a
// reader never sees a torn entry.  Liveness is the host pid together with the
// host kernel's start time of that pid, so neither a reused pid nor a process
// killed with -9 (whose entry stays behind) counts as running.  Exit codes
// are kept beside the table in run/proc/<pid>.exit for other processes to
// read.  Leaves out what the programs never use: priorities, process
// inheritance, environment blocks, the process heap.
#include "process_table.h"

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <mutex>
#include <sstream>

#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "device/channel.h"
#include "device/clock.h"
#include "device/device.h"
#include "device/eventlog.h"
#include "device/files.h"

namespace wince::process {
namespace {

namespace fs = std::filesystem;

struct Self {
    std::mutex mutex;
    std::optional<Info> info; // set while attached
};

Self& self()
{
    static Self* instance = new Self; // outlives static destruction: threads may still register
    return *instance;
}

fs::path table_dir() { return device::run_dir() / "proc"; }
fs::path entry_file(uint32_t pid) { return table_dir() / (std::to_string(pid) + ".json"); }
fs::path exit_file(uint32_t pid) { return table_dir() / (std::to_string(pid) + ".exit"); }

nlohmann::json to_json(const Info& info)
{
    return {{"pid", info.pid},
            {"exe", info.exe},
            {"path", info.path},
            {"device_path", device::narrow(info.device_path)},
            {"cmdline", info.cmdline},
            {"started", info.started},
            {"threads", info.threads},
            {"host_start", info.host_start}};
}

std::optional<Info> from_json(const nlohmann::json& j)
{
    if (!j.is_object())
        return std::nullopt;
    try {
        Info info;
        info.pid = j.at("pid").get<uint32_t>();
        info.exe = j.at("exe").get<std::string>();
        info.path = j.at("path").get<std::string>();
        info.device_path = device::widen(j.at("device_path").get<std::string>());
        info.cmdline = j.at("cmdline").get<std::string>();
        info.started = j.at("started").get<double>();
        info.threads = j.at("threads").get<std::vector<uint32_t>>();
        info.host_start = j.at("host_start").get<uint64_t>();
        return info;
    } catch (const nlohmann::json::exception&) {
        return std::nullopt;
    }
}

// Entries are a few hundred bytes; a larger file in run/proc is none.
constexpr size_t max_entry_bytes = 64 * 1024;

nlohmann::json read_json(const fs::path& file)
{
    const auto text = device::read_file(file, max_entry_bytes);
    if (!text)
        return nullptr;
    return nlohmann::json::parse(*text, nullptr, false);
}

void write_entry(const Info& info) { device::replace_file(entry_file(info.pid), to_json(info).dump() + "\n"); }

bool is_live(const Info& info, uint32_t pid)
{
    if (info.pid != pid)
        return false;
    const auto start = host_start_of(pid);
    return start && *start == info.host_start;
}

// Removes the entry of a process that has died.  The entry is moved aside
// first: should its pid have been reused by a process that wrote its own
// entry meanwhile, that one is put back.
void forget_entry(uint32_t pid)
{
    const fs::path entry = entry_file(pid);
    const fs::path aside = entry.string() + "." + std::to_string(::gettid()) + ".dead";
    if (::rename(entry.c_str(), aside.c_str()) != 0)
        return;
    const auto moved = from_json(read_json(aside));
    if (moved && is_live(*moved, pid))
        ::link(aside.c_str(), entry.c_str()); // fails only when a newer entry is there already
    ::unlink(aside.c_str());
}

std::optional<Info> read_entry(uint32_t pid)
{
    const nlohmann::json entry = read_json(entry_file(pid));
    if (entry.is_null())
        return std::nullopt; // no such entry
    auto info = from_json(entry);
    if (!info || !is_live(*info, pid)) {
        forget_entry(pid);
        return std::nullopt;
    }
    return info;
}

bool same_name(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

} // namespace

std::optional<uint64_t> host_start_of(uint32_t pid)
{
    if (pid == 0)
        return std::nullopt;
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    if (!std::getline(in, text))
        return std::nullopt;
    // The command name (field 2) may hold spaces and parentheses; the fields
    // after its last ')' are plain: state is field 3, starttime field 22.
    const size_t close = text.rfind(')');
    if (close == std::string::npos)
        return std::nullopt;
    std::istringstream fields(text.substr(close + 1));
    std::string state;
    fields >> state;
    if (state == "Z" || state == "X" || state == "x")
        return std::nullopt;
    std::string skip;
    for (int field = 4; field < 22; ++field)
        fields >> skip;
    uint64_t start = 0;
    if (!(fields >> start))
        return std::nullopt;
    return start;
}

void attach(const std::string& cmdline)
{
    {
        Self& s = self();
        std::lock_guard held(s.mutex);
        Info info;
        info.pid = static_cast<uint32_t>(::getpid());
        info.exe = device::program_name();
        info.path = device::program_path().string();
        info.device_path = device::device_path(device::program_path());
        info.cmdline = cmdline;
        info.started = clock::now();
        info.threads = {static_cast<uint32_t>(::gettid())};
        info.host_start = host_start_of(info.pid).value_or(0);
        write_entry(info);
        s.info = std::move(info);
    }
    channel::listen();
    take_status_fd();
}

void detach(uint32_t exit_code)
{
    Self& s = self();
    std::optional<Info> info;
    {
        std::lock_guard held(s.mutex);
        info = std::move(s.info);
        s.info.reset();
    }
    if (!info)
        return;
    record_exit(info->pid, info->host_start, exit_code);
    std::error_code ignored;
    fs::remove(entry_file(info->pid), ignored);
    channel::stop();
}

void add_thread(uint32_t tid)
{
    Self& s = self();
    std::lock_guard held(s.mutex);
    if (!s.info)
        return;
    auto& threads = s.info->threads;
    if (std::find(threads.begin(), threads.end(), tid) == threads.end()) {
        threads.push_back(tid);
        write_entry(*s.info);
    }
}

void remove_thread(uint32_t tid)
{
    Self& s = self();
    std::lock_guard held(s.mutex);
    if (!s.info)
        return;
    auto& threads = s.info->threads;
    auto found = std::find(threads.begin(), threads.end(), tid);
    if (found != threads.end()) {
        threads.erase(found);
        write_entry(*s.info);
    }
}

std::vector<Info> list()
{
    std::vector<Info> live;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(table_dir(), error)) {
        if (entry.path().extension() != ".json")
            continue;
        const std::string stem = entry.path().stem().string();
        if (stem.empty() || !std::all_of(stem.begin(), stem.end(), ::isdigit))
            continue;
        if (auto info = read_entry(static_cast<uint32_t>(std::stoul(stem))))
            live.push_back(std::move(*info));
    }
    std::sort(live.begin(), live.end(), [](const Info& a, const Info& b) {
        return a.host_start != b.host_start ? a.host_start < b.host_start : a.pid < b.pid;
    });
    return live;
}

std::optional<Info> find(uint32_t pid) { return read_entry(pid); }

std::optional<Info> find_by_exe(const std::string& exe)
{
    for (auto& info : list())
        if (same_name(info.exe, exe))
            return std::move(info);
    return std::nullopt;
}

bool alive(uint32_t pid) { return read_entry(pid).has_value(); }

std::vector<Info> end_all()
{
    // A program ended this way cannot log its own end.
    constexpr uint32_t killed_code = 1;
    // Long enough for any process to die of SIGKILL on a loaded host.
    constexpr int death_wait_ms = 10000;
    std::vector<Info> ended;
    std::vector<int> pidfds;
    for (auto& info : list()) {
        if (info.pid == static_cast<uint32_t>(::getpid()))
            continue;
        const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, static_cast<pid_t>(info.pid), 0));
        if (pidfd < 0)
            continue;
        // The pid may have been reused since the table was read.
        if (host_start_of(info.pid) != info.host_start) {
            ::close(pidfd);
            continue;
        }
        record_exit(info.pid, info.host_start, killed_code);
        if (::syscall(SYS_pidfd_send_signal, pidfd, SIGKILL, nullptr, 0) != 0) {
            ::close(pidfd);
            continue;
        }
        pidfds.push_back(pidfd);
        ended.push_back(std::move(info));
    }
    for (size_t i = 0; i < pidfds.size(); ++i) {
        pollfd death{pidfds[i], POLLIN, 0};
        while (::poll(&death, 1, death_wait_ms) < 0 && errno == EINTR) {
        }
        ::close(pidfds[i]);
        eventlog::write("process.exit", {{"pid", ended[i].pid}, {"exe", ended[i].exe}, {"code", killed_code}});
        forget_entry(ended[i].pid);
    }
    return ended;
}

std::optional<uint32_t> owner_of_thread(uint32_t tid)
{
    if (tid == 0)
        return std::nullopt;
    std::ifstream in("/proc/" + std::to_string(tid) + "/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("Tgid:", 0) == 0) {
            const uint32_t pid = static_cast<uint32_t>(std::strtoul(line.c_str() + 5, nullptr, 10));
            if (alive(pid))
                return pid;
            return std::nullopt;
        }
    }
    return std::nullopt;
}

void record_exit(uint32_t pid, uint64_t host_start, uint32_t exit_code)
{
    device::replace_file(exit_file(pid), nlohmann::json{{"code", exit_code}, {"host_start", host_start}}.dump() + "\n");
}

std::optional<uint32_t> recorded_exit(uint32_t pid, uint64_t host_start)
{
    const nlohmann::json record = read_json(exit_file(pid));
    if (!record.is_object() || record.value("host_start", uint64_t{0}) != host_start)
        return std::nullopt;
    auto code = record.find("code");
    if (code == record.end() || !code->is_number_unsigned())
        return std::nullopt;
    return code->get<uint32_t>();
}

} // namespace wince::process
