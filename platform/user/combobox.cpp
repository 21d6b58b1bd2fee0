// Emulates the COMBOBOX control with CBS_DROPDOWN: items in order of
// addition (CB_ADDSTRING sorts with CBS_SORT, CB_INSERTSTRING never does), a
// selection that a position outside the list clears, arrows that move it,
// an edit part whose typing selects the first item it begins while the list
// is dropped and clears the selection while it is closed, a list that a tap
// opens and a tap on an item closes, and the notifications of each (SELENDOK
// just before every SELCHANGE, SELENDCANCEL for a list closed without a
// choice, SETFOCUS and KILLFOCUS).  Leaves out CBS_SIMPLE and
// CBS_DROPDOWNLIST, owner drawing, item data and the edit part's caret.
#include <algorithm>
#include <string>
#include <utility>

#include "control_data.h"
#include "controls.h"
#include "kernel/sync.h"
#include "state.h"
#include "window.h"

namespace wince::user::control {
namespace {

// Sets the selection and the edit text with it; false when `index` is no item.
bool select_item(ComboData& c, Window& w, int index)
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
    return change_control<ComboData>(hwnd, LRESULT{CB_ERR}, [&](ComboData& c, Window&) -> LRESULT {
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
    return change_control<ComboData>(hwnd, LRESULT{CB_ERR}, [&](ComboData& c, Window& w) -> LRESULT {
        const int index = static_cast<int>(wparam);
        if (index < 0 || index >= static_cast<int>(c.items.size()))
            return CB_ERR;
        c.items.erase(c.items.begin() + index);
        if (c.selection == index)
            select_item(c, w, -1);
        else if (c.selection > index)
            --c.selection;
        return static_cast<LRESULT>(c.items.size());
    });
}

LRESULT reset_content(HWND hwnd)
{
    change_control<ComboData>(hwnd, 0, [](ComboData& c, Window& w) {
        c.items.clear();
        select_item(c, w, -1);
        return 0;
    });
    return CB_OKAY;
}

LRESULT set_selection(HWND hwnd, WPARAM index)
{
    return change_control<ComboData>(hwnd, LRESULT{CB_ERR}, [&](ComboData& c, Window& w) -> LRESULT {
        return select_item(c, w, static_cast<int>(index)) ? static_cast<LRESULT>(index) : CB_ERR;
    });
}

LRESULT current_selection(HWND hwnd)
{
    return read_control<ComboData>(hwnd, LRESULT{CB_ERR},
                                   [](const ComboData& c) -> LRESULT { return c.selection < 0 ? CB_ERR : c.selection; });
}

LRESULT item_count(HWND hwnd)
{
    return read_control<ComboData>(hwnd, LRESULT{0}, [](const ComboData& c) { return static_cast<LRESULT>(c.items.size()); });
}

LRESULT item_text(HWND hwnd, WPARAM wparam, LPARAM lparam, bool length_only)
{
    return read_control<ComboData>(hwnd, LRESULT{CB_ERR}, [&](const ComboData& c) -> LRESULT {
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
    return read_control<ComboData>(hwnd, false, [](const ComboData& c) { return c.dropped; });
}

void set_dropped(HWND hwnd, bool dropped)
{
    const bool changed = change_control<ComboData>(
        hwnd, false, [&](ComboData& c, Window&) { return std::exchange(c.dropped, dropped) != dropped; });
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
    const bool changed = change_control<ComboData>(hwnd, false, [&](ComboData& c, Window& w) {
        if (c.items.empty())
            return false;
        const int last = static_cast<int>(c.items.size()) - 1;
        const int target = c.selection < 0 ? 0 : std::clamp(c.selection + step, 0, last);
        if (target == c.selection)
            return false;
        select_item(c, w, target);
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
int selection_for(const ComboData& c, const std::wstring& typed)
{
    if (!c.dropped || typed.empty())
        return -1;
    const auto found = std::find_if(c.items.begin(), c.items.end(),
                                    [&](const std::wstring& item) { return begins_with(item, typed); });
    return found == c.items.end() ? -1 : static_cast<int>(found - c.items.begin());
}

// A character typed into the edit part: it replaces selected text.
LRESULT type_character(HWND hwnd, WPARAM typed)
{
    const auto ch = static_cast<wchar_t>(typed);
    if (ch != L'\b' && ch < 0x20)
        return 0;
    const bool changed = change_control<ComboData>(hwnd, false, [&](ComboData& c, Window& w) {
        if (c.text_selected)
            w.title.clear();
        else if (ch == L'\b' && !w.title.empty())
            w.title.pop_back();
        if (ch != L'\b')
            w.title.push_back(ch);
        c.text_selected = false;
        c.selection = selection_for(c, w.title);
        return true;
    });
    if (changed) {
        notify_parent(hwnd, CBN_EDITUPDATE);
        notify_parent(hwnd, CBN_EDITCHANGE);
    }
    return 0;
}

void pick(HWND hwnd, WPARAM index)
{
    const bool picked = change_control<ComboData>(hwnd, false, [&](ComboData& c, Window& w) {
        if (!c.dropped || index >= c.items.size())
            return false;
        select_item(c, w, static_cast<int>(index));
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

// Taking the focus selects the edit text; losing it closes the list
// without a choice.
LRESULT combo_focus(HWND hwnd, bool taken)
{
    if (taken)
        change_control<ComboData>(hwnd, 0, [](ComboData& c, Window&) { return c.text_selected = true; });
    else
        cancel_list(hwnd);
    notify_parent(hwnd, taken ? CBN_SETFOCUS : CBN_KILLFOCUS);
    return 0;
}

// A tap opens the list, or closes an open one without a choice.
LRESULT combo_tap(HWND hwnd)
{
    SetFocus(hwnd);
    if (is_dropped(hwnd))
        cancel_list(hwnd);
    else
        set_dropped(hwnd, true);
    return 0;
}

} // namespace

LRESULT CALLBACK ComboBoxProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam)
{
    LRESULT result = 0;
    if (common_message(hwnd, msg, wparam, result))
        return result;
    switch (msg) {
    case WM_CREATE:
        attach<ComboData>(hwnd);
        return 0;
    case CB_ADDSTRING:
        return add_string(hwnd, lparam, -1, true);
    case CB_INSERTSTRING:
        return add_string(hwnd, lparam, static_cast<int>(wparam), false);
    case CB_DELETESTRING:
        return delete_string(hwnd, wparam);
    case CB_RESETCONTENT:
        return reset_content(hwnd);
    case CB_GETCOUNT:
        return item_count(hwnd);
    case CB_GETCURSEL:
        return current_selection(hwnd);
    case CB_SETCURSEL:
        return set_selection(hwnd, wparam);
    case CB_GETLBTEXT:
        return item_text(hwnd, wparam, lparam, false);
    case CB_GETLBTEXTLEN:
        return item_text(hwnd, wparam, lparam, true);
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
        return type_character(hwnd, wparam);
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
        return combo_focus(hwnd, msg == WM_SETFOCUS);
    case WM_LBUTTONDOWN:
        return combo_tap(hwnd);
    case WM_WINCE_PICK:
        pick(hwnd, wparam);
        return 0;
    default:
        return DefWindowProcW(hwnd, msg, wparam, lparam);
    }
}

} // namespace wince::user::control
