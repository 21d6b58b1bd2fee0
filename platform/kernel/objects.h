// Kernel objects behind HANDLEs and the process's handle table.  Every
// object and the table are guarded by the kernel lock (kernel/sync.h).
#pragma once

#include <cstdint>
#include <memory>

#include <windows.h>

#include "crt/errors.h"

namespace wince::kernel {

// Something a thread can wait for.  All members run with the kernel lock held.
class Object {
public:
    virtual ~Object() = default;

    // Some handles (tool-help snapshots) name nothing to wait for: a wait on
    // them fails as on Windows instead of blocking for ever.
    virtual bool waitable() const { return true; }

    // A wait on this object begins; returns a mark that satisfied() gets back
    // (events use it to see pulses that happened while the waiter slept).
    virtual uint64_t wait_begins() { return 0; }
    virtual void wait_ends() {}
    virtual bool satisfied(uint64_t mark) = 0;
    // The wait that found the object satisfied takes what it consumes
    // (an automatic-reset event's signal, a mutex's ownership).
    virtual void consume() {}
    // Called before the waiter blocks (process objects start watching).
    virtual void prepare_to_block() {}
};

// Something kept for as long as one handle is open (a named mutex's claim).
class HandleResource {
public:
    virtual ~HandleResource() = default;
};

// Lock held for all of these.
HANDLE insert_handle(std::shared_ptr<Object> object, std::unique_ptr<HandleResource> resource = nullptr);
std::shared_ptr<Object> find_handle(HANDLE handle);

template <class T>
std::shared_ptr<T> find_handle_as(HANDLE handle)
{
    return std::dynamic_pointer_cast<T>(find_handle(handle));
}

} // namespace wince::kernel
