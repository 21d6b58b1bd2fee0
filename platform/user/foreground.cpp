// Emulates the foreground across the device's processes: FindWindowW looks
// through every live process's top-level windows (class names without
// regard to case, or a class atom), and SetForegroundWindow
// raises a window of any process (its owner does it, reached over the
// channel), with the windows it owns when the handle carries its lowest
// bit.  Leaves out activation messages and the foreground lock.
#include "crt/errors.h"
#include "device/channel.h"
#include "device/device.h"
#include "device/eventlog.h"
#include "kernel/sync.h"
#include "state.h"
#include "toplevel.h"
#include "window.h"

namespace wince::user {
namespace {

// Raises `hwnd` of this process and, with `owned`, the windows it owns
// above it.  Returns false when this process has no such top-level window.
bool raise_local(HWND hwnd, bool owned)
{
    std::vector<HWND> raised{hwnd};
    std::string title;
    {
        auto held = sync::lock();
        const Window* w = find_window(hwnd);
        if (w == nullptr || !w->top_level() || w->destroying)
            return false;
        title = narrow(w->title);
        if (owned)
            for (const auto& [other, o] : state().windows)
                if (o.top_level() && o.parent == hwnd && !o.destroying)
                    raised.push_back(other);
    }
    for (HWND h : raised)
        bring_to_top(h);
    eventlog::write("foreground", {{"hwnd", hwnd_value(hwnd)}, {"title", title}});
    return true;
}

// A class given by name, or by the atom RegisterClassW returned here; an
// atom of no class here names a system class, as "#32770" is atom 32770.
std::wstring class_name_of(LPCWSTR name)
{
    if (!IS_INTRESOURCE(name))
        return name;
    const ATOM atom = static_cast<ATOM>(reinterpret_cast<uintptr_t>(name));
    auto held = sync::lock();
    for (const auto& [key, wc] : state().classes)
        if (wc.atom == atom)
            return wc.name;
    return L"#" + std::to_wstring(atom);
}

// Class names are compared without regard to case.
bool same_class_name(const std::wstring& a, const std::wstring& b)
{
    return !CaseInsensitiveLess{}(a, b) && !CaseInsensitiveLess{}(b, a);
}

} // namespace

void listen_for_foreground()
{
    static const bool registered = [] {
        using channel::Type;
        channel::on("foreground", {{"hwnd", Type::u64}, {"owned", Type::boolean}}, [](const nlohmann::json& m) {
            raise_local(hwnd_from_value(m["hwnd"].get<uint64_t>()), m["owned"].get<bool>());
        });
        return true;
    }();
    (void)registered;
}

} // namespace wince::user

using namespace wince;
using namespace wince::user;

HWND WINAPI FindWindowW(LPCWSTR lpClassName, LPCWSTR lpWindowName)
{
    const std::wstring class_name = lpClassName ? class_name_of(lpClassName) : L"";
    const std::string title = lpWindowName ? narrow(lpWindowName) : "";
    for (const auto& e : toplevel::list()) {
        if (lpClassName && !same_class_name(class_name, device::widen(e.class_name)))
            continue;
        if (lpWindowName && title != e.title)
            continue;
        return hwnd_from_value(e.hwnd);
    }
    return fail(ERROR_FILE_NOT_FOUND, HWND{nullptr});
}

BOOL WINAPI SetForegroundWindow(HWND hWnd)
{
    // The lowest bit asks for the window's owned windows too; no handle has it.
    const bool owned = (hwnd_value(hWnd) & 1) != 0;
    const HWND window = hwnd_from_value(hwnd_value(hWnd) & ~uint64_t{1});
    if (window == nullptr)
        return fail(ERROR_INVALID_WINDOW_HANDLE, FALSE);
    if (hwnd_pid(window) == current_pid())
        return raise_local(window, owned) ? TRUE : fail(ERROR_INVALID_WINDOW_HANDLE, FALSE);
    if (!toplevel::find(window))
        return fail(ERROR_INVALID_WINDOW_HANDLE, FALSE);
    const nlohmann::json message = {{"kind", "foreground"}, {"hwnd", hwnd_value(window)}, {"owned", owned}};
    return channel::send(hwnd_pid(window), message) ? TRUE : fail(ERROR_INVALID_WINDOW_HANDLE, FALSE);
}

HWND WINAPI GetForegroundWindow(void)
{
    const auto top = toplevel::foreground();
    return top ? hwnd_from_value(top->hwnd) : nullptr;
}
