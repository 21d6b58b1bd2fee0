// The device's screen in pixels, as the phone shows it: drawn with cairo
// and pango from the screen model: a program's window as it publishes it,
// or the phone's own screen.
#pragma once

#include <filesystem>

#include "user/screen_model.h"

namespace phone {

// Writes the screen as a PNG of screen.width x screen.height pixels, each
// drawn as `scale` x `scale` pixels, so that every scale shows the same
// picture; all black when the screen is dark (the backlight is off).
// Throws Failure for a file name not ending in .png and when the file
// cannot be written.
void write_screenshot(const wince::screen::Screen& screen, int scale, const std::filesystem::path& file);

} // namespace phone
