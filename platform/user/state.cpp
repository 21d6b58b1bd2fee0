// The window manager's state inside one process (state.h): where it lives
// and how its windows, queues and class names are looked up.
#include "state.h"

#include <algorithm>
#include <cwctype>

#include "device/device.h"

namespace wince::user {

bool CaseInsensitiveLess::operator()(const std::wstring& a, const std::wstring& b) const
{
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](wchar_t x, wchar_t y) {
        return std::towlower(static_cast<wint_t>(x)) < std::towlower(static_cast<wint_t>(y));
    });
}

State& state()
{
    // Never destroyed: threads may still leave after static teardown began.
    static State* instance = new State;
    return *instance;
}

Window* find_window(HWND hwnd)
{
    auto& windows = state().windows;
    auto found = windows.find(hwnd);
    return found == windows.end() ? nullptr : &found->second;
}

Queue* queue_of(uint32_t tid)
{
    auto& queues = state().queues;
    auto found = queues.find(tid);
    return found == queues.end() ? nullptr : &found->second;
}

std::string narrow(const std::wstring& text) { return device::narrow(text); }

} // namespace wince::user
