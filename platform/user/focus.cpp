// Emulates the keyboard focus of a thread's windows: SetFocus (the old
// control hears WM_KILLFOCUS, the new one WM_SETFOCUS; SetFocus(NULL) takes
// the focus from every window of the thread and its keys go nowhere until
// a window takes it again) and GetFocus, within the thread's active window.
// Leaves out focus across threads (AttachThreadInput) and WM_ACTIVATE.
#include "crt/errors.h"
#include "kernel/sync.h"
#include "state.h"
#include "window.h"

namespace wince::user {
namespace {

// The thread's active window: its newest raised visible top-level window.
Window* active_window_locked()
{
    Window* active = nullptr;
    for (auto& [hwnd, w] : state().windows)
        if (w.top_level() && w.visible && w.thread == current_tid() && (!active || w.raised > active->raised))
            active = &w;
    return active;
}

// SetFocus(NULL): nothing of the thread has the focus and its keystrokes
// are ignored until a window takes the focus again.
HWND clear_focus()
{
    HWND top;
    HWND previous;
    {
        auto held = sync::lock();
        const Window* active = active_window_locked();
        if (active == nullptr)
            return nullptr;
        top = active->hwnd;
        previous = active->focus && find_window(active->focus) ? active->focus : nullptr;
        mark_views_dirty();
    }
    if (previous)
        SendMessageW(previous, WM_KILLFOCUS, 0, 0);
    set_focus_control(top, nullptr);
    return previous;
}

} // namespace
} // namespace wince::user

using namespace wince;
using namespace wince::user;

HWND WINAPI SetFocus(HWND hWnd)
{
    if (hWnd == nullptr)
        return clear_focus();
    HWND top;
    HWND previous;
    {
        auto held = sync::lock();
        const Window* w = find_window(hWnd);
        if (w == nullptr || w->thread != current_tid())
            return fail(ERROR_INVALID_WINDOW_HANDLE, HWND{nullptr});
        top = top_level_of(hWnd);
        previous = find_window(top)->focus;
        if (previous && find_window(previous) == nullptr)
            previous = nullptr;
        if (previous == hWnd)
            return previous; // nothing changes, nothing to show anew
        mark_views_dirty();
    }
    if (previous)
        SendMessageW(previous, WM_KILLFOCUS, reinterpret_cast<WPARAM>(hWnd), 0);
    set_focus_control(top, hWnd);
    SendMessageW(hWnd, WM_SETFOCUS, reinterpret_cast<WPARAM>(previous), 0);
    return previous;
}

HWND WINAPI GetFocus(void)
{
    auto held = sync::lock();
    const Window* active = active_window_locked();
    return active ? active->focus : nullptr;
}
