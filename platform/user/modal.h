// The one nested modal loop of the window manager: what waits for the
// user inside a call (a dialog, a message box, a menu) runs it.
#pragma once

#include <functional>

#include <windows.h>

namespace wince::user {

enum class ModalEnd {
    answered,    // `answered` held
    window_gone, // the loop's window was destroyed without an answer
    quit,        // a WM_QUIT came: it is posted again for the loop outside
    failed,      // GetMessageW failed; the last error says why
};

// Runs every message of the thread (its timers and other windows go on)
// until `answered()` holds or `window` is gone, testing both before each
// message; `answered` runs under the kernel lock.  Messages for a dialog
// pass IsDialogMessageW(window) first.
ModalEnd run_modal_loop(HWND window, bool dialog, const std::function<bool()>& answered);

} // namespace wince::user
