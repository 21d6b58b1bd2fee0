// Events (manual and automatic reset, EventModify and its forms) and
// mutexes.  Event names are private to the process; mutex names are shared
// by all processes of the device: each open handle of a named mutex holds a
// shared flock on run/mutex/<name>.lock, so the name exists exactly while a
// live handle does anywhere on the device, and a killed process holds none.
// Leaves out: ownership of a mutex across processes (waits and ReleaseMutex
// work within the process), abandoned mutexes, security attributes.
#include <cctype>
#include <cerrno>
#include <filesystem>
#include <map>
#include <string>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "device/device.h"
#include "device/files.h"
#include "kernel/objects.h"
#include "kernel/sync.h"

namespace wince::kernel {
namespace {

class Event : public Object {
public:
    Event(bool manual, bool initial) : manual_(manual), signalled_(initial) {}

    uint64_t wait_begins() override
    {
        ++waiting_;
        return pulses_;
    }
    void wait_ends() override { --waiting_; }
    bool satisfied(uint64_t mark) override
    {
        if (signalled_)
            return true;
        // A pulse releases the threads that were waiting when it came: all
        // of them for a manual-reset event, one for an automatic one.
        return pulses_ != mark && (manual_ || pulse_releases_ > 0);
    }
    void consume() override
    {
        if (!manual_ && signalled_)
            signalled_ = false;
        else if (!manual_ && pulse_releases_ > 0)
            --pulse_releases_;
    }

    void set() { signalled_ = true; }
    void reset() { signalled_ = false; }
    void pulse()
    {
        signalled_ = false;
        if (waiting_ == 0)
            return;
        ++pulses_;
        if (!manual_)
            pulse_releases_ = 1;
    }

private:
    bool manual_;
    bool signalled_;
    int waiting_ = 0;
    uint64_t pulses_ = 0;
    int pulse_releases_ = 0;
};

class Mutex : public Object {
public:
    explicit Mutex(bool owned)
    {
        if (owned) {
            owner_ = static_cast<DWORD>(::gettid());
            count_ = 1;
        }
    }
    bool satisfied(uint64_t) override { return count_ == 0 || owner_ == static_cast<DWORD>(::gettid()); }
    void consume() override
    {
        owner_ = static_cast<DWORD>(::gettid());
        ++count_;
    }
    bool release()
    {
        if (count_ == 0 || owner_ != static_cast<DWORD>(::gettid()))
            return false;
        if (--count_ == 0)
            owner_ = 0;
        return true;
    }

private:
    DWORD owner_ = 0;
    unsigned count_ = 0;
};

// Process-local names of events and mutexes (a mutex is also claimed on the
// device, see NameClaim).
std::map<std::wstring, std::weak_ptr<Event>>& event_names()
{
    static auto* names = new std::map<std::wstring, std::weak_ptr<Event>>;
    return *names;
}

std::map<std::wstring, std::weak_ptr<Mutex>>& mutex_names()
{
    static auto* names = new std::map<std::wstring, std::weak_ptr<Mutex>>;
    return *names;
}

using device::Descriptor;

// One handle's share of a device-wide mutex name.
class NameClaim : public HandleResource {
public:
    explicit NameClaim(Descriptor fd) : fd_(std::move(fd)) {}

private:
    Descriptor fd_; // holds the shared flock; closing it gives the claim up
};

// "_CALL_TICKER_EXE_MUTEX_" stays readable; anything unsafe in a file name
// is written as %XX of its UTF-8 bytes.
std::string encode_name(std::wstring_view name)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : device::narrow(name)) {
        if (std::isalnum(c) || c == '_' || c == '-' || (c == '.' && !out.empty())) {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back('%');
            out.push_back(hex[c >> 4]);
            out.push_back(hex[c & 15]);
        }
    }
    return out;
}

struct ClaimResult {
    std::unique_ptr<NameClaim> claim;
    bool existed = false;
    DWORD error = ERROR_SUCCESS;
};

