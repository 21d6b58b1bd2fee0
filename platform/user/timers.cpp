// Emulates window and thread timers: SetTimer (the interval clamped to
// USER_TIMER_MINIMUM..USER_TIMER_MAXIMUM, a window timer's id kept, a
// thread timer's made up) and KillTimer.  Their WM_TIMER is made by the
// queue (queue.cpp) when a timer is due and no posted message waits.
// Leaves out SetCoalescableTimer and timers of another thread's windows.
#include <algorithm>

#include "crt/errors.h"
#include "device/clock.h"
#include "device/device.h"
#include "device/eventlog.h"
#include "kernel/sync.h"
#include "state.h"

namespace wince::user {
namespace {

UINT clamp_interval(UINT ms) { return std::clamp<UINT>(ms, USER_TIMER_MINIMUM, USER_TIMER_MAXIMUM); }

} // namespace
} // namespace wince::user

using namespace wince;
using namespace wince::user;

UINT_PTR WINAPI SetTimer(HWND hWnd, UINT_PTR nIDEvent, UINT uElapse, TIMERPROC lpTimerFunc)
{
    if (device::inject_fault("SetTimer"))
        return fail(ERROR_NOT_ENOUGH_MEMORY, 0);
    auto held = sync::lock();
    if (hWnd != nullptr) {
        const Window* w = find_window(hWnd);
        if (w == nullptr)
            return fail(ERROR_INVALID_WINDOW_HANDLE, 0);
        if (w->thread != current_tid())
            return fail(ERROR_ACCESS_DENIED, 0);
    }
    Queue& queue = own_queue();
    UINT_PTR id = nIDEvent;
    auto existing = std::find_if(queue.timers.begin(), queue.timers.end(),
                                 [&](const Timer& t) { return t.hwnd == hWnd && t.id == nIDEvent; });
    if (hWnd == nullptr && existing == queue.timers.end())
        id = state().next_thread_timer_id++;
    const UINT interval = clamp_interval(uElapse);
    const Timer timer{hWnd, id, interval, clock::now() + interval, lpTimerFunc};
    if (existing != queue.timers.end())
        *existing = timer;
    else
        queue.timers.push_back(timer);
    sync::wake_all();
    held.unlock();
    eventlog::write("timer.set", {{"hwnd", hwnd_value(hWnd)}, {"id", static_cast<uint64_t>(id)}, {"ms", uElapse}});
    if (hWnd != nullptr && id == 0)
        return 1;
    return id;
}

BOOL WINAPI KillTimer(HWND hWnd, UINT_PTR uIDEvent)
{
    auto held = sync::lock();
    Queue* queue = queue_of(current_tid());
    const size_t removed = queue ? std::erase_if(queue->timers, [&](const Timer& t) {
        return t.hwnd == hWnd && t.id == uIDEvent;
    }) : 0;
    held.unlock();
    if (removed == 0)
        return fail(ERROR_INVALID_PARAMETER, FALSE);
    eventlog::write("timer.kill", {{"hwnd", hwnd_value(hWnd)}, {"id", static_cast<uint64_t>(uIDEvent)}});
    return TRUE;
}
