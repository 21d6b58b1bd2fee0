// Kernel objects on the device clock: events, waits, threads, Sleep, named
// mutexes across processes, the process table and the channel.
#include <atomic>
#include <fstream>
#include <csignal>
#include <thread>

#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <windows.h>

#include "device/channel.h"
#include "device/clock.h"
#include "device/device.h"
#include "kernel/process_table.h"
#include "kernel/sync.h"
#include "child.h"
#include "test_device.h"

using testing_support::Child;
using testing_support::TempDevice;
namespace ks = wince::sync;
namespace process = wince::process;

namespace {

DWORD WINAPI ReturnParameter(LPVOID parameter) { return static_cast<DWORD>(reinterpret_cast<uintptr_t>(parameter)); }

std::atomic<int> shared_value{0};
DWORD WINAPI ReadSharedValue(LPVOID) { return static_cast<DWORD>(shared_value.load(std::memory_order_relaxed)); }

DWORD WINAPI SleepForever(LPVOID)
{
    Sleep(INFINITE);
    return 5;
}

} // namespace

TEST(Events, AutomaticResetReleasesOneWaitManualResetStaysUntilReset)
{
    TempDevice dev;
    HANDLE automatic = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    HANDLE manual = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    ASSERT_NE(automatic, nullptr);
    ASSERT_NE(manual, nullptr);

    EXPECT_EQ(WaitForSingleObject(automatic, 0), WAIT_TIMEOUT);
    EXPECT_TRUE(SetEvent(automatic));
    EXPECT_EQ(WaitForSingleObject(automatic, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(automatic, 0), WAIT_TIMEOUT);

    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(ResetEvent(manual));
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_TIMEOUT);
    // A pulse with nobody waiting leaves the event unsignalled.
    EXPECT_TRUE(PulseEvent(manual));
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_TIMEOUT);
    EXPECT_TRUE(EventModify(manual, EVENT_SET));
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);

    EXPECT_TRUE(CloseHandle(automatic));
    EXPECT_TRUE(CloseHandle(manual));
}

TEST(Events, WrongHandlesFailWithInvalidHandle)
{
    TempDevice dev;
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_TRUE(CloseHandle(event));
    SetLastError(0);
    EXPECT_FALSE(CloseHandle(event));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    SetLastError(0);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(SetEvent(event));
    EXPECT_FALSE(SetEvent(nullptr));
    EXPECT_FALSE(SetEvent(INVALID_HANDLE_VALUE));

    // A thread handle is not an event.
    HANDLE thread = CreateThread(nullptr, 0, ReturnParameter, nullptr, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    EXPECT_FALSE(SetEvent(thread));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    CloseHandle(thread);
}

TEST(Events, NamesAreSharedWithinTheProcessAndCreationClearsTheLastError)
{
    TempDevice dev;
    SetLastError(ERROR_ALREADY_EXISTS);
    HANDLE first = CreateEventW(nullptr, TRUE, FALSE, L"ready");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    HANDLE second = CreateEventW(nullptr, FALSE, FALSE, L"ready");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first, second);
    SetEvent(first);
    EXPECT_EQ(WaitForSingleObject(second, 0), WAIT_OBJECT_0);
    CloseHandle(first);
    CloseHandle(second);
}

TEST(Events, InjectedFaultsFailCreation)
{
    nlohmann::json faults = {{"CreateEventW", 1}, {"CreateThread", "fail"}, {"CreateMutexW", 1}};
    TempDevice dev(nlohmann::json{{"faults", {{"*", faults}}}});
    EXPECT_EQ(CreateEventW(nullptr, TRUE, FALSE, nullptr), nullptr);
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    EXPECT_NE(event, nullptr);
    EXPECT_EQ(CreateThread(nullptr, 0, ReturnParameter, nullptr, 0, nullptr), nullptr);
    EXPECT_EQ(CreateMutexW(nullptr, FALSE, L"faulty"), nullptr);
    CloseHandle(event);
}

