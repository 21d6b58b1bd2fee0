/*
 * The monitor's control messages, posted to its threads with wParam 0 and
 * lParam 0; only the message number is read.  The settings program stops
 * the monitor with WM_MONITOR_QUIT; the phone tool names all three.
 */
#ifndef CALLTICKER_MONITOR_MESSAGES_H
#define CALLTICKER_MONITOR_MESSAGES_H

#include <windows.h>

#define WM_CALL_CONNECTED (WM_USER + 1)
#define WM_CALL_ENDED (WM_USER + 2)
#define WM_MONITOR_QUIT (WM_USER + 3)

#endif
