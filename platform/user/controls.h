// The dialog controls every program has: BUTTON (check boxes and push
// buttons), STATIC (text, centred text, icon) and COMBOBOX (drop-down).
#pragma once

#include <windows.h>

namespace wince::user {

// Registers the three control classes in this process (once).
void register_control_classes();

// A control's notification to its parent, as WM_COMMAND.
void notify_parent(HWND control, WORD code);

} // namespace wince::user
