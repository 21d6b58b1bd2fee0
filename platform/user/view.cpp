// Builds the published view of each top-level window (screen_model.h):
// the shell's title bar with its "ok", the controls at their places in
// device pixels with their fonts, texts and states, the soft keys of its
// menu bar, or the items of an open menu.  Message boxes publish their own.
#include "view.h"

#include "controls.h"
#include "device/device.h"
#include "dialog.h"
#include "display.h"
#include "fonts.h"
#include "icons.h"
#include "kernel/sync.h"
#include "shell/menus.h"
#include "state.h"
#include "toplevel.h"
#include "window.h"

namespace wince::user {
namespace {

LOGFONTW font_of(const Window& w)
{
    if (w.font)
        if (auto font = fonts::logfont(w.font))
            return *font;
    return fonts::system_font();
}

std::string upper_ascii(std::string text)
{
    for (char& c : text)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return text;
}

screen::Control describe_control(const Window& dialog, const Window& c, const RECT& client)
{
    screen::Control out;
    out.id = static_cast<short>(static_cast<WORD>(reinterpret_cast<uintptr_t>(c.menu)));
    out.kind = upper_ascii(narrow(c.class_name));
    out.text = narrow(c.title);
    const LOGFONTW font = font_of(c);
    const fonts::Metrics m = fonts::metrics(font);
    RECT r{client.left + c.rect.left, client.top + c.rect.top, client.left + c.rect.right, client.top + c.rect.bottom};
    if (out.kind == "COMBOBOX") // the template's height includes the list
        r.bottom = std::min<LONG>(r.bottom, r.top + m.height + display::scaled(6));
    out.rect = to_rect(r);
    out.focused = dialog.focus == c.hwnd;
    out.bold = fonts::is_bold(font);
    out.font_height = m.em;
    out.face = narrow(font.lfFaceName);
    out.align = out.kind == "STATIC" && (c.style & 0x1F) == SS_CENTER ? "center" : "left";
    out.notify = out.kind == "STATIC" && (c.style & SS_NOTIFY) != 0;
    const auto* button = data_of<ButtonData>(&c);
    if (button && ((c.style & 0x0F) == BS_CHECKBOX || (c.style & 0x0F) == BS_AUTOCHECKBOX))
        out.checked = button->check == BST_CHECKED;
    if (const auto* combo = data_of<ComboData>(&c)) {
        for (const auto& item : combo->items)
            out.items.push_back(narrow(item));
        out.selection = combo->selection;
        out.dropped = combo->dropped;
    }
    const auto* icon = data_of<StaticData>(&c);
    if (icon && (c.style & 0x1F) == SS_ICON && icon->icon != 0)
        out.icon = load_icon(c.instance, icon->icon, std::min(out.rect.width, out.rect.height));
    return out;
}

screen::Menu describe_menu(const shell::PopupData& popup, const display::Layout& layout)
{
    screen::Menu menu;
    const LOGFONTW font = fonts::system_font();
    const int item_height = fonts::metrics(font).height + display::scaled(8);
    int width = display::scaled(60);
    for (const auto& item : popup.items) {
        menu.items.push_back(narrow(item.text));
        width = std::max(width, fonts::text_width(item.text, font) + display::scaled(24));
    }
    width = std::min(width, layout.width);
    menu.highlighted = popup.highlighted;
    const int height = item_height * static_cast<int>(popup.items.size());
    const int x = popup.key == 0 ? 0 : layout.width - width;
    menu.rect = {x, layout.softkey_bar.top - height, width, height};
    return menu;
}

nlohmann::json describe_window(const Window& w, const display::Layout& layout)
{
    screen::Screen view;
    view.dark = false;
    if (const auto* popup = data_of<shell::PopupData>(&w)) {
        view.menu = describe_menu(*popup, layout);
    } else {
        const auto* dialog = data_of<DialogData>(&w);
        view.ok_button = dialog && dialog->done_button;
        view.title_bar = to_rect(layout.title_bar);
        view.ok = view.ok_button ? to_rect(layout.ok) : screen::Rect{};
        view.client = to_rect(layout.client);
        view.softkey_bar = to_rect(layout.softkey_bar);
        for (HWND child : children_of(w.hwnd)) {
            const Window* c = find_window(child);
            if (const auto* bar = data_of<shell::MenuBarData>(c)) {
                for (size_t i = 0; i < bar->keys.size() && i < 2; ++i)
                    view.softkeys.push_back(
                        {narrow(bar->keys[i].text), !bar->keys[i].popup.empty(), to_rect(layout.softkey[i])});
            } else if (c->role == Role::plain && (c->style & WS_VISIBLE)) {
                view.controls.push_back(describe_control(w, *c, layout.client));
            }
        }
    }
    nlohmann::json j = screen::to_json(view);
    // What the window's own entry says already, or the composer decides.
    for (const char* key : {"width", "height", "dpi", "dark", "title", "pid", "hwnd"})
        j.erase(key);
    return j;
}

} // namespace

screen::Rect to_rect(const RECT& r) { return {r.left, r.top, r.right - r.left, r.bottom - r.top}; }

void publish_views()
{
    const display::Layout layout = display::layout();
    {
        auto held = sync::lock();
        State& s = state();
        s.views_dirty = false;
        for (auto& [hwnd, w] : s.windows)
            if (w.top_level() && w.role != Role::messagebox && !w.destroying)
                w.details["view"] = describe_window(w, layout);
    }
    toplevel::publish();
}

} // namespace wince::user
