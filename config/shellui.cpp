/*
 * Helpers both dialogs share: the bold title font, the full-screen
 * initialisation, the soft-key bar and the message box from the string table.
 */
#include "config.h"


#define BOLD_FONT_POINTS 9
#define BOLD_FONT_FACE L"Tahoma"
#define MESSAGE_TEXT_CHARS 512
#define MESSAGE_CAPTION_CHARS 256

/* Stored by WinMain in user-interface mode, before any dialog. */
HINSTANCE g_hInstance = NULL;

/* Created before the settings dialog and deleted after it, so that it
   outlives every control it is set on. */
static HFONT s_hBoldFont = NULL;

static int ScreenDpiY(void)
{
    HDC hdc = GetDC(NULL);
    int nDpi = GetDeviceCaps(hdc, LOGPIXELSY);
    ReleaseDC(NULL, hdc);
    return nDpi;
}

void CreateBoldFont(void)
{
    LOGFONTW lf;
    memset(&lf, 0, sizeof(lf));
    lf.lfHeight = -(BOLD_FONT_POINTS * ScreenDpiY()) / 72;
    lf.lfOutPrecision = OUT_DEFAULT_PRECIS;
    lf.lfClipPrecision = CLIP_DEFAULT_PRECIS;
    lf.lfQuality = DEFAULT_QUALITY;
    lf.lfPitchAndFamily = FF_SWISS | DEFAULT_PITCH;
    wcscpy(lf.lfFaceName, BOLD_FONT_FACE);
    lf.lfWeight = FW_BOLD;
    s_hBoldFont = CreateFontIndirectW(&lf);
}

void DeleteBoldFont(void)
{
    if (s_hBoldFont == NULL)
        return;
    DeleteObject(s_hBoldFont);
    s_hBoldFont = NULL;
}

void SetBoldFont(HWND hDlg, int nControlId)
{
    SendDlgItemMessageW(hDlg, nControlId, WM_SETFONT, (WPARAM)s_hBoldFont, 0);
}

BOOL InitFullScreenDialog(HWND hDlg, DWORD dwFlags)
{
    SHINITDLGINFO shidi;
    memset(&shidi, 0, sizeof(shidi));
    shidi.dwMask = SHIDIM_FLAGS;
    shidi.hDlg = hDlg;
    shidi.dwFlags = dwFlags;
    return SHInitDialog(&shidi);
}

HWND CreateSoftKeyBar(HINSTANCE hInstance, HWND hParent, UINT uMenuId)
{
    SHMENUBARINFO mbi;
    memset(&mbi, 0, sizeof(mbi));
    mbi.cbSize = sizeof(mbi);
    mbi.hwndParent = hParent;
    mbi.dwFlags = SHCMBF_HMENU;
    mbi.nToolBarId = uMenuId;
    mbi.hInstRes = hInstance;
    if (!SHCreateMenuBar(&mbi))
        return NULL;
    return mbi.hwndMB;
}

int ShowStringMessage(HINSTANCE hInstance, HWND hOwner, UINT uTextId, UINT uCaptionId, UINT uType)
{
    WCHAR szText[MESSAGE_TEXT_CHARS];
    WCHAR szCaption[MESSAGE_CAPTION_CHARS];
    memset(szText, 0, sizeof(szText));
    memset(szCaption, 0, sizeof(szCaption));
    LoadStringW(hInstance, uTextId, szText, MESSAGE_TEXT_CHARS);
    LoadStringW(hInstance, uCaptionId, szCaption, MESSAGE_CAPTION_CHARS);
    return MessageBoxW(hOwner, szText, szCaption, uType);
}

INT_PTR RunDialog(UINT uTemplateId, DLGPROC pDialogProc)
{
    HRSRC hRes = FindResourceW(g_hInstance, MAKEINTRESOURCEW(uTemplateId), RT_DIALOG);
    HGLOBAL hTemplate = hRes != NULL ? LoadResource(g_hInstance, hRes) : NULL;
    if (hTemplate == NULL)
        return -1;
    return DialogBoxIndirectParamW(g_hInstance, (LPCDLGTEMPLATEW)hTemplate, NULL, pDialogProc, 0);
}
