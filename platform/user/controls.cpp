// Emulates the standard controls of dialogs: BUTTON with BS_AUTOCHECKBOX
// (BM_SETCHECK, BM_GETCHECK, toggled by Space and by a tap, BN_CLICKED) and
// plain push buttons, STATIC (SS_LEFT, SS_CENTER, SS_ICON with the icon's
// resource ordinal), and COMBOBOX with CBS_DROPDOWN: items in order of
// addition (CB_ADDSTRING sorts with CBS_SORT, CB_INSERTSTRING never does), a
// selection that a position outside the list clears, arrows that move it,
// an edit part whose typing selects the first item it begins while the list
// is dropped and clears the selection while it is closed, a list that a tap
// opens and a tap on an item closes, and the notifications of each (SELENDOK
// just before every SELCHANGE, SELENDCANCEL for a list closed without a
// choice, SETFOCUS and KILLFOCUS).  Every control keeps the font WM_SETFONT
// gives it.  Leaves out painting, owner drawing, radio buttons, three-state
// boxes, list boxes and edit controls of their own.
#include "controls.h"

#include <algorithm>

#include "kernel/sync.h"
#include "state.h"
#include "window.h"

namespace wince::user {
namespace {

// Runs `change` on the control's data under the kernel lock; the screen
// shows the result when the thread next waits.  A window that has gone
// gets a blank of its own, so nothing done to it reaches any other call.
template <class F>
auto with_control(HWND hwnd, F change)
{
    auto held = sync::lock();
    Window* w = find_window(hwnd);
    ControlData gone;
    if (w)
        mark_views_dirty();
    return change(w ? w->control : gone, w);
}

// Reads the control's data under the kernel lock.  The screen is left as it
// is, so that a program polling a control does not have its screen entry
// rewritten each time.
template <class F>
auto read_control(HWND hwnd, F read)
{
    auto held = sync::lock();
    const Window* w = find_window(hwnd);
    const ControlData gone;
    return read(w ? w->control : gone);
}

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

// ---- BUTTON ----

bool is_auto_check_box(DWORD style) { return (style & 0x0F) == BS_AUTOCHECKBOX; }
bool is_check_box(DWORD style) { return (style & 0x0F) == BS_CHECKBOX || is_auto_check_box(style); }

void click(HWND hwnd)
{
    if (is_auto_check_box(style_of(hwnd)))
        with_control(hwnd, [](ControlData& c, Window*) {
            c.check = c.check == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED;
            return 0;
        });
    notify_parent(hwnd, BN_CLICKED);
}

LRESULT CALLBACK ButtonProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam)
{
    LRESULT result = 0;
    if (common_message(hwnd, msg, wparam, result))
        return result;
    switch (msg) {
    case BM_GETCHECK:
        return read_control(hwnd, [](const ControlData& c) { return c.check; });
    case BM_SETCHECK:
        with_control(hwnd, [&](ControlData& c, Window*) {
            c.check = static_cast<int>(wparam) == BST_CHECKED || static_cast<int>(wparam) == BST_INDETERMINATE
                          ? static_cast<int>(wparam)
                          : BST_UNCHECKED;
            return 0;
        });
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

LRESULT CALLBACK StaticProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam)
{
    LRESULT result = 0;
    if (common_message(hwnd, msg, wparam, result))
        return result;
    switch (msg) {
    case WM_CREATE: {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lparam);
        if ((create->style & 0x1F) == SS_ICON && create->lpszName != nullptr && IS_INTRESOURCE(create->lpszName))
            with_control(hwnd, [&](ControlData& c, Window*) {
                c.icon = static_cast<int>(reinterpret_cast<uintptr_t>(create->lpszName));
                return 0;
            });
        return 0;
    }
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

// ---- COMBOBOX ----

// Sets the selection and the edit text with it; false when `index` is no item.
bool select_item(ControlData& c, Window& w, int index)
{
    if (index < 0 || index >= static_cast<int>(c.items.size())) {
        c.selection = -1;
        w.title.clear();
        return false;
    }
    c.selection = index;
    w.title = c.items[static_cast<size_t>(index)];
    c.text_selected = true;
    return true;
}

// CB_ADDSTRING (`position` -1, sorted with CBS_SORT) and CB_INSERTSTRING
// (`position` -1 for the end; never sorted).
LRESULT add_string(HWND hwnd, LPARAM lparam, int position, bool may_sort)
{
    const auto* text = reinterpret_cast<LPCWSTR>(lparam);
    if (text == nullptr)
        return CB_ERR;
    const bool sorted = may_sort && (style_of(hwnd) & CBS_SORT) != 0;
    return with_control(hwnd, [&](ControlData& c, Window* w) -> LRESULT {
        if (!w)
            return CB_ERR;
        auto at = c.items.end();
        if (position >= 0 && position <= static_cast<int>(c.items.size()))
            at = c.items.begin() + position;
        else if (position >= 0)
            return CB_ERR;
        else if (sorted)
            at = std::upper_bound(c.items.begin(), c.items.end(), std::wstring(text), CaseInsensitiveLess{});
        const int index = static_cast<int>(at - c.items.begin());
        c.items.insert(at, text);
        if (c.selection >= index)
            ++c.selection;
        return index;
    });
}

LRESULT delete_string(HWND hwnd, WPARAM wparam)
{
    return with_control(hwnd, [&](ControlData& c, Window* w) -> LRESULT {
        const int index = static_cast<int>(wparam);
        if (!w || index < 0 || index >= static_cast<int>(c.items.size()))
            return CB_ERR;
        c.items.erase(c.items.begin() + index);
        if (c.selection == index)
            select_item(c, *w, -1);
        else if (c.selection > index)
            --c.selection;
        return static_cast<LRESULT>(c.items.size());
    });
}

LRESULT item_text(HWND hwnd, WPARAM wparam, LPARAM lparam, bool length_only)
{
    return read_control(hwnd, [&](const ControlData& c) -> LRESULT {
        const int index = static_cast<int>(wparam);
        if (index < 0 || index >= static_cast<int>(c.items.size()))
            return CB_ERR;
        const std::wstring& item = c.items[static_cast<size_t>(index)];
        if (!length_only) {
            auto* buffer = reinterpret_cast<LPWSTR>(lparam);
            if (buffer == nullptr)
                return CB_ERR;
            std::copy(item.begin(), item.end(), buffer);
            buffer[item.size()] = L'\0';
        }
        return static_cast<LRESULT>(item.size());
    });
}

bool is_dropped(HWND hwnd)
{
    return read_control(hwnd, [](const ControlData& c) { return c.dropped; });
}

void set_dropped(HWND hwnd, bool dropped)
{
    const bool changed = with_control(hwnd, [&](ControlData& c, Window*) { return std::exchange(c.dropped, dropped) != dropped; });
    if (changed)
        notify_parent(hwnd, dropped ? CBN_DROPDOWN : CBN_CLOSEUP);
}

// Closes the list without a choice: the selection the user was making is
// not to be processed.
void cancel_list(HWND hwnd)
{
    if (!is_dropped(hwnd))
        return;
    notify_parent(hwnd, CBN_SELENDCANCEL);
    set_dropped(hwnd, false);
}

// A selection the user made: to be processed, then changed.
void notify_selection(HWND hwnd)
{
    notify_parent(hwnd, CBN_SELENDOK);
    notify_parent(hwnd, CBN_SELCHANGE);
}

void move_selection(HWND hwnd, int step)
{
    const bool changed = with_control(hwnd, [&](ControlData& c, Window* w) {
        if (!w || c.items.empty())
            return false;
        const int last = static_cast<int>(c.items.size()) - 1;
        const int target = c.selection < 0 ? 0 : std::clamp(c.selection + step, 0, last);
        if (target == c.selection)
            return false;
        select_item(c, *w, target);
        return true;
    });
    if (changed)
        notify_selection(hwnd);
}

bool begins_with(const std::wstring& item, const std::wstring& typed)
{
    return item.size() >= typed.size() &&
           !CaseInsensitiveLess{}(item.substr(0, typed.size()), typed) &&
           !CaseInsensitiveLess{}(typed, item.substr(0, typed.size()));
}

// While the list is dropped it follows the typing to the first item that
// begins with the text; while it is closed the selection no longer matches
// what the box shows.
int selection_for(const ControlData& c, const std::wstring& typed)
{
    if (!c.dropped || typed.empty())
        return -1;
    const auto found = std::find_if(c.items.begin(), c.items.end(),
                                    [&](const std::wstring& item) { return begins_with(item, typed); });
    return found == c.items.end() ? -1 : static_cast<int>(found - c.items.begin());
}

// A character typed into the edit part: it replaces selected text.
void type_character(HWND hwnd, wchar_t ch)
{
    const bool changed = with_control(hwnd, [&](ControlData& c, Window* w) {
        if (!w)
            return false;
        if (ch == L'\b') {
            if (c.text_selected)
                w->title.clear();
            else if (!w->title.empty())
                w->title.pop_back();
        } else {
            if (c.text_selected)
                w->title.clear();
            w->title.push_back(ch);
        }
        c.text_selected = false;
        c.selection = selection_for(c, w->title);
        return true;
    });
    if (changed) {
        notify_parent(hwnd, CBN_EDITUPDATE);
        notify_parent(hwnd, CBN_EDITCHANGE);
    }
}

void pick(HWND hwnd, WPARAM index)
{
    const bool picked = with_control(hwnd, [&](ControlData& c, Window* w) {
        if (!w || !c.dropped || index >= c.items.size())
            return false;
        select_item(c, *w, static_cast<int>(index));
        return true;
    });
    if (!picked)
        return;
    notify_selection(hwnd);
    set_dropped(hwnd, false);
}

LRESULT combo_key(HWND hwnd, WPARAM key)
{
    switch (key) {
    case VK_UP:
        move_selection(hwnd, -1);
        break;
    case VK_DOWN:
        move_selection(hwnd, +1);
        break;
    case VK_RETURN:
        if (is_dropped(hwnd)) {
            notify_parent(hwnd, CBN_SELENDOK);
            set_dropped(hwnd, false);
        }
        break;
    case VK_ESCAPE:
        cancel_list(hwnd);
        break;
    default:
        break;
    }
    return 0;
}

// A dropped list takes Return and Escape for itself, to close it; Tab still
// leaves it.
LRESULT combo_dialog_code(HWND hwnd, const MSG* msg)
{
    LRESULT code = DLGC_WANTCHARS | DLGC_WANTARROWS | DLGC_HASSETSEL;
    if (msg && msg->message == WM_KEYDOWN && (msg->wParam == VK_RETURN || msg->wParam == VK_ESCAPE) &&
        is_dropped(hwnd))
        code |= DLGC_WANTMESSAGE;
    return code;
}

LRESULT CALLBACK ComboBoxProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam)
{
    LRESULT result = 0;
    if (common_message(hwnd, msg, wparam, result))
        return result;
    switch (msg) {
    case CB_ADDSTRING:
        return add_string(hwnd, lparam, -1, true);
    case CB_INSERTSTRING:
        return add_string(hwnd, lparam, static_cast<int>(wparam), false);
    case CB_DELETESTRING:
        return delete_string(hwnd, wparam);
    case CB_GETCOUNT:
        return read_control(hwnd, [](const ControlData& c) { return static_cast<LRESULT>(c.items.size()); });
    case CB_GETCURSEL:
        return read_control(hwnd, [](const ControlData& c) { return c.selection < 0 ? CB_ERR : c.selection; });
    case CB_SETCURSEL:
        return with_control(hwnd, [&](ControlData& c, Window* w) -> LRESULT {
            return w && select_item(c, *w, static_cast<int>(wparam)) ? static_cast<LRESULT>(wparam) : CB_ERR;
        });
    case CB_GETLBTEXT:
        return item_text(hwnd, wparam, lparam, false);
    case CB_GETLBTEXTLEN:
        return item_text(hwnd, wparam, lparam, true);
    case CB_RESETCONTENT:
        with_control(hwnd, [](ControlData& c, Window* w) {
            c.items.clear();
            if (w)
                select_item(c, *w, -1);
            return 0;
        });
        return CB_OKAY;
    case CB_SHOWDROPDOWN:
        set_dropped(hwnd, wparam != 0);
        return TRUE;
    case CB_GETDROPPEDSTATE:
        return is_dropped(hwnd) ? TRUE : FALSE;
    case WM_GETDLGCODE:
        return combo_dialog_code(hwnd, reinterpret_cast<const MSG*>(lparam));
    case WM_KEYDOWN:
        return combo_key(hwnd, wparam);
    case WM_CHAR:
        if (wparam == L'\b' || wparam >= 0x20)
            type_character(hwnd, static_cast<wchar_t>(wparam));
        return 0;
    case WM_SETFOCUS:
        with_control(hwnd, [](ControlData& c, Window*) { return c.text_selected = true; });
        notify_parent(hwnd, CBN_SETFOCUS);
        return 0;
    case WM_KILLFOCUS:
        cancel_list(hwnd);
        notify_parent(hwnd, CBN_KILLFOCUS);
        return 0;
    case WM_LBUTTONDOWN:
        SetFocus(hwnd);
        if (is_dropped(hwnd))
            cancel_list(hwnd);
        else
            set_dropped(hwnd, true);
        return 0;
    case WM_WINCE_PICK:
        pick(hwnd, wparam);
        return 0;
    default:
        return DefWindowProcW(hwnd, msg, wparam, lparam);
    }
}

} // namespace

void register_control_classes()
{
    static const bool registered = [] {
        const std::pair<LPCWSTR, WNDPROC> classes[] = {
            {L"BUTTON", ButtonProc}, {L"STATIC", StaticProc}, {L"COMBOBOX", ComboBoxProc}};
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
