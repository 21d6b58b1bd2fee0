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

/* Start-up and main loop. */
extern HINSTANCE g_hInstance;
int RunMonitor(HINSTANCE hInstance);

/* Telephony watcher thread. */
BOOL StartCallWatcher(DWORD dwMainThreadId);
BOOL StopCallWatcher(void);

/* Call timer window. */
ATOM RegisterCallWindowClass(void);
void StartCallTimer(void);
void StopCallTimer(void);
LRESULT CALLBACK CallTimerWndProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);

/* Sound resource player. */
void PlayWaveResource(HINSTANCE hInstance, UINT uId, BOOL keepVolume, BOOL forceSpeaker);

/* Vibration and backlight. */
void LedOn(UINT uLedNum);
void LedOff(UINT uLedNum);
void Vibrate(void);
void BacklightOff(void);
void BacklightOn(void);

#endif
