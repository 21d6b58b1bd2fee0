// The power manager's device power requests.  The device has one managed
// device, the backlight "BKL1:".  A state set with SetDevicePower holds the
// device until PwrDeviceUnspecified hands it back; the power manager then
// keeps the backlight on (the emulated device has no idle timeout).
//
// Left out: device classes (names qualified by a class GUID), system power
// states, and power requirements.
#include <cwctype>
#include <string>

#include <windows.h>
#include <pm.h>

#include "crt/errors.h"
#include "device/device.h"
#include "device/eventlog.h"
#include "drivers/power_state.h"
#include "device/run_state.h"

namespace wince::drivers {

std::string power_state_name(int state)
{
    if (state == PwrDeviceUnspecified)
        return "PwrDeviceUnspecified";
    if (state >= D0 && state <= D4)
        return "D" + std::to_string(state);
    return std::to_string(state);
}

Backlight backlight()
{
    const auto state = run_state::read("drivers");
    Backlight light;
    if (state.contains("backlight") && state["backlight"].is_object()) {
        light.state = state["backlight"].value("state", static_cast<int>(D0));
        light.held = state["backlight"].value("held", false);
    }
    return light;
}

} // namespace wince::drivers

using namespace wince;
using namespace wince::drivers;

DWORD WINAPI SetDevicePower(PVOID pvDevice, DWORD dwDeviceFlags, CEDEVICE_POWER_STATE dwState)
{
    if (!pvDevice || !(dwDeviceFlags & POWER_NAME) || (dwDeviceFlags & ~(POWER_NAME | POWER_FORCE)) != 0 ||
        dwState < PwrDeviceUnspecified || dwState > D4)
        return wince::fail(ERROR_INVALID_PARAMETER, ERROR_INVALID_PARAMETER);
    std::wstring name = static_cast<const wchar_t*>(pvDevice);
    for (auto& c : name)
        c = static_cast<wchar_t>(std::towupper(c));
    if (name != L"BKL1:")
        return wince::fail(ERROR_FILE_NOT_FOUND, ERROR_FILE_NOT_FOUND);
    const bool stored = run_state::update("drivers", [&](nlohmann::json& state) {
        const bool release = dwState == PwrDeviceUnspecified;
        state["backlight"] = {{"state", release ? static_cast<int>(D0) : static_cast<int>(dwState)},
                              {"held", !release}};
    });
    if (!stored)
        return wince::fail(run_state::write_error(), run_state::write_error());
    eventlog::write("backlight", {{"device", device::narrow(static_cast<const wchar_t*>(pvDevice))},
                                  {"state", power_state_name(dwState)},
                                  {"flags", dwDeviceFlags}});
    return ERROR_SUCCESS;
}
