// The drivers' device-wide state as `phone status` shows it.
#pragma once

#include <string>

namespace wince::drivers {

struct Backlight {
    int state = 0;     // CEDEVICE_POWER_STATE in effect: 0 (D0, on) .. 4 (D4, off)
    bool held = false; // set by a program, not yet handed back
};

Backlight backlight();

// "D0".."D4", "PwrDeviceUnspecified"
std::string power_state_name(int state);

} // namespace wince::drivers
