/*
 * Start-up, single instance and the main thread's message loop.
 *
 * The main thread turns the watcher's notifications into the start and
 * end of a call timer window, and leaves only on WM_MONITOR_QUIT.
 */
#include "monitor.h"
#include "resource.h"

#include <mmsystem.h>

#define MONITOR_MUTEX_NAME L"_CALL_TICKER_EXE_MUTEX_"

HINSTANCE g_hInstance = NULL;

/* Start-up and quit come outside any call, so the platform's PlaySoundW
   plays them like any system sound, at the phone's volume on its usual
   output.  The same sound at the start and end of a call goes through our
   own waveOut player (waveplayer.cpp) instead: while a call holds the
   audio, only an open wave device takes the driver requests (gain class,
   loudspeaker) that decide where and how loud the signal is heard, and
   PlaySoundW has no way to make them. */
static void PlayOnOffSound(void)
{
    PlaySoundW(MAKEINTRESOURCE(IDR_WAVE_ONOFF), g_hInstance, SND_RESOURCE);
}

static void RunMessageLoop(void)
{
    MSG msg;
    for (;;) {
        BOOL result = GetMessageW(&msg, NULL, 0, 0);
        if (result == 0)
            continue; /* WM_QUIT does not end the monitor */
        if (result == -1) {
            /* The record holds nothing valid: neither look at it nor dispatch it. */
            Sleep(GETMESSAGE_RETRY_MS);
            continue;
        }
        switch (msg.message) {
        case WM_MONITOR_QUIT:
            PlayOnOffSound();
            return;
        case WM_CALL_CONNECTED:
            StartCallTimer();
            break;
        case WM_CALL_ENDED:
            StopCallTimer();
            break;
        default:
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
            break;
        }
    }
}

int RunMonitor(HINSTANCE hInstance)
{
    HANDLE hMutex = CreateMutexW(NULL, FALSE, MONITOR_MUTEX_NAME);
    if (hMutex == NULL)
        return 0;
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(hMutex);
        return 0;
    }

    g_hInstance = hInstance;
    RegisterCallWindowClass();

    if (!StartCallWatcher(GetCurrentThreadId())) {
        MessageBoxW(NULL, L"Failed to initialize TAPI.", L"CallTicker", MB_OK | MB_ICONHAND);
        CloseHandle(hMutex);
        return 0;
    }

    PlayOnOffSound();
    RunMessageLoop();

    StopCallTimer();
    StopCallWatcher();
    CloseHandle(hMutex);
    return 0;
}
