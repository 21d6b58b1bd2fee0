/*
 * Control of the call monitor as a process: found by its file name in a
 * fresh snapshot, started through the shell from this program's folder,
 * stopped with its quit message and a bounded wait.  Nothing about the
 * monitor is kept between calls.
 */
#include "config.h"

#include <shellapi.h>
#include <tlhelp32.h>

#include "monitor_messages.h"

/* Empties `path` when this program's own path is unknown, too long, has no
   folder, or leaves no room for the monitor's name beside it. */
void GetMonitorPath(LPWSTR path)
{
    DWORD dwLength = GetModuleFileNameW(NULL, path, MAX_PATH);
    LPWSTR pSlash;
    if (dwLength == 0 || dwLength >= MAX_PATH) {
        path[0] = L'\0';
        return;
    }
    pSlash = wcsrchr(path, L'\\');
    if (pSlash == NULL || (size_t)(pSlash + 1 - path) + wcslen(MONITOR_EXE_NAME) >= MAX_PATH) {
        path[0] = L'\0';
        return;
    }
    pSlash[1] = L'\0';
    wcscat(path, MONITOR_EXE_NAME);
}

DWORD FindMonitorProcess(void)
{
    DWORD dwProcessId = MONITOR_NOT_FOUND;
    PROCESSENTRY32 pe;
    BOOL bMore;
    HANDLE hSnapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (hSnapshot == INVALID_HANDLE_VALUE)
        return MONITOR_NOT_FOUND;
    pe.dwSize = sizeof(pe);
    for (bMore = Process32First(hSnapshot, &pe); bMore; bMore = Process32Next(hSnapshot, &pe)) {
        if (_wcsicmp(pe.szExeFile, MONITOR_EXE_NAME) == 0) {
            dwProcessId = pe.th32ProcessID;
            break;
        }
    }
    CloseToolhelp32Snapshot(hSnapshot);
    return dwProcessId;
}

BOOL IsMonitorRunning(void)
{
    return FindMonitorProcess() != MONITOR_NOT_FOUND;
}

BOOL StartMonitor(LPCWSTR path)
{
    WCHAR szPath[MAX_PATH];
    SHELLEXECUTEINFO sei;
    BOOL bStarted;
    if (IsMonitorRunning())
        return FALSE;
    if (path == NULL)
        GetMonitorPath(szPath);
    else if (wcslen(path) < MAX_PATH)
        wcscpy(szPath, path);
    else
        szPath[0] = L'\0';
    if (szPath[0] == L'\0')
        return FALSE;

    memset(&sei, 0, sizeof(sei));
    sei.cbSize = sizeof(sei);
    sei.fMask = SEE_MASK_NOCLOSEPROCESS;
    sei.lpVerb = L"Open";
    sei.lpFile = szPath;
    bStarted = ShellExecuteEx(&sei) == TRUE;
    /* The monitor is found by name whenever it is needed; its handle is not. */
    if (sei.hProcess != NULL)
        CloseHandle(sei.hProcess);
    return bStarted;
}

static void PostQuitToThreadsOf(DWORD dwProcessId)
{
    THREADENTRY32 te;
    BOOL bMore;
    HANDLE hSnapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (hSnapshot == INVALID_HANDLE_VALUE)
        return;
    te.dwSize = sizeof(te);
    for (bMore = Thread32First(hSnapshot, &te); bMore; bMore = Thread32Next(hSnapshot, &te)) {
        if (te.th32OwnerProcessID == dwProcessId)
            PostThreadMessageW(te.th32ThreadID, WM_MONITOR_QUIT, 0, 0);
    }
    CloseToolhelp32Snapshot(hSnapshot);
}

BOOL StopMonitor(void)
{
    DWORD dwWait;
    HANDLE hProcess;
    DWORD dwProcessId = FindMonitorProcess();
    if (dwProcessId == MONITOR_NOT_FOUND)
        return FALSE;
    hProcess = OpenProcess(0, FALSE, dwProcessId);
    if (hProcess == NULL)
        return FALSE;
    PostQuitToThreadsOf(dwProcessId);
    dwWait = WaitForSingleObject(hProcess, MONITOR_STOP_TIMEOUT_MS);
    CloseHandle(hProcess);
    return dwWait != WAIT_TIMEOUT;
}
