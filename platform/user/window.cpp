// Emulates Windows CE window classes and windows: registration per process,
// creation with WM_CREATE, destruction with WM_DESTROY (children and owned
// windows too, timers and pending messages discarded), visibility and the
// default window procedure, GetParent and the window text (SetWindowTextW,
// GetWindowTextW).  Leaves out geometry, painting, non-client
// messages and window extra bytes: nothing is drawn, the screen is text.
#include <algorithm>
#include <set>

#include "device/clock.h"
#include "device/device.h"
#include "device/eventlog.h"
#include "crt/errors.h"
#include "kernel/sync.h"
#include "state.h"
#include "toplevel.h"
#include "touch.h"
#include "window.h"

namespace wince::user {
namespace {

std::wstring class_key(LPCWSTR name)
{
    if (IS_INTRESOURCE(name))
        return L"#" + std::to_wstring(static_cast<unsigned>(reinterpret_cast<uintptr_t>(name)));
    return name;
}

const WindowClass* find_class(LPCWSTR name)
{
    State& s = state();
    if (name == nullptr)
        return nullptr;
    if (IS_INTRESOURCE(name)) {
        const ATOM atom = static_cast<ATOM>(reinterpret_cast<uintptr_t>(name));
        for (const auto& [key, wc] : s.classes)
            if (wc.atom == atom)
                return &wc;
        return nullptr;
    }
    auto found = s.classes.find(name);
    return found == s.classes.end() ? nullptr : &found->second;
}

ATOM add_class(const WNDCLASSW& wc)
{
    State& s = state();
    const std::wstring name = class_key(wc.lpszClassName);
    const ATOM atom = s.next_atom++;
    s.classes.emplace(name, WindowClass{name, atom, wc.lpfnWndProc, wc.hInstance, wc.style});
    return atom;
}

std::wstring text_of(LPCWSTR text)
{
    // A resource ordinal in place of a text is no string to read.
    if (text == nullptr || IS_INTRESOURCE(text))
        return L"";
    return text;
}

nlohmann::json describe(const Window& w, bool visible)
{
    return {{"hwnd", hwnd_value(w.hwnd)}, {"class", narrow(w.class_name)}, {"title", narrow(w.title)}, {"visible", visible}};
}

// The window and everything that goes with it: owned top-level windows and
// children, in the order of their WM_DESTROY (the window before its children).
void collect_family(HWND hwnd, std::vector<HWND>& out)
{
    out.push_back(hwnd);
    for (const auto& [other, w] : state().windows)
        if (w.parent == hwnd && !w.destroying && std::find(out.begin(), out.end(), other) == out.end())
            collect_family(other, out);
}

void discard_queued(const std::set<HWND>& gone)
{
    for (auto& [tid, queue] : state().queues) {
        std::erase_if(queue.timers, [&](const Timer& t) { return t.hwnd && gone.count(t.hwnd); });
        std::erase_if(queue.posted, [&](const PostedMessage& m) { return m.hwnd && gone.count(m.hwnd); });
    }
}

} // namespace

ATOM register_system_class(const WNDCLASSW& wc)
{
    if (wc.lpszClassName == nullptr || wc.lpfnWndProc == nullptr)
        return 0;
    auto held = sync::lock();
    if (const WindowClass* existing = find_class(wc.lpszClassName))
        return existing->atom;
    return add_class(wc);
}

WNDPROC replace_window_proc(HWND hwnd, WNDPROC proc)
{
    auto held = sync::lock();
    Window* w = find_window(hwnd);
    if (w == nullptr || proc == nullptr)
        return nullptr;
    return std::exchange(w->proc, proc);
}

void set_focus_control(HWND top_level, HWND control)
{
    {
        auto held = sync::lock();
        Window* w = find_window(top_level);
        if (w == nullptr)
            return;
        w->focus = control;
        w->keys_ignored = control == nullptr;
    }
    toplevel::publish();
}

HWND focus_control(HWND top_level)
{
    auto held = sync::lock();
    return focus_control_locked(top_level);
}

HWND focus_control_locked(HWND top_level)
{
    const Window* w = find_window(top_level);
    if (w == nullptr || w->keys_ignored)
        return nullptr;
    for (HWND h = w->focus; h != nullptr;) {
        const Window* c = find_window(h);
        if (c == nullptr || c->top_level())
            break;
        if (c->parent == top_level)
            return w->focus;
        h = c->parent;
    }
    return top_level;
}

void set_window_details(HWND top_level, const nlohmann::json& details)
{
    {
        auto held = sync::lock();
        Window* w = find_window(top_level);
        if (w == nullptr)
            return;
        w->details.update(details);
    }
    toplevel::publish();
}

void bring_to_top(HWND top_level)
{
    {
        auto held = sync::lock();
        Window* w = find_window(top_level);
        if (w == nullptr)
            return;
        w->raised = clock::now();
    }
    toplevel::publish();
}

} // namespace wince::user

using namespace wince;
using namespace wince::user;

