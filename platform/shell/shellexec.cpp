// ShellExecuteEx: starts a program of the device by its device path (or by
// a host path written with backslashes, as a program started from outside
// the device sees its own), detached from the caller and on the same
// device, and hands back a handle on the new process when asked to.  The
// parameters become the program's arguments, split at blanks outside
// double quotes.  Leaves out document associations, verbs other than
// "open", the start-up directory and the show command.
#include <shellapi.h>

#include <cerrno>
#include <cwctype>
#include <optional>
#include <string>
#include <vector>

#include "crt/errors.h"
#include "device/device.h"
#include "device/eventlog.h"
#include "kernel/process_handles.h"
#include "kernel/process_table.h"

namespace wince::shell {
namespace {

bool is_open_verb(LPCWSTR verb)
{
    return !verb || !*verb || _wcsicmp(verb, L"open") == 0;
}

std::vector<std::string> split_parameters(LPCWSTR parameters)
{
    std::vector<std::string> args;
    if (!parameters)
        return args;
    std::wstring word;
    bool quoted = false, in_word = false;
    for (const wchar_t* p = parameters; *p; ++p) {
        if (*p == L'"') {
            quoted = !quoted;
            in_word = true;
        } else if (!quoted && std::iswspace(static_cast<wint_t>(*p))) {
            if (in_word)
                args.push_back(device::narrow(word));
            word.clear();
            in_word = false;
        } else {
            word += *p;
            in_word = true;
        }
    }
    if (in_word)
        args.push_back(device::narrow(word));
    return args;
}

// The Windows error and the shell's hInstApp code for a failed start.
std::pair<DWORD, int> start_error(int error)
{
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return {ERROR_FILE_NOT_FOUND, SE_ERR_FNF};
    case EACCES:
    case EPERM:
        return {ERROR_ACCESS_DENIED, SE_ERR_ACCESSDENIED};
    case ENOMEM:
        return {ERROR_NOT_ENOUGH_MEMORY, SE_ERR_OOM};
    default:
        return {ERROR_GEN_FAILURE, SE_ERR_FNF};
    }
}

// Every failure says why twice: in the last error and, as the shell's
// callers read it, in hInstApp (32 or less).
BOOL failed(SHELLEXECUTEINFOW& info, DWORD error, int shell_code)
{
    info.hInstApp = reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(shell_code));
    return fail(error, FALSE);
}

BOOL execute(SHELLEXECUTEINFOW& info)
{
    if (!is_open_verb(info.lpVerb))
        return failed(info, ERROR_NO_ASSOCIATION, SE_ERR_NOASSOC);
    int error = ENOENT;
    std::optional<int> ended;
    std::optional<uint32_t> pid;
    if (*info.lpFile)
        pid = process::spawn(device::host_path(info.lpFile), split_parameters(info.lpParameters), error, &ended);
    if (!pid) {
        const auto [code, shell_code] = start_error(error);
        return failed(info, code, shell_code);
    }
    // Success is an hInstApp above 32.
    info.hInstApp = reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(42));
    if (info.fMask & SEE_MASK_NOCLOSEPROCESS)
        info.hProcess = kernel::started_process_handle(*pid, ended);
    return TRUE;
}

} // namespace
} // namespace wince::shell

using namespace wince;

extern "C" BOOL WINAPI ShellExecuteExW(LPSHELLEXECUTEINFOW pExecInfo)
{
    if (!pExecInfo || pExecInfo->cbSize != sizeof(SHELLEXECUTEINFOW))
        return fail(ERROR_INVALID_PARAMETER, FALSE);
    pExecInfo->hProcess = nullptr;
    if (!pExecInfo->lpFile)
        return shell::failed(*pExecInfo, ERROR_FILE_NOT_FOUND, SE_ERR_FNF);
    const BOOL ok = device::inject_fault("ShellExecuteEx") ? shell::failed(*pExecInfo, ERROR_NOT_ENOUGH_MEMORY, SE_ERR_OOM)
                                                            : shell::execute(*pExecInfo);
    eventlog::write("shell.execute", {{"file", device::narrow(pExecInfo->lpFile)}, {"ok", ok == TRUE}});
    return ok;
}
