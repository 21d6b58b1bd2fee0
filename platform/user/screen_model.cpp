// The screen model (screen_model.h): its JSON form, the screen composed
// from the views that the device's processes publish for their top-level
// windows, and where the rows of a dropped list or an open menu lie.
// Leaves out pixels: drawing is the reader's business.
#include "screen_model.h"

#include <algorithm>
#include <cmath>

#include "device/device.h"
#include "toplevel.h"

namespace wince::screen {
namespace {

nlohmann::json rect_json(const Rect& r) { return {{"x", r.x}, {"y", r.y}, {"width", r.width}, {"height", r.height}}; }

template <class T>
void take(const nlohmann::json& j, const char* key, T& out)
{
    auto found = j.find(key);
    if (found == j.end())
        return;
    try {
        out = found->get<T>();
    } catch (const nlohmann::json::exception&) {
        // A field of the wrong type keeps its default.
    }
}

Rect rect_from(const nlohmann::json& j, const char* key)
{
    Rect r;
    auto found = j.find(key);
    if (found == j.end() || !found->is_object())
        return r;
    take(*found, "x", r.x);
    take(*found, "y", r.y);
    take(*found, "width", r.width);
    take(*found, "height", r.height);
    return r;
}

const char hex_digits[] = "0123456789abcdef";

std::string to_hex(const std::vector<unsigned char>& bytes)
{
    std::string out;
    out.reserve(bytes.size() * 2);
    for (unsigned char b : bytes) {
        out.push_back(hex_digits[b >> 4]);
        out.push_back(hex_digits[b & 15]);
    }
    return out;
}

std::vector<unsigned char> from_hex(const std::string& text)
{
    auto value = [](char c) -> int {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        return -1;
    };
    std::vector<unsigned char> out;
    for (size_t i = 0; i + 1 < text.size(); i += 2) {
        const int high = value(text[i]);
        const int low = value(text[i + 1]);
        if (high < 0 || low < 0)
            return {};
        out.push_back(static_cast<unsigned char>(high * 16 + low));
    }
    return out;
}

nlohmann::json control_json(const Control& c)
{
    nlohmann::json j = {{"id", c.id},           {"class", c.kind},         {"text", c.text},
                        {"rect", rect_json(c.rect)}, {"focused", c.focused}, {"bold", c.bold},
                        {"font_height", c.font_height}, {"face", c.face}, {"align", c.align}};
    if (c.checked)
        j["checked"] = *c.checked;
    if (c.kind == "COMBOBOX") {
        j["items"] = c.items;
        j["selection"] = c.selection;
        j["dropped"] = c.dropped;
    }
    if (c.notify)
        j["notify"] = true;
    if (c.icon)
        j["icon"] = {{"resource", c.icon->resource}, {"module", c.icon->module}, {"width", c.icon->width},
                     {"height", c.icon->height}, {"rgba", to_hex(c.icon->rgba)}};
    return j;
}

Control control_from(const nlohmann::json& j)
{
    Control c;
    take(j, "id", c.id);
    take(j, "class", c.kind);
    take(j, "text", c.text);
    c.rect = rect_from(j, "rect");
    take(j, "focused", c.focused);
    take(j, "bold", c.bold);
    take(j, "font_height", c.font_height);
    take(j, "face", c.face);
    take(j, "align", c.align);
    if (auto found = j.find("checked"); found != j.end() && found->is_boolean())
        c.checked = found->get<bool>();
    take(j, "items", c.items);
    take(j, "selection", c.selection);
    take(j, "dropped", c.dropped);
    take(j, "notify", c.notify);
    if (auto found = j.find("icon"); found != j.end() && found->is_object()) {
        Icon icon;
        take(*found, "resource", icon.resource);
        take(*found, "module", icon.module);
        take(*found, "width", icon.width);
        take(*found, "height", icon.height);
        std::string hex;
        take(*found, "rgba", hex);
        icon.rgba = from_hex(hex);
        if (icon.rgba.size() != static_cast<size_t>(icon.width) * icon.height * 4)
            icon.rgba.clear();
        c.icon = std::move(icon);
    }
    return c;
}

const nlohmann::json& view_of(const user::toplevel::Entry& e)
{
    static const nlohmann::json none = nlohmann::json::object();
    auto found = e.details.find("view");
    return found != e.details.end() && found->is_object() ? *found : none;
}

bool is_overlay(const user::toplevel::Entry& e)
{
    const auto& view = view_of(e);
    return view.contains("menu") || view.contains("messagebox");
}

void screen_size(Screen& s)
{
    const auto& config = device::config();
    s.dpi = config.value("dpi", 96);
    const auto& size = config.contains("screen") ? config["screen"] : nlohmann::json::object();
    s.width = size.value("width", 240) * s.dpi / 96;
    s.height = size.value("height", 320) * s.dpi / 96;
}

// Pixels at the screen's dpi for a length given at 96 dpi.
int at_dpi(const Screen& s, double pixels_at_96) { return static_cast<int>(std::lround(pixels_at_96 * s.dpi / 96.0)); }

} // namespace

bool contains(const Rect& r, int x, int y) { return x >= r.x && x < r.x + r.width && y >= r.y && y < r.y + r.height; }

ListGeometry dropped_list(const Screen& s, const Control& c)
{
    const int row = c.rect.height - at_dpi(s, 2);
    const int height = static_cast<int>(c.items.size()) * row + at_dpi(s, 2);
    const int top = s.client.y;
    const int bottom = s.client.y + s.client.height;
    int y = c.rect.y + c.rect.height;
    if (y + height > bottom)
        y = c.rect.y - height >= top ? c.rect.y - height : std::max(top, bottom - height);
    ListGeometry list;
    list.frame = {c.rect.x, y, c.rect.width, height};
    for (size_t i = 0; i < c.items.size(); ++i)
        list.items.push_back({c.rect.x + at_dpi(s, 1), y + at_dpi(s, 1) + static_cast<int>(i) * row,
                              c.rect.width - at_dpi(s, 2), row});
    return list;
}

std::vector<Rect> menu_items(const Screen& s, const Menu& m)
{
    const int count = std::max<int>(1, static_cast<int>(m.items.size()));
    const int row = (m.rect.height - at_dpi(s, 4)) / count;
    std::vector<Rect> rows;
    for (int i = 0; i < static_cast<int>(m.items.size()); ++i)
        rows.push_back({m.rect.x + at_dpi(s, 2), m.rect.y + at_dpi(s, 2) + i * row, m.rect.width - at_dpi(s, 4), row});
    return rows;
}

nlohmann::json to_json(const Screen& s)
{
    nlohmann::json j = {{"width", s.width}, {"height", s.height}, {"dpi", s.dpi}, {"dark", s.dark}};
    if (s.dark)
        return j;
    j["title"] = s.title;
    j["pid"] = s.pid;
    j["hwnd"] = s.hwnd;
    j["ok_button"] = s.ok_button;
    j["title_bar"] = rect_json(s.title_bar);
    j["ok"] = rect_json(s.ok);
    j["client"] = rect_json(s.client);
    j["softkey_bar"] = rect_json(s.softkey_bar);
    j["controls"] = nlohmann::json::array();
    for (const Control& c : s.controls)
        j["controls"].push_back(control_json(c));
    j["softkeys"] = nlohmann::json::array();
    for (const SoftKey& k : s.softkeys)
        j["softkeys"].push_back({{"label", k.label}, {"popup", k.popup}, {"rect", rect_json(k.rect)}});
    if (s.menu)
        j["menu"] = {{"pid", s.menu->pid}, {"hwnd", s.menu->hwnd}, {"items", s.menu->items}, {"highlighted", s.menu->highlighted}, {"rect", rect_json(s.menu->rect)}};
    if (s.messagebox)
        j["messagebox"] = {{"pid", s.messagebox->pid}, {"hwnd", s.messagebox->hwnd}, {"text", s.messagebox->text}, {"caption", s.messagebox->caption},
                           {"type", s.messagebox->type}, {"rect", rect_json(s.messagebox->rect)}};
    return j;
}

Screen from_json(const nlohmann::json& j)
{
    Screen s;
    if (!j.is_object())
        return s;
    take(j, "width", s.width);
    take(j, "height", s.height);
    take(j, "dpi", s.dpi);
    take(j, "dark", s.dark);
    take(j, "title", s.title);
    take(j, "pid", s.pid);
    take(j, "hwnd", s.hwnd);
    take(j, "ok_button", s.ok_button);
    s.title_bar = rect_from(j, "title_bar");
    s.ok = rect_from(j, "ok");
    s.client = rect_from(j, "client");
    s.softkey_bar = rect_from(j, "softkey_bar");
    if (auto found = j.find("controls"); found != j.end() && found->is_array())
        for (const auto& c : *found)
            if (c.is_object())
                s.controls.push_back(control_from(c));
    if (auto found = j.find("softkeys"); found != j.end() && found->is_array())
        for (const auto& k : *found) {
            if (!k.is_object())
                continue;
            SoftKey key;
            take(k, "label", key.label);
            take(k, "popup", key.popup);
            key.rect = rect_from(k, "rect");
            s.softkeys.push_back(key);
        }
    if (auto found = j.find("menu"); found != j.end() && found->is_object()) {
        Menu m;
        take(*found, "pid", m.pid);
        take(*found, "hwnd", m.hwnd);
        take(*found, "items", m.items);
        take(*found, "highlighted", m.highlighted);
        m.rect = rect_from(*found, "rect");
        s.menu = m;
    }
    if (auto found = j.find("messagebox"); found != j.end() && found->is_object()) {
        MessageBoxView b;
        take(*found, "pid", b.pid);
        take(*found, "hwnd", b.hwnd);
        take(*found, "text", b.text);
        take(*found, "caption", b.caption);
        take(*found, "type", b.type);
        b.rect = rect_from(*found, "rect");
        s.messagebox = b;
    }
    return s;
}

Screen current()
{
    const auto windows = user::toplevel::list();
    Screen blank;
    screen_size(blank);
    auto top = std::find_if(windows.begin(), windows.end(), [](const auto& e) { return e.visible; });
    if (top == windows.end())
        return blank;
    // A menu or a message box is drawn over the window beneath it.
    auto base = top;
    if (is_overlay(*top)) {
        auto below = std::find_if(std::next(top), windows.end(),
                                  [](const auto& e) { return e.visible && !is_overlay(e); });
        if (below != windows.end())
            base = below;
    }
    Screen s = from_json(view_of(*base));
    s.width = blank.width;
    s.height = blank.height;
    s.dpi = blank.dpi;
    s.dark = false;
    s.title = base->title;
    s.pid = base->pid;
    s.hwnd = base->hwnd;
    if (is_overlay(*top)) {
        Screen overlay = from_json(view_of(*top));
        for (auto* part : {overlay.menu ? &overlay.menu->pid : nullptr,
                           overlay.messagebox ? &overlay.messagebox->pid : nullptr})
            if (part)
                *part = top->pid;
        if (overlay.menu)
            overlay.menu->hwnd = top->hwnd;
        if (overlay.messagebox)
            overlay.messagebox->hwnd = top->hwnd;
        s.menu = overlay.menu;
        s.messagebox = overlay.messagebox;
        if (overlay.messagebox) {
            // A message box shows its own caption and "ok" in the title bar.
            s.title = top->title;
            s.ok_button = overlay.ok_button;
            s.ok = overlay.ok;
            s.title_bar = overlay.title_bar;
        }
    }
    return s;
}

std::filesystem::path watch_dir() { return device::run_dir() / "windows"; }

} // namespace wince::screen
