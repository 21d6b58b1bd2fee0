// Emulates modal dialogs: DialogBoxIndirectParamW and DialogBoxParamW build
// a dialog from a classic template (its DS_SETFONT font, every control in
// template order, geometry from dialog units), send WM_SETFONT and
// WM_INITDIALOG (TRUE puts the focus on the first tab stop; EndDialog there
// ends the dialog before it is shown), disable the owner, and run the modal
// loop (modal.h) until EndDialog (a WM_QUIT or the dialog destroyed: 0; a
// failed GetMessageW: -1); the default dialog procedure hands messages to
// the program's DLGPROC.
// IsDialogMessageW navigates as Windows does: every key to a control that
// wants all keys, else Tab and Shift+Tab over the WS_TABSTOP controls in
// template order, arrows and characters to the control that wants them,
// Space to buttons, Return as IDOK and Escape as IDCANCEL (sent as the
// button's WM_COMMAND), and the soft keys F1 and F2 to the dialog's
// soft-key bar, whoever has the focus, as the shell takes them.  Leaves out
// modeless dialogs, DLGTEMPLATEEX, default push buttons other than IDOK and
// group navigation with arrows.
#include <algorithm>
#include <cmath>

#include "controls.h"
#include "crt/errors.h"
#include "device/device.h"
#include "device/eventlog.h"
#include "dialog.h"
#include "dialog_template.h"
#include "display.h"
#include "fonts.h"
#include "keys.h"
#include "kernel/sync.h"
#include "modal.h"
#include "resources/image.h"
#include "state.h"
#include "view.h"
#include "window.h"

