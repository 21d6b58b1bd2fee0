// The stylus on the screen: what a tap on the foreground window's parts
// does, as messages to the window's thread in the order Windows sends them.
#pragma once

#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include <windows.h>

namespace wince::user::touch {

// What a tap hits.  A dropped list and an open menu hold the stylus: a tap
// anywhere outside them reaches them (list_outside, menu_outside) and
// closes them, and nothing else.
enum class Target { ok, softkey, menu_item, control, list_item, list_outside, menu_outside };

struct Tap {
    Target target = Target::ok;
    uint64_t window = 0; // the top-level window tapped (a menu for menu_item and menu_outside)
    uint32_t id = 0;     // control id (control, list_item, list_outside)
    uint32_t index = 0;  // soft key 0 left 1 right; item of a menu or list
};

// Acts out the tap on a window of this process; false when its target is
// not there.  Logs `tap`.
bool deliver(const Tap& tap);

// Takes taps from the channel from now on (done when a process creates its
// first window).
void listen();

// The message for the owning process's channel.
nlohmann::json to_message(const Tap& tap);

} // namespace wince::user::touch
