/*
 * The notification LED driver of Windows CE as the emulated device provides
 * it.  The device has two LEDs: 0, the notification light, and 1, the
 * vibrator.  Blinking is recorded but not timed.
 */
#ifndef WINCE_NLED_H
#define WINCE_NLED_H

#include "windef.h"

#define NLED_COUNT_INFO_ID 0
#define NLED_SUPPORTS_INFO_ID 1
#define NLED_SETTINGS_INFO_ID 2

typedef struct _NLED_COUNT_INFO {
    UINT cLeds;
} NLED_COUNT_INFO;

typedef struct _NLED_SUPPORTS_INFO {
    UINT LedNum;
    LONG lCycleAdjust;
    BOOL fAdjustTotalCycleTime;
    BOOL fAdjustOnTime;
    BOOL fAdjustOffTime;
    BOOL fMetaCycleOn;
    BOOL fMetaCycleOff;
} NLED_SUPPORTS_INFO;

typedef struct _NLED_SETTINGS_INFO {
    UINT LedNum;
    INT OffOnBlink;
    LONG TotalCycleTime;
    LONG OnTime;
    LONG OffTime;
    INT MetaCycleOn;
    INT MetaCycleOff;
} NLED_SETTINGS_INFO;

WINCE_BEGIN_DECLS

BOOL WINAPI NLedGetDeviceInfo(UINT nInfoId, void *pOutput);
BOOL WINAPI NLedSetDevice(UINT nDeviceId, void *pInput);

WINCE_END_DECLS

#endif
