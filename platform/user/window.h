// What dialogs, controls and message boxes build on: system window classes,
// subclassing, the focused control and the details `phone ui` shows.
#pragma once

#include <nlohmann/json.hpp>

#include <windows.h>

namespace wince::user {

// The dialog class, as Windows names it; its one registration, with the
// dialog window procedure, serves dialogs and message boxes alike.
inline constexpr wchar_t dialog_class[] = L"#32770";
void register_dialog_class();

// Registers a class every program has (dialog, controls); registering one
// that exists already returns its atom.  Never fails on a duplicate.
ATOM register_system_class(const WNDCLASSW& wc);

// Replaces a window's procedure; returns the previous one (null for no such window).
WNDPROC replace_window_proc(HWND hwnd, WNDPROC proc);

// The control of a top-level window that receives its keys; the window
// itself when none is set or the control is gone.
void set_focus_control(HWND top_level, HWND control);
HWND focus_control(HWND top_level);

// Extra facts about a top-level window for other processes (phone ui), e.g.
// {"messagebox": {...}}; merged into its registry entry.
void set_window_details(HWND top_level, const nlohmann::json& details);

// Moves a top-level window to the top of the device's z-order.
void bring_to_top(HWND top_level);

// Lets other processes raise this one's windows (SetForegroundWindow);
// done when a process creates its first window.
void listen_for_foreground();

} // namespace wince::user
