// The platform's one rule for an API function's failure exit: set the
// thread's last error and return the failure value, in one statement.  The
// last error is per thread, so a caller may do this with the kernel lock
// still held.
#pragma once

#include <windows.h>

namespace wince {

template <class R>
R fail(DWORD code, R result)
{
    SetLastError(code);
    return result;
}

} // namespace wince