TEST(Waits, TimeOutAndWakeAtExactDeviceTimes)
{
    TempDevice dev;
    wince::clock::use_manual(1000);
    HANDLE never = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE later = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    DWORD first = 0, second = 0;
    double timed_out_at = 0, woke_at = 0;
    std::thread waiter = ks::spawn_device_thread([&] {
        first = WaitForSingleObject(never, 500);
        timed_out_at = wince::clock::now();
        second = WaitForSingleObject(later, 10000);
        woke_at = wince::clock::now();
    });
    ks::advance(800);
    EXPECT_EQ(first, WAIT_TIMEOUT);
    EXPECT_EQ(timed_out_at, 1500);
    SetEvent(later);
    ks::settle();
    waiter.join();
    EXPECT_EQ(second, WAIT_OBJECT_0);
    EXPECT_EQ(woke_at, 1800);
    EXPECT_EQ(WaitForSingleObject(later, 0), WAIT_TIMEOUT); // consumed by the waiter
    CloseHandle(never);
    CloseHandle(later);
}

TEST(Waits, SleepAndTickCountFollowTheManualClock)
{
    TempDevice dev;
    wince::clock::use_manual(0);
    std::vector<DWORD> ticks;
    std::thread sleeper = ks::spawn_device_thread([&] {
        for (int i = 0; i < 3; ++i) {
            Sleep(60000);
            ticks.push_back(GetTickCount());
        }
    });
    ks::advance(150000);
    EXPECT_EQ(ticks, (std::vector<DWORD>{60000, 120000}));
    ks::advance(30000);
    sleeper.join();
    EXPECT_EQ(ticks, (std::vector<DWORD>{60000, 120000, 180000}));
}

TEST(Threads, SuspendedThreadSeesDataWrittenBeforeResume)
{
    TempDevice dev;
    DWORD tid = 0;
    shared_value = 0;
    HANDLE thread = CreateThread(nullptr, 0, ReadSharedValue, nullptr, CREATE_SUSPENDED, &tid);
    ASSERT_NE(thread, nullptr);
    EXPECT_NE(tid, 0u);
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_TIMEOUT);
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, STILL_ACTIVE);
    shared_value.store(42, std::memory_order_relaxed);
    EXPECT_EQ(ResumeThread(thread), 1u);
    EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    EXPECT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, 42u);
    EXPECT_EQ(ResumeThread(thread), 0u);
    CloseHandle(thread);
}

TEST(Threads, TerminateSignalsAtOnceAndTheThreadLeavesItsWait)
{
    TempDevice dev;
    wince::clock::use_manual(0);
    HANDLE thread = CreateThread(nullptr, 0, SleepForever, nullptr, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    ks::settle(); // asleep
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_TIMEOUT);
    EXPECT_TRUE(TerminateThread(thread, 0xFFFFFFFF));
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0);
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, 0xFFFFFFFFu); // not the 5 the routine would have returned
    ks::settle();                 // it unwinds and stops counting as running
    EXPECT_TRUE(TerminateThread(thread, 7));
    EXPECT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, 0xFFFFFFFFu);
    CloseHandle(thread);

    // A thread terminated before it was ever resumed never runs.
    shared_value = 0;
    HANDLE suspended = CreateThread(nullptr, 0, ReturnParameter, reinterpret_cast<LPVOID>(9), CREATE_SUSPENDED, nullptr);
    EXPECT_TRUE(TerminateThread(suspended, 3));
    ResumeThread(suspended);
    EXPECT_EQ(WaitForSingleObject(suspended, INFINITE), WAIT_OBJECT_0);
    EXPECT_TRUE(GetExitCodeThread(suspended, &code));
    EXPECT_EQ(code, 3u);
    CloseHandle(suspended);
}

