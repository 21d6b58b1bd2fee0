// The stylus on the device's screen, as `phone tap`, `phone select` and the
// phone's window use it.  Every tap is checked against what the screen shows
// now and carried to the program that owns the part tapped; a tap at a point
// goes where the platform's hit testing says.
#include "input/stylus.h"

#include <algorithm>
#include <cctype>

#include "device/channel.h"
#include "parsing.h"
#include "render/screen_text.h"
#include "screens/shown_screen.h"
#include "user/hit_test.h"
#include "user/screen_model.h"
#include "user/touch.h"

namespace phone {
namespace {

namespace screen = wince::screen;
namespace touch = wince::user::touch;

// The program's window that a tap meets; the phone's own screens take
// only their soft keys (press_phone_softkey).
screen::Screen program_screen(const std::string& what)
{
    screen::Screen s = touched_screen();
    if (s.owner == "phone")
        throw Failure("cannot tap " + what + ": the phone's own screen '" + s.title + "' is shown" +
                      (s.softkeys.empty() ? "" : ", which takes only its soft keys"));
    return s;
}

void send_tap(uint32_t pid, const touch::Tap& tap, const std::string& owner)
{
    if (!wince::channel::send(pid, touch::to_message(tap)))
        throw Failure("could not tap: the program of '" + owner + "' has ended");
}

void not_behind_box(const screen::Screen& s, const std::string& what)
{
    if (s.messagebox)
        throw Failure("cannot tap " + what + ": the message box '" + s.messagebox->caption +
                      "' covers it (dismiss it with 'phone tap ok' or 'phone key RETURN')");
}

bool looks_like_id(const std::string& text)
{
    const size_t digit = !text.empty() && text[0] == '-' ? 1 : 0;
    return text.size() > digit && std::isdigit(static_cast<unsigned char>(text[digit]));
}

const screen::Control& control_by_id(const screen::Screen& s, const std::string& id_text)
{
    // IDC_STATIC is -1; every other id is a 16-bit number.
    const bool negative = !id_text.empty() && id_text[0] == '-';
    const uint64_t magnitude = parse_number(negative ? id_text.substr(1) : id_text, "control id");
    if (magnitude > 0xFFFF || (negative && magnitude != 1))
        throw Failure("invalid control id '" + id_text + "': control ids go from -1 to 65535");
    const int id = negative ? -1 : static_cast<int>(static_cast<int16_t>(magnitude));
    const screen::Control* found = nullptr;
    int matches = 0;
    for (const auto& c : s.controls)
        if (c.id == id) {
            found = &c;
            ++matches;
        }
    if (matches == 0)
        throw Failure("no control " + id_text + " on the screen of '" + s.title + "'");
    if (matches > 1)
        throw Failure("control id " + id_text + " names " + std::to_string(matches) + " controls of '" + s.title + "'");
    return *found;
}

// "interval" finds the list labelled "Interval:": case and a closing colon
// do not count.
std::string label_key(std::string text)
{
    while (!text.empty() && (text.back() == ':' || text.back() == ' '))
        text.pop_back();
    return upper(text);
}

const screen::Control& control_by_label(const screen::Screen& s, const std::string& label)
{
    const screen::Control* found = nullptr;
    std::string known;
    for (const auto& c : s.controls) {
        if (c.kind == "STATIC")
            continue;
        const std::string name = control_label(s, c);
        if (!name.empty())
            known += (known.empty() ? "'" : ", '") + name + "'";
        if (name.empty() || label_key(name) != label_key(label))
            continue;
        if (found)
            throw Failure("'" + label + "' labels controls " + std::to_string(found->id) + " and " +
                          std::to_string(c.id) + " of '" + s.title + "': give the id");
        found = &c;
    }
    if (!found)
        throw Failure("no control labelled '" + label + "' on the screen of '" + s.title + "'" +
                      (known.empty() ? "" : " (labels: " + known + ")"));
    return *found;
}

// A control by its id, or by its label as phone screen shows it.
const screen::Control& control_on_screen(const screen::Screen& s, const std::string& name)
{
    not_behind_box(s, "control " + name);
    return looks_like_id(name) ? control_by_id(s, name) : control_by_label(s, name);
}

// Every press of a soft key, by name or at its place, goes through here:
// a program's to its window, the phone's own to the phone.
void press_softkey(const screen::Screen& s, uint32_t index)
{
    if (s.owner != "phone") {
        send_tap(s.pid, {touch::Target::softkey, s.hwnd, 0, index}, s.title);
        return;
    }
    const std::string side = index == 0 ? "left" : "right";
    if (!press_phone_softkey(static_cast<int>(index), "tap", {{"target", "softkey " + side}}))
        throw Failure("the " + side + " soft key of '" + s.title + "' is gone: the screen has changed");
}

std::string point_text(int x, int y) { return "(" + std::to_string(x) + "," + std::to_string(y) + ")"; }

} // namespace

void tap_ok()
{
    const screen::Screen s = program_screen("ok");
    if (!s.ok_button)
        throw Failure("no \"ok\" in the title bar of '" + s.title + "'");
    if (s.messagebox)
        send_tap(s.messagebox->pid, {touch::Target::ok, s.messagebox->hwnd}, s.title);
    else
        send_tap(s.pid, {touch::Target::ok, s.hwnd}, s.title);
}

void tap_softkey(const std::string& side)
{
    if (side != "left" && side != "right")
        throw Failure("softkey takes left or right, not '" + side + "'");
    const uint32_t index = side == "left" ? 0 : 1;
    const screen::Screen s = touched_screen();
    not_behind_box(s, "the " + side + " soft key");
    if (index >= s.softkeys.size() || s.softkeys[index].label.empty())
        throw Failure("no " + side + " soft key on the screen of '" + s.title + "'");
    press_softkey(s, index);
}

void tap_menu(const std::string& text)
{
    const screen::Screen s = program_screen("menu item '" + text + "'");
    if (!s.menu)
        throw Failure("no menu is open on the screen of '" + s.title + "'");
    const auto& items = s.menu->items;
    const auto at = std::find(items.begin(), items.end(), text);
    if (at == items.end()) {
        std::string listed;
        for (const auto& item : items)
            listed += (listed.empty() ? "'" : ", '") + item + "'";
        throw Failure("the open menu has no item '" + text + "' (it has " + listed + ")");
    }
    send_tap(s.menu->pid, {touch::Target::menu_item, s.menu->hwnd, 0, static_cast<uint32_t>(at - items.begin())},
             s.title);
}

void tap_control(const std::string& id_text)
{
    const screen::Screen s = program_screen("control " + id_text);
    const screen::Control& c = control_on_screen(s, id_text);
    send_tap(s.pid, {touch::Target::control, s.hwnd, static_cast<uint32_t>(static_cast<uint16_t>(c.id))}, s.title);
}

void select_item(const std::string& id_text, const std::string& index_text)
{
    const screen::Screen s = program_screen("an item of control " + id_text);
    const screen::Control& c = control_on_screen(s, id_text);
    if (c.kind != "COMBOBOX")
        throw Failure("control " + id_text + " of '" + s.title + "' is a " + c.kind + ", not a list to select from");
    const uint64_t index = parse_number(index_text, "item index");
    if (index >= c.items.size())
        throw Failure("control " + id_text + " has " + std::to_string(c.items.size()) + " items: no item " +
                      index_text);
    send_tap(s.pid,
             {touch::Target::list_item, s.hwnd, static_cast<uint32_t>(static_cast<uint16_t>(c.id)),
              static_cast<uint32_t>(index)},
             s.title);
}

std::string tap_at_saying(int x, int y)
{
    const screen::Screen s = touched_screen();
    if (x < 0 || y < 0 || x >= s.width || y >= s.height)
        throw Failure("cannot tap " + point_text(x, y) + ": the screen is " + std::to_string(s.width) + " x " +
                      std::to_string(s.height) + " pixels, from (0,0) to " + point_text(s.width - 1, s.height - 1));
    const wince::user::hit_test::Hit hit = wince::user::hit_test::at(s, x, y);
    const std::string tapped = "tapped " + point_text(x, y) + ": ";
    if (!hit.tap)
        return tapped + (hit.what.empty() ? "nothing there" : hit.what + ", which takes no taps");
    if (hit.tap->target == touch::Target::softkey)
        press_softkey(s, hit.tap->index);
    else
        send_tap(hit.pid, *hit.tap, s.title);
    return tapped + hit.what;
}

void tap_at(int x, int y) { tap_at_saying(x, y); }

} // namespace phone
