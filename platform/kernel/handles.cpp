// The handle table, CloseHandle and WaitForSingleObject.  Emulates the
// Windows CE kernel's per-process handles over shared kernel objects;
// leaves out handle inheritance, duplication, access rights and waits on
// several objects at once, which the programs never use.
#include <map>

#include "kernel/objects.h"
#include "kernel/sync.h"

namespace wince::kernel {
namespace {

struct Entry {
    std::shared_ptr<Object> object;
    std::unique_ptr<HandleResource> resource;
};

struct Table {
    std::map<uintptr_t, Entry> entries;
    uintptr_t next = 0x40; // handle values look like the kernel's: small multiples of 4
};

Table& table()
{
    static Table* instance = new Table; // threads may outlive static destruction
    return *instance;
}

// Ends the wait bookkeeping of an object even when the waiter unwinds.
class WaitScope {
public:
    explicit WaitScope(Object& object) : object_(object), mark_(object.wait_begins()) {}
    ~WaitScope() { object_.wait_ends(); }
    WaitScope(const WaitScope&) = delete;
    WaitScope& operator=(const WaitScope&) = delete;
    uint64_t mark() const { return mark_; }

private:
    Object& object_;
    uint64_t mark_;
};

} // namespace

HANDLE insert_handle(std::shared_ptr<Object> object, std::unique_ptr<HandleResource> resource)
{
    Table& t = table();
    const uintptr_t value = t.next;
    t.next += 4;
    t.entries.emplace(value, Entry{std::move(object), std::move(resource)});
    return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<Object> find_handle(HANDLE handle)
{
    Table& t = table();
    auto found = t.entries.find(reinterpret_cast<uintptr_t>(handle));
    return found == t.entries.end() ? nullptr : found->second.object;
}

} // namespace wince::kernel

using namespace wince;

extern "C" BOOL WINAPI CloseHandle(HANDLE hObject)
{
    kernel::Entry closed;
    {
        auto held = sync::lock();
        auto& entries = kernel::table().entries;
        auto found = entries.find(reinterpret_cast<uintptr_t>(hObject));
        if (found == entries.end())
            return fail(ERROR_INVALID_HANDLE, FALSE);
        closed = std::move(found->second);
        entries.erase(found);
    }
    // The object and the handle's resource go outside the kernel lock:
    // releasing them may close descriptors or stop a watcher thread.
    return TRUE;
}

extern "C" DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds)
{
    auto held = sync::lock();
    std::shared_ptr<kernel::Object> object = kernel::find_handle(hHandle);
    if (!object || !object->waitable())
        return fail(ERROR_INVALID_HANDLE, WAIT_FAILED);
    kernel::WaitScope scope(*object);
    if (dwMilliseconds != 0 && !object->satisfied(scope.mark()))
        object->prepare_to_block();
    const bool ok = sync::wait_until(held, sync::deadline_after(dwMilliseconds),
                                     [&] { return object->satisfied(scope.mark()); });
    if (!ok)
        return WAIT_TIMEOUT;
    object->consume();
    return WAIT_OBJECT_0;
}
