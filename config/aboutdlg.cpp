/*
 * The About box: the product name in bold over the icon, two lines of text,
 * and the "Done" soft key.  It runs in a loop of its own inside the settings
 * dialog's command handling and leaves that dialog as it was.
 */
#include "config.h"
#include "resource.h"

static HWND s_hAboutMenuBar = NULL;

static void OnInitDialog(HWND hDlg)
{
    InitFullScreenDialog(hDlg, FULL_SCREEN_DIALOG_FLAGS);
    s_hAboutMenuBar = CreateSoftKeyBar(g_hInstance, hDlg, IDR_ABOUT_MENU);
    SetBoldFont(hDlg, IDC_ABOUT_TITLE);
}

/* The result names the way out (WM_CLOSE for a close by the system, as in
   the settings dialog); the settings dialog does not read it. */
static void CloseAbout(HWND hDlg, int nResult)
{
    if (s_hAboutMenuBar != NULL) {
        DestroyWindow(s_hAboutMenuBar);
        s_hAboutMenuBar = NULL;
    }
    EndDialog(hDlg, nResult);
}

INT_PTR CALLBACK AboutDialogProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    (void)lParam;
    switch (uMsg) {
    case WM_INITDIALOG:
        OnInitDialog(hDlg);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
        case IDCANCEL:
        case IDM_DONE:
            CloseAbout(hDlg, LOWORD(wParam));
            return TRUE;
        default:
            return FALSE;
        }
    case WM_CLOSE:
        CloseAbout(hDlg, WM_CLOSE);
        return TRUE;
    default:
        return FALSE;
    }
}
