// The window manager's state inside one process: window classes, windows,
// the message queues of its threads and their timers.  Everything here is
// guarded by the kernel lock (wince::sync); window procedures are always
// called with the lock released.  Shared by the files of platform/user only.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include <nlohmann/json.hpp>

#include <windows.h>

#include "hwnd.h"

namespace wince::user {

struct PostedMessage {
    HWND hwnd;
    UINT message;
    WPARAM wparam;
    LPARAM lparam;
    DWORD time;
    // Keyboard input: it goes to whichever control of top-level window
    // `hwnd` has the focus when the thread takes it, as on Windows.
    bool to_focus = false;
};

struct Timer {
    HWND hwnd; // null for a thread timer
    UINT_PTR id;
    UINT interval;
    double due; // device ms
    TIMERPROC proc;
};

// A SendMessageW from another thread of the process, waiting to be run on
// the window's own thread.
struct SentMessage {
    HWND hwnd;
    UINT message;
    WPARAM wparam;
    LPARAM lparam;
    LRESULT result = 0;
    bool done = false;
};

struct Queue {
    std::deque<PostedMessage> posted;
    std::vector<Timer> timers;
    std::deque<SentMessage*> sent;
    // Characters of delivered keys, for TranslateMessage to turn the key's
    // WM_KEYDOWN into the character actually typed ('a' or 'A').
    std::deque<std::pair<UINT, wchar_t>> typed;
    bool quit = false;
    int quit_code = 0;
    bool shift = false; // a Shift key-down was taken, its key-up not yet
    // The thread itself made a message call: its exit removes the queue.
    bool attached = false;
};

// Messages of the platform's own, between its parts: the shell's soft keys
// and the finger on a list or menu item.  Above 0xFFFF, which Windows
// reserves for the system: no SDK message lives there, while every range
// below is somebody's (0-0x3FF the system's own messages, WM_USER a window
// class's, WM_APP the program's, 0xC000 registered ones).
constexpr UINT WM_WINCE_SOFTKEY = 0x00010000; // to a menu bar: wParam the soft key, 0 left, 1 right
constexpr UINT WM_WINCE_PICK = 0x00010001;    // to a combo box or menu: wParam the item tapped

// What a window of one kind keeps besides what every window has: a
// combo box its items, a dialog its result, a menu bar its soft keys.  The
// file of that kind defines it (controls.h, dialog.h, shell/menus.h) and
// gives it to the window when it makes one, as a Windows control keeps its
// own structure behind its window; data_of<T> reaches it.
struct KindData {
    virtual ~KindData() = default;
};

enum class Role { plain, dialog, menubar, popup, messagebox };

struct CaseInsensitiveLess {
    bool operator()(const std::wstring& a, const std::wstring& b) const;
};

struct WindowClass {
    std::wstring name;
    ATOM atom;
    WNDPROC proc;
    HINSTANCE instance;
    UINT style;
};

struct Window {
    HWND hwnd;
    std::wstring class_name;
    std::wstring title;
    DWORD style;
    DWORD ex_style;
    WNDPROC proc;
    HWND parent; // the parent of a child window, the owner of a top-level one
    HMENU menu;  // a child's control id
    HINSTANCE instance;
    uint32_t thread;
    bool visible;
    bool destroying = false;
    bool announced = false; // window.create was logged and published
    double created = 0;     // device ms
    double raised = 0;      // device ms of the last move to the top
    uint64_t serial = 0;
    HWND focus = nullptr;   // the focused control of a top-level window
    bool keys_ignored = false; // SetFocus(NULL): its keystrokes go nowhere
    nlohmann::json details = nlohmann::json::object(); // shown by phone ui
    Role role = Role::plain;
    HFONT font = nullptr;   // WM_SETFONT
    RECT rect{};            // pixels: a child's in its parent, a top-level window's on the screen
    // Shared, so that a modal loop keeps its dialog's or menu's result
    // after the window has gone.
    std::shared_ptr<KindData> data{};

    bool top_level() const { return (style & WS_CHILD) == 0; }
};

struct State {
    std::map<std::wstring, WindowClass, CaseInsensitiveLess> classes;
    std::map<HWND, Window> windows;
    std::unordered_map<uint32_t, Queue> queues;
    uint64_t next_serial = 1;
    ATOM next_atom = 0xC000;
    UINT_PTR next_thread_timer_id = 1;
    // A window's look changed: its view is published when its thread next
    // waits for a message, as Windows paints when the queue is empty.
    bool views_dirty = false;
};

// The data of kind T of window `w`; null for no window or one of another
// kind.  Kernel lock.
template <class T>
T* data_of(const Window* w)
{
    return w ? dynamic_cast<T*>(w->data.get()) : nullptr;
}

template <class T>
std::shared_ptr<T> shared_data_of(const Window* w)
{
    return w ? std::dynamic_pointer_cast<T>(w->data) : nullptr;
}

// All of these require the kernel lock.
State& state();
Window* find_window(HWND hwnd);
Queue* queue_of(uint32_t tid);
// A message's time stamp: the device clock in ms.
DWORD message_time();
// The calling thread's queue, created at its first message call.
Queue& own_queue();
// False, and nothing posted, when the queue already holds the most posted
// messages a thread's queue may hold.
bool post_locked(Queue& queue, HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam, bool to_focus = false);
// The control of top-level window `top_level` that has the focus, or the
// window itself.
HWND focus_control_locked(HWND top_level);

// The top-level window a window belongs to (itself for a top-level one).
HWND top_level_of(HWND hwnd);
// Children of `parent` in creation order.
std::vector<HWND> children_of(HWND parent);
void mark_views_dirty();

// Window, class and title names as the event log and other processes see them.
std::string narrow(const std::wstring& text);

} // namespace wince::user