TEST(Threads, SuspendThreadLeavesTheCountOfAnEndedThreadAlone)
{
    TempDevice dev;
    HANDLE returned = CreateThread(nullptr, 0, ReturnParameter, reinterpret_cast<LPVOID>(4), 0, nullptr);
    ASSERT_NE(returned, nullptr);
    ASSERT_EQ(WaitForSingleObject(returned, INFINITE), WAIT_OBJECT_0);
    // However often it is asked, the count of an ended thread stays 0.
    EXPECT_EQ(SuspendThread(returned), 0u);
    EXPECT_EQ(SuspendThread(returned), 0u);
    EXPECT_EQ(ResumeThread(returned), 0u);
    CloseHandle(returned);

    // A thread terminated while still suspended keeps the count it had.
    HANDLE suspended = CreateThread(nullptr, 0, ReturnParameter, nullptr, CREATE_SUSPENDED, nullptr);
    ASSERT_NE(suspended, nullptr);
    EXPECT_TRUE(TerminateThread(suspended, 6));
    EXPECT_EQ(SuspendThread(suspended), 1u);
    EXPECT_EQ(SuspendThread(suspended), 1u);
    EXPECT_EQ(ResumeThread(suspended), 1u);
    EXPECT_EQ(WaitForSingleObject(suspended, INFINITE), WAIT_OBJECT_0);
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(suspended, &code));
    EXPECT_EQ(code, 6u);
    CloseHandle(suspended);
}

TEST(Threads, WaitOnAThreadTimesOutOnTheDeviceClock)
{
    TempDevice dev;
    wince::clock::use_manual(0);
    HANDLE sleeper = CreateThread(nullptr, 0, SleepForever, nullptr, 0, nullptr);
    DWORD result = 0;
    std::thread waiter = ks::spawn_device_thread([&] { result = WaitForSingleObject(sleeper, 1000); });
    ks::advance(1000);
    waiter.join();
    EXPECT_EQ(result, WAIT_TIMEOUT);
    EXPECT_EQ(wince::clock::now(), 1000);
    TerminateThread(sleeper, 0);
    ks::settle();
    CloseHandle(sleeper);
}

TEST(NamedMutex, ExistsWhileAnyLiveHandleHoldsItAndAKilledHolderHoldsNone)
{
    TempDevice dev;
    const wchar_t* name = L"_CALL_TICKER_EXE_MUTEX_";
    HANDLE mine = CreateMutexW(nullptr, FALSE, L"local first");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    HANDLE again = CreateMutexW(nullptr, FALSE, L"local first");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    CloseHandle(again);
    CloseHandle(mine);
    HANDLE fresh = CreateMutexW(nullptr, FALSE, L"local first");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    CloseHandle(fresh);

    {
        Child holder([&] { CreateMutexW(nullptr, FALSE, name); });
        HANDLE second = CreateMutexW(nullptr, FALSE, name);
        ASSERT_NE(second, nullptr);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
        CloseHandle(second);
        holder.kill_now();
        HANDLE after = CreateMutexW(nullptr, FALSE, name);
        ASSERT_NE(after, nullptr);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
        CloseHandle(after);
    }
}

TEST(NamedMutex, OwnershipWithinTheProcess)
{
    TempDevice dev;
    HANDLE mutex = CreateMutexW(nullptr, TRUE, nullptr);
    EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0); // recursive for its owner
    EXPECT_TRUE(ReleaseMutex(mutex));
    DWORD other = 0;
    std::thread([&] { other = WaitForSingleObject(mutex, 0); }).join();
    EXPECT_EQ(other, WAIT_TIMEOUT);
    EXPECT_TRUE(ReleaseMutex(mutex));
    EXPECT_FALSE(ReleaseMutex(mutex));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_OWNER));
    std::thread([&] { other = WaitForSingleObject(mutex, 0); }).join();
    EXPECT_EQ(other, WAIT_OBJECT_0);
    CloseHandle(mutex);
}

