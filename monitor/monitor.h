/*
 * CallTicker.exe, the call monitor: the pieces its modules share.
 *
 * The main thread runs the message loop and the call timer window; the
 * watcher thread turns telephony call states into the control messages
 * below; the signals are given synchronously on the main thread.
 */
#ifndef CALLTICKER_MONITOR_H
#define CALLTICKER_MONITOR_H

#include <windows.h>

#include "monitor_messages.h"

/* Start-up and main loop.  After a failed GetMessageW the queue may stay
   broken; the loop pauses this long before the next try instead of
   spinning on the processor. */
#define GETMESSAGE_RETRY_MS 100

extern HINSTANCE g_hInstance;
int RunMonitor(HINSTANCE hInstance);

/* Telephony watcher thread. */
BOOL StartCallWatcher(DWORD dwMainThreadId);
void StopCallWatcher(void);

/* Call timer window, and the ids of its two timers. */
#define IDT_REGULAR_SIGNAL 2
#define IDT_SCREEN_OFF 3
ATOM RegisterCallWindowClass(void);
void StartCallTimer(void);
void StopCallTimer(void);

/* Sound resource player. */
void PlayWaveResource(HINSTANCE hInstance, UINT uId, BOOL keepVolume, BOOL forceSpeaker);

/* Vibration and backlight. */
void Vibrate(void);
void BacklightOff(void);
void BacklightOn(void);

#endif
