// Local memory as Windows CE has it: fixed blocks only (LMEM_FIXED, with
// LMEM_ZEROINIT or as LPTR).  Leaves out moveable blocks, LocalLock and
// LocalReAlloc, which the device's programs do not use.  Every live block is
// known, so freeing a block twice or a pointer that is not one fails as
// Windows does instead of corrupting the heap.
#include <cstdlib>
#include <mutex>
#include <unordered_map>

#include <windows.h>

#include "crt/errors.h"
#include "device/device.h"

namespace {

// A 32-bit device cannot hand out more than this in one block.
constexpr SIZE_T largest_block = 0x7FFFFFFF;

struct Blocks {
    std::mutex mutex;
    std::unordered_map<void*, SIZE_T> sizes;
};

// Never destroyed: blocks may be freed from other static destructors.
Blocks& blocks()
{
    static Blocks* live = new Blocks;
    return *live;
}

} // namespace

extern "C" HLOCAL WINAPI LocalAlloc(UINT uFlags, SIZE_T uBytes)
{
    if (uFlags & ~LMEM_ZEROINIT)
        return wince::fail(ERROR_INVALID_PARAMETER, nullptr);
    if (uBytes > largest_block || wince::device::inject_fault("LocalAlloc"))
        return wince::fail(ERROR_NOT_ENOUGH_MEMORY, nullptr);
    // A zero-byte block is still a distinct block that LocalFree accepts.
    const SIZE_T allocated = uBytes ? uBytes : 1;
    void* block = (uFlags & LMEM_ZEROINIT) ? std::calloc(1, allocated) : std::malloc(allocated);
    if (!block)
        return wince::fail(ERROR_NOT_ENOUGH_MEMORY, nullptr);
    Blocks& live = blocks();
    std::lock_guard lock(live.mutex);
    live.sizes[block] = uBytes;
    return block;
}

extern "C" HLOCAL WINAPI LocalFree(HLOCAL hMem)
{
    if (!hMem)
        return nullptr;
    Blocks& live = blocks();
    {
        std::lock_guard lock(live.mutex);
        if (live.sizes.erase(hMem) == 0)
            return wince::fail(ERROR_INVALID_HANDLE, hMem);
    }
    std::free(hMem);
    return nullptr;
}

extern "C" SIZE_T WINAPI LocalSize(HLOCAL hMem)
{
    Blocks& live = blocks();
    std::lock_guard lock(live.mutex);
    const auto block = live.sizes.find(hMem);
    if (block == live.sizes.end())
        return wince::fail(ERROR_INVALID_HANDLE, 0);
    return block->second;
}
