// The last-error code: one per thread, as on Windows.  Nothing resets it on
// success; a call sets it only when it fails or says so.
#include <windows.h>

namespace {
thread_local DWORD last_error = ERROR_SUCCESS;
}

extern "C" DWORD WINAPI GetLastError(void)
{
    return last_error;
}

extern "C" void WINAPI SetLastError(DWORD dwErrCode)
{
    last_error = dwErrCode;
}