namespace wince::user {
namespace {

std::shared_ptr<DialogData> dialog_of(HWND hwnd)
{
    auto held = sync::lock();
    return shared_data_of<DialogData>(find_window(hwnd));
}

LRESULT CALLBACK DialogWindowProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam)
{
    const auto data = dialog_of(hwnd);
    if (data && data->proc) {
        // A dialog procedure answers with a BOOL, whatever its declared type.
        const BOOL handled = static_cast<BOOL>(data->proc(hwnd, msg, wparam, lparam));
        if (msg == WM_INITDIALOG)
            return handled;
        if (handled)
            return 0;
    }
    switch (msg) {
    case WM_CLOSE:
        // As the Cancel button would; the modal loop owns the dialog's end.
        PostMessageW(hwnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        return 0;
    case WM_COMMAND:
        return 0;
    case WM_INITDIALOG:
        return TRUE;
    case WM_GETFONT:
        return reinterpret_cast<LRESULT>(data ? data->font : nullptr);
    default:
        return DefWindowProcW(hwnd, msg, wparam, lparam);
    }
}

// Where the template lies, when it is a resource of one of the modules: its
// bytes end with the resource, and its ordinal names it in the log.
struct TemplateSource {
    std::span<const unsigned char> bytes;
    int ordinal = -1;
};

TemplateSource locate_template(HINSTANCE instance, LPCDLGTEMPLATEW tmpl)
{
    const auto* start = reinterpret_cast<const unsigned char*>(tmpl);
    if (resources::Module* module = resources::module_from_handle(instance)) {
        for (const auto& r : module->resources) {
            const unsigned char* data = module->image.data() + r.offset;
            if (start >= data && start < data + r.size)
                return {{start, static_cast<size_t>(data + r.size - start)}, r.id.name.empty() ? r.id.ordinal : -1};
        }
    }
    // A template the program built in memory: as long as it says it is.
    constexpr size_t most = 64 * 1024;
    return {{start, most}, -1};
}

// As MapDialogRect maps them: each value with MulDiv, which rounds half
// away from zero; a size is mapped on its own, not as the difference of
// two mapped edges.
RECT dialog_units_to_pixels(SIZE base, short x, short y, short cx, short cy)
{
    const auto px = [&](int v) { return static_cast<LONG>(std::lround(double(v) * base.cx / 4)); };
    const auto py = [&](int v) { return static_cast<LONG>(std::lround(double(v) * base.cy / 8)); };
    return RECT{px(x), py(y), px(x) + px(cx), py(y) + py(cy)};
}

void set_rect(HWND hwnd, const RECT& rect)
{
    auto held = sync::lock();
    if (Window* w = find_window(hwnd))
        w->rect = rect;
}

HWND create_control(HWND dialog, const DialogItem& item, SIZE base, HINSTANCE instance)
{
    const RECT r = dialog_units_to_pixels(base, item.x, item.y, item.cx, item.cy);
    LPCWSTR text = item.text_ordinal >= 0 ? MAKEINTRESOURCEW(item.text_ordinal) : item.text.c_str();
    HWND control = CreateWindowExW(item.ex_style, item.class_name.c_str(), text, item.style | WS_CHILD, r.left, r.top,
                                   r.right - r.left, r.bottom - r.top, dialog,
                                   reinterpret_cast<HMENU>(static_cast<uintptr_t>(item.id)), instance, nullptr);
    if (control)
        set_rect(control, r);
    return control;
}

bool takes_focus(const Window& w)
{
    return (w.style & WS_TABSTOP) && (w.style & WS_VISIBLE) && !(w.style & WS_DISABLED) && w.role == Role::plain;
}

// The next (or previous) tab stop after `from`, wrapping around.
HWND next_tab_stop(HWND dialog, HWND from, bool backwards)
{
    auto held = sync::lock();
    std::vector<HWND> stops;
    for (HWND child : children_of(dialog))
        if (const Window* w = find_window(child); w && takes_focus(*w))
            stops.push_back(child);
    if (stops.empty())
        return nullptr;
    auto at = std::find(stops.begin(), stops.end(), from);
    if (at == stops.end())
        return backwards ? stops.back() : stops.front();
    if (backwards)
        return at == stops.begin() ? stops.back() : *std::prev(at);
    return std::next(at) == stops.end() ? stops.front() : *std::next(at);
}

HWND menubar_of(HWND dialog)
{
    auto held = sync::lock();
    for (HWND child : children_of(dialog))
        if (const Window* w = find_window(child); w && w->role == Role::menubar)
            return child;
    return nullptr;
}

bool belongs_to(HWND dialog, HWND hwnd)
{
    auto held = sync::lock();
    for (const Window* w = find_window(hwnd); w != nullptr; w = find_window(w->parent)) {
        if (w->hwnd == dialog)
            return true;
        if (w->top_level())
            return false;
    }
    return false;
}

// Return and Escape as the button of `id` would send them, with its handle
// when the dialog has one.
void send_command(HWND dialog, WORD id)
{
    HWND button = nullptr;
    {
        auto held = sync::lock();
        for (HWND child : children_of(dialog))
            if (const Window* w = find_window(child);
                w->role == Role::plain && static_cast<WORD>(reinterpret_cast<uintptr_t>(w->menu)) == id)
                button = child;
    }
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
}

// The keys the dialog manager takes for itself; false hands the key on.
bool dialog_key(HWND dialog, const MSG& msg, LRESULT code)
{
    if (msg.wParam == VK_F1 || msg.wParam == VK_F2) {
        if (msg.message == WM_KEYDOWN)
            if (HWND bar = menubar_of(dialog))
                PostMessageW(bar, WM_WINCE_SOFTKEY, msg.wParam == VK_F1 ? 0 : 1, 0);
        return true;
    }
    if (code & DLGC_WANTMESSAGE)
        return false;
    switch (msg.wParam) {
    case VK_TAB:
        if (code & DLGC_WANTTAB)
            return false;
        if (msg.message == WM_KEYDOWN)
            if (HWND next = next_tab_stop(dialog, msg.hwnd, shift_pressed()))
                SetFocus(next);
        return true;
    case VK_RETURN:
        if (msg.message == WM_KEYDOWN)
            send_command(dialog, IDOK);
        return true;
    case VK_ESCAPE:
        if (msg.message == WM_KEYDOWN)
            send_command(dialog, IDCANCEL);
        return true;
    default:
        return false;
    }
}

LOGFONTW template_font(const DialogTemplate& t)
{
    if (!t.has_font)
        return fonts::system_font();
    // The shell's dialog font names stand for the device's own face.
    const bool shell = t.face == L"MS Shell Dlg" || t.face == L"MS Shell Dlg 2" || (t.style & DS_FIXEDSYS);
    return fonts::point_font(t.point_size, shell ? std::wstring_view(L"Tahoma") : std::wstring_view(t.face));
}

HWND create_dialog(HINSTANCE instance, const DialogTemplate& t, HWND owner, const std::shared_ptr<DialogData>& data)
{
    // Without DS_SETFONT the dialog and its controls show the system font
    // and WM_GETFONT answers NULL.
    const LOGFONTW font = template_font(t);
    if (t.has_font)
        data->font = CreateFontIndirectW(&font);
    data->base = fonts::dialog_base_units(font);
    const RECT r = dialog_units_to_pixels(data->base, t.x, t.y, t.cx, t.cy);
    HWND dialog = CreateWindowExW(t.ex_style, dialog_class, t.caption.c_str(), t.style & ~(WS_VISIBLE | WS_CHILD),
                                  r.left, r.top, r.right - r.left, r.bottom - r.top, owner, nullptr, instance, nullptr);
    if (dialog == nullptr)
        return nullptr;
    {
        auto held = sync::lock();
        Window* w = find_window(dialog);
        w->role = Role::dialog;
        w->data = data;
        w->font = data->font;
        const RECT client = display::layout().client;
        w->rect = RECT{client.left + r.left, client.top + r.top, client.left + r.right, client.top + r.bottom};
    }
    if (t.has_font)
        SendMessageW(dialog, WM_SETFONT, reinterpret_cast<WPARAM>(data->font), 0);
    for (const DialogItem& item : t.items) {
        HWND control = create_control(dialog, item, data->base, instance);
        if (control == nullptr) {
            const DWORD error = GetLastError();
            DestroyWindow(dialog);
            return fail(error, HWND{nullptr});
        }
        if (t.has_font)
            SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(data->font), 0);
    }
    return dialog;
}

bool has_ended(const std::shared_ptr<DialogData>& data)
{
    auto held = sync::lock();
    return data->ended;
}

// False when the dialog procedure ended the dialog in WM_INITDIALOG: it is
// never shown and nothing gets the focus.
bool initialise(HWND dialog, const std::shared_ptr<DialogData>& data, LPARAM param)
{
    HWND first = next_tab_stop(dialog, nullptr, false);
    const LRESULT focus_first = SendMessageW(dialog, WM_INITDIALOG, reinterpret_cast<WPARAM>(first), param);
    if (has_ended(data))
        return false;
    if (focus_first && first)
        SetFocus(first);
    return true;
}

void release_font(const std::shared_ptr<DialogData>& data)
{
    if (data->font)
        DeleteObject(data->font);
}

} // namespace

