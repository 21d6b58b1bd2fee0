/*
 * The Windows CE power manager's device power requests, which the desktop
 * SDK lacks, as the device's SDK documents them.  For the Windows compile
 * check only.
 */
#ifndef CALLTICKER_CHECK_PM_H
#define CALLTICKER_CHECK_PM_H

#include <windows.h>

#define POWER_NAME 0x00000001
#define POWER_FORCE 0x00001000

#ifdef __cplusplus
extern "C" {
#endif

typedef enum _CEDEVICE_POWER_STATE {
    PwrDeviceUnspecified = -1,
    D0 = 0,
    D1,
    D2,
    D3,
    D4,
    PwrDeviceMaximum
} CEDEVICE_POWER_STATE, *PCEDEVICE_POWER_STATE;

DWORD WINAPI SetDevicePower(PVOID pvDevice, DWORD dwDeviceFlags, CEDEVICE_POWER_STATE dwState);

#ifdef __cplusplus
}
#endif

#endif
