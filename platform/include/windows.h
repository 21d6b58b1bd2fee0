/*
 * The Windows CE Win32 API as the emulated device provides it.  The device
 * programs include this header and the C runtime, nothing else of the host.
 */
#ifndef WINCE_WINDOWS_H
#define WINCE_WINDOWS_H

/* The resource compiler reads #define lines only. */
#ifdef RC_INVOKED
#include "winresrc.h"
#else

#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include "windef.h"
#include "winerror.h"
#include "winbase.h"
#include "winreg.h"
#include "wingdi.h"
#include "winuser.h"

/* The program's entry point, supplied by each device program. */
int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPWSTR lpCmdLine, int nShowCmd);

#endif /* RC_INVOKED */
#endif
