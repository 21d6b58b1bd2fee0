// The screen as text from the device's window registry: the foreground
// window's title; what a dialog shows comes with the dialogs' screen model.
#include "screen_text.h"

#include "user/toplevel.h"

namespace phone {

ScreenText screen_text(int width)
{
    ScreenText screen;
    const auto window = wince::user::toplevel::foreground();
    if (!window) {
        screen.lines = {"", "", "  no program on screen"};
        return screen;
    }
    std::string title = window->title;
    title.resize(static_cast<size_t>(std::max(0, width - 3)), ' ');
    screen.lines = {title + " ok"};
    return screen;
}

} // namespace phone
