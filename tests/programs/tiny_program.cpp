/*
 * TinyProgram.exe: a small device program for the kernel's end-to-end tests.
 * Its command line picks one action:
 *   exit N [MS]    sleeps MS device milliseconds (none by default), returns N
 *   probe-mutex X  returns 183 when the named mutex X already exists, else 0
 *   path           writes its GetModuleFileNameW to its output, returns 0
 *   thread N       runs a thread that returns N and returns its exit code
 */
#include <windows.h>
#include <stdio.h>

static DWORD WINAPI ReturnParameter(LPVOID parameter)
{
    return (DWORD)(UINT_PTR)parameter;
}

static BOOL HasVerb(LPCWSTR line, LPCWSTR verb, LPCWSTR* argument)
{
    size_t length = wcslen(verb);
    if (wcsncmp(line, verb, length) != 0)
        return FALSE;
    if (line[length] != L'\0' && line[length] != L' ')
        return FALSE;
    *argument = line[length] == L' ' ? line + length + 1 : line + length;
    return TRUE;
}

static int ProbeMutex(LPCWSTR name)
{
    HANDLE mutex = CreateMutexW(NULL, FALSE, name);
    int result;
    if (mutex == NULL)
        return 1;
    result = GetLastError() == ERROR_ALREADY_EXISTS ? 183 : 0;
    CloseHandle(mutex);
    return result;
}

static int RunThread(DWORD code)
{
    DWORD exitCode = 0;
    HANDLE thread = CreateThread(NULL, 0, ReturnParameter, (LPVOID)(UINT_PTR)code, 0, NULL);
    if (thread == NULL)
        return 1;
    WaitForSingleObject(thread, INFINITE);
    GetExitCodeThread(thread, &exitCode);
    CloseHandle(thread);
    return (int)exitCode;
}

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPWSTR lpCmdLine, int nShowCmd)
{
    LPCWSTR argument = NULL;
    WCHAR path[MAX_PATH];
    (void)hInstance;
    (void)hPrevInstance;
    (void)nShowCmd;
    if (HasVerb(lpCmdLine, L"exit", &argument)) {
        LPCWSTR delay = wcschr(argument, L' ');
        if (delay != NULL)
            Sleep((DWORD)_wtol(delay + 1));
        return _wtoi(argument);
    }
    if (HasVerb(lpCmdLine, L"probe-mutex", &argument))
        return ProbeMutex(argument);
    if (HasVerb(lpCmdLine, L"path", &argument)) {
        if (GetModuleFileNameW(NULL, path, MAX_PATH) == 0)
            return 1;
        printf("%ls\n", path);
        fflush(stdout);
        return 0;
    }
    if (HasVerb(lpCmdLine, L"thread", &argument))
        return RunThread((DWORD)_wtol(argument));
    return 2;
}
