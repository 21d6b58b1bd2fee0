// Emulates the Pocket PC shell library: SHInitDialog (the "ok" button in
// the title bar, full-screen sizing), SHInitExtraControls, and
// SHCreateMenuBar's soft-key bar built from the SHMENUBAR data and menu
// template of the program's resources (or the menu template alone with
// SHCMBF_HMENU).  A soft key with a command sends it to the bar's parent as
// WM_COMMAND; one with a pop-up opens it as a menu, in the modal loop
// (modal.h): Up and Down move its highlight, Return or a tap chooses,
// Escape, a soft key or a WM_QUIT closes it.  Leaves out the input panel, bitmaps on buttons,
// menu bar messages (SHCMBM_*) and the shell's other services.
#include <aygshell.h>

#include "crt/errors.h"
#include "device/device.h"
#include "user/display.h"
#include "kernel/sync.h"
#include "menu_resources.h"
#include "menus.h"
#include "resources/image.h"
#include "user/controls.h"
#include "user/dialog.h"
#include "user/modal.h"
#include "user/state.h"
#include "user/window.h"

namespace wince::shell {
namespace {

using user::data_of;
using user::find_window;
using user::Role;
using user::Window;

constexpr wchar_t menubar_class[] = L"menu_worker";
constexpr wchar_t popup_class[] = L"#32768";
constexpr WORD rt_menu = 4;
constexpr WORD rt_rcdata = 10;

std::span<const unsigned char> resource(HINSTANCE instance, WORD type, UINT id)
{
    const resources::Module* m = resources::module_from_handle(instance);
    if (m == nullptr)
        return {};
    DWORD error = 0;
    const resources::Resource* r = m->find({type, {}}, {static_cast<WORD>(id), {}}, error);
    if (r == nullptr)
        return {};
    return {m->image.data() + r->offset, r->size};
}

std::wstring load_string(HINSTANCE instance, UINT id)
{
    const wchar_t* text = nullptr;
    const int length = LoadStringW(instance, id, reinterpret_cast<LPWSTR>(&text), 0);
    return length > 0 && text ? std::wstring(text, static_cast<size_t>(length)) : std::wstring{};
}

// The soft keys a bar resource describes; nothing when it has none.
std::optional<std::vector<MenuItem>> soft_keys(const SHMENUBARINFO& info)
{
    if (info.dwFlags & SHCMBF_EMPTYBAR)
        return std::vector<MenuItem>{};
    if (auto bar_bytes = resource(info.hInstRes, rt_rcdata, info.nToolBarId); !bar_bytes.empty()) {
        const auto bar = parse_menubar(bar_bytes);
        const auto menu = parse_menu(resource(info.hInstRes, rt_menu, bar ? bar->menu : 0));
        if (!bar)
            return std::nullopt;
        std::vector<MenuItem> keys;
        for (const BarButton& b : bar->buttons) {
            MenuItem key{load_string(info.hInstRes, b.label), b.command, {}};
            if (b.submenu >= 0 && menu && static_cast<size_t>(b.submenu) < menu->size())
                key.popup = (*menu)[static_cast<size_t>(b.submenu)].popup;
            keys.push_back(std::move(key));
        }
        return keys;
    }
    if (info.dwFlags & SHCMBF_HMENU)
        return parse_menu(resource(info.hInstRes, rt_menu, info.nToolBarId));
    return std::nullopt;
}

std::shared_ptr<MenuBarData> bar_data(HWND bar)
{
    auto held = sync::lock();
    return user::shared_data_of<MenuBarData>(find_window(bar));
}

std::shared_ptr<PopupData> popup_data(HWND popup)
{
    auto held = sync::lock();
    return user::shared_data_of<PopupData>(find_window(popup));
}

void close_popup(HWND popup, int chosen)
{
    auto held = sync::lock();
    PopupData* data = data_of<PopupData>(find_window(popup));
    if (data && data->chosen == PopupData::pending) {
        data->chosen = chosen;
        sync::wake_all();
    }
}

void move_highlight(HWND popup, int step)
{
    auto held = sync::lock();
    PopupData* data = data_of<PopupData>(find_window(popup));
    if (!data || data->items.empty())
        return;
    const int count = static_cast<int>(data->items.size());
    data->highlighted = (data->highlighted + step + count) % count;
    user::mark_views_dirty();
}

LRESULT CALLBACK PopupProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam)
{
    switch (msg) {
    case WM_KEYDOWN:
        if (wparam == VK_UP || wparam == VK_DOWN)
            move_highlight(hwnd, wparam == VK_UP ? -1 : 1);
        else if (wparam == VK_RETURN)
            if (auto data = popup_data(hwnd))
                close_popup(hwnd, data->highlighted);
        if (wparam == VK_ESCAPE || wparam == VK_F1 || wparam == VK_F2)
            close_popup(hwnd, PopupData::cancelled);
        return 0;
    case user::WM_WINCE_PICK:
        if (auto data = popup_data(hwnd); data && wparam < data->items.size())
            close_popup(hwnd, static_cast<int>(wparam));
        return 0;
    case WM_CLOSE:
        close_popup(hwnd, PopupData::cancelled);
        return 0;
    default:
        return DefWindowProcW(hwnd, msg, wparam, lparam);
    }
}

// Shows the pop-up of soft key `key` and runs its loop; the chosen item's
// command, or 0 when it was closed without a choice.
UINT track_popup(HWND bar, HWND owner, int key, const std::vector<MenuItem>& items)
{
    WNDCLASSW wc{};
    wc.lpfnWndProc = PopupProc;
    wc.lpszClassName = popup_class;
    user::register_system_class(wc);
    HWND popup = CreateWindowExW(0, popup_class, L"", WS_POPUP | WS_VISIBLE, 0, 0, 0, 0, owner, nullptr, nullptr,
                                 nullptr);
    if (popup == nullptr)
        return 0;
    auto data = std::make_shared<PopupData>();
    data->items = items;
    data->key = key;
    {
        auto held = sync::lock();
        find_window(popup)->role = Role::popup;
        find_window(popup)->data = data;
        if (MenuBarData* b = data_of<MenuBarData>(find_window(bar)))
            b->open_menu = popup;
        user::mark_views_dirty();
    }
    // A WM_QUIT, or the menu's window destroyed, closes it without a choice.
    user::run_modal_loop(popup, false, [&] { return data->chosen != PopupData::pending; });
    int chosen;
    {
        auto held = sync::lock();
        chosen = data->chosen;
    }
    if (IsWindow(popup))
        DestroyWindow(popup);
    {
        auto held = sync::lock();
        if (MenuBarData* b = data_of<MenuBarData>(find_window(bar)))
            b->open_menu = nullptr;
    }
    return chosen >= 0 && static_cast<size_t>(chosen) < items.size() ? items[static_cast<size_t>(chosen)].command : 0;
}

void press_soft_key(HWND bar, size_t index)
{
    const auto data = bar_data(bar);
    HWND parent = GetParent(bar);
    if (!data || index >= data->keys.size() || parent == nullptr)
        return;
    if (data->open_menu) {
        close_popup(data->open_menu, PopupData::cancelled);
        return;
    }
    const MenuItem key = data->keys[index];
    UINT command = key.command;
    if (!key.popup.empty())
        command = track_popup(bar, parent, static_cast<int>(index), key.popup);
    if (command != 0 && IsWindow(parent))
        PostMessageW(parent, WM_COMMAND, MAKEWPARAM(command, 0), 0);
}

LRESULT CALLBACK MenuBarProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam)
{
    switch (msg) {
    case user::WM_WINCE_SOFTKEY:
        press_soft_key(hwnd, wparam);
        return 0;
    case WM_DESTROY:
        if (auto data = bar_data(hwnd); data && data->open_menu)
            close_popup(data->open_menu, PopupData::cancelled);
        return 0;
    default:
        return DefWindowProcW(hwnd, msg, wparam, lparam);
    }
}

} // namespace
} // namespace wince::shell

