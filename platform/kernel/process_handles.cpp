// Other processes of the device as kernel objects (OpenProcess, the
// process that ShellExecuteEx started, waits, exit codes,
// TerminateProcess).  A process handle watches its process through a
// pidfd: a helper host thread blocks in poll() until the process ends and
// then wakes the kernel's waiters, so a wait on a process is an ordinary
// device-clock wait.  Leaves out CreateProcess (programs start through the
// shell), access rights and process priorities.
#include <cerrno>
#include <cstring>
#include <optional>
#include <thread>

#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include "device/device.h"
#include "device/eventlog.h"
#include "kernel/objects.h"
#include "kernel/process_handles.h"
#include "kernel/process_table.h"
#include "kernel/sync.h"

namespace wince::kernel {
namespace {

// Shared between a process object and its watcher thread.
struct Watch {
    int pidfd = -1;
    int cancel_fd = -1;
    bool exited = false; // kernel lock
    ~Watch()
    {
        if (pidfd >= 0)
            ::close(pidfd);
        if (cancel_fd >= 0)
            ::close(cancel_fd);
    }
};

bool pidfd_readable(int pidfd)
{
    pollfd p{pidfd, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0;
}

class Process : public Object {
public:
    Process(uint32_t pid, uint64_t host_start, int pidfd)
        : pid(pid), host_start(host_start), watch_(std::make_shared<Watch>())
    {
        watch_->pidfd = pidfd;
    }
    // A process that had ended before it got a handle, with its exit code.
    Process(uint32_t pid, uint32_t exit_code)
        : pid(pid), host_start(0), exit_code(exit_code), watch_(std::make_shared<Watch>())
    {
        watch_->exited = true;
    }
    ~Process() override
    {
        if (watch_->cancel_fd >= 0) {
            uint64_t one = 1;
            ssize_t ignored = ::write(watch_->cancel_fd, &one, sizeof one);
            (void)ignored;
        }
    }

    bool satisfied(uint64_t) override { return exited(); }

    // Starts the watcher the first time a thread is about to block.
    void prepare_to_block() override
    {
        if (watch_->cancel_fd >= 0 || watch_->exited || watch_->pidfd < 0)
            return;
        watch_->cancel_fd = ::eventfd(0, EFD_CLOEXEC);
        if (watch_->cancel_fd < 0)
            return;
        std::thread([watch = watch_] {
            pollfd fds[2] = {{watch->pidfd, POLLIN, 0}, {watch->cancel_fd, POLLIN, 0}};
            int ready;
            do
                ready = ::poll(fds, 2, -1);
            while (ready < 0 && errno == EINTR);
            if (fds[0].revents & POLLIN) {
                auto held = sync::lock();
                watch->exited = true;
                sync::wake_all();
            }
        }).detach();
    }

    // Lock held.
    bool exited()
    {
        if (!watch_->exited && watch_->pidfd >= 0 && pidfd_readable(watch_->pidfd))
            watch_->exited = true;
        return watch_->exited;
    }

    int pidfd() const { return watch_->pidfd; }

    const uint32_t pid;
    const uint64_t host_start;
    const std::optional<uint32_t> exit_code; // known when it had ended before


private:
    std::shared_ptr<Watch> watch_;
};

int open_pidfd(uint32_t pid) { return static_cast<int>(::syscall(SYS_pidfd_open, static_cast<pid_t>(pid), 0)); }

} // namespace

HANDLE started_process_handle(uint32_t pid, std::optional<int> ended_status)
{
    if (ended_status) {
        const int status = *ended_status;
        const uint32_t code = WIFEXITED(status) ? static_cast<uint32_t>(WEXITSTATUS(status)) : 1;
        auto held = sync::lock();
        return insert_handle(std::make_shared<Process>(pid, code));
    }
    const int pidfd = open_pidfd(pid);
    const auto host_start = process::host_start_of(pid);
    if (pidfd < 0 || !host_start) {
        if (pidfd >= 0)
            ::close(pidfd);
        return fail(ERROR_INVALID_PARAMETER, HANDLE(nullptr));
    }
    auto held = sync::lock();
    return insert_handle(std::make_shared<Process>(pid, *host_start, pidfd));
}

} // namespace wince::kernel

using namespace wince;
using wince::fail;

extern "C" HANDLE WINAPI OpenProcess(DWORD, BOOL, DWORD IDProcess)
{
    auto info = process::find(IDProcess);
    if (!info)
        return fail(ERROR_INVALID_PARAMETER, HANDLE(nullptr));
    const int pidfd = kernel::open_pidfd(IDProcess); // close-on-exec by default
    if (pidfd < 0)
        return fail(ERROR_INVALID_PARAMETER, HANDLE(nullptr));
    // The pid may have ended and been reused between the lookup and the
    // pidfd: the start time tells.
    if (process::host_start_of(IDProcess) != info->host_start) {
        ::close(pidfd);
        return fail(ERROR_INVALID_PARAMETER, HANDLE(nullptr));
    }
    auto held = sync::lock();
    return kernel::insert_handle(std::make_shared<kernel::Process>(IDProcess, info->host_start, pidfd));
}

extern "C" BOOL WINAPI GetExitCodeProcess(HANDLE hProcess, LPDWORD lpExitCode)
{
    if (!lpExitCode)
        return fail(ERROR_INVALID_PARAMETER, FALSE);
    uint32_t pid;
    uint64_t host_start;
    std::optional<uint32_t> known;
    {
        auto held = sync::lock();
        auto proc = kernel::find_handle_as<kernel::Process>(hProcess);
        if (!proc)
            return fail(ERROR_INVALID_HANDLE, FALSE);
        if (!proc->exited()) {
            *lpExitCode = STILL_ACTIVE;
            return TRUE;
        }
        pid = proc->pid;
        host_start = proc->host_start;
        known = proc->exit_code;
    }
    // A process that ended without recording a code was killed from
    // outside the device (kill -9): reported as a failure exit.
    *lpExitCode = known.value_or(process::recorded_exit(pid, host_start).value_or(1));
    return TRUE;
}

extern "C" BOOL WINAPI TerminateProcess(HANDLE hProcess, UINT uExitCode)
{
    std::shared_ptr<kernel::Process> proc; // keeps the pidfd open past a concurrent CloseHandle
    {
        auto held = sync::lock();
        proc = kernel::find_handle_as<kernel::Process>(hProcess);
        if (!proc)
            return fail(ERROR_INVALID_HANDLE, FALSE);
        if (proc->exited())
            return fail(ERROR_ACCESS_DENIED, FALSE);
    }
    const uint32_t pid = proc->pid;
    const auto info = process::find(pid);
    // The code is recorded first, so a waiter woken by the death reads it.
    process::record_exit(pid, proc->host_start, uExitCode);
    if (::syscall(SYS_pidfd_send_signal, proc->pidfd(), SIGKILL, nullptr, 0) != 0)
        return fail(errno == ESRCH ? ERROR_ACCESS_DENIED : ERROR_GEN_FAILURE, FALSE);
    // The killed process cannot log its own end; it is logged for it.
    eventlog::write("process.exit", {{"pid", pid}, {"exe", info ? info->exe : std::string()}, {"code", uExitCode}});
    return TRUE;
}
