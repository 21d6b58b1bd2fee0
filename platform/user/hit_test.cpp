// The stylus's hit testing (hit_test.h), in the order Windows finds where
// a click goes.  A message box is modal: only its "ok" takes a tap, and its
// disabled owner none.  An open menu and a dropped combo box list hold the
// stylus: a tap on one of their items chooses it, a tap anywhere else
// reaches them only to close them.  Then the title bar's "ok", the soft
// keys, and the window's controls in template order, the first one being
// the topmost; a STATIC control lets taps through to what lies beneath
// unless it has SS_NOTIFY.  Leaves out disabled controls, scroll bars and
// the title bar's Start menu.
#include "hit_test.h"

namespace wince::user::hit_test {
namespace {

using touch::Target;

Hit untouched(std::string what) { return {std::move(what), std::nullopt, 0}; }

Hit tapping(std::string what, const touch::Tap& tap, uint32_t pid) { return {std::move(what), tap, pid}; }

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

uint32_t id_of(const screen::Control& c) { return static_cast<uint16_t>(c.id); }

std::string words_for(const screen::Control& c)
{
    const char* kind = c.kind == "BUTTON" ? (c.checked ? "check box" : "button")
                       : c.kind == "COMBOBOX" ? "combo box"
                       : c.icon ? "icon"
                                : "label";
    return kind + (" " + std::to_string(c.id)) + (c.text.empty() ? "" : " " + quoted(c.text));
}

Hit with_message_box(const screen::Screen& s, int x, int y)
{
    const screen::MessageBoxView& box = *s.messagebox;
    if (s.ok_button && screen::contains(s.ok, x, y))
        return tapping("\"ok\" of the message box " + quoted(box.caption), {Target::ok, box.hwnd}, box.pid);
    if (screen::contains(box.rect, x, y))
        return untouched("the message box " + quoted(box.caption));
    return untouched("the window under the message box " + quoted(box.caption));
}

Hit with_menu(const screen::Screen& s, int x, int y)
{
    const screen::Menu& menu = *s.menu;
    const std::vector<screen::Rect> rows = screen::menu_items(s, menu);
    for (size_t i = 0; i < rows.size(); ++i)
        if (screen::contains(rows[i], x, y))
            return tapping("menu item " + quoted(menu.items[i]),
                           {Target::menu_item, menu.hwnd, 0, static_cast<uint32_t>(i)}, menu.pid);
    if (screen::contains(menu.rect, x, y))
        return untouched("the open menu's frame");
    return tapping("outside the open menu, which closes it", {Target::menu_outside, menu.hwnd}, menu.pid);
}

std::optional<Hit> with_dropped_list(const screen::Screen& s, int x, int y)
{
    for (const screen::Control& c : s.controls) {
        if (c.kind != "COMBOBOX" || !c.dropped)
            continue;
        const screen::ListGeometry list = screen::dropped_list(s, c);
        const std::string combo = "combo box " + std::to_string(c.id);
        for (size_t i = 0; i < list.items.size(); ++i)
            if (screen::contains(list.items[i], x, y))
                return tapping("item " + std::to_string(i) + " " + quoted(c.items[i]) + " of " + combo,
                               {Target::list_item, s.hwnd, id_of(c), static_cast<uint32_t>(i)}, s.pid);
        if (screen::contains(list.frame, x, y))
            return untouched("the frame of the list of " + combo);
        return tapping("outside the open list of " + combo + ", which closes it",
                       {Target::list_outside, s.hwnd, id_of(c)}, s.pid);
    }
    return std::nullopt;
}

std::optional<Hit> on_soft_key(const screen::Screen& s, int x, int y)
{
    for (size_t i = 0; i < s.softkeys.size() && i < 2; ++i) {
        const screen::SoftKey& key = s.softkeys[i];
        if (!key.label.empty() && screen::contains(key.rect, x, y))
            return tapping((i == 0 ? "soft key left " : "soft key right ") + quoted(key.label),
                           {Target::softkey, s.hwnd, 0, static_cast<uint32_t>(i)}, s.pid);
    }
    return std::nullopt;
}

Hit on_control(const screen::Screen& s, int x, int y)
{
    if (!screen::contains(s.client, x, y))
        return untouched({});
    const screen::Control* label = nullptr;
    for (const screen::Control& c : s.controls) {
        if (!screen::contains(c.rect, x, y))
            continue;
        if (c.kind == "STATIC" && !c.notify) {
            label = label ? label : &c;
            continue;
        }
        return tapping(words_for(c), {Target::control, s.hwnd, id_of(c)}, s.pid);
    }
    return untouched(label ? words_for(*label) : std::string{});
}

} // namespace

Hit at(const screen::Screen& s, int x, int y)
{
    if (s.dark)
        return untouched("the dark screen");
    if (s.messagebox)
        return with_message_box(s, x, y);
    if (s.menu)
        return with_menu(s, x, y);
    if (auto list = with_dropped_list(s, x, y))
        return *list;
    if (s.ok_button && screen::contains(s.ok, x, y))
        return tapping("\"ok\" in the title bar", {Target::ok, s.hwnd}, s.pid);
    if (screen::contains(s.title_bar, x, y))
        return untouched("the title bar");
    if (auto key = on_soft_key(s, x, y))
        return *key;
    if (screen::contains(s.softkey_bar, x, y))
        return untouched("the soft-key bar");
    return on_control(s, x, y);
}

} // namespace wince::user::hit_test
