// Kernel lock, waits and the manual clock's scheduler.
#include "sync.h"

#include <algorithm>
#include <condition_variable>
#include <list>

namespace wince::sync {
namespace {

struct Waiter {
    double deadline;
    bool counted;
    bool awake;
};

std::mutex big_lock;
std::condition_variable waiters_cv;
std::condition_variable quiet_cv; // the manual clock's scheduler waits here
std::list<Waiter*> waiters;
long running_device_threads = 0;
thread_local bool is_device_thread = false;

void on_blocked(Waiter& w)
{
    w.awake = false;
    if (w.counted && --running_device_threads == 0)
        quiet_cv.notify_all();
}

void on_woken(Waiter& w)
{
    if (!w.awake) {
        w.awake = true;
        if (w.counted)
            ++running_device_threads;
    }
}

} // namespace

Lock lock() { return Lock(big_lock); }
std::mutex& kernel_mutex() { return big_lock; }

void wake_all()
{
    for (Waiter* w : waiters)
        on_woken(*w);
    waiters_cv.notify_all();
}

double deadline_after(unsigned long ms)
{
    if (ms == 0xFFFFFFFFul)
        return clock::forever;
    return clock::now() + static_cast<double>(ms);
}

bool wait_until(Lock& held, double deadline, const std::function<bool()>& pred)
{
    if (pred())
        return true;
    Waiter self{deadline, is_device_thread, true};
    auto it = waiters.insert(waiters.end(), &self);
    bool satisfied = false;
    for (;;) {
        if (pred()) {
            satisfied = true;
            break;
        }
        if (clock::now() >= deadline)
            break;
        on_blocked(self);
        if (clock::manual() || deadline == clock::forever)
            waiters_cv.wait(held);
        else
            waiters_cv.wait_until(held, clock::real_time_of(deadline));
        on_woken(self);
    }
    waiters.erase(it);
    return satisfied;
}

DeviceThread::DeviceThread()
{
    Lock held(big_lock);
    is_device_thread = true;
    ++running_device_threads;
}

DeviceThread::~DeviceThread() { release_device_thread(); }

void reserve_device_thread()
{
    Lock held(big_lock);
    ++running_device_threads;
}

void adopt_reserved_device_thread() { is_device_thread = true; }

void release_device_thread()
{
    Lock held(big_lock);
    if (!is_device_thread)
        return;
    is_device_thread = false;
    if (--running_device_threads == 0)
        quiet_cv.notify_all();
}

void settle()
{
    Lock held(big_lock);
    quiet_cv.wait(held, [] { return running_device_threads == 0; });
}

void advance(double ms)
{
    Lock held(big_lock);
    const double target = clock::now() + ms;
    for (;;) {
        quiet_cv.wait(held, [] { return running_device_threads == 0; });
        double next = target;
        for (const Waiter* w : waiters)
            if (!w->awake)
                next = std::min(next, w->deadline);
        clock::set_manual_now(std::max(next, clock::now()));
        wake_all();
        if (next >= target)
            break;
    }
    quiet_cv.wait(held, [] { return running_device_threads == 0; });
}

} // namespace wince::sync
