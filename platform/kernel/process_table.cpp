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
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <limits>
#include <mutex>
#include <sstream>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "device/channel.h"
#include "device/clock.h"
#include "device/device.h"
#include "device/eventlog.h"
#include "device/files.h"

extern char** environ;

namespace wince::process {
namespace {

namespace fs = std::filesystem;

// Variable through which spawn() hands a new program the descriptor on
// which the program tells that it has settled.
constexpr const char* status_fd_variable = "WINCE_READY_FD";

// How long spawn() waits for a program to settle; a program still busy
// after this (or a host program, which never settles) is reported as
// started.
constexpr int settle_wait_ms = 5000;

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

// What a started program tells spawn() through its status descriptor.
enum class Status : int { settled = 1, exec_failed = 2 };

// The descriptor through which this program tells spawn() it has settled,
// -1 once it has (or when nobody waits).
std::atomic<int> status_fd{-1};

// Takes over the descriptor spawn() handed this program; the program's own
// children must not inherit it.
void take_status_fd()
{
    const char* value = std::getenv(status_fd_variable);
    if (!value || !*value)
        return;
    char* end = nullptr;
    long fd = std::strtol(value, &end, 10);
    if (*end == '\0' && fd > 2 && fd < std::numeric_limits<int>::max() &&
        ::fcntl(static_cast<int>(fd), F_SETFD, FD_CLOEXEC) == 0)
        status_fd.store(static_cast<int>(fd));
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

void settled()
{
    const int fd = status_fd.exchange(-1);
    if (fd < 0)
        return;
    const int message[2] = {static_cast<int>(Status::settled), 0};
    ssize_t ignored = ::write(fd, message, sizeof message);
    (void)ignored;
    ::close(fd);
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

void write_all(int fd, const void* data, size_t size)
{
    ssize_t ignored = ::write(fd, data, size);
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
    ::fcntl(status_fd, F_SETFD, 0); // the program says on it when it has settled
    ::execve(plan.program.c_str(), plan.argv.data(), plan.envp.data());
    const int failure[2] = {static_cast<int>(Status::exec_failed), errno};
    write_all(status_fd, failure, sizeof failure);
    ::_exit(127);
}

// Closes every descriptor but `kept` (and the standard ones): this process
// outlives the fork by a while, and a copy of its parent's descriptors
// would hold the parent's file locks for that long.
void keep_only_descriptors(std::initializer_list<int> kept)
{
    int sorted[8];
    int count = 0;
    for (int fd : kept)
        sorted[count++] = fd;
    std::sort(sorted, sorted + count);
    unsigned first = 3;
    for (int i = 0; i < count; ++i) {
        const auto fd = static_cast<unsigned>(sorted[i]);
        if (fd > first)
            ::close_range(first, fd - 1, 0);
        if (fd + 1 > first)
            first = fd + 1;
    }
    ::close_range(first, ~0U, 0);
}

// What the intermediate child reports about the program.
struct Launch {
    int pid = 0;         // the program, or -errno when it could not be forked
    int exec_error = 0;  // errno of a failed execve
    bool ended = false;  // the program ended before it settled
    int wait_status = 0; // how, when it did
};

// The intermediate child: waits until the program has settled, failed to
// start or ended (it is the program's parent and can learn how), reports,
// and leaves, so the program belongs to no process of ours and is never
// left a zombie.  Only async-signal-safe calls here.
[[noreturn]] void launch(LaunchPlan& plan, int status_read, int status_write, int report_fd)
{
    keep_only_descriptors({status_read, status_write, report_fd});
    Launch launched;
    launched.pid = ::fork();
    if (launched.pid == 0)
        become_program(plan, status_write);
    if (launched.pid < 0) {
        launched.pid = -errno;
    } else {
        ::close(status_write);
        pollfd status{status_read, POLLIN, 0};
        int message[2] = {0, 0};
        if (::poll(&status, 1, settle_wait_ms) > 0) {
            const ssize_t got = ::read(status_read, message, sizeof message);
            // No word at all: the program ended (or closed the descriptor,
            // which only its end does) before it settled.
            launched.ended = got == 0;
            if (got == static_cast<ssize_t>(sizeof message) && message[0] == static_cast<int>(Status::exec_failed))
                launched.exec_error = message[1];
        }
        if (launched.ended || launched.exec_error)
            while (::waitpid(launched.pid, &launched.wait_status, 0) < 0 && errno == EINTR) {
            }
    }
    write_all(report_fd, &launched, sizeof launched);
    ::_exit(0);
}

} // namespace

std::optional<uint32_t> spawn(const fs::path& program, const std::vector<std::string>& args, int& error,
                              std::optional<int>* ended_status)
{
    error = 0;
    if (ended_status)
        ended_status->reset();
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

    int report_pipe[2], status_pipe[2];
    if (::pipe2(report_pipe, O_CLOEXEC) != 0) {
        error = errno;
        return std::nullopt;
    }
    if (::pipe2(status_pipe, O_CLOEXEC) != 0) {
        error = errno;
        ::close(report_pipe[0]);
        ::close(report_pipe[1]);
        return std::nullopt;
    }

    LaunchPlan plan;
    plan.program = absolute.string();
    plan.argv_text.push_back(plan.program);
    plan.argv_text.insert(plan.argv_text.end(), args.begin(), args.end());
    for (char** e = environ; e && *e; ++e) {
        std::string_view entry(*e);
        if (entry.rfind("WINCE_DEVICE_DIR=", 0) == 0 || entry.rfind(std::string(status_fd_variable) + "=", 0) == 0)
            continue;
        plan.env_text.emplace_back(entry);
    }
    plan.env_text.push_back("WINCE_DEVICE_DIR=" + device::root().string());
    plan.env_text.push_back(std::string(status_fd_variable) + "=" + std::to_string(status_pipe[1]));
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
        ::close(report_pipe[0]);
        launch(plan, status_pipe[0], status_pipe[1], report_pipe[1]);
    }
    ::close(report_pipe[1]);
    ::close(status_pipe[0]);
    ::close(status_pipe[1]);
    Launch launched;
    launched.pid = middle < 0 ? -errno : -ECHILD;
    if (middle > 0) {
        if (::read(report_pipe[0], &launched, sizeof launched) != static_cast<ssize_t>(sizeof launched))
            launched.pid = -ECHILD;
        int ignored;
        while (::waitpid(middle, &ignored, 0) < 0 && errno == EINTR) {
        }
    }
    ::close(report_pipe[0]);
    if (launched.pid <= 0 || launched.exec_error) {
        error = launched.exec_error ? launched.exec_error : -launched.pid;
        return std::nullopt;
    }
    if (launched.ended && ended_status)
        *ended_status = launched.wait_status;
    return static_cast<uint32_t>(launched.pid);
}

} // namespace wince::process
