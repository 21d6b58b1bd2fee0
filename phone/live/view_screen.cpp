// phone view's screen pane: the phone's screen as text, dark while the
// backlight is off.
#include <algorithm>

#include "live/view_panes.h"
#include "render/screen_text.h"
#include "screens/shown_screen.h"

namespace phone::view {

// The screen as `phone screen` shows it, with the rows between controls
// left out so that a whole dialog fits beside the status.
std::vector<std::string> screen_lines()
{
    const std::string text = screen_text(shown_screen());
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        const std::string line = text.substr(start, end - start);
        if (line.find_first_not_of(" |") != std::string::npos)
            lines.push_back(line);
    }
    return lines;
}

void draw_screen(const Snapshot& s, int top, int height)
{
    if (s.dark) {
        const std::string dark = "(backlight off: screen dark)";
        const int pad = std::max(0, (screen_width - static_cast<int>(dark.size())) / 2);
        put(top + height / 2, 0, std::string(pad, ' ') + dark, screen_width, A_DIM);
        return;
    }
    for (int i = 0; i < height && i < static_cast<int>(s.screen.size()); ++i)
        put(top + i, 0, s.screen[i], screen_width);
}

} // namespace phone::view
