/*
 * The Pocket PC shell library (aygshell), which the desktop SDK lacks:
 * full-screen dialogs and the soft-key menu bar, as the device's SDK
 * documents them.  For the Windows compile check only.
 */
#ifndef CALLTICKER_CHECK_AYGSHELL_H
#define CALLTICKER_CHECK_AYGSHELL_H

/* The pop-up index of a menu-bar button that has none. */
#define NOMENU 0xFFFF

#define SHIDIM_FLAGS 0x0001

#define SHIDIF_DONEBUTTON 0x0001
#define SHIDIF_SIZEDLG 0x0002
#define SHIDIF_SIZEDLGFULLSCREEN 0x0004
#define SHIDIF_SIPDOWN 0x0008
#define SHIDIF_FULLSCREENNOMENUBAR 0x0010

#define SHCMBF_EMPTYBAR 0x0001
#define SHCMBF_HIDDEN 0x0002
#define SHCMBF_HIDESIPBUTTON 0x0004
#define SHCMBF_COLORBK 0x0008
#define SHCMBF_HMENU 0x0010

#ifndef RC_INVOKED

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct tagSHINITDLGINFO {
    DWORD dwMask;
    HWND hDlg;
    DWORD dwFlags;
} SHINITDLGINFO, *PSHINITDLGINFO;

typedef struct tagSHMENUBARINFO {
    DWORD cbSize;
    HWND hwndParent;
    DWORD dwFlags;
    UINT nToolBarId;
    HINSTANCE hInstRes;
    int nBmpId;
    int cBmpImages;
    HWND hwndMB;
    COLORREF clrBk;
} SHMENUBARINFO, *PSHMENUBARINFO;

BOOL WINAPI SHInitDialog(PSHINITDLGINFO pshidi);
BOOL WINAPI SHCreateMenuBar(SHMENUBARINFO *pmbi);
BOOL WINAPI SHInitExtraControls(void);

#ifdef __cplusplus
}
#endif

#endif /* RC_INVOKED */
#endif
