// Threads, the thread and process identities, Sleep and GetTickCount.
// Every thread runs as a device thread on the device clock and is listed in
// the process table.  A host thread cannot be killed from outside: a
// terminated thread is marked ended with its exit code and its handle is
// signalled at once, and the thread itself unwinds at its next wait (see
// sync::wait_until); one that never waits again runs on unseen.  Likewise
// suspension holds a thread only before it starts (CREATE_SUSPENDED);
// SuspendThread on a running thread counts but does not stop it.  Leaves
// out priorities, stack sizes and thread-local storage.
#include <thread>

#include <unistd.h>

#include "device/clock.h"
#include "device/device.h"
#include "device/eventlog.h"
#include "kernel/objects.h"
#include "kernel/process_table.h"
#include "kernel/sync.h"

namespace wince::kernel {
namespace {

class Thread : public Object {
public:
    Thread(LPTHREAD_START_ROUTINE start, LPVOID parameter, bool suspended)
        : start(start), parameter(parameter), suspend_count(suspended ? 1 : 0)
    {
    }
    bool satisfied(uint64_t) override { return ended; }

    LPTHREAD_START_ROUTINE start;
    LPVOID parameter;
    DWORD suspend_count;
    DWORD tid = 0;
    bool ended = false;       // returned, exited or terminated: the handle is signalled
    bool terminated = false;  // the thread is to leave at its next wait
    DWORD exit_code = STILL_ACTIVE;
};

// The CreateThread thread the caller runs on, if any.
thread_local std::shared_ptr<Thread> current_thread;

// Marks `thread` ended with `code` unless it ended already.  Lock held.
void end(Thread& thread, DWORD code)
{
    if (thread.ended)
        return;
    thread.ended = true;
    thread.exit_code = code;
    sync::wake_all();
}

void run(const std::shared_ptr<Thread>& thread)
{
    current_thread = thread;
    sync::end_thread_when(&thread->terminated);
    const DWORD tid = static_cast<DWORD>(::gettid());
    process::add_thread(tid);
    DWORD code = 0;
    try {
        auto held = sync::lock();
        thread->tid = tid;
        sync::wake_all();
        sync::wait_until(held, clock::forever, [&] { return thread->suspend_count == 0; });
        held.unlock();
        code = thread->start(thread->parameter);
    } catch (const sync::ThreadTerminated&) {
        // TerminateThread or ExitThread recorded the exit code already.
    }
    {
        auto held = sync::lock();
        end(*thread, code);
    }
    process::remove_thread(tid);
    sync::end_thread_when(nullptr);
    current_thread.reset();
}

} // namespace
} // namespace wince::kernel

using namespace wince;
using wince::fail;

extern "C" HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE lpStartAddress,
                                      LPVOID lpParameter, DWORD dwCreationFlags, LPDWORD lpThreadId)
{
    if (!lpStartAddress)
        return fail(ERROR_INVALID_PARAMETER, HANDLE(nullptr));
    if (device::inject_fault("CreateThread"))
        return fail(ERROR_NOT_ENOUGH_MEMORY, HANDLE(nullptr));
    auto thread = std::make_shared<kernel::Thread>(lpStartAddress, lpParameter, (dwCreationFlags & CREATE_SUSPENDED) != 0);
    try {
        sync::spawn_device_thread([thread] { kernel::run(thread); }).detach();
    } catch (const std::system_error&) {
        return fail(ERROR_NOT_ENOUGH_MEMORY, HANDLE(nullptr));
    }
    auto held = sync::lock();
    // The thread id is the new host thread's own; it is known once the
    // thread has started (and is listed in the process table).
    sync::wait_until(held, clock::forever, [&] { return thread->tid != 0; });
    if (lpThreadId)
        *lpThreadId = thread->tid;
    return kernel::insert_handle(thread);
}

extern "C" DWORD WINAPI ResumeThread(HANDLE hThread)
{
    auto held = sync::lock();
    auto thread = kernel::find_handle_as<kernel::Thread>(hThread);
    if (!thread)
        return fail(ERROR_INVALID_HANDLE, DWORD(0xFFFFFFFF));
    const DWORD previous = thread->suspend_count;
    if (previous > 0 && --thread->suspend_count == 0)
        sync::wake_all();
    return previous;
}

extern "C" DWORD WINAPI SuspendThread(HANDLE hThread)
{
    auto held = sync::lock();
    auto thread = kernel::find_handle_as<kernel::Thread>(hThread);
    if (!thread)
        return fail(ERROR_INVALID_HANDLE, DWORD(0xFFFFFFFF));
    if (thread->ended)
        return thread->suspend_count;
    return thread->suspend_count++;
}

extern "C" BOOL WINAPI TerminateThread(HANDLE hThread, DWORD dwExitCode)
{
    auto held = sync::lock();
    auto thread = kernel::find_handle_as<kernel::Thread>(hThread);
    if (!thread)
        return fail(ERROR_INVALID_HANDLE, FALSE);
    if (thread->ended)
        return TRUE;
    thread->terminated = true;
    kernel::end(*thread, dwExitCode);
    if (thread == kernel::current_thread)
        throw sync::ThreadTerminated{};
    return TRUE;
}

extern "C" BOOL WINAPI GetExitCodeThread(HANDLE hThread, LPDWORD lpExitCode)
{
    auto held = sync::lock();
    auto thread = kernel::find_handle_as<kernel::Thread>(hThread);
    if (!thread)
        return fail(ERROR_INVALID_HANDLE, FALSE);
    if (!lpExitCode)
        return fail(ERROR_INVALID_PARAMETER, FALSE);
    *lpExitCode = thread->ended ? thread->exit_code : STILL_ACTIVE;
    return TRUE;
}

extern "C" void WINAPI ExitThread(DWORD dwExitCode)
{
    if (auto thread = kernel::current_thread) {
        auto held = sync::lock();
        thread->terminated = true;
        kernel::end(*thread, dwExitCode);
        throw sync::ThreadTerminated{};
    }
    // The program's main thread (or a thread the platform made): its exit
    // ends the program, as returning from WinMain would.
    eventlog::write("process.exit", {{"code", dwExitCode}});
    process::detach(dwExitCode);
    std::fflush(nullptr);
    ::_exit(static_cast<int>(dwExitCode));
}

extern "C" DWORD WINAPI GetCurrentThreadId(void) { return static_cast<DWORD>(::gettid()); }

extern "C" DWORD WINAPI GetCurrentProcessId(void) { return static_cast<DWORD>(::getpid()); }

extern "C" void WINAPI Sleep(DWORD dwMilliseconds)
{
    auto held = sync::lock();
    sync::wait_until(held, sync::deadline_after(dwMilliseconds), [] { return false; });
}

extern "C" DWORD WINAPI GetTickCount(void)
{
    // Wraps after 49.7 days of device time, as on the device.
    return static_cast<DWORD>(static_cast<uint64_t>(clock::now()));
}