void register_dialog_class()
{
    WNDCLASSW wc{};
    wc.lpfnWndProc = DialogWindowProc;
    wc.lpszClassName = dialog_class;
    register_system_class(wc);
    register_control_classes();
}

} // namespace wince::user

using namespace wince;
using namespace wince::user;

INT_PTR WINAPI DialogBoxIndirectParamW(HINSTANCE hInstance, LPCDLGTEMPLATEW hDialogTemplate, HWND hWndParent,
                                       DLGPROC lpDialogFunc, LPARAM dwInitParam)
{
    if (hDialogTemplate == nullptr)
        return fail(ERROR_INVALID_PARAMETER, INT_PTR{-1});
    if (device::inject_fault("DialogBoxIndirectParamW"))
        return fail(ERROR_NOT_ENOUGH_MEMORY, INT_PTR{-1});
    const TemplateSource source = locate_template(hInstance, hDialogTemplate);
    const auto parsed = parse_dialog_template(source.bytes);
    if (!parsed)
        return fail(ERROR_INVALID_PARAMETER, INT_PTR{-1});
    register_dialog_class();
    auto data = std::make_shared<DialogData>();
    data->proc = lpDialogFunc;
    data->template_id = source.ordinal;
    HWND dialog = create_dialog(hInstance, *parsed, hWndParent, data);
    if (dialog == nullptr) {
        const DWORD error = GetLastError();
        release_font(data);
        return fail(error, INT_PTR{-1});
    }
    // The owner takes no input while its modal dialog is up.
    const bool owner_was_enabled = hWndParent && !EnableWindow(hWndParent, FALSE);
    ModalEnd end = ModalEnd::answered;
    if (initialise(dialog, data, dwInitParam)) {
        // Shown complete: whoever reads the log's dialog.open finds it on the screen.
        publish_views();
        ShowWindow(dialog, SW_SHOW);
        eventlog::write("dialog.open", {{"title", narrow(parsed->caption)}, {"template", data->template_id}});
        end = run_modal_loop(dialog, true, [&] { return data->ended; });
    }
    const DWORD loop_error = GetLastError();
    // Ended without EndDialog (a WM_QUIT, or the dialog destroyed): 0.
    INT_PTR result = end == ModalEnd::failed ? -1 : 0;
    {
        auto held = sync::lock();
        if (data->ended)
            result = data->result;
    }
    if (owner_was_enabled)
        EnableWindow(hWndParent, TRUE);
    if (IsWindow(dialog))
        DestroyWindow(dialog);
    release_font(data);
    eventlog::write("dialog.end", {{"result", static_cast<int64_t>(result)}});
    return end == ModalEnd::failed ? fail(loop_error, result) : result;
}

