// Kernel lock, waits and the manual clock's scheduler.
#include "sync.h"

#include <algorithm>
#include <condition_variable>
#include <list>

#include "kernel/process_table.h"

namespace wince::sync {
namespace {

struct Waiter {
    double deadline;
    bool counted;
    bool awake;
};

struct Kernel {
    std::mutex big_lock;
    std::condition_variable waiters_cv;
    std::condition_variable quiet_cv; // the manual clock's scheduler waits here
    std::list<Waiter*> waiters;
    long running_device_threads = 0;
};

// Made on first use (static initialisers of other services may already
// lock) and never destroyed: device threads may still wait while the
// process exits, and destroying a condition variable with waiters hangs.
Kernel& kernel()
{
    static Kernel* instance = new Kernel;
    return *instance;
}

thread_local bool is_device_thread = false;
thread_local const bool* termination_flag = nullptr;

bool terminated() { return termination_flag && *termination_flag; }

void on_blocked(Waiter& w)
{
    w.awake = false;
    if (!w.counted)
        return;
    process::settled();
    if (--kernel().running_device_threads == 0)
        kernel().quiet_cv.notify_all();
}

void on_woken(Waiter& w)
{
    if (!w.awake) {
        w.awake = true;
        if (w.counted)
            ++kernel().running_device_threads;
    }
}

} // namespace

Lock lock() { return Lock(kernel().big_lock); }
std::mutex& kernel_mutex() { return kernel().big_lock; }

void wake_all()
{
    for (Waiter* w : kernel().waiters)
        on_woken(*w);
    kernel().waiters_cv.notify_all();
}

double deadline_after(unsigned long ms)
{
    if (ms == 0xFFFFFFFFul)
        return clock::forever;
    return clock::now() + static_cast<double>(ms);
}

void end_thread_when(const bool* flag) { termination_flag = flag; }

bool wait_until(Lock& held, double deadline, const std::function<bool()>& pred)
{
    if (terminated())
        throw ThreadTerminated{};
    if (pred())
        return true;
    Waiter self{deadline, is_device_thread, true};
    auto it = kernel().waiters.insert(kernel().waiters.end(), &self);
    bool satisfied = false;
    for (;;) {
        if (terminated()) {
            kernel().waiters.erase(it);
            throw ThreadTerminated{};
        }
        if (pred()) {
            satisfied = true;
            break;
        }
        if (clock::now() >= deadline)
            break;
        on_blocked(self);
        if (clock::manual() || deadline == clock::forever)
            kernel().waiters_cv.wait(held);
        else
            kernel().waiters_cv.wait_until(held, clock::real_time_of(deadline));
        on_woken(self);
    }
    kernel().waiters.erase(it);
    return satisfied;
}

DeviceThread::DeviceThread()
{
    Lock held(kernel().big_lock);
    is_device_thread = true;
    ++kernel().running_device_threads;
}

DeviceThread::~DeviceThread() { release_device_thread(); }

void reserve_device_thread()
{
    Lock held(kernel().big_lock);
    ++kernel().running_device_threads;
}

void adopt_reserved_device_thread() { is_device_thread = true; }

void release_device_thread()
{
    Lock held(kernel().big_lock);
    if (!is_device_thread)
        return;
    is_device_thread = false;
    if (--kernel().running_device_threads == 0)
        kernel().quiet_cv.notify_all();
}

void settle()
{
    Lock held(kernel().big_lock);
    kernel().quiet_cv.wait(held, [] { return kernel().running_device_threads == 0; });
}

void advance(double ms)
{
    Lock held(kernel().big_lock);
    const double target = clock::now() + ms;
    for (;;) {
        kernel().quiet_cv.wait(held, [] { return kernel().running_device_threads == 0; });
        double next = target;
        for (const Waiter* w : kernel().waiters)
            if (!w->awake)
                next = std::min(next, w->deadline);
        clock::set_manual_now(std::max(next, clock::now()));
        wake_all();
        if (next >= target)
            break;
    }
    kernel().quiet_cv.wait(held, [] { return kernel().running_device_threads == 0; });
}

} // namespace wince::sync
