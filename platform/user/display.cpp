// The device's screen (display.h): 240 x 320 logical pixels (device.json
// "screen") at the device's dpi, with the shell's title bar on top and the
// soft-key bar at the bottom, both 26 pixels high at 96 dpi.  Leaves out the
// input panel, orientation changes and the navigation bar's icons.
#include "display.h"

#include "device/device.h"

namespace wince::user::display {
namespace {

constexpr int bar_height = 26; // at 96 dpi
constexpr int ok_width = 30;   // at 96 dpi

RECT rect(int left, int top, int right, int bottom) { return RECT{left, top, right, bottom}; }

} // namespace

int dpi() { return device::config().value("dpi", 96); }

int scaled(int pixels_at_96) { return pixels_at_96 * dpi() / 96; }

Layout layout()
{
    const auto& config = device::config();
    const auto& screen = config.contains("screen") ? config["screen"] : nlohmann::json::object();
    Layout l;
    l.width = scaled(screen.value("width", 240));
    l.height = scaled(screen.value("height", 320));
    const int bar = scaled(bar_height);
    l.title_bar = rect(0, 0, l.width, bar);
    l.ok = rect(l.width - scaled(ok_width), 0, l.width, bar);
    l.softkey_bar = rect(0, l.height - bar, l.width, l.height);
    l.client = rect(0, bar, l.width, l.height - bar);
    l.softkey[0] = rect(0, l.height - bar, l.width / 2, l.height);
    l.softkey[1] = rect(l.width / 2, l.height - bar, l.width, l.height);
    return l;
}

} // namespace wince::user::display
