// What the phone's screen shows: a program's window, or one of the phone's
// own screens (home, incoming call, in call), composed from the device's
// state, so that the screen is black only while the backlight is off.
// `phone screen`, `ui`, `screenshot`, `view` and the window all show this.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tapi/radio.h"
#include "user/screen_model.h"

namespace phone {

// The device's state the screen is composed from.
struct DeviceState {
    bool backlight_on = true;
    std::vector<wince::tapi::radio::Call> calls; // oldest first, none idle
    // The programs' screen as they publish it: dark when no window is shown.
    wince::screen::Screen programs{};
    // The shell's frame on this device's screen: size, dpi, title bar,
    // client area, soft-key bar and the two soft keys' places.
    wince::screen::Screen frame{};
    double now = 0;       // device ms
    std::string date{};   // the calendar day as the home screen writes it
    bool cellular = true; // a cellular line: the signal marks show
};

// The device's state now.
DeviceState device_state();

// The screen for `state`: dark while the backlight is off; over anything
// else, the incoming-call screen while a call rings; the program's window
// in front; the in-call screen while a call is in progress; else home.
wince::screen::Screen compose_screen(const DeviceState& state);

// compose_screen(device_state()).
wince::screen::Screen shown_screen();

// The screen that taps and soft keys meet: shown_screen() as it would be
// lit, since the screen takes them also while its backlight is off.
wince::screen::Screen touched_screen();

// Presses soft key `index` (0 left, 1 right) on the phone's own screen:
// "Answer" answers the ringing call (a connected call is held first),
// "Ignore" rejects it, "End" hangs up the call shown.  The press is logged
// first as `event` ("key" or "tap") with `fields`, so that the log tells
// the press before the calls it changed.  False, with nothing done or
// logged, when a program's window is in front with no call ringing, or the
// phone's screen has no key there: the key is then the programs'.
bool press_phone_softkey(int index, const std::string& event, const nlohmann::json& fields);

} // namespace phone
