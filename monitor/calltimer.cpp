/*
 * The call timer window: one hidden window per connected call, with the
 * periodic-signal timer and the screen-off timer.  Every decision reads the
 * settings afresh, so a change saved meanwhile applies from the next event.
 */
#include "monitor.h"
#include "resource.h"

#include "settings.h"

#define CALL_WINDOW_CLASS L"CallTickerWndClass"
#define CALL_WINDOW_STYLE (WS_POPUP | WS_TABSTOP)

#define SCREEN_OFF_NEVER (-1)

static HWND s_hCallWnd = NULL;
static BOOL s_bScreenOff = FALSE;

/* Start and end of a call share one kind of signal. */
static void GiveOnOffSignal(int nSignalType)
{
    if (nSignalType == SignalSound)
        PlayWaveResource(g_hInstance, IDR_WAVE_ONOFF, TRUE, TRUE);
    else if (nSignalType == SignalVibrate)
        Vibrate();
}

static void GiveRegularSignal(int nSignalType)
{
    if (nSignalType == SignalSound)
        PlayWaveResource(g_hInstance, IDR_WAVE_REGULAR, FALSE, FALSE);
    else if (nSignalType == SignalVibrate)
        Vibrate();
}

static void ArmScreenOffTimer(HWND hWnd)
{
    AppSettings settings;
    int nDelayMs = TurnOffScrMs(settings.GetTurnOffScr());
    if (nDelayMs != SCREEN_OFF_NEVER)
        SetTimer(hWnd, IDT_SCREEN_OFF, (UINT)nDelayMs, NULL);
}

static void ArmFirstRegularTimer(HWND hWnd)
{
    AppSettings settings;
    if (settings.GetRegularSoundType() == SignalNone)
        return;
    int nIntervalMs = RegularSoundDelayMs(settings.GetRegularSoundDelay());
    int nLeadMs = RegularSoundBeforeMs(settings.GetRegularSoundBefore());
    SetTimer(hWnd, IDT_REGULAR_SIGNAL, (UINT)(nIntervalMs - nLeadMs), NULL);
}

static void OnRegularTimer(HWND hWnd)
{
    AppSettings settings;
    /* Re-armed before the signal, so the period runs firing to firing. */
    SetTimer(hWnd, IDT_REGULAR_SIGNAL, (UINT)RegularSoundDelayMs(settings.GetRegularSoundDelay()), NULL);
    GiveRegularSignal(settings.GetRegularSoundType());
}

static void OnScreenOffTimer(HWND hWnd)
{
    if (!s_bScreenOff) {
        BacklightOff();
        s_bScreenOff = TRUE;
    }
    KillTimer(hWnd, IDT_SCREEN_OFF);
}

static void OnKeyDown(HWND hWnd, WPARAM wKey)
{
    if (wKey != VK_RETURN || !s_bScreenOff)
        return;
    BacklightOn();
    s_bScreenOff = FALSE;
    ArmScreenOffTimer(hWnd);
}

static LRESULT CALLBACK CallTimerWndProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    switch (uMsg) {
    case WM_CREATE:
        return 0;
    case WM_DESTROY:
        KillTimer(hWnd, IDT_REGULAR_SIGNAL);
        return 0;
    case WM_CLOSE:
        /* Only the end of the call destroys the window. */
        return 0;
    case WM_KEYDOWN:
        OnKeyDown(hWnd, wParam);
        return 0;
    case WM_TIMER:
        if (wParam == IDT_REGULAR_SIGNAL)
            OnRegularTimer(hWnd);
        else if (wParam == IDT_SCREEN_OFF)
            OnScreenOffTimer(hWnd);
        return 0;
    default:
        return DefWindowProcW(hWnd, uMsg, wParam, lParam);
    }
}

ATOM RegisterCallWindowClass(void)
{
    WNDCLASSW wc;
    memset(&wc, 0, sizeof(wc));
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = CallTimerWndProc;
    wc.hInstance = g_hInstance;
    wc.lpszClassName = CALL_WINDOW_CLASS;
    return RegisterClassW(&wc);
}

void StartCallTimer(void)
{
    if (s_hCallWnd != NULL)
        return;
    s_hCallWnd = CreateWindowExW(0, CALL_WINDOW_CLASS, L"", CALL_WINDOW_STYLE, 0, 0, 0, 0, NULL, NULL,
                                 NULL, NULL);
    if (s_hCallWnd == NULL)
        return;
    {
        AppSettings settings;
        GiveOnOffSignal(settings.GetOnSoundType());
    }
    /* Armed after the start signal: both count from its end. */
    ArmFirstRegularTimer(s_hCallWnd);
    ArmScreenOffTimer(s_hCallWnd);
}

void StopCallTimer(void)
{
    if (s_hCallWnd == NULL)
        return;
    if (s_bScreenOff) {
        BacklightOn();
        s_bScreenOff = FALSE;
    }
    {
        AppSettings settings;
        GiveOnOffSignal(settings.GetOffSoundType());
    }
    DestroyWindow(s_hCallWnd);
    s_hCallWnd = NULL;
}