using namespace wince;
using namespace wince::shell;

BOOL WINAPI SHInitDialog(PSHINITDLGINFO pshidi)
{
    if (pshidi == nullptr)
        return fail(ERROR_INVALID_PARAMETER, FALSE);
    auto held = sync::lock();
    Window* w = find_window(pshidi->hDlg);
    user::DialogData* dialog = data_of<user::DialogData>(w);
    if (dialog == nullptr)
        return fail(ERROR_INVALID_WINDOW_HANDLE, FALSE);
    if (pshidi->dwMask & SHIDIM_FLAGS) {
        dialog->done_button = (pshidi->dwFlags & SHIDIF_DONEBUTTON) != 0;
        if (pshidi->dwFlags & (SHIDIF_SIZEDLGFULLSCREEN | SHIDIF_SIZEDLG))
            w->rect = user::display::layout().client;
    }
    user::mark_views_dirty();
    return TRUE;
}

BOOL WINAPI SHInitExtraControls(void)
{
    user::register_control_classes();
    return TRUE;
}

BOOL WINAPI SHCreateMenuBar(SHMENUBARINFO* pmbi)
{
    if (pmbi == nullptr || pmbi->cbSize < sizeof(SHMENUBARINFO))
        return fail(ERROR_INVALID_PARAMETER, FALSE);
    pmbi->hwndMB = nullptr;
    if (device::inject_fault("SHCreateMenuBar"))
        return fail(ERROR_NOT_ENOUGH_MEMORY, FALSE);
    {
        auto held = sync::lock();
        const Window* parent = find_window(pmbi->hwndParent);
        if (parent == nullptr || parent->thread != user::current_tid())
            return fail(ERROR_INVALID_WINDOW_HANDLE, FALSE);
    }
    auto keys = soft_keys(*pmbi);
    if (!keys)
        return fail(ERROR_RESOURCE_NAME_NOT_FOUND, FALSE);
    WNDCLASSW wc{};
    wc.lpfnWndProc = MenuBarProc;
    wc.lpszClassName = menubar_class;
    user::register_system_class(wc);
    const DWORD visible = (pmbi->dwFlags & SHCMBF_HIDDEN) ? 0 : WS_VISIBLE;
    HWND bar = CreateWindowExW(0, menubar_class, L"", WS_CHILD | visible, 0, 0, 0, 0, pmbi->hwndParent, nullptr,
                               pmbi->hInstRes, nullptr);
    if (bar == nullptr)
        return FALSE;
    {
        auto held = sync::lock();
        Window* w = find_window(bar);
        w->role = Role::menubar;
        auto data = std::make_shared<MenuBarData>();
        data->keys = std::move(*keys);
        w->data = std::move(data);
        w->rect = user::display::layout().softkey_bar;
        user::mark_views_dirty();
    }
    pmbi->hwndMB = bar;
    return TRUE;
}
