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
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "device/channel.h"
#include "device/clock.h"
#include "device/device.h"
#include "device/files.h"

extern char** environ;

namespace wince::process {
namespace {

namespace fs = std::filesystem;

// Variable through which spawn() hands a new program the descriptor that
// tells spawn the program has attached.
constexpr const char* ready_fd_variable = "WINCE_READY_FD";

// How long spawn() waits for a program to attach; a host program that never
// attaches is reported as started after this.
constexpr int attach_wait_ms = 5000;

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

nlohmann::json read_json(const fs::path& file)
{
    std::ifstream in(file);
    if (!in)
        return nullptr;
    return nlohmann::json::parse(in, nullptr, false);
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

// Tells spawn() that this program is on the device now.
void signal_ready()
{
    const char* value = std::getenv(ready_fd_variable);
    if (!value || !*value)
        return;
    char* end = nullptr;
    long fd = std::strtol(value, &end, 10);
    if (*end == '\0' && fd > 2 && ::fcntl(static_cast<int>(fd), F_GETFD) >= 0)
        ::close(static_cast<int>(fd));
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
    signal_ready();
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

namespace {

// Everything the forked children need, prepared before fork(): between fork
// and exec only async-signal-safe calls are allowed.
struct LaunchPlan {
    std::string program;
    std::vector<std::string> argv_text;
    std::vector<std::string> env_text;
    std::vector<char*> argv;
    std::vector<char*> envp;
    std::string log_prefix; // run/<exe>.
    std::vector<char> log_path;
};

void append_number(char*& out, long value)
{
    char digits[24];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value > 0);
    while (n > 0)
        *out++ = digits[--n];
}

void write_int(int fd, int value)
{
    ssize_t ignored = ::write(fd, &value, sizeof value);
    (void)ignored;
}

// The grandchild: a session of its own, quiet stdin, output into its log.
[[noreturn]] void become_program(LaunchPlan& plan, int status_fd)
{
    ::setsid();
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    int null_fd = ::open("/dev/null", O_RDONLY);
    if (null_fd >= 0 && null_fd != 0) {
        ::dup2(null_fd, 0);
        ::close(null_fd);
    }
    char* out = plan.log_path.data();
    std::memcpy(out, plan.log_prefix.data(), plan.log_prefix.size());
    out += plan.log_prefix.size();
    append_number(out, ::getpid());
    std::memcpy(out, ".log", 5);
    int log_fd = ::open(plan.log_path.data(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    if (log_fd >= 0) {
        ::fchmod(log_fd, 0600); // the device's files are its owner's alone
        ::dup2(log_fd, 1);
        ::dup2(log_fd, 2);
        if (log_fd > 2)
            ::close(log_fd);
    }
    ::fcntl(status_fd, F_SETFD, 0); // the program closes it when it has attached
    ::execve(plan.program.c_str(), plan.argv.data(), plan.envp.data());
    write_int(status_fd, errno);
    ::_exit(127);
}

} // namespace

std::optional<uint32_t> spawn(const fs::path& program, const std::vector<std::string>& args, int& error)
{
    error = 0;
    std::error_code fs_error;
    const fs::path absolute = fs::absolute(program, fs_error);
    if (fs_error || !fs::is_regular_file(absolute, fs_error)) {
        error = ENOENT;
        return std::nullopt;
    }
    if (::access(absolute.c_str(), X_OK) != 0) {
        error = errno;
        return std::nullopt;
    }
    device::make_private_dirs(device::run_dir());

    int pid_pipe[2], status_pipe[2];
    if (::pipe2(pid_pipe, O_CLOEXEC) != 0) {
        error = errno;
        return std::nullopt;
    }
    if (::pipe2(status_pipe, O_CLOEXEC) != 0) {
        error = errno;
        ::close(pid_pipe[0]);
        ::close(pid_pipe[1]);
        return std::nullopt;
    }

    LaunchPlan plan;
    plan.program = absolute.string();
    plan.argv_text.push_back(plan.program);
    plan.argv_text.insert(plan.argv_text.end(), args.begin(), args.end());
    for (char** e = environ; e && *e; ++e) {
        std::string_view entry(*e);
        if (entry.rfind("WINCE_DEVICE_DIR=", 0) == 0 || entry.rfind(std::string(ready_fd_variable) + "=", 0) == 0)
            continue;
        plan.env_text.emplace_back(entry);
    }
    plan.env_text.push_back("WINCE_DEVICE_DIR=" + device::root().string());
    plan.env_text.push_back(std::string(ready_fd_variable) + "=" + std::to_string(status_pipe[1]));
    for (auto& a : plan.argv_text)
        plan.argv.push_back(a.data());
    plan.argv.push_back(nullptr);
    for (auto& e : plan.env_text)
        plan.envp.push_back(e.data());
    plan.envp.push_back(nullptr);
    plan.log_prefix = (device::run_dir() / absolute.filename()).string() + ".";
    plan.log_path.resize(plan.log_prefix.size() + 32);

    const pid_t middle = ::fork();
    if (middle == 0) {
        // The intermediate child only forks the program and leaves, so the
        // program belongs to no process of ours and is never left a zombie.
        ::close(pid_pipe[0]);
        ::close(status_pipe[0]);
        const pid_t child = ::fork();
        if (child == 0)
            become_program(plan, status_pipe[1]);
        write_int(pid_pipe[1], child > 0 ? child : -errno);
        ::_exit(0);
    }
    ::close(pid_pipe[1]);
    ::close(status_pipe[1]);
    int child = middle < 0 ? -errno : 0;
    if (middle > 0) {
        if (::read(pid_pipe[0], &child, sizeof child) != static_cast<ssize_t>(sizeof child))
            child = -ECHILD;
        int ignored;
        while (::waitpid(middle, &ignored, 0) < 0 && errno == EINTR) {
        }
    }
    ::close(pid_pipe[0]);
    if (child <= 0) {
        ::close(status_pipe[0]);
        error = -child;
        return std::nullopt;
    }
    // The program closes its end when it has attached; an exec failure
    // sends its errno instead.  A host program that never attaches holds the
    // pipe open until it ends, so the wait is bounded.
    pollfd ready{status_pipe[0], POLLIN, 0};
    int exec_error = 0;
    if (::poll(&ready, 1, attach_wait_ms) > 0 &&
        ::read(status_pipe[0], &exec_error, sizeof exec_error) == static_cast<ssize_t>(sizeof exec_error)) {
        ::close(status_pipe[0]);
        error = exec_error;
        return std::nullopt;
    }
    ::close(status_pipe[0]);
    return static_cast<uint32_t>(child);
}

} // namespace wince::process
