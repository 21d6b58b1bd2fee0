// Emulates the standard controls of dialogs: BUTTON with BS_AUTOCHECKBOX
// (BM_SETCHECK, BM_GETCHECK, toggled by Space and by a tap, BN_CLICKED) and
// plain push buttons, STATIC (SS_LEFT, SS_CENTER, SS_ICON with the icon's
// resource ordinal), and the registration of these and COMBOBOX
// (combobox.cpp).  Every control keeps the font WM_SETFONT gives it.
// Leaves out painting, owner drawing, radio buttons, three-state boxes,
// list boxes and edit controls of their own.
#include "controls.h"

#include <algorithm>

#include "control_data.h"
#include "kernel/sync.h"
#include "window.h"

namespace wince::user::control {

bool common_message(HWND hwnd, UINT msg, WPARAM wparam, LRESULT& result)
{
    switch (msg) {
    case WM_SETFONT: {
        auto held = sync::lock();
        if (Window* w = find_window(hwnd)) {
            w->font = reinterpret_cast<HFONT>(wparam);
            mark_views_dirty();
        }
        result = 0;
        return true;
    }
    case WM_GETFONT: {
        auto held = sync::lock();
        const Window* w = find_window(hwnd);
        result = reinterpret_cast<LRESULT>(w ? w->font : nullptr);
        return true;
    }
    default:
        return false;
    }
}

DWORD style_of(HWND hwnd)
{
    auto held = sync::lock();
    const Window* w = find_window(hwnd);
    return w ? w->style : 0;
}

namespace {

// ---- BUTTON ----

bool is_auto_check_box(DWORD style) { return (style & 0x0F) == BS_AUTOCHECKBOX; }
bool is_check_box(DWORD style) { return (style & 0x0F) == BS_CHECKBOX || is_auto_check_box(style); }

void click(HWND hwnd)
{
    if (is_auto_check_box(style_of(hwnd)))
        change_control<ButtonData>(hwnd, 0, [](ButtonData& b, Window&) {
            b.check = b.check == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED;
            return 0;
        });
    notify_parent(hwnd, BN_CLICKED);
}

void set_check(HWND hwnd, WPARAM state)
{
    const int check = static_cast<int>(state);
    change_control<ButtonData>(hwnd, 0, [&](ButtonData& b, Window&) {
        b.check = check == BST_CHECKED || check == BST_INDETERMINATE ? check : BST_UNCHECKED;
        return 0;
    });
}

LRESULT CALLBACK ButtonProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam)
{
    LRESULT result = 0;
    if (common_message(hwnd, msg, wparam, result))
        return result;
    switch (msg) {
    case WM_CREATE:
        attach<ButtonData>(hwnd);
        return 0;
    case BM_GETCHECK:
        return read_control<ButtonData>(hwnd, LRESULT{BST_UNCHECKED}, [](const ButtonData& b) -> LRESULT { return b.check; });
    case BM_SETCHECK:
        set_check(hwnd, wparam);
        return 0;
    case WM_GETDLGCODE:
        return is_check_box(style_of(hwnd)) ? DLGC_BUTTON : DLGC_BUTTON | DLGC_UNDEFPUSHBUTTON;
    case WM_KEYUP:
        if (wparam == VK_SPACE)
            click(hwnd);
        return 0;
    case WM_LBUTTONDOWN:
        SetFocus(hwnd);
        return 0;
    case WM_LBUTTONUP:
        click(hwnd);
        return 0;
    default:
        return DefWindowProcW(hwnd, msg, wparam, lparam);
    }
}

// ---- STATIC ----

// SS_ICON names its icon by the resource ordinal in place of its text.
void create_static(HWND hwnd, const CREATESTRUCTW& create)
{
    StaticData data;
    if ((create.style & 0x1F) == SS_ICON && create.lpszName != nullptr && IS_INTRESOURCE(create.lpszName))
        data.icon = static_cast<int>(reinterpret_cast<uintptr_t>(create.lpszName));
    attach(hwnd, data);
}

LRESULT CALLBACK StaticProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam)
{
    LRESULT result = 0;
    if (common_message(hwnd, msg, wparam, result))
        return result;
    switch (msg) {
    case WM_CREATE:
        create_static(hwnd, *reinterpret_cast<const CREATESTRUCTW*>(lparam));
        return 0;
    case WM_GETDLGCODE:
        return DLGC_STATIC;
    case WM_LBUTTONUP: // taps reach only a static with SS_NOTIFY (hit_test.h)
        if (style_of(hwnd) & SS_NOTIFY)
            notify_parent(hwnd, STN_CLICKED);
        return 0;
    default:
        return DefWindowProcW(hwnd, msg, wparam, lparam);
    }
}


} // namespace
} // namespace wince::user::control

namespace wince::user {

void register_control_classes()
{
    static const bool registered = [] {
        const std::pair<LPCWSTR, WNDPROC> classes[] = {
            {L"BUTTON", control::ButtonProc}, {L"STATIC", control::StaticProc}, {L"COMBOBOX", control::ComboBoxProc}};
        for (const auto& [name, proc] : classes) {
            WNDCLASSW wc{};
            wc.lpfnWndProc = proc;
            wc.lpszClassName = name;
            register_system_class(wc);
        }
        return true;
    }();
    (void)registered;
}

void notify_parent(HWND control, WORD code)
{
    HWND parent;
    WORD id;
    {
        auto held = sync::lock();
        const Window* w = find_window(control);
        if (w == nullptr || w->parent == nullptr)
            return;
        parent = w->parent;
        id = static_cast<WORD>(reinterpret_cast<uintptr_t>(w->menu));
    }
    SendMessageW(parent, WM_COMMAND, MAKEWPARAM(id, code), reinterpret_cast<LPARAM>(control));
}

} // namespace wince::user
