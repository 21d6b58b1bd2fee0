/*
 * CallTickerCfg.exe: the settings program.  Started with "reset" when the
 * device starts, it shows nothing and only starts an enabled monitor; any
 * other command line shows the settings dialog, once per device.
 */
#include "config.h"
#include "resource.h"

#include "settings.h"

#define RESET_COMMAND L"reset"
#define WINDOW_TITLE L"CallTicker"

static void RunResetMode(void)
{
    AppSettings settings;
    if (settings.GetEnabled())
        StartMonitor(NULL);
}

/* Another instance shows a window titled as ours (the settings dialog or
   the About box): it is brought forward with the windows it owns. */
static BOOL BringRunningInstanceForward(void)
{
    HWND hWnd = FindWindowW(NULL, WINDOW_TITLE);
    if (hWnd == NULL)
        return FALSE;
    SetForegroundWindow((HWND)((ULONG_PTR)hWnd | 1));
    return TRUE;
}

static void RunSettingsDialog(HINSTANCE hInstance)
{
    SHInitExtraControls();
    g_hInstance = hInstance;
    CreateBoldFont();
    RunDialog(IDD_SETTINGS, SettingsDialogProc);
    DeleteBoldFont();
}

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPWSTR lpCmdLine, int nShowCmd)
{
    (void)hPrevInstance;
    (void)nShowCmd;
    if (lpCmdLine != NULL && wcscmp(lpCmdLine, RESET_COMMAND) == 0) {
        RunResetMode();
        return 0;
    }
    if (BringRunningInstanceForward())
        return 0;
    RunSettingsDialog(hInstance);
    return 0;
}
