// The stylus on the device's screen.  Each call taps what the screen shows
// now, or throws Failure saying why it cannot (a dark screen, a message box
// in the way, no such control).
#pragma once

#include <string>

namespace phone {

void tap_ok();                           // the "ok" in the title bar
void tap_softkey(const std::string& side); // "left" or "right"
void tap_menu(const std::string& text);  // an item of the open menu, by its text
// A control of the foreground window, by its id or its label as
// `phone screen` shows it ("Interval:").
void tap_control(const std::string& id_or_label);
// Taps a combo box, then its item `index_text` (from 0).
void select_item(const std::string& id_or_label, const std::string& index_text);
// A tap at a device pixel of the screen, as the window's mouse gives it.
void tap_at(int x, int y);

// The stylus at device pixel (x, y), as a mouse click on the phone's window:
// whatever lies there takes the tap, or nothing does.  Throws Failure for a
// point off the screen.
void tap_at(int x, int y);
// The same, saying what was tapped ("tapped (120,88): check box 1000 ...").
std::string tap_at_saying(int x, int y);

} // namespace phone
