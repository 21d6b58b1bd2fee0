/*
 * The notification LED driver of Windows CE, which the desktop SDK lacks,
 * as the device's SDK documents it.  For the Windows compile check only.
 */
#ifndef CALLTICKER_CHECK_NLED_H
#define CALLTICKER_CHECK_NLED_H

#include <windows.h>

#define NLED_COUNT_INFO_ID 0
#define NLED_SUPPORTS_INFO_ID 1
#define NLED_SETTINGS_INFO_ID 2

#ifdef __cplusplus
extern "C" {
#endif

struct NLED_COUNT_INFO {
    UINT cLeds;
};

struct NLED_SUPPORTS_INFO {
    UINT LedNum;
    LONG lCycleAdjust;
    BOOL fAdjustTotalCycleTime;
    BOOL fAdjustOnTime;
    BOOL fAdjustOffTime;
    BOOL fMetaCycleOn;
    BOOL fMetaCycleOff;
};

struct NLED_SETTINGS_INFO {
    UINT LedNum;
    INT OffOnBlink;
    LONG TotalCycleTime;
    LONG OnTime;
    LONG OffTime;
    INT MetaCycleOn;
    INT MetaCycleOff;
};

BOOL WINAPI NLedGetDeviceInfo(UINT nInfoId, void *pOutput);
BOOL WINAPI NLedSetDevice(UINT nDeviceId, void *pInput);

#ifdef __cplusplus
}
#endif

#endif
