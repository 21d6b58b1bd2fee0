/*
 * Shell execution of the emulated device: ShellExecuteEx starts a program
 * of the device by its path.  Document associations, verbs other than
 * "open", the start-up directory and the show command are left out.
 */
#ifndef WINCE_SHELLAPI_H
#define WINCE_SHELLAPI_H

#include "windef.h"

#define SEE_MASK_NOCLOSEPROCESS 0x40
#define SEE_MASK_FLAG_NO_UI 0x400

/* hInstApp after a failed call. */
#define SE_ERR_FNF 2
#define SE_ERR_ACCESSDENIED 5
#define SE_ERR_OOM 8
#define SE_ERR_NOASSOC 31

typedef struct _SHELLEXECUTEINFOW {
    DWORD cbSize;
    ULONG fMask;
    HWND hwnd;
    LPCWSTR lpVerb;
    LPCWSTR lpFile;
    LPCWSTR lpParameters;
    LPCWSTR lpDirectory;
    int nShow;
    HINSTANCE hInstApp;
    LPVOID lpIDList;
    LPCWSTR lpClass;
    HKEY hkeyClass;
    DWORD dwHotKey;
    HANDLE hIcon;
    HANDLE hProcess;
} SHELLEXECUTEINFOW, *LPSHELLEXECUTEINFOW;
typedef SHELLEXECUTEINFOW SHELLEXECUTEINFO;
typedef LPSHELLEXECUTEINFOW LPSHELLEXECUTEINFO;

WINCE_BEGIN_DECLS

BOOL WINAPI ShellExecuteExW(LPSHELLEXECUTEINFOW pExecInfo);

WINCE_END_DECLS

#define ShellExecuteEx ShellExecuteExW

#endif
