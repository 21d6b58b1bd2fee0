// The kernel lock and the one blocking primitive of the emulated platform.
//
// All kernel state of a process (events, threads, message queues, timers,
// telephony queues, audio completions) is guarded by one lock per process.
// A thread that must block calls wait_until() with a predicate and a device
// deadline; every state change calls wake_all().  Nothing polls: a waiter
// sleeps until a state change or its deadline.
//
// Device threads (the program's main thread, threads from CreateThread, the
// audio system's threads) are counted, so that on the manual clock advance()
// can run them in simulated time: it waits until every device thread is
// blocked, then moves the clock to the earliest deadline, and so on up to
// the requested time.  Other threads (the channel reader, test drivers) may
// wait too but are not counted.
#pragma once

#include <functional>
#include <mutex>
#include <thread>

#include "device/clock.h"

namespace wince::sync {

using Lock = std::unique_lock<std::mutex>;

// The process's kernel lock.
Lock lock();
std::mutex& kernel_mutex();

// Wakes every waiter so it re-checks its predicate.  Call with the lock held.
void wake_all();

// Blocks until pred() holds or the device clock reaches `deadline` (device
// ms, clock::forever for none).  Called with the lock held; returns pred().
//
// A thread that TerminateThread has ended leaves at its next wait: for it
// wait_until throws ThreadTerminated (with the lock still held by `held`),
// which unwinds to the thread's start routine.  A host thread cannot be
// killed, so keep state changed around a wait in RAII objects.
bool wait_until(Lock& held, double deadline, const std::function<bool()>& pred);

// Thrown out of the waits of a terminated thread; deliberately not a
// std::exception, so that handlers for those let it pass.
struct ThreadTerminated {};

// The calling thread is ended at its next wait once *flag becomes true (set
// with the kernel lock held, followed by wake_all()).  Null clears it.
void end_thread_when(const bool* flag);

// Device milliseconds from now -> deadline (INFINITE -> forever).
double deadline_after(unsigned long ms);

// Marks the calling thread as a device thread for its lifetime.
class DeviceThread {
public:
    DeviceThread();
    ~DeviceThread();
    DeviceThread(const DeviceThread&) = delete;
    DeviceThread& operator=(const DeviceThread&) = delete;
};

// For CreateThread: count a thread before it starts running (so the manual
// clock never advances past its first steps), and hand it over when it runs.
void reserve_device_thread();
void adopt_reserved_device_thread(); // called first thing by the new thread
void release_device_thread();        // called last thing by a device thread

// Starts a host thread that counts as a device thread from the moment it is
// created until `body` returns.
template <class Body>
std::thread spawn_device_thread(Body body)
{
    reserve_device_thread();
    return std::thread([body = std::move(body)]() mutable {
        adopt_reserved_device_thread();
        body();
        release_device_thread();
    });
}

// Manual clock only: runs the device's threads up to now + ms of device time.
void advance(double ms);

// Manual clock only: waits until every device thread is blocked.
void settle();

} // namespace wince::sync