ATOM WINAPI RegisterClassW(const WNDCLASSW* lpWndClass)
{
    if (lpWndClass == nullptr || lpWndClass->lpfnWndProc == nullptr || lpWndClass->lpszClassName == nullptr ||
        (!IS_INTRESOURCE(lpWndClass->lpszClassName) && lpWndClass->lpszClassName[0] == L'\0'))
        return fail(ERROR_INVALID_PARAMETER, 0);
    if (device::inject_fault("RegisterClassW"))
        return fail(ERROR_NOT_ENOUGH_MEMORY, 0);
    auto held = sync::lock();
    if (find_class(lpWndClass->lpszClassName))
        return fail(ERROR_CLASS_ALREADY_EXISTS, 0);
    return add_class(*lpWndClass);
}

BOOL WINAPI UnregisterClassW(LPCWSTR lpClassName, HINSTANCE)
{
    auto held = sync::lock();
    const WindowClass* wc = find_class(lpClassName);
    if (wc == nullptr)
        return fail(ERROR_CLASS_DOES_NOT_EXIST, FALSE);
    const std::wstring name = wc->name;
    const bool in_use = std::any_of(state().windows.begin(), state().windows.end(),
                                    [&](const auto& item) { return item.second.class_name == name; });
    if (in_use)
        return fail(ERROR_CLASS_HAS_WINDOWS, FALSE);
    state().classes.erase(name);
    return TRUE;
}

HWND WINAPI CreateWindowExW(DWORD dwExStyle, LPCWSTR lpClassName, LPCWSTR lpWindowName, DWORD dwStyle, int X,
                            int Y, int nWidth, int nHeight, HWND hWndParent, HMENU hMenu, HINSTANCE hInstance,
                            LPVOID lpParam)
{
    if (device::inject_fault("CreateWindowExW"))
        return fail(ERROR_NOT_ENOUGH_MEMORY, nullptr);
    // A process with windows can be tapped and brought forward.
    touch::listen();
    listen_for_foreground();
    HWND hwnd;
    WNDPROC proc;
    bool top_level = (dwStyle & WS_CHILD) == 0;
    {
        auto held = sync::lock();
        const WindowClass* wc = find_class(lpClassName);
        if (wc == nullptr)
            return fail(ERROR_CANNOT_FIND_WND_CLASS, nullptr);
        if (!top_level && hWndParent == nullptr)
            return fail(ERROR_TLW_WITH_WSCHILD, nullptr);
        if (hWndParent != nullptr && find_window(hWndParent) == nullptr)
            return fail(ERROR_INVALID_WINDOW_HANDLE, nullptr);
        State& s = state();
        const uint64_t serial = s.next_serial++;
        hwnd = make_hwnd(current_pid(), serial);
        proc = wc->proc;
        const double now = clock::now();
        Window w{hwnd,          wc->name, text_of(lpWindowName), dwStyle, dwExStyle, proc, hWndParent, hMenu,
                 hInstance,     current_tid(), (dwStyle & WS_VISIBLE) != 0};
        w.created = now;
        w.raised = now;
        w.serial = serial;
        s.windows.emplace(hwnd, std::move(w));
        own_queue();
    }
    CREATESTRUCTW create{lpParam, hInstance, hMenu, hWndParent, nHeight, nWidth, Y, X,
                         static_cast<LONG>(dwStyle), lpWindowName, lpClassName, dwExStyle};
    // Refused by its procedure, or destroyed while being made: the handle
    // is no window any more.
    if (proc(hwnd, WM_CREATE, 0, reinterpret_cast<LPARAM>(&create)) == -1) {
        DestroyWindow(hwnd);
        return fail(ERROR_INVALID_WINDOW_HANDLE, HWND{nullptr});
    }
    nlohmann::json announce;
    {
        auto held = sync::lock();
        Window* w = find_window(hwnd);
        if (w == nullptr || w->destroying)
            return fail(ERROR_INVALID_WINDOW_HANDLE, HWND{nullptr});
        w->announced = true;
        if (top_level)
            announce = describe(*w, w->visible);
    }
    if (top_level) {
        // Published first: whoever reads the log finds the window listed.
        toplevel::publish();
        eventlog::write("window.create", announce);
    }
    return hwnd;
}

BOOL WINAPI DestroyWindow(HWND hWnd)
{
    std::vector<HWND> family;
    {
        auto held = sync::lock();
        const Window* w = find_window(hWnd);
        if (w == nullptr || w->destroying)
            return fail(ERROR_INVALID_WINDOW_HANDLE, FALSE);
        if (w->thread != current_tid())
            return fail(ERROR_ACCESS_DENIED, FALSE);
        collect_family(hWnd, family);
    }
    std::vector<nlohmann::json> announcements;
    for (HWND member : family) {
        WNDPROC proc;
        {
            auto held = sync::lock();
            Window* w = find_window(member);
            if (w == nullptr)
                continue;
            if (w->top_level() && w->announced)
                announcements.push_back(describe(*w, w->visible));
            w->destroying = true;
            w->visible = false;
            proc = w->proc;
        }
        proc(member, WM_DESTROY, 0, 0);
    }
    {
        // Whatever WM_DESTROY armed or posted goes with the windows.
        auto held = sync::lock();
        const std::set<HWND> gone(family.begin(), family.end());
        discard_queued(gone);
        for (HWND member : family)
            state().windows.erase(member);
        for (auto& [other, w] : state().windows)
            if (w.focus && gone.count(w.focus))
                w.focus = nullptr;
        sync::wake_all();
    }
    if (!announcements.empty())
        toplevel::publish();
    for (const auto& fields : announcements)
        eventlog::write("window.destroy", fields);
    return TRUE;
}

