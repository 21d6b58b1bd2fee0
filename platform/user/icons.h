// Icons from a program's resources, as pixels for whoever shows the screen.
#pragma once

#include <optional>

#include <windows.h>

#include "screen_model.h"

namespace wince::user {

// The image of icon group `group` in `module` closest to `size` pixels
// (the smallest one at least that large, else the largest), decoded.
// Nothing when the module has no such group or the image is no bitmap
// this reads (1, 4, 8, 24 or 32 bits per pixel).
std::optional<screen::Icon> load_icon(HINSTANCE module, int group, int size);

} // namespace wince::user
