// The shell's process services: tool-help snapshots of the device's
// processes and threads, and ShellExecuteEx starting a device program that
// the starter can wait for.
#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include "device/device.h"
#include "kernel/process_table.h"
#include "test_device.h"

using testing_support::TempDevice;

namespace {

const std::wstring kTiny = wince::device::widen(TINY_PROGRAM);

class Shell : public ::testing::Test {
protected:
    void SetUp() override { wince::process::attach(""); }
    void TearDown() override { wince::process::detach(0); }

    // Starts TinyProgram with `parameters`; the handle of the new process.
    HANDLE Start(const std::wstring& parameters)
    {
        SHELLEXECUTEINFO info;
        std::memset(&info, 0, sizeof info);
        info.cbSize = sizeof info;
        info.fMask = SEE_MASK_NOCLOSEPROCESS;
        info.lpVerb = L"Open";
        info.lpFile = kTiny.c_str();
        info.lpParameters = parameters.c_str();
        EXPECT_TRUE(ShellExecuteEx(&info));
        EXPECT_GT(reinterpret_cast<uintptr_t>(info.hInstApp), 32u);
        return info.hProcess;
    }

    static DWORD ExitCodeAfterEnd(HANDLE process)
    {
        EXPECT_EQ(WaitForSingleObject(process, 30000), WAIT_OBJECT_0);
        DWORD code = STILL_ACTIVE;
        EXPECT_TRUE(GetExitCodeProcess(process, &code));
        EXPECT_TRUE(CloseHandle(process));
        return code;
    }

    TempDevice device_;
};

struct Row {
    DWORD pid;
    std::wstring exe;
    DWORD threads;
};

std::vector<Row> Processes(HANDLE snapshot)
{
    std::vector<Row> rows;
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
        rows.push_back({entry.th32ProcessID, entry.szExeFile, entry.cntThreads});
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
    return rows;
}

TEST_F(Shell, SnapshotsListTheDevicesProcessesByFileNameWithTheirThreads)
{
    HANDLE tiny = Start(L"exit 4 600000");
    ASSERT_NE(tiny, nullptr);

    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS | TH32CS_SNAPTHREAD, 0);
    ASSERT_NE(snapshot, INVALID_HANDLE_VALUE);
    const auto rows = Processes(snapshot);
    auto tiny_row = std::find_if(rows.begin(), rows.end(), [](const Row& r) { return r.exe == L"TinyProgram.exe"; });
    ASSERT_NE(tiny_row, rows.end());
    EXPECT_EQ(tiny_row->threads, 1u);
    EXPECT_TRUE(std::any_of(rows.begin(), rows.end(), [](const Row& r) { return r.pid == GetCurrentProcessId(); }));

    // Every thread names its owner; the program's one thread is among them.
    THREADENTRY32 thread;
    thread.dwSize = sizeof thread;
    int tiny_threads = 0;
    for (BOOL more = Thread32First(snapshot, &thread); more; more = Thread32Next(snapshot, &thread)) {
        EXPECT_TRUE(std::any_of(rows.begin(), rows.end(), [&](const Row& r) { return r.pid == thread.th32OwnerProcessID; }));
        tiny_threads += thread.th32OwnerProcessID == tiny_row->pid;
    }
    EXPECT_EQ(tiny_threads, 1);

    // The snapshot is of its instant: the program's end does not change it,
    // and a first call starts the walk afresh.
    ASSERT_TRUE(TerminateProcess(tiny, 9));
    EXPECT_EQ(ExitCodeAfterEnd(tiny), 9u);
    EXPECT_EQ(Processes(snapshot).size(), rows.size());
    EXPECT_TRUE(CloseToolhelp32Snapshot(snapshot));

    HANDLE after = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    for (const auto& row : Processes(after))
        EXPECT_NE(row.pid, tiny_row->pid);
    // A process snapshot holds no threads.
    EXPECT_FALSE(Thread32First(after, &thread));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
    EXPECT_TRUE(CloseToolhelp32Snapshot(after));
}

