// The window manager's state inside one process (state.h): where it lives
// and how its windows, queues and class names are looked up.
#include "state.h"

#include <algorithm>
#include <cwctype>

#include "device/clock.h"
#include "device/device.h"
#include "kernel/sync.h"

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

HWND top_level_of(HWND hwnd)
{
    for (const Window* w = find_window(hwnd); w != nullptr; w = find_window(w->parent))
        if (w->top_level())
            return w->hwnd;
    return nullptr;
}

std::vector<HWND> children_of(HWND parent)
{
    std::vector<std::pair<uint64_t, HWND>> found;
    for (const auto& [hwnd, w] : state().windows)
        if (w.parent == parent && !w.top_level() && !w.destroying)
            found.emplace_back(w.serial, hwnd);
    std::sort(found.begin(), found.end());
    std::vector<HWND> result;
    for (const auto& item : found)
        result.push_back(item.second);
    return result;
}

DWORD message_time() { return static_cast<DWORD>(clock::now()); }

void mark_views_dirty()
{
    state().views_dirty = true;
    sync::wake_all();
}

std::string narrow(const std::wstring& text) { return device::narrow(text); }

} // namespace wince::user
