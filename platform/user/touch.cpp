// The stylus (touch.h): a tap on the title bar's "ok" is the IDOK command,
// on a soft key the menu bar's own handling, on a menu item its choice, on
// a control a button press and release at its middle, and on an item of a
// combo box's list the tap that opens the list followed by the one on the
// item.  A tap outside a dropped list is a press outside the box, which
// holds the stylus while its list is down; one outside an open menu is the
// menu's close request.  Everything is posted to the window's thread,
// behind what waits.
// Leaves out drags, double taps and tap-and-hold.
#include "touch.h"

#include "controls.h"
#include "device/channel.h"
#include "device/eventlog.h"
#include "kernel/sync.h"
#include "queue.h"
#include "shell/menus.h"
#include "state.h"

namespace wince::user::touch {
namespace {

void register_channel_handler();

HWND control_of(HWND window, uint32_t id, Role role)
{
    for (HWND child : children_of(window)) {
        const Window* w = find_window(child);
        if (w->role != role)
            continue;
        if (role != Role::plain || static_cast<WORD>(reinterpret_cast<uintptr_t>(w->menu)) == id)
            return child;
    }
    return nullptr;
}

// A press and release at `point` in the control's own coordinates.
void press_and_release(HWND control, LPARAM point)
{
    deliver_window_message(control, WM_LBUTTONDOWN, MK_LBUTTON, point);
    deliver_window_message(control, WM_LBUTTONUP, 0, point);
}

LPARAM middle_of(const RECT& r) { return MAKELPARAM((r.right - r.left) / 2, (r.bottom - r.top) / 2); }

// Just above and left of the control.
constexpr LPARAM just_outside = MAKELPARAM(-1, -1);

std::string menu_item_text(const Tap& tap)
{
    auto held = sync::lock();
    const Window* w = find_window(hwnd_from_value(tap.window));
    const auto* popup = data_of<shell::PopupData>(w);
    if (popup && tap.index < popup->items.size())
        return narrow(popup->items[tap.index].text);
    return std::to_string(tap.index);
}

std::string describe(const Tap& tap)
{
    switch (tap.target) {
    case Target::ok:
        return "ok";
    case Target::softkey:
        return tap.index == 0 ? "softkey left" : "softkey right";
    case Target::menu_item:
        return "menu " + menu_item_text(tap);
    case Target::control:
        return "control " + std::to_string(tap.id);
    case Target::list_item:
        return "control " + std::to_string(tap.id) + " item " + std::to_string(tap.index);
    case Target::list_outside:
        return "control " + std::to_string(tap.id) + " outside its list";
    case Target::menu_outside:
        return "menu outside its items";
    }
    return {};
}

bool act(const Tap& tap)
{
    const HWND window = hwnd_from_value(tap.window);
    HWND target = nullptr;
    RECT rect{};
    bool dropped = false;
    {
        auto held = sync::lock();
        const Window* w = find_window(window);
        if (w == nullptr || !w->top_level() || w->destroying)
            return false;
        switch (tap.target) {
        case Target::ok:
            target = window;
            break;
        case Target::menu_item:
        case Target::menu_outside:
            target = w->role == Role::popup ? window : nullptr;
            break;
        case Target::softkey:
            target = control_of(window, 0, Role::menubar);
            break;
        case Target::control:
        case Target::list_item:
        case Target::list_outside:
            target = control_of(window, tap.id, Role::plain);
            break;
        }
        if (target == nullptr)
            return false;
        rect = find_window(target)->rect;
        const auto* combo = data_of<ComboData>(find_window(target));
        dropped = combo && combo->dropped;
    }
    switch (tap.target) {
    case Target::ok:
        return deliver_window_message(target, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    case Target::softkey:
        return deliver_window_message(target, WM_WINCE_SOFTKEY, tap.index, 0);
    case Target::menu_item:
        return deliver_window_message(target, WM_WINCE_PICK, tap.index, 0);
    case Target::control:
        press_and_release(target, middle_of(rect));
        return true;
    case Target::list_item:
        if (!dropped)
            press_and_release(target, middle_of(rect));
        return deliver_window_message(target, WM_WINCE_PICK, tap.index, 0);
    case Target::list_outside:
        if (!dropped)
            return false;
        press_and_release(target, just_outside);
        return true;
    case Target::menu_outside:
        return deliver_window_message(target, WM_CLOSE, 0, 0);
    }
    return false;
}

} // namespace

void listen()
{
    static const bool registered = [] {
        register_channel_handler();
        return true;
    }();
    (void)registered;
}

namespace {

void register_channel_handler()
{
    using channel::Type;
    channel::on("tap",
                {{"target", Type::u32}, {"window", Type::u64}, {"id", Type::u32}, {"index", Type::u32}},
                [](const nlohmann::json& m) {
                    const auto target = m["target"].get<uint32_t>();
                    if (target > static_cast<uint32_t>(Target::menu_outside))
                        return;
                    deliver(Tap{static_cast<Target>(target), m["window"].get<uint64_t>(), m["id"].get<uint32_t>(),
                                m["index"].get<uint32_t>()});
                });
}

} // namespace

bool deliver(const Tap& tap)
{
    const std::string target = describe(tap);
    if (!act(tap))
        return false;
    eventlog::write("tap", {{"target", target}});
    return true;
}

nlohmann::json to_message(const Tap& tap)
{
    return {{"kind", "tap"},
            {"target", static_cast<uint32_t>(tap.target)},
            {"window", tap.window},
            {"id", tap.id},
            {"index", tap.index}};
}

} // namespace wince::user::touch
