// Emulates the modal loop that DialogBox, MessageBox and menus run on
// Windows: nested inside whatever loop is running, dispatching all of the
// thread's messages, and broken by WM_QUIT, which it posts again with the
// same exit code so that every loop outside ends too and the program
// quits.  Leaves out WM_ENTERIDLE and the desktop's MSGF_ message hooks.
#include "modal.h"

#include "kernel/sync.h"
#include "state.h"

namespace wince::user {

ModalEnd run_modal_loop(HWND window, bool dialog, const std::function<bool()>& answered)
{
    for (;;) {
        {
            auto held = sync::lock();
            if (answered())
                return ModalEnd::answered;
            if (find_window(window) == nullptr)
                return ModalEnd::window_gone;
        }
        MSG msg;
        const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            return ModalEnd::quit;
        }
        if (got == -1)
            return ModalEnd::failed;
        if (dialog && IsDialogMessageW(window, &msg))
            continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

} // namespace wince::user
