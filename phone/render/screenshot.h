// The device's screen in pixels, as the phone shows it: drawn with cairo
// and pango from the screen model: a program's window as it publishes it,
// or the phone's own screen.
#pragma once

#include <filesystem>

#include <cairo.h>

#include "user/screen_model.h"

namespace phone {

// Writes the screen as a PNG of screen.width x screen.height pixels, each
// drawn as `scale` x `scale` pixels, so that every scale shows the same
// picture; all black when the screen is dark (the backlight is off).
// Throws Failure for a file name not ending in .png and when the file
// cannot be written.
void write_screenshot(const wince::screen::Screen& screen, int scale, const std::filesystem::path& file);

// Draws the screen into `cr` at its origin, each device pixel as `scale` x
// `scale` pixels: the one drawing that the screenshot and the phone's window
// share, so that both always show the same pixels.  Throws Failure when the
// picture cannot be made.
void draw_screen(cairo_t* cr, const wince::screen::Screen& screen, int scale);

} // namespace phone