BOOL WINAPI IsWindow(HWND hWnd)
{
    if (hWnd == nullptr)
        return FALSE;
    {
        auto held = sync::lock();
        if (find_window(hWnd))
            return TRUE;
    }
    return hwnd_pid(hWnd) != current_pid() && toplevel::find(hWnd) ? TRUE : FALSE;
}

BOOL WINAPI ShowWindow(HWND hWnd, int nCmdShow)
{
    bool was_visible;
    bool publish;
    {
        auto held = sync::lock();
        Window* w = find_window(hWnd);
        if (w == nullptr || w->destroying)
            return fail(ERROR_INVALID_WINDOW_HANDLE, FALSE);
        was_visible = w->visible;
        w->visible = nCmdShow != SW_HIDE;
        if (w->visible && !was_visible)
            w->raised = clock::now();
        publish = w->top_level() && w->announced && was_visible != w->visible;
    }
    if (publish)
        toplevel::publish();
    return was_visible ? TRUE : FALSE;
}

BOOL WINAPI EnableWindow(HWND hWnd, BOOL bEnable)
{
    bool was_disabled;
    {
        auto held = sync::lock();
        Window* w = find_window(hWnd);
        if (w == nullptr || w->destroying)
            return fail(ERROR_INVALID_WINDOW_HANDLE, FALSE);
        was_disabled = (w->style & WS_DISABLED) != 0;
        if (bEnable)
            w->style &= ~static_cast<DWORD>(WS_DISABLED);
        else
            w->style |= WS_DISABLED;
        if (was_disabled != !bEnable)
            mark_views_dirty();
    }
    if (was_disabled != !bEnable)
        SendMessageW(hWnd, WM_ENABLE, bEnable ? TRUE : FALSE, 0);
    return was_disabled ? TRUE : FALSE;
}

BOOL WINAPI IsWindowEnabled(HWND hWnd)
{
    auto held = sync::lock();
    const Window* w = find_window(hWnd);
    if (w == nullptr)
        return fail(ERROR_INVALID_WINDOW_HANDLE, FALSE);
    return (w->style & WS_DISABLED) ? FALSE : TRUE;
}

LRESULT WINAPI DefWindowProcW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    switch (Msg) {
    case WM_CLOSE:
        DestroyWindow(hWnd);
        return 0;
    case WM_SETTEXT: {
        bool publish = false;
        {
            auto held = sync::lock();
            Window* w = find_window(hWnd);
            if (w == nullptr)
                return FALSE;
            w->title = text_of(reinterpret_cast<LPCWSTR>(lParam));
            publish = w->top_level() && w->announced;
            mark_views_dirty();
        }
        if (publish)
            toplevel::publish();
        return TRUE;
    }
    case WM_GETTEXTLENGTH:
    case WM_GETTEXT: {
        auto held = sync::lock();
        const Window* w = find_window(hWnd);
        if (w == nullptr)
            return 0;
        if (Msg == WM_GETTEXTLENGTH)
            return static_cast<LRESULT>(w->title.size());
        auto* buffer = reinterpret_cast<LPWSTR>(lParam);
        if (buffer == nullptr || wParam == 0)
            return 0;
        const size_t n = std::min<size_t>(w->title.size(), wParam - 1);
        std::copy_n(w->title.data(), n, buffer);
        buffer[n] = L'\0';
        return static_cast<LRESULT>(n);
    }
    default:
        return 0;
    }
}

HWND WINAPI GetParent(HWND hWnd)
{
    auto held = sync::lock();
    const Window* w = find_window(hWnd);
    if (w == nullptr)
        return fail(ERROR_INVALID_WINDOW_HANDLE, HWND{nullptr});
    return w->parent;
}

BOOL WINAPI SetWindowTextW(HWND hWnd, LPCWSTR lpString)
{
    return SendMessageW(hWnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(lpString)) ? TRUE : FALSE;
}

int WINAPI GetWindowTextW(HWND hWnd, LPWSTR lpString, int nMaxCount)
{
    if (lpString == nullptr || nMaxCount <= 0)
        return 0;
    return static_cast<int>(SendMessageW(hWnd, WM_GETTEXT, static_cast<WPARAM>(nMaxCount),
                                         reinterpret_cast<LPARAM>(lpString)));
}
