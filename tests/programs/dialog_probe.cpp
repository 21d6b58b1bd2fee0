/*
 * DialogProbe.exe: a device program for the dialog manager's end-to-end
 * tests, built like the settings program: a full-screen dialog with soft
 * keys, an About box in a nested modal loop, and a message box owned by the
 * dialog.  Every WM_COMMAND it receives is stored in the registry
 * (HKLM\Software\Probe, value "Command": wParam), so the tests read from the
 * event log which messages arrived and in which order; "OK" stores the
 * controls' states as "Checked", "First" and "Second".  A second start
 * brings the first one's window forward and ends.
 */
#include <windows.h>
#include <aygshell.h>

#include "dialog_probe.h"

static HINSTANCE g_instance;
static HWND g_menuBar;
static HWND g_aboutBar;
static HFONT g_boldFont;

static void Store(LPCWSTR name, DWORD value)
{
    HKEY key;
    DWORD disposition;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Probe", 0, NULL, 0, 0, NULL, &key, &disposition) !=
        ERROR_SUCCESS)
        return;
    RegSetValueExW(key, name, 0, REG_DWORD, (const BYTE*)&value, sizeof(value));
    RegCloseKey(key);
}

static HWND CreateBar(HWND parent, UINT id)
{
    SHMENUBARINFO info;
    ZeroMemory(&info, sizeof(info));
    info.cbSize = sizeof(info);
    info.hwndParent = parent;
    info.dwFlags = SHCMBF_HMENU;
    info.nToolBarId = id;
    info.hInstRes = g_instance;
    return SHCreateMenuBar(&info) ? info.hwndMB : NULL;
}

static void InitFullScreen(HWND dialog)
{
    SHINITDLGINFO info;
    info.dwMask = SHIDIM_FLAGS;
    info.hDlg = dialog;
    info.dwFlags = SHIDIF_DONEBUTTON | SHIDIF_SIZEDLGFULLSCREEN | SHIDIF_SIPDOWN;
    SHInitDialog(&info);
}

static void CloseBar(HWND* bar)
{
    if (*bar != NULL)
        DestroyWindow(*bar);
    *bar = NULL;
}

static INT_PTR CALLBACK AboutProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam)
{
    (void)lParam;
    switch (msg) {
    case WM_INITDIALOG:
        InitFullScreen(dialog);
        g_aboutBar = CreateBar(dialog, IDR_ABOUT_MENU);
        SendDlgItemMessageW(dialog, IDC_TITLE, WM_SETFONT, (WPARAM)g_boldFont, 0);
        return TRUE;
    case WM_COMMAND:
        Store(L"Command", (DWORD)wParam);
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL || LOWORD(wParam) == IDM_DONE) {
            CloseBar(&g_aboutBar);
            EndDialog(dialog, LOWORD(wParam));
            return TRUE;
        }
        return FALSE;
    default:
        return FALSE;
    }
}

static void FillList(HWND dialog, int id)
{
    WCHAR text[256];
    WCHAR* start = text;
    WCHAR* end;
    LoadStringW(g_instance, IDS_ITEMS, text, 255);
    while ((end = wcschr(start, L';')) != NULL) {
        *end = L'\0';
        SendDlgItemMessageW(dialog, id, CB_ADDSTRING, 0, (LPARAM)start);
        start = end + 1;
    }
}

static void Save(HWND dialog)
{
    Store(L"Checked", (DWORD)SendDlgItemMessageW(dialog, IDC_CHECK, BM_GETCHECK, 0, 0));
    Store(L"First", (DWORD)SendDlgItemMessageW(dialog, IDC_FIRST, CB_GETCURSEL, 0, 0));
    Store(L"Second", (DWORD)SendDlgItemMessageW(dialog, IDC_SECOND, CB_GETCURSEL, 0, 0));
}

static void Warn(HWND dialog)
{
    WCHAR text[512];
    LoadStringW(g_instance, IDS_WARNING, text, 512);
    Store(L"Warned", (DWORD)MessageBoxW(dialog, text, L"Probe", MB_OK | MB_ICONHAND));
}

static INT_PTR CALLBACK ProbeProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam)
{
    HRSRC found;
    (void)lParam;
    switch (msg) {
    case WM_INITDIALOG:
        InitFullScreen(dialog);
        g_menuBar = CreateBar(dialog, IDR_PROBE_MENU);
        FillList(dialog, IDC_FIRST);
        FillList(dialog, IDC_SECOND);
        SendDlgItemMessageW(dialog, IDC_CHECK, BM_SETCHECK, 1, 0);
        SendDlgItemMessageW(dialog, IDC_FIRST, CB_SETCURSEL, 1, 0);
        SendDlgItemMessageW(dialog, IDC_SECOND, CB_SETCURSEL, 7, 0);
        return TRUE;
    case WM_COMMAND:
        Store(L"Command", (DWORD)wParam);
        switch (LOWORD(wParam)) {
        case IDM_OK:
            Save(dialog);
            CloseBar(&g_menuBar);
            EndDialog(dialog, IDM_OK);
            return FALSE;
        case IDM_ABOUT:
            found = FindResourceW(g_instance, MAKEINTRESOURCEW(IDD_PROBE_ABOUT), RT_DIALOG);
            DialogBoxIndirectParamW(g_instance, (LPCDLGTEMPLATEW)LoadResource(g_instance, found), NULL, AboutProc, 0);
            return FALSE;
        case IDM_WARN:
            Warn(dialog);
            return FALSE;
        case IDOK:
        case IDCANCEL:
            CloseBar(&g_menuBar);
            EndDialog(dialog, LOWORD(wParam));
            return TRUE;
        default:
            return FALSE;
        }
    case WM_CLOSE:
        CloseBar(&g_menuBar);
        EndDialog(dialog, WM_CLOSE);
        return TRUE;
    default:
        return FALSE;
    }
}

static HFONT CreateBold(void)
{
    LOGFONTW font;
    HDC screen = GetDC(NULL);
    ZeroMemory(&font, sizeof(font));
    font.lfHeight = -(9 * GetDeviceCaps(screen, LOGPIXELSY)) / 72;
    ReleaseDC(NULL, screen);
    font.lfWeight = FW_BOLD;
    font.lfPitchAndFamily = FF_SWISS;
    wcscpy(font.lfFaceName, L"Tahoma");
    return CreateFontIndirectW(&font);
}

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPWSTR, int)
{
    HWND running = FindWindowW(NULL, L"Probe");
    if (running != NULL) {
        SetForegroundWindow((HWND)((ULONG_PTR)running | 1));
        return 0;
    }
    SHInitExtraControls();
    g_instance = hInstance;
    g_boldFont = CreateBold();
    DialogBoxParamW(hInstance, MAKEINTRESOURCEW(IDD_PROBE), NULL, ProbeProc, 0);
    DeleteObject(g_boldFont);
    return 0;
}
