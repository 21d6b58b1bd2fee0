// The resources a soft-key bar is made from: an RT_MENU menu template and
// the shell's SHMENUBAR data (RT_RCDATA), a list of 16-bit words.
#pragma once

#include <optional>
#include <span>
#include <vector>

#include <windows.h>

#include "menus.h"

namespace wince::shell {

// A classic menu template: top-level items, each a command or a pop-up
// with its items.  Nothing for MENUEX templates or malformed data.
std::optional<std::vector<MenuItem>> parse_menu(std::span<const unsigned char> bytes);

struct BarButton {
    WORD image = 0;     // I_IMAGENONE (0xFFFE) for a text button
    WORD command = 0;
    WORD state = 0;     // TBSTATE_
    WORD style = 0;     // TBSTYLE_
    WORD label = 0;     // string-table id of its label
    int submenu = -1;   // index of its pop-up among the menu's items; -1 none
};

struct BarData {
    WORD menu = 0; // the RT_MENU resource its pop-ups come from
    std::vector<BarButton> buttons;
};

// SHMENUBAR data: menu id, button count, then seven words per button.
std::optional<BarData> parse_menubar(std::span<const unsigned char> bytes);

} // namespace wince::shell
