/*
 * The Pocket PC shell library: full-screen dialogs with an "ok" button in
 * the title bar, and the soft-key menu bar.
 */
#ifndef WINCE_AYGSHELL_H
#define WINCE_AYGSHELL_H

/* The pop-up index of a soft-key bar button that has none (SHMENUBAR data). */
#define NOMENU 0xFFFF

/* Resource scripts take only the #define lines. */
#ifndef RC_INVOKED

#include "windows.h"

typedef struct tagSHINITDLGINFO {
    DWORD dwMask;
    HWND hDlg;
    DWORD dwFlags;
} SHINITDLGINFO, *PSHINITDLGINFO;

#define SHIDIM_FLAGS 0x0001

#define SHIDIF_DONEBUTTON 0x0001
#define SHIDIF_SIZEDLG 0x0002
#define SHIDIF_SIZEDLGFULLSCREEN 0x0004
#define SHIDIF_SIPDOWN 0x0008
#define SHIDIF_FULLSCREENNOMENUBAR 0x0010
#define SHIDIF_EMPTYMENU 0x0020
#define SHIDIF_WANTSCROLLBAR 0x0040

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

#define SHCMBF_EMPTYBAR 0x0001
#define SHCMBF_HIDDEN 0x0002
#define SHCMBF_HIDESIPBUTTON 0x0004
#define SHCMBF_COLORBK 0x0008
#define SHCMBF_HMENU 0x0010

WINCE_BEGIN_DECLS

BOOL WINAPI SHInitDialog(PSHINITDLGINFO pshidi);
BOOL WINAPI SHCreateMenuBar(SHMENUBARINFO *pmbi);
BOOL WINAPI SHInitExtraControls(void);

WINCE_END_DECLS

#endif /* RC_INVOKED */
#endif