// Claims `name` on the device; a guard lock makes "is anybody holding it?"
// and "now I hold it" one step for all processes of the device.
ClaimResult claim_name(std::wstring_view name)
{
    ClaimResult result;
    const std::string file = encode_name(name) + ".lock";
    if (file.size() > 250) {
        result.error = ERROR_FILENAME_EXCED_RANGE;
        return result;
    }
    // Anybody who could open these files could lock them, and make the
    // device's programs believe a mutex is held or wait for ever.
    const std::filesystem::path dir = device::run_dir() / "mutex";
    device::make_private_dirs(dir);
    Descriptor guard(device::open_private(dir / "guard", O_RDWR | O_CREAT));
    Descriptor fd(device::open_private(dir / file, O_RDWR | O_CREAT));
    if (guard.get() < 0 || fd.get() < 0) {
        result.error = ERROR_ACCESS_DENIED;
        return result;
    }
    while (::flock(guard.get(), LOCK_EX) != 0)
        if (errno != EINTR) {
            result.error = ERROR_GEN_FAILURE;
            return result;
        }
    // Every live handle holds a shared lock; an exclusive one is free only
    // when there is none.  Under the guard nobody else converts meanwhile.
    result.existed = ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0;
    if (::flock(fd.get(), LOCK_SH) != 0) {
        result.error = ERROR_GEN_FAILURE;
        return result;
    }
    result.claim = std::make_unique<NameClaim>(std::move(fd));
    return result; // the guard is released as `guard` closes
}

std::shared_ptr<Event> find_event(HANDLE handle) { return find_handle_as<Event>(handle); }

} // namespace
} // namespace wince::kernel

using namespace wince;
using wince::fail;

extern "C" HANDLE WINAPI CreateEventW(LPSECURITY_ATTRIBUTES, BOOL bManualReset, BOOL bInitialState, LPCWSTR lpName)
{
    if (device::inject_fault("CreateEventW"))
        return fail(ERROR_NOT_ENOUGH_MEMORY, HANDLE(nullptr));
    auto held = sync::lock();
    if (lpName && *lpName) {
        auto& names = kernel::event_names();
        if (auto existing = names[lpName].lock()) {
            HANDLE handle = kernel::insert_handle(existing);
            SetLastError(ERROR_ALREADY_EXISTS);
            return handle;
        }
    }
    auto event = std::make_shared<kernel::Event>(bManualReset != FALSE, bInitialState != FALSE);
    if (lpName && *lpName)
        kernel::event_names()[lpName] = event;
    HANDLE handle = kernel::insert_handle(event);
    SetLastError(ERROR_SUCCESS);
    return handle;
}

extern "C" BOOL WINAPI EventModify(HANDLE hEvent, DWORD func)
{
    auto held = sync::lock();
    auto event = kernel::find_event(hEvent);
    if (!event)
        return fail(ERROR_INVALID_HANDLE, FALSE);
    switch (func) {
    case EVENT_SET:
        event->set();
        break;
    case EVENT_RESET:
        event->reset();
        break;
    case EVENT_PULSE:
        event->pulse();
        break;
    default:
        return fail(ERROR_INVALID_PARAMETER, FALSE);
    }
    sync::wake_all();
    return TRUE;
}

extern "C" BOOL WINAPI SetEvent(HANDLE hEvent) { return EventModify(hEvent, EVENT_SET); }
extern "C" BOOL WINAPI ResetEvent(HANDLE hEvent) { return EventModify(hEvent, EVENT_RESET); }
extern "C" BOOL WINAPI PulseEvent(HANDLE hEvent) { return EventModify(hEvent, EVENT_PULSE); }

extern "C" HANDLE WINAPI CreateMutexW(LPSECURITY_ATTRIBUTES, BOOL bInitialOwner, LPCWSTR lpName)
{
    if (device::inject_fault("CreateMutexW"))
        return fail(ERROR_NOT_ENOUGH_MEMORY, HANDLE(nullptr));
    if (!lpName || !*lpName) {
        auto held = sync::lock();
        HANDLE handle = kernel::insert_handle(std::make_shared<kernel::Mutex>(bInitialOwner != FALSE));
        SetLastError(ERROR_SUCCESS);
        return handle;
    }
    // The device-wide claim involves file locks: taken before the kernel lock.
    kernel::ClaimResult claim = kernel::claim_name(lpName);
    if (!claim.claim)
        return fail(claim.error, HANDLE(nullptr));
    auto held = sync::lock();
    auto& names = kernel::mutex_names();
    std::shared_ptr<kernel::Mutex> mutex = names[lpName].lock();
    const bool existed = claim.existed || mutex;
    if (!mutex) {
        mutex = std::make_shared<kernel::Mutex>(bInitialOwner != FALSE);
        names[lpName] = mutex;
    }
    HANDLE handle = kernel::insert_handle(mutex, std::move(claim.claim));
    SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return handle;
}

extern "C" BOOL WINAPI ReleaseMutex(HANDLE hMutex)
{
    auto held = sync::lock();
    auto mutex = kernel::find_handle_as<kernel::Mutex>(hMutex);
    if (!mutex)
        return fail(ERROR_INVALID_HANDLE, FALSE);
    if (!mutex->release())
        return fail(ERROR_NOT_OWNER, FALSE);
    sync::wake_all();
    return TRUE;
}
