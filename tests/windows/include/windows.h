/*
 * The desktop SDK's windows.h, with the one entry point that differs on the
 * device: there WinMain takes the command line as a wide string.  The
 * desktop's narrow declaration is kept out of sight under another name.
 * For the Windows compile check only.
 */
#ifndef CALLTICKER_CHECK_WINDOWS_H
#define CALLTICKER_CHECK_WINDOWS_H

#ifdef RC_INVOKED
#include_next <windows.h>
#else

#define WinMain DesktopWinMain
#include_next <windows.h>
#undef WinMain

#ifdef __cplusplus
extern "C"
#endif
int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPWSTR lpCmdLine, int nShowCmd);

#endif
#endif
