// What the shell's soft-key bar and its pop-up menus keep (aygshell.cpp
// makes and changes them; the screen's view and the stylus read them).
#pragma once

#include <string>
#include <vector>

#include <windows.h>

#include "user/state.h"

namespace wince::shell {

struct MenuItem {
    std::wstring text;
    UINT command = 0;
    std::vector<MenuItem> popup; // a pop-up's items
};

// A soft-key bar: one soft key per button, left to right.
struct MenuBarData : user::KindData {
    std::vector<MenuItem> keys;
    HWND open_menu = nullptr;    // the pop-up shown for one of its keys
};

// An open pop-up menu; `chosen` stays `pending` until it closes.
struct PopupData : user::KindData {
    static constexpr int pending = -2;
    static constexpr int cancelled = -1;
    std::vector<MenuItem> items;
    int highlighted = 0;
    int chosen = pending;
    int key = 1;                 // the soft key it opened from
};

} // namespace wince::shell
