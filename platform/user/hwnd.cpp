// Window handle encoding: the owning process id in the high 32 bits and a
// per-process serial above the two low bits, so a handle means the same
// window in every process of the device and names the process to post to.
#include "hwnd.h"

#include <unistd.h>

namespace wince::user {

uint32_t current_tid() { return static_cast<uint32_t>(::gettid()); }
uint32_t current_pid() { return static_cast<uint32_t>(::getpid()); }

HWND make_hwnd(uint32_t pid, uint64_t serial) { return hwnd_from_value((uint64_t{pid} << 32) | (serial << 2)); }
uint64_t hwnd_value(HWND hwnd) { return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(hwnd)); }
uint32_t hwnd_pid(HWND hwnd) { return static_cast<uint32_t>(hwnd_value(hwnd) >> 32); }
HWND hwnd_from_value(uint64_t value) { return reinterpret_cast<HWND>(static_cast<uintptr_t>(value)); }

} // namespace wince::user
