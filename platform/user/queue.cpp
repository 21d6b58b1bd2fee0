// Emulates the message queues of Windows CE threads: taking messages
// (GetMessageW, PeekMessageW: posted ones first, then WM_QUIT, then a due
// timer's WM_TIMER), SendMessageW within the process (run on the window's
// own thread), DispatchMessageW, and a thread's queue and windows removed
// when the thread ends.  Posting is post.cpp's, timers timers.cpp's.
// Leaves out hooks, input state (GetKeyState), WM_PAINT generation and
// message-only windows.
#include <algorithm>
#include <cmath>

#include "crt/errors.h"
#include "device/clock.h"
#include "device/device.h"
#include "device/eventlog.h"
#include "kernel/sync.h"
#include "state.h"
#include "toplevel.h"
#include "view.h"
#include "window.h"

namespace wince::user {
namespace {

const HWND thread_messages_only = reinterpret_cast<HWND>(static_cast<intptr_t>(-1));

// Removes a thread's queue and windows when the thread ends, as Windows
// does; senders waiting on it are released.
struct QueueLifetime {
    uint32_t tid = 0;
    ~QueueLifetime()
    {
        if (tid == 0)
            return;
        bool had_windows = false;
        {
            auto held = sync::lock();
            State& s = state();
            for (auto it = s.windows.begin(); it != s.windows.end();) {
                if (it->second.thread == tid) {
                    had_windows = true;
                    it = s.windows.erase(it);
                } else {
                    ++it;
                }
            }
            auto found = s.queues.find(tid);
            if (found != s.queues.end()) {
                for (SentMessage* sent : found->second.sent)
                    sent->done = true;
                s.queues.erase(found);
            }
            sync::wake_all();
        }
        if (had_windows)
            toplevel::publish();
    }
};
thread_local QueueLifetime queue_lifetime;

struct Filter {
    HWND hwnd;
    UINT first;
    UINT last;

    bool accepts_message(UINT message) const
    {
        if (first == 0 && last == 0)
            return true;
        if (first <= last)
            return message >= first && message <= last;
        return message >= first || message <= last;
    }

    bool accepts_window(HWND target) const
    {
        if (hwnd == nullptr)
            return true;
        if (hwnd == thread_messages_only)
            return target == nullptr;
        for (HWND h = target; h != nullptr;) {
            if (h == hwnd)
                return true;
            const Window* w = find_window(h);
            if (w == nullptr || w->top_level())
                return false;
            h = w->parent;
        }
        return false;
    }

