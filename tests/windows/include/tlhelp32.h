/*
 * The desktop SDK's tool-help header, and what only the device has beside
 * it: the call that releases a snapshot.  For the Windows compile check only.
 */
#ifndef CALLTICKER_CHECK_TLHELP32_H
#define CALLTICKER_CHECK_TLHELP32_H

#include_next <tlhelp32.h>

#ifdef __cplusplus
extern "C" {
#endif

BOOL WINAPI CloseToolhelp32Snapshot(HANDLE hSnapshot);

#ifdef __cplusplus
}
#endif

#endif
