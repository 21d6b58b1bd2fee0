// Process handles for the platform's own use.
#pragma once

#include <cstdint>
#include <optional>

#include <windows.h>

namespace wince::kernel {

// A handle on a process that process::spawn() has just started.  It need
// not be a device program (it is watched by its host pid), and it may have
// ended already: `ended_status` is then its wait status, and the handle is
// signalled with that exit code.  Null after SetLastError when the process
// cannot be watched.
HANDLE started_process_handle(uint32_t pid, std::optional<int> ended_status);

} // namespace wince::kernel
