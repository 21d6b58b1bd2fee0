// The window manager's state inside one process: window classes, windows,
// the message queues of its threads and their timers.  Everything here is
// guarded by the kernel lock (wince::sync); window procedures are always
// called with the lock released.  Shared by the files of platform/user only.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
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
    // The thread itself made a message call: its exit removes the queue.
    bool attached = false;
};

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
    nlohmann::json details = nlohmann::json::object(); // shown by phone ui

    bool top_level() const { return (style & WS_CHILD) == 0; }
};

struct State {
    std::map<std::wstring, WindowClass, CaseInsensitiveLess> classes;
    std::map<HWND, Window> windows;
    std::unordered_map<uint32_t, Queue> queues;
    uint64_t next_serial = 1;
    ATOM next_atom = 0xC000;
    UINT_PTR next_thread_timer_id = 1;
};

// All of these require the kernel lock.
State& state();
Window* find_window(HWND hwnd);
Queue* queue_of(uint32_t tid);
// The calling thread's queue, created at its first message call.
Queue& own_queue();
void post_locked(Queue& queue, HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);

// Window, class and title names as the event log and other processes see them.
std::string narrow(const std::wstring& text);

} // namespace wince::user
