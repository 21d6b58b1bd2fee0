// The device's hardware keys: their names as the phone tool takes them, and
// their delivery to a window as WM_KEYDOWN / WM_KEYUP.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <windows.h>

namespace wince::user {

struct Key {
    std::string name; // "RETURN", "a"
    UINT vk;
    wchar_t character; // what TranslateMessage makes of it; 0 for none
    bool shift = false; // pressed with Shift held ("SHIFT+TAB")
};

// F1 F2 RETURN ESCAPE TAB UP DOWN LEFT RIGHT SPACE BACK, the phone keys TTALK
// TEND TVOLUMEUP TVOLUMEDOWN (any case), each
// also as SHIFT+KEY, or a single printable ASCII character.
std::optional<Key> parse_key(std::string_view name);

// Posts the key to the focused control of top-level window `window` of
// this process and logs it.  Returns false when there is no such window.
bool deliver_key(HWND window, const Key& key);

// Whether the calling thread has taken a Shift key-down from its queue
// without its key-up since.
bool shift_pressed();

} // namespace wince::user
