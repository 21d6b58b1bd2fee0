// The keys of phone view.
#pragma once

#include <string>

namespace phone {

// Runs what a curses key asks for (a call change, the settings program, a
// key for the device); returns the words for the view's footer, if any.
std::string act(int ch);

} // namespace phone
