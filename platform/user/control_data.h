// How the controls' files reach a control's own data (controls.h) and the
// messages every control answers alike.
#pragma once

#include <memory>

#include <windows.h>

#include "controls.h"
#include "kernel/sync.h"
#include "state.h"

namespace wince::user::control {

// Gives a control its data when it is made.
template <class T>
void attach(HWND hwnd, T data = {})
{
    auto held = sync::lock();
    if (Window* w = find_window(hwnd))
        w->data = std::make_shared<T>(std::move(data));
}

// Runs `change` on the control's data of kind T under the kernel lock; the
// screen shows the result when the thread next waits.  A window that has
// gone, or is of another kind, changes nothing and answers `otherwise`.
template <class T, class R, class F>
R change_control(HWND hwnd, R otherwise, F change)
{
    auto held = sync::lock();
    Window* w = find_window(hwnd);
    T* data = data_of<T>(w);
    if (data == nullptr)
        return otherwise;
    mark_views_dirty();
    return change(*data, *w);
}

// Reads the control's data under the kernel lock.  The screen is left as it
// is, so that a program polling a control does not have its screen entry
// rewritten each time.
template <class T, class R, class F>
R read_control(HWND hwnd, R otherwise, F read)
{
    auto held = sync::lock();
    const T* data = data_of<T>(find_window(hwnd));
    return data ? read(*data) : otherwise;
}

// WM_SETFONT and WM_GETFONT; false for any other message.
bool common_message(HWND hwnd, UINT msg, WPARAM wparam, LRESULT& result);

DWORD style_of(HWND hwnd);

LRESULT CALLBACK ComboBoxProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);

} // namespace wince::user::control
