/*
 * CallTickerCfg.exe, the settings program: the pieces its modules share.
 *
 * One thread; all work runs in the modal loops of the settings dialog and
 * the About box.  The monitor is controlled only as a process, found afresh
 * by its file name each time.
 */
#ifndef CALLTICKER_CONFIG_H
#define CALLTICKER_CONFIG_H

#include <windows.h>
#include <aygshell.h>

/* The program's own module; every resource and string is loaded through it. */
extern HINSTANCE g_hInstance;

/* Flags both dialogs are initialised with: an ok in the title bar, the full
   screen, the input panel lowered. */
#define FULL_SCREEN_DIALOG_FLAGS (SHIDIF_DONEBUTTON | SHIDIF_SIZEDLGFULLSCREEN | SHIDIF_SIPDOWN)

/* Monitor process control. */
#define MONITOR_EXE_NAME L"CallTicker.exe"
#define MONITOR_NOT_FOUND ((DWORD)-1)
#define MONITOR_STOP_TIMEOUT_MS 2000
void GetMonitorPath(LPWSTR path);
DWORD FindMonitorProcess(void);
BOOL IsMonitorRunning(void);
BOOL StartMonitor(LPCWSTR path);
BOOL StopMonitor(void);

/* Dialog procedures return the device's BOOL, which is one type with
   INT_PTR there and what a 64-bit SDK's DLGPROC wants. */

/* Settings dialog. */
/* One item of a drop-down list, with its terminator; longer items are cut. */
#define COMBO_ITEM_CHARS 256
INT_PTR CALLBACK SettingsDialogProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam);
void AddListItems(HWND hCombo, LPCWSTR listText);

/* About box. */
INT_PTR CALLBACK AboutDialogProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam);

/* Shell dialog helpers. */
void CreateBoldFont(void);
void DeleteBoldFont(void);
void SetBoldFont(HWND hDlg, int nControlId);
BOOL InitFullScreenDialog(HWND hDlg, DWORD dwFlags);
HWND CreateSoftKeyBar(HINSTANCE hInstance, HWND hParent, UINT uMenuId);
int ShowStringMessage(HINSTANCE hInstance, HWND hOwner, UINT uTextId, UINT uCaptionId, UINT uType);
/* Runs a dialog of the program's resources modally; -1 when it is missing. */
INT_PTR RunDialog(UINT uTemplateId, DLGPROC pDialogProc);

#endif
