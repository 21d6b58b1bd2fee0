// phone window: the command; the window itself is in window.cpp.
#include "commands/commands.h"
#include "live/window.h"

namespace phone {

void add_window_command(CLI::App& app)
{
    static int zoom = 0;
    auto* window = app.add_subcommand(
        "window", "The phone in a desktop window: its live screen and keys, the stylus as the mouse, a panel for calls");
    window->add_option("--zoom", zoom, "Each device pixel as N x N pixels, 1 to 4 (default: 2 at 96 dpi, 1 at 192)")
        ->type_name("N")
        ->check(CLI::Range(1, 4));
    window->footer("A click on the screen taps it.  Keys while the phone's face has the focus: F1 F2 soft keys,\n"
                   "arrows, Return (action), Escape, Tab, characters; F3 talk, F4 end.  The talk key answers a\n"
                   "ringing call, the end key drops the connected call (or turns a ringing one away).");
    window->callback([] { run_window(zoom); });
}

} // namespace phone
