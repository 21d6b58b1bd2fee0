// The device's screen as text: a character grid laid out like the pixels,
// for `phone screen` and whoever else wants the screen in a terminal.
#pragma once

#include <string>

#include "user/screen_model.h"

namespace phone {

// The screen framed, 40 columns wide: title bar (with "[ok]"), each control
// at its place (check boxes "[x]"/"[ ]", combo boxes with their item and a
// "v" drop arrow, bold text between asterisks, a ">" in the left margin on
// the focused control's row), an open menu or message box on top and the
// soft keys at the bottom; the phone's own screens have the status bar's
// marks in the title row.  A dark screen is one line saying so.
std::string screen_text(const wince::screen::Screen& screen);

// What names a control for a user: a button's own text, or the text of the
// label that stands before the control on its row; empty when none does.
std::string control_label(const wince::screen::Screen& screen, const wince::screen::Control& control);

// The legend under the picture: every control but the labels, with its id
// and its label, so that a tap can name either.  Empty when the screen is
// dark or shows no such control.
std::string screen_legend(const wince::screen::Screen& screen);

} // namespace phone
