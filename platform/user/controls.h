// The dialog controls every program has: BUTTON (check boxes and push
// buttons), STATIC (text, centred text, icon) and COMBOBOX (drop-down).
// Each keeps its own data, made at WM_CREATE; the screen's view reads it.
#pragma once

#include <string>
#include <vector>

#include <windows.h>

#include "state.h"

namespace wince::user {

struct ButtonData : KindData {
    int check = BST_UNCHECKED;
};

struct StaticData : KindData {
    int icon = 0;                // SS_ICON: the icon's resource ordinal
};

// The edit part's text is the window text.
struct ComboData : KindData {
    std::vector<std::wstring> items;
    int selection = -1;          // -1: none
    bool dropped = false;
    bool text_selected = false;  // typing replaces the whole edit text
};

// Registers the three control classes in this process (once).
void register_control_classes();

// A control's notification to its parent, as WM_COMMAND.
void notify_parent(HWND control, WORD code);

} // namespace wince::user
