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
};

// F1 F2 RETURN ESCAPE TAB UP DOWN LEFT RIGHT SPACE BACK (any case), or a
// single printable ASCII character.
std::optional<Key> parse_key(std::string_view name);

// Posts the key to the focused control of top-level window `window` of
// this process and logs it.  Returns false when there is no such window.
bool deliver_key(HWND window, const Key& key);

} // namespace wince::user
