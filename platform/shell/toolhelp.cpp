// The tool-help library: snapshots of the device's processes and their
// threads, taken from the device's process table at one instant and walked
// with Process32FirstW/NextW and Thread32First/Next.  szExeFile is the
// program's file name, as on the device.  Leaves out heap and module
// snapshots, snapshots of one process only (every snapshot holds the whole
// device) and usage counts.
#include <tlhelp32.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <vector>

#include "device/device.h"
#include "kernel/objects.h"
#include "kernel/process_table.h"
#include "kernel/sync.h"

namespace wince::shell {
namespace {

// The device's normal thread priority, as the kernel numbers it (0-255).
constexpr LONG normal_priority = 251;

struct ProcessRow {
    DWORD pid;
    DWORD threads;
    std::wstring exe;
};

struct ThreadRow {
    DWORD tid;
    DWORD owner;
};

// A snapshot is a handle, but nothing to wait for.
class Snapshot : public kernel::Object {
public:
    bool waitable() const override { return false; }
    bool satisfied(uint64_t) override { return false; }

    std::vector<ProcessRow> processes;
    std::vector<ThreadRow> threads;
    size_t next_process = 0; // kernel lock
    size_t next_thread = 0;
};

std::shared_ptr<Snapshot> take(DWORD flags)
{
    auto snapshot = std::make_shared<Snapshot>();
    for (const auto& info : process::list()) {
        if (flags & TH32CS_SNAPPROCESS)
            snapshot->processes.push_back(
                {info.pid, static_cast<DWORD>(info.threads.size()), device::widen(info.exe)});
        if (flags & TH32CS_SNAPTHREAD)
            for (uint32_t tid : info.threads)
                snapshot->threads.push_back({tid, info.pid});
    }
    return snapshot;
}

void fill(const ProcessRow& row, PROCESSENTRY32W& entry)
{
    const DWORD size = entry.dwSize;
    std::memset(&entry, 0, sizeof entry);
    entry.dwSize = size;
    entry.cntUsage = 1;
    entry.th32ProcessID = row.pid;
    entry.cntThreads = row.threads;
    entry.pcPriClassBase = normal_priority;
    const size_t length = std::min<size_t>(row.exe.size(), MAX_PATH - 1);
    std::wmemcpy(entry.szExeFile, row.exe.data(), length);
    entry.szExeFile[length] = L'\0';
}

void fill(const ThreadRow& row, THREADENTRY32& entry)
{
    const DWORD size = entry.dwSize;
    std::memset(&entry, 0, sizeof entry);
    entry.dwSize = size;
    entry.cntUsage = 1;
    entry.th32ThreadID = row.tid;
    entry.th32OwnerProcessID = row.owner;
    entry.th32CurrentProcessID = row.owner;
    entry.tpBasePri = normal_priority;
}

// The walk shared by the four functions: `first` restarts it.  The
// caller's record must say it is at least as large as ours.
template <class Entry, class Rows>
BOOL step(HANDLE hSnapshot, Entry* entry, Rows Snapshot::*rows, size_t Snapshot::*cursor, bool first)
{
    if (!entry || entry->dwSize < sizeof(Entry))
        return fail(entry ? ERROR_BAD_LENGTH : ERROR_INVALID_PARAMETER, FALSE);
    auto held = sync::lock();
    auto snapshot = kernel::find_handle_as<Snapshot>(hSnapshot);
    if (!snapshot)
        return fail(ERROR_INVALID_HANDLE, FALSE);
    size_t& at = (*snapshot).*cursor;
    if (first)
        at = 0;
    const Rows& list = (*snapshot).*rows;
    if (at >= list.size())
        return fail(ERROR_NO_MORE_FILES, FALSE);
    fill(list[at++], *entry);
    return TRUE;
}

} // namespace
} // namespace wince::shell

using namespace wince;
using shell::Snapshot;

extern "C" {

HANDLE WINAPI CreateToolhelp32Snapshot(DWORD dwFlags, DWORD)
{
    if ((dwFlags & (TH32CS_SNAPPROCESS | TH32CS_SNAPTHREAD)) == 0)
        return fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
    auto snapshot = shell::take(dwFlags);
    auto held = sync::lock();
    return kernel::insert_handle(std::move(snapshot));
}

BOOL WINAPI CloseToolhelp32Snapshot(HANDLE hSnapshot)
{
    {
        auto held = sync::lock();
        if (!kernel::find_handle_as<Snapshot>(hSnapshot))
            return fail(ERROR_INVALID_HANDLE, FALSE);
    }
    return CloseHandle(hSnapshot);
}

BOOL WINAPI Process32FirstW(HANDLE hSnapshot, LPPROCESSENTRY32W lppe)
{
    return shell::step(hSnapshot, lppe, &Snapshot::processes, &Snapshot::next_process, true);
}

BOOL WINAPI Process32NextW(HANDLE hSnapshot, LPPROCESSENTRY32W lppe)
{
    return shell::step(hSnapshot, lppe, &Snapshot::processes, &Snapshot::next_process, false);
}

BOOL WINAPI Thread32First(HANDLE hSnapshot, LPTHREADENTRY32 lpte)
{
    return shell::step(hSnapshot, lpte, &Snapshot::threads, &Snapshot::next_thread, true);
}

BOOL WINAPI Thread32Next(HANDLE hSnapshot, LPTHREADENTRY32 lpte)
{
    return shell::step(hSnapshot, lpte, &Snapshot::threads, &Snapshot::next_thread, false);
}

} // extern "C"