INT_PTR WINAPI DialogBoxParamW(HINSTANCE hInstance, LPCWSTR lpTemplateName, HWND hWndParent, DLGPROC lpDialogFunc,
                               LPARAM dwInitParam)
{
    HRSRC found = FindResourceW(hInstance, lpTemplateName, RT_DIALOG);
    if (found == nullptr)
        return fail(GetLastError(), INT_PTR{-1});
    HGLOBAL loaded = LoadResource(hInstance, found);
    if (loaded == nullptr)
        return fail(GetLastError(), INT_PTR{-1});
    return DialogBoxIndirectParamW(hInstance, static_cast<LPCDLGTEMPLATEW>(loaded), hWndParent, lpDialogFunc,
                                   dwInitParam);
}

BOOL WINAPI EndDialog(HWND hDlg, INT_PTR nResult)
{
    HWND dialog;
    {
        auto held = sync::lock();
        dialog = top_level_of(hDlg);
        DialogData* data = data_of<DialogData>(find_window(dialog));
        if (data == nullptr)
            return fail(ERROR_WINDOW_NOT_DIALOG, FALSE);
        data->ended = true;
        data->result = nResult;
        sync::wake_all();
    }
    // Hidden at once, as on Windows; the loop destroys it when it regains control.
    ShowWindow(dialog, SW_HIDE);
    PostMessageW(dialog, WM_NULL, 0, 0);
    return TRUE;
}

HWND WINAPI GetDlgItem(HWND hDlg, int nIDDlgItem)
{
    auto held = sync::lock();
    if (find_window(hDlg) == nullptr)
        return fail(ERROR_INVALID_WINDOW_HANDLE, HWND{nullptr});
    for (HWND child : children_of(hDlg)) {
        const Window* w = find_window(child);
        if (w->role == Role::plain && static_cast<WORD>(reinterpret_cast<uintptr_t>(w->menu)) ==
                                          static_cast<WORD>(nIDDlgItem))
            return child;
    }
    return fail(ERROR_CONTROL_ID_NOT_FOUND, HWND{nullptr});
}

int WINAPI GetDlgCtrlID(HWND hWnd)
{
    auto held = sync::lock();
    const Window* w = find_window(hWnd);
    if (w == nullptr || w->top_level())
        return fail(ERROR_INVALID_WINDOW_HANDLE, 0);
    return static_cast<int>(reinterpret_cast<uintptr_t>(w->menu));
}

LRESULT WINAPI SendDlgItemMessageW(HWND hDlg, int nIDDlgItem, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    HWND control = GetDlgItem(hDlg, nIDDlgItem);
    if (control == nullptr)
        return 0;
    return SendMessageW(control, Msg, wParam, lParam);
}

BOOL WINAPI IsDialogMessageW(HWND hDlg, LPMSG lpMsg)
{
    if (lpMsg == nullptr || hDlg == nullptr || !belongs_to(hDlg, lpMsg->hwnd))
        return FALSE;
    const UINT m = lpMsg->message;
    if (m == WM_KEYDOWN || m == WM_KEYUP || m == WM_CHAR) {
        const LRESULT code = SendMessageW(lpMsg->hwnd, WM_GETDLGCODE, lpMsg->wParam, reinterpret_cast<LPARAM>(lpMsg));
        const bool own = m == WM_CHAR ? (lpMsg->wParam == L'\t' || lpMsg->wParam == L'\r' || lpMsg->wParam == 0x1B) &&
                                            !(code & DLGC_WANTALLKEYS)
                                      : dialog_key(hDlg, *lpMsg, code);
        if (own)
            return TRUE;
    }
    TranslateMessage(lpMsg);
    DispatchMessageW(lpMsg);
    return TRUE;
}
