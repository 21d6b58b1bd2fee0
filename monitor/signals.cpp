/*
 * Vibration and backlight: the vibrator is notification LED 1, the
 * backlight is the power manager's device "BKL1:".
 */
#include "monitor.h"

#include <nled.h>
#include <pm.h>

#define VIBRATOR_LED 1
#define VIBRATION_MS 400
#define BACKLIGHT_DEVICE L"BKL1:"
#define BACKLIGHT_POWER_FLAGS (POWER_NAME | POWER_FORCE)

/* Keeps the LED's cycle and blink settings as the driver reports them. */
static void SetLedState(UINT uLedNum, INT nOffOnBlink)
{
    NLED_SETTINGS_INFO settings;
    memset(&settings, 0, sizeof(settings));
    settings.LedNum = uLedNum;
    NLedGetDeviceInfo(NLED_SETTINGS_INFO_ID, &settings);
    settings.OffOnBlink = nOffOnBlink;
    NLedSetDevice(NLED_SETTINGS_INFO_ID, &settings);
}

static void LedOn(UINT uLedNum)
{
    SetLedState(uLedNum, 1);
}

static void LedOff(UINT uLedNum)
{
    SetLedState(uLedNum, 0);
}

void Vibrate(void)
{
    LedOn(VIBRATOR_LED);
    Sleep(VIBRATION_MS);
    LedOff(VIBRATOR_LED);
}

void BacklightOff(void)
{
    SetDevicePower((PVOID)BACKLIGHT_DEVICE, BACKLIGHT_POWER_FLAGS, D4);
}

void BacklightOn(void)
{
    /* Light the display at once, then hand its power state back. */
    SetDevicePower((PVOID)BACKLIGHT_DEVICE, BACKLIGHT_POWER_FLAGS, D0);
    SetDevicePower((PVOID)BACKLIGHT_DEVICE, BACKLIGHT_POWER_FLAGS, PwrDeviceUnspecified);
}