    bool accepts(HWND target, UINT message) const { return accepts_window(target) && accepts_message(message); }
};

Timer* due_timer(Queue& queue, const Filter& filter)
{
    Timer* earliest = nullptr;
    const double now = clock::now();
    for (Timer& timer : queue.timers)
        if (timer.due <= now && filter.accepts(timer.hwnd, WM_TIMER) && (!earliest || timer.due < earliest->due))
            earliest = &timer;
    return earliest;
}

double next_timer_due(const Queue& queue, const Filter& filter)
{
    double next = clock::forever;
    for (const Timer& timer : queue.timers)
        if (filter.accepts(timer.hwnd, WM_TIMER))
            next = std::min(next, timer.due);
    return next;
}

enum class Taken { nothing, message, quit };

// Takes the next message the filter accepts: posted messages first, then
// WM_QUIT, then a due timer.  The WM_QUIT of PostQuitMessage comes whatever
// the range, as on Windows, so that a loop that filters still ends.
Taken take_message(Queue& queue, const Filter& filter, MSG& out, bool remove)
{
    for (auto it = queue.posted.begin(); it != queue.posted.end(); ++it) {
        const HWND target = it->to_focus ? focus_control_locked(it->hwnd) : it->hwnd;
        if (!filter.accepts(target, it->message))
            continue;
        out = MSG{target, it->message, it->wparam, it->lparam, it->time, POINT{0, 0}};
        if (remove) {
            if ((out.message == WM_KEYDOWN || out.message == WM_KEYUP) && out.wParam == VK_SHIFT)
                queue.shift = out.message == WM_KEYDOWN;
            queue.posted.erase(it);
        }
        return Taken::message;
    }
    if (queue.quit) {
        out = MSG{nullptr, WM_QUIT, static_cast<WPARAM>(queue.quit_code), 0, message_time(), POINT{0, 0}};
        if (remove)
            queue.quit = false;
        return Taken::quit;
    }
    if (Timer* timer = due_timer(queue, filter)) {
        out = MSG{timer->hwnd, WM_TIMER, timer->id, reinterpret_cast<LPARAM>(timer->proc), message_time(), POINT{0, 0}};
        if (remove) {
            // The timer keeps its cadence; a thread that fell intervals
            // behind gets one WM_TIMER for them, not a burst.
            const double missed = std::floor((clock::now() - timer->due) / timer->interval);
            timer->due += (missed + 1) * timer->interval;
        }
        return Taken::message;
    }
    return Taken::nothing;
}

bool message_ready(Queue& queue, const Filter& filter)
{
    MSG ignored;
    return take_message(queue, filter, ignored, false) != Taken::nothing;
}

// Runs the messages other threads sent to this thread's windows.  Returns
// whether it ran any (the lock was released meanwhile).
bool run_sent_messages(Queue& queue, sync::Lock& held)
{
    bool ran = false;
    while (!queue.sent.empty()) {
        SentMessage* sent = queue.sent.front();
        queue.sent.pop_front();
        const Window* w = find_window(sent->hwnd);
        WNDPROC proc = w ? w->proc : nullptr;
        held.unlock();
        const LRESULT result = proc ? proc(sent->hwnd, sent->message, sent->wparam, sent->lparam) : 0;
        held.lock();
        sent->result = result;
        sent->done = true;
        sync::wake_all();
        ran = true;
    }
    return ran;
}

bool valid_filter_window(HWND hwnd)
{
    if (hwnd == nullptr || hwnd == thread_messages_only)
        return true;
    const Window* w = find_window(hwnd);
    return w != nullptr && w->thread == current_tid();
}

bool filter_window_gone(const Filter& filter)
{
    return filter.hwnd != nullptr && filter.hwnd != thread_messages_only && find_window(filter.hwnd) == nullptr;
}

BOOL get_or_peek(LPMSG out, HWND hwnd, UINT first, UINT last, bool wait, bool remove)
{
    auto held = sync::lock();
    Queue& queue = own_queue();
    if (!valid_filter_window(hwnd))
        return fail(ERROR_INVALID_WINDOW_HANDLE, wait ? -1 : FALSE);
    const Filter filter{hwnd, first, last};
    // A thread back in GetMessageW has finished with its last message.
    if (wait && remove)
        eventlog::set_handling(std::nullopt);
    for (;;) {
        if (run_sent_messages(queue, held))
            continue;
        MSG msg;
        const Taken taken = take_message(queue, filter, msg, remove);
        if (taken != Taken::nothing) {
            if (remove)
                eventlog::set_handling(eventlog::Handling{msg.message, msg.wParam});
            *out = msg;
            return msg.message == WM_QUIT && wait ? 0 : TRUE;
        }
        if (state().views_dirty) {
            // Nothing to do: what changed is shown, as Windows paints now.
            held.unlock();
            publish_views();
            held.lock();
            continue;
        }
        if (!wait)
            return FALSE;
        if (filter_window_gone(filter))
            return fail(ERROR_INVALID_WINDOW_HANDLE, -1);
        sync::wait_until(held, next_timer_due(queue, filter), [&] {
            return !queue.sent.empty() || message_ready(queue, filter) || filter_window_gone(filter) ||
                   state().views_dirty;
        });
    }
}

} // namespace

Queue& own_queue()
{
    const uint32_t tid = current_tid();
    Queue& queue = state().queues[tid];
    if (!queue.attached) {
        queue.attached = true;
        queue_lifetime.tid = tid;
    }
    return queue;
}

} // namespace wince::user

