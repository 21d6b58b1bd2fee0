// The device's hardware keys, as `phone key`, `phone view` and the phone's
// window press them.
#pragma once

#include <string>

#include "user/keys.h"

namespace phone {

// The key a name stands for ("F1", "RETURN", "SHIFT+TAB", "a"); throws
// Failure listing the names when there is none.
wince::user::Key key_named(const std::string& name);

// Presses the key on the device: it goes to the window that takes keys now.
// Throws Failure when no window takes keys or its program has ended.
void press_key(const wince::user::Key& key);

} // namespace phone
