// Emulates MessageBoxW: a visible top-level window of the dialog class,
// owned by the caller's window and titled with the caption, that the screen
// shows over its owner with its text, icon type and "ok", and a nested
// modal loop that ends when RETURN (the default button, MB_DEFBUTTON1-3),
// ESCAPE (when the box can be cancelled), the title bar's "ok" (WM_COMMAND
// IDOK) or a close request reaches it; the owner is disabled meanwhile.  A
// WM_QUIT, or the owner destroyed with the box, ends it without an answer:
// 0, as for a box that failed.  Leaves out buttons as separate controls.
#include <algorithm>
#include <vector>

#include "crt/errors.h"
#include "device/device.h"
#include "device/eventlog.h"
#include "display.h"
#include "fonts.h"
#include "kernel/sync.h"
#include "modal.h"
#include "screen_model.h"
#include "state.h"
#include "toplevel.h"
#include "view.h"
#include "window.h"

namespace wince::user {
namespace {

// What a box keeps: its type and, once answered, the answer.
struct BoxData : KindData {
    UINT type = MB_OK;
    int result = 0;
};

// The box's buttons, left to right.
std::vector<int> buttons(UINT type)
{
    switch (type & MB_TYPEMASK) {
    case MB_OKCANCEL:
        return {IDOK, IDCANCEL};
    case MB_ABORTRETRYIGNORE:
        return {IDABORT, IDRETRY, IDIGNORE};
    case MB_YESNOCANCEL:
        return {IDYES, IDNO, IDCANCEL};
    case MB_YESNO:
        return {IDYES, IDNO};
    case MB_RETRYCANCEL:
        return {IDRETRY, IDCANCEL};
    default:
        return {IDOK};
    }
}

// MB_DEFBUTTON2 and 3 name the second and third button; a box without
// that button keeps its first.
int default_button(UINT type)
{
    const std::vector<int> all = buttons(type);
    const size_t chosen = (type & MB_DEFMASK) >> 8;
    return chosen < all.size() ? all[chosen] : all.front();
}

// What ESCAPE or a close request gives; 0 when the box cannot be cancelled.
int cancel_button(UINT type)
{
    switch (type & MB_TYPEMASK) {
    case MB_OK:
        return IDOK;
    case MB_OKCANCEL:
    case MB_YESNOCANCEL:
    case MB_RETRYCANCEL:
        return IDCANCEL;
    default:
        return 0;
    }
}

void end_box(HWND hwnd, int result)
{
    auto held = sync::lock();
    BoxData* box = data_of<BoxData>(find_window(hwnd));
    if (box && box->result == 0 && result != 0) {
        box->result = result;
        sync::wake_all();
    }
}

UINT box_type(HWND hwnd)
{
    auto held = sync::lock();
    const BoxData* box = data_of<BoxData>(find_window(hwnd));
    return box ? box->type : MB_OK;
}

LRESULT CALLBACK MessageBoxProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam)
{
    switch (msg) {
    case WM_KEYDOWN:
        if (wparam == VK_RETURN)
            end_box(hwnd, default_button(box_type(hwnd)));
        else if (wparam == VK_ESCAPE)
            end_box(hwnd, cancel_button(box_type(hwnd)));
        return 0;
    case WM_CLOSE:
        end_box(hwnd, cancel_button(box_type(hwnd)));
        return 0;
    case WM_COMMAND:
        end_box(hwnd, static_cast<int>(LOWORD(wparam)));
        return 0;
    default:
        return DefWindowProcW(hwnd, msg, wparam, lparam);
    }
}

// A Pocket PC message box: as wide as the screen but for a margin, in the
// middle of the window area, as tall as its wrapped text; its caption takes
// the title bar, whose "ok" answers IDOK when the box has an OK button.
nlohmann::json box_view(const std::wstring& text, const std::wstring& caption, UINT type)
{
    const display::Layout layout = display::layout();
    const LOGFONTW font = fonts::system_font();
    const int margin = display::scaled(8);
    const int padding = display::scaled(12);
    const int icon = (type & MB_ICONMASK) ? display::scaled(32) + padding : 0;
    const int width = layout.width - 2 * margin;
    const int line_width = std::max(1, width - 2 * padding - icon);
    const int lines = std::max(1, (fonts::text_width(text, font) + line_width - 1) / line_width);
    const int height = std::max(lines * fonts::metrics(font).height, icon ? display::scaled(32) : 0) + 2 * padding;
    const int top = layout.client.top + ((layout.client.bottom - layout.client.top) - height) / 2;
    screen::Screen view;
    view.dark = false;
    view.ok_button = (type & MB_TYPEMASK) == MB_OK || (type & MB_TYPEMASK) == MB_OKCANCEL;
    view.title_bar = to_rect(layout.title_bar);
    view.ok = view.ok_button ? to_rect(layout.ok) : screen::Rect{};
    view.messagebox = screen::MessageBoxView{0, 0, narrow(text), narrow(caption), type, {margin, top, width, height}};
    nlohmann::json j = screen::to_json(view);
    for (const char* key : {"width", "height", "dpi", "dark", "title", "pid", "hwnd"})
        j.erase(key);
    return j;
}

} // namespace
} // namespace wince::user

using namespace wince;
using namespace wince::user;

int WINAPI MessageBoxW(HWND hWnd, LPCWSTR lpText, LPCWSTR lpCaption, UINT uType)
{
    const std::wstring text = lpText ? lpText : L"";
    const std::wstring caption = lpCaption ? lpCaption : L"Error";
    const nlohmann::json description = {{"text", narrow(text)}, {"caption", narrow(caption)}, {"type", uType}};
    eventlog::write("messagebox", description);

    register_dialog_class();
    const HWND box = CreateWindowExW(0, dialog_class, caption.c_str(), WS_POPUP | WS_CAPTION | WS_VISIBLE, 0, 0, 0, 0,
                                     hWnd, nullptr, nullptr, nullptr);
    if (box == nullptr)
        return 0;
    auto data = std::make_shared<BoxData>();
    data->type = uType;
    replace_window_proc(box, MessageBoxProc);
    {
        auto held = sync::lock();
        Window* w = find_window(box);
        w->role = Role::messagebox;
        w->data = data;
    }
    set_window_details(box, {{"view", box_view(text, caption, uType)}});

    // As a modal dialog's, the owner takes no input while the box is up.
    const bool owner_was_enabled = hWnd && IsWindow(hWnd) && !EnableWindow(hWnd, FALSE);
    // A box ended by a WM_QUIT, or destroyed with its owner, has no answer.
    const ModalEnd end = run_modal_loop(box, false, [&] { return data->result != 0; });
    const DWORD loop_error = GetLastError();
    int result;
    {
        auto held = sync::lock();
        result = data->result;
    }
    if (owner_was_enabled && IsWindow(hWnd))
        EnableWindow(hWnd, TRUE);
    if (IsWindow(box))
        DestroyWindow(box);
    eventlog::write("messagebox.end", {{"result", result}});
    return end == ModalEnd::failed ? fail(loop_error, 0) : result;
}