using namespace wince;
using namespace wince::user;

BOOL WINAPI GetMessageW(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax)
{
    if (lpMsg == nullptr)
        return fail(ERROR_INVALID_PARAMETER, -1);
    if (device::inject_fault("GetMessageW"))
        return fail(ERROR_NOT_ENOUGH_MEMORY, -1);
    return get_or_peek(lpMsg, hWnd, wMsgFilterMin, wMsgFilterMax, true, true);
}

BOOL WINAPI PeekMessageW(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax, UINT wRemoveMsg)
{
    if (lpMsg == nullptr)
        return fail(ERROR_INVALID_PARAMETER, FALSE);
    return get_or_peek(lpMsg, hWnd, wMsgFilterMin, wMsgFilterMax, false, (wRemoveMsg & PM_REMOVE) != 0);
}

LRESULT WINAPI SendMessageW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    auto held = sync::lock();
    const Window* w = find_window(hWnd);
    if (w == nullptr) {
        held.unlock();
        // Windows of other processes are not reachable synchronously here.
        const bool foreign = hwnd_pid(hWnd) != current_pid() && hWnd != nullptr && toplevel::find(hWnd);
        return fail(foreign ? ERROR_ACCESS_DENIED : ERROR_INVALID_WINDOW_HANDLE, LRESULT(0));
    }
    if (w->thread == current_tid()) {
        WNDPROC proc = w->proc;
        held.unlock();
        return proc(hWnd, Msg, wParam, lParam);
    }
    // Another thread of this process runs it inside its own message calls;
    // meanwhile this thread runs what is sent to it, so two threads sending
    // to each other do not deadlock.
    SentMessage sent{hWnd, Msg, wParam, lParam};
    const uint32_t target_tid = w->thread;
    state().queues[target_tid].sent.push_back(&sent);
    sync::wake_all();
    Queue& mine = own_queue();
    while (!sent.done) {
        if (run_sent_messages(mine, held))
            continue;
        if (find_window(hWnd) == nullptr) {
            if (Queue* target = queue_of(target_tid))
                std::erase(target->sent, &sent);
            break;
        }
        sync::wait_until(held, clock::forever,
                         [&] { return sent.done || !mine.sent.empty() || find_window(hWnd) == nullptr; });
    }
    return sent.result;
}

LRESULT WINAPI DispatchMessageW(const MSG* lpMsg)
{
    if (lpMsg == nullptr || (lpMsg->hwnd == nullptr && lpMsg->message != WM_TIMER))
        return 0;
    auto held = sync::lock();
    if (lpMsg->message == WM_TIMER && lpMsg->lParam != 0) {
        // Only a timer procedure that this thread's timer really carries is
        // called; a forged lParam is not a function to jump to.
        const Queue* queue = queue_of(current_tid());
        TIMERPROC proc = reinterpret_cast<TIMERPROC>(lpMsg->lParam);
        const bool genuine = queue && std::any_of(queue->timers.begin(), queue->timers.end(), [&](const Timer& t) {
                                 return t.hwnd == lpMsg->hwnd && t.id == lpMsg->wParam && t.proc == proc;
                             });
        held.unlock();
        if (genuine)
            proc(lpMsg->hwnd, WM_TIMER, lpMsg->wParam, static_cast<DWORD>(clock::now()));
        return 0;
    }
    if (lpMsg->hwnd == nullptr)
        return 0;
    const Window* w = find_window(lpMsg->hwnd);
    if (w == nullptr)
        return fail(ERROR_INVALID_WINDOW_HANDLE, 0);
    WNDPROC proc = w->proc;
    held.unlock();
    return proc(lpMsg->hwnd, lpMsg->message, lpMsg->wParam, lpMsg->lParam);
}
