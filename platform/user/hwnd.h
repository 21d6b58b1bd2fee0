// Who is who in the window manager: window handles that carry their owning
// process, and the calling thread's and process's ids.  Usable without the
// kernel lock.
#pragma once

#include <cstdint>

#include <windows.h>

namespace wince::user {

uint32_t current_tid();
uint32_t current_pid();

// HWND values carry their process id, so they are unique on the device and
// name their owner; the low two bits stay clear (callers may set bit 0).
HWND make_hwnd(uint32_t pid, uint64_t serial);
uint64_t hwnd_value(HWND hwnd);
uint32_t hwnd_pid(HWND hwnd);
HWND hwnd_from_value(uint64_t value);

} // namespace wince::user
