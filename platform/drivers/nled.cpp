// The notification LED driver: LED 0 is the notification light, LED 1 the
// vibrator.  Settings are device-wide (run/drivers.json) so that `phone
// status` and every process see the same LEDs.
//
// Left out: blinking is recorded, not timed; meta cycles are stored only.
#include <windows.h>
#include <nled.h>

#include "crt/errors.h"
#include "device/eventlog.h"
#include "device/run_state.h"

namespace wince::drivers {
namespace {

constexpr UINT led_count = 2;
constexpr UINT vibrator = 1;

NLED_SETTINGS_INFO default_settings(UINT led)
{
    NLED_SETTINGS_INFO settings{};
    settings.LedNum = led;
    if (led != vibrator) {
        settings.TotalCycleTime = 1000000; // microseconds, as the driver reports them
        settings.OnTime = 500000;
        settings.OffTime = 500000;
    }
    return settings;
}

NLED_SETTINGS_INFO stored_settings(UINT led)
{
    NLED_SETTINGS_INFO settings = default_settings(led);
    const auto state = run_state::read("drivers");
    const std::string key = std::to_string(led);
    if (!state.contains("leds") || !state["leds"].contains(key))
        return settings;
    const auto& j = state["leds"][key];
    settings.OffOnBlink = j.value("OffOnBlink", settings.OffOnBlink);
    settings.TotalCycleTime = j.value("TotalCycleTime", settings.TotalCycleTime);
    settings.OnTime = j.value("OnTime", settings.OnTime);
    settings.OffTime = j.value("OffTime", settings.OffTime);
    settings.MetaCycleOn = j.value("MetaCycleOn", settings.MetaCycleOn);
    settings.MetaCycleOff = j.value("MetaCycleOff", settings.MetaCycleOff);
    return settings;
}

BOOL invalid_parameter()
{
    return wince::fail(ERROR_INVALID_PARAMETER, FALSE);
}

} // namespace
} // namespace wince::drivers

using namespace wince;
using namespace wince::drivers;

BOOL WINAPI NLedGetDeviceInfo(UINT nInfoId, void* pOutput)
{
    if (!pOutput)
        return invalid_parameter();
    switch (nInfoId) {
    case NLED_COUNT_INFO_ID:
        static_cast<NLED_COUNT_INFO*>(pOutput)->cLeds = led_count;
        return TRUE;
    case NLED_SUPPORTS_INFO_ID: {
        auto* supports = static_cast<NLED_SUPPORTS_INFO*>(pOutput);
        if (supports->LedNum >= led_count)
            return invalid_parameter();
        const bool light = supports->LedNum != vibrator;
        supports->lCycleAdjust = light ? 1000 : -1;
        supports->fAdjustTotalCycleTime = light;
        supports->fAdjustOnTime = light;
        supports->fAdjustOffTime = light;
        supports->fMetaCycleOn = FALSE;
        supports->fMetaCycleOff = FALSE;
        return TRUE;
    }
    case NLED_SETTINGS_INFO_ID: {
        auto* settings = static_cast<NLED_SETTINGS_INFO*>(pOutput);
        if (settings->LedNum >= led_count)
            return invalid_parameter();
        *settings = stored_settings(settings->LedNum);
        return TRUE;
    }
    default:
        return invalid_parameter();
    }
}

BOOL WINAPI NLedSetDevice(UINT nDeviceId, void* pInput)
{
    if (!pInput || nDeviceId != NLED_SETTINGS_INFO_ID)
        return invalid_parameter();
    const auto& settings = *static_cast<const NLED_SETTINGS_INFO*>(pInput);
    if (settings.LedNum >= led_count || settings.OffOnBlink < 0 || settings.OffOnBlink > 2)
        return invalid_parameter();
    const bool stored = run_state::update("drivers", [&](nlohmann::json& state) {
        state["leds"][std::to_string(settings.LedNum)] = {{"OffOnBlink", settings.OffOnBlink},
                                                          {"TotalCycleTime", settings.TotalCycleTime},
                                                          {"OnTime", settings.OnTime},
                                                          {"OffTime", settings.OffTime},
                                                          {"MetaCycleOn", settings.MetaCycleOn},
                                                          {"MetaCycleOff", settings.MetaCycleOff}};
    });
    if (!stored)
        return wince::fail(run_state::write_error(), FALSE);
    nlohmann::json fields = {{"led", settings.LedNum}, {"on", settings.OffOnBlink != 0}};
    if (settings.OffOnBlink == 2)
        fields["blink"] = true;
    eventlog::write("led", fields);
    return TRUE;
}
