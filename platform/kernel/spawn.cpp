// Starting a program on the device (ShellExecuteEx, phone run): the
// program runs detached from its starter, as the grandchild of a double
// fork, in a session of its own with its output in run/<exe>.<pid>.log;
// the starter waits until it has settled (first waits for something), has
// failed to start or has ended, and learns which through a pipe the
// program holds until it settles.  Leaves out CreateProcess's creation
// flags, inherited handles, environment blocks and startup information.
#include "process_table.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <limits>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "device/device.h"
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


// What a started program tells spawn() through its status descriptor.
enum class Status : int { settled = 1, exec_failed = 2 };

// The descriptor through which this program tells spawn() it has settled,
// -1 once it has (or when nobody waits).
std::atomic<int> status_fd{-1};


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
