// The views of this process's top-level windows as the screen shows them
// (screen_model.h), published with the window registry.
#pragma once

#include <windows.h>

#include "screen_model.h"

namespace wince::user {

// A rectangle of the window manager as the screen's model keeps it.
screen::Rect to_rect(const RECT& r);

// Rebuilds the views of every top-level window of the process and
// publishes them.  Call without the kernel lock.
void publish_views();

} // namespace wince::user