TEST(ProcessTable, LiveProcessesAreListedWithThreadsAndKilledOnesAreNot)
{
    TempDevice dev;
    Child child([] {
        wince::device::set_program("/opt/Some Where/CallTicker.exe");
        process::attach("reset");
        process::add_thread(4242);
    });
    auto info = process::find(child.pid());
    ASSERT_TRUE(info);
    EXPECT_EQ(info->exe, "CallTicker.exe");
    EXPECT_EQ(info->cmdline, "reset");
    EXPECT_EQ(info->device_path, L"\\opt\\Some Where\\CallTicker.exe");
    EXPECT_EQ(info->threads, (std::vector<uint32_t>{child.pid(), 4242}));
    EXPECT_TRUE(process::find_by_exe("calltICKER.EXE"));
    EXPECT_EQ(process::owner_of_thread(child.pid()), child.pid());
    EXPECT_EQ(process::list().size(), 1u);

    child.kill_now(); // its entry stays behind, but it is dead
    const auto entry = dev.dir() / "run/proc" / (std::to_string(child.pid()) + ".json");
    EXPECT_TRUE(std::filesystem::exists(entry));
    EXPECT_TRUE(process::list().empty());
    EXPECT_FALSE(std::filesystem::exists(entry)); // removed once seen dead
    EXPECT_FALSE(process::alive(child.pid()));
    EXPECT_FALSE(process::owner_of_thread(child.pid()));
}

TEST(ProcessTable, AnEntryForAReusedPidDoesNotCount)
{
    TempDevice dev;
    wince::device::set_program("/bin/kernel_test");
    process::attach("");
    const auto self = static_cast<uint32_t>(getpid());
    ASSERT_TRUE(process::alive(self));
    const auto entry = dev.dir() / "run/proc" / (std::to_string(self) + ".json");
    auto text = nlohmann::json::parse(std::ifstream(entry));
    text["host_start"] = text["host_start"].get<uint64_t>() + 1;
    std::ofstream(entry) << text.dump();
    EXPECT_FALSE(process::alive(self));
    process::detach(0);
    EXPECT_FALSE(std::filesystem::exists(entry));
}

TEST(Channel, MessagesReachAnotherProcessAndTheSenderLearnsWhenNobodyListens)
{
    TempDevice dev;
    int received[2];
    ASSERT_EQ(pipe(received), 0);
    Child listener([&] {
        const wince::channel::Schema schema = {{"n", wince::channel::Type::u32}};
        wince::channel::on("ping", schema, [fd = received[1]](const nlohmann::json& message) {
            int n = message["n"].get<int>();
            if (write(fd, &n, sizeof n) != sizeof n)
                _exit(1);
        });
        wince::device::set_program("listener.exe");
        process::attach("");
    });
    close(received[1]);
    EXPECT_TRUE(wince::channel::send(listener.pid(), {{"kind", "unknown kinds are ignored"}}));
    for (int n = 0; n < 30; ++n) // more than a receiver's queue holds at once
        ASSERT_TRUE(wince::channel::send(listener.pid(), {{"kind", "ping"}, {"n", n}}));
    for (int n = 0; n < 30; ++n) {
        int got = -1;
        ASSERT_EQ(read(received[0], &got, sizeof got), static_cast<ssize_t>(sizeof got));
        EXPECT_EQ(got, n);
    }
    listener.kill_now();
    EXPECT_FALSE(wince::channel::send(listener.pid(), {{"kind", "ping"}, {"n", 1}}));
    EXPECT_FALSE(wince::channel::send(0x7FFFFFF0, {{"kind", "ping"}}));
    close(received[0]);

    int direct = -1;
    wince::channel::on("self", {{"n", wince::channel::Type::u32}},
                       [&](const nlohmann::json& message) { direct = message["n"]; });
    EXPECT_TRUE(wince::channel::send(static_cast<uint32_t>(getpid()), {{"kind", "self"}, {"n", 3}}));
    EXPECT_EQ(direct, 3);
}
