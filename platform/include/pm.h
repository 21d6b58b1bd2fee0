/*
 * The Windows CE power manager's device power requests as the emulated
 * device provides them.  Only the backlight "BKL1:" is a known device.
 */
#ifndef WINCE_PM_H
#define WINCE_PM_H

#include "windef.h"

typedef enum _CEDEVICE_POWER_STATE {
    PwrDeviceUnspecified = -1,
    D0 = 0,
    D1,
    D2,
    D3,
    D4,
    PwrDeviceMaximum
} CEDEVICE_POWER_STATE, *PCEDEVICE_POWER_STATE;

#define POWER_NAME 0x00000001
#define POWER_FORCE 0x00001000

WINCE_BEGIN_DECLS

DWORD WINAPI SetDevicePower(PVOID pvDevice, DWORD dwDeviceFlags, CEDEVICE_POWER_STATE dwState);

WINCE_END_DECLS

#endif