TEST_F(Shell, SnapshotsRefuseWhatTheyCannotServe)
{
    EXPECT_EQ(CreateToolhelp32Snapshot(0, 0), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof entry - 1;
    EXPECT_FALSE(Process32First(snapshot, &entry));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_LENGTH));
    EXPECT_FALSE(Process32First(snapshot, nullptr));
    // Nothing to wait for in a snapshot: the wait fails instead of blocking.
    EXPECT_EQ(WaitForSingleObject(snapshot, INFINITE), WAIT_FAILED);
    EXPECT_TRUE(CloseToolhelp32Snapshot(snapshot));
    EXPECT_FALSE(CloseToolhelp32Snapshot(snapshot));

    // Walking or closing another kind of handle as a snapshot leaves it be.
    HANDLE event = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    entry.dwSize = sizeof entry;
    EXPECT_FALSE(Process32First(event, &entry));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(CloseToolhelp32Snapshot(event));
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(CloseHandle(event));
}

TEST_F(Shell, ShellExecuteExStartsAProgramWithItsParametersAndHandsBackItsProcess)
{
    // Quotes group a parameter and go.
    EXPECT_EQ(ExitCodeAfterEnd(Start(L"exit \"7\" 300")), 7u);
    // A quoted parameter keeps its blanks, and comes back quoted in the
    // program's command line: the mutex of that very name.
    HANDLE mutex = CreateMutexW(nullptr, FALSE, L"\"two  blanks\"");
    EXPECT_EQ(ExitCodeAfterEnd(Start(L"probe-mutex \"two  blanks\"")), 183u);
    EXPECT_TRUE(CloseHandle(mutex));
    // A program that has already ended when the call returns is still a
    // process the starter can wait for, with its exit code.
    EXPECT_EQ(ExitCodeAfterEnd(Start(L"exit 3")), 3u);

    const auto logged = device_.events("shell.execute");
    ASSERT_EQ(logged.size(), 3u);
    EXPECT_EQ(logged[0]["file"], TINY_PROGRAM);
    EXPECT_EQ(logged[0]["ok"], true);
}

TEST_F(Shell, ShellExecuteExFailsAsTheShellDoes)
{
    SHELLEXECUTEINFO info;
    std::memset(&info, 0, sizeof info);
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    info.lpFile = L"\\Program Files\\CallTicker\\Missing.exe";
    EXPECT_FALSE(ShellExecuteEx(&info));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(reinterpret_cast<uintptr_t>(info.hInstApp), static_cast<uintptr_t>(SE_ERR_FNF));
    EXPECT_EQ(info.hProcess, nullptr);
    info.lpFile = L"";
    EXPECT_FALSE(ShellExecuteEx(&info));

    info.lpFile = kTiny.c_str();
    info.lpVerb = L"print";
    EXPECT_FALSE(ShellExecuteEx(&info));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_ASSOCIATION));
    info.lpVerb = nullptr;
    info.cbSize = sizeof info - 4;
    EXPECT_FALSE(ShellExecuteEx(&info));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(ShellExecuteEx(nullptr));

    const auto logged = device_.events("shell.execute");
    ASSERT_EQ(logged.size(), 3u);
    for (const auto& e : logged)
        EXPECT_EQ(e["ok"], false);
    EXPECT_EQ(logged[0]["file"], "\\Program Files\\CallTicker\\Missing.exe");
    EXPECT_TRUE(wince::process::list().size() == 1); // only this test's own process
}

// A caller that reads only hInstApp must see every failure there, 32 or less.
TEST(ShellFailures, EveryFailedStartSetsHInstAppAndTheLastError)
{
    TempDevice device(nlohmann::json{{"faults", {{"*", {{"ShellExecuteEx", 1}}}}}});
    wince::process::attach("");
    SHELLEXECUTEINFO info;
    std::memset(&info, 0, sizeof info);
    info.cbSize = sizeof info;
    info.lpFile = kTiny.c_str();
    info.hInstApp = reinterpret_cast<HINSTANCE>(uintptr_t{99});
    EXPECT_FALSE(ShellExecuteEx(&info)); // the device refuses this one start
    EXPECT_EQ(reinterpret_cast<uintptr_t>(info.hInstApp), static_cast<uintptr_t>(SE_ERR_OOM));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
    info.lpFile = nullptr;
    info.hInstApp = reinterpret_cast<HINSTANCE>(uintptr_t{99});
    EXPECT_FALSE(ShellExecuteEx(&info));
    EXPECT_EQ(reinterpret_cast<uintptr_t>(info.hInstApp), static_cast<uintptr_t>(SE_ERR_FNF));
    wince::process::detach(0);
}

} // namespace
