// The device's screen: its size at the device's dpi and the fixed parts
// of the Pocket PC shell on it (title bar, soft-key bar) around the area
// where the foreground window shows.
#pragma once

#include <windows.h>

namespace wince::user::display {

int dpi();
// Pixels at the device's dpi for a length given at 96 dpi.
int scaled(int pixels_at_96);

struct Layout {
    int width = 0;
    int height = 0;
    RECT title_bar{};
    RECT ok{};          // the "ok" button at the right of the title bar
    RECT client{};      // where the foreground window shows
    RECT softkey_bar{};
    RECT softkey[2]{};  // left and right
};

Layout layout();

} // namespace wince::user::display
