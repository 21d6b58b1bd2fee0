/*
 * The telephony watcher thread.
 *
 * Opens the cellular voice line with event notification and turns its
 * call-state changes into WM_CALL_CONNECTED and WM_CALL_ENDED for the main
 * thread.  It never acts on a call and keeps no record of calls.
 */
#include "monitor.h"

#include <tapi.h>

#define CELLULAR_LINE_NAME L"Cellular Line"
#define LINE_PRIVILEGES (LINECALLPRIVILEGE_MONITOR | LINECALLPRIVILEGE_OWNER)
#define STOP_POLL_MS 1
#define LINE_MESSAGE_WAIT_MS 500
#define WATCHER_STOP_WAIT_MS 1000
#define WATCHER_FAILED ((DWORD)-1)
/* The first capability query only learns dwNeededSize.  Its buffer is the
   fixed record and 40 bytes more, room for a line name of 20 UTF-16
   characters; the second query is made all the same, whatever the name. */
#define LINE_NAME_ROOM_BYTES 40
#define DEVCAPS_PROBE_SIZE (sizeof(LINEDEVCAPS) + LINE_NAME_ROOM_BYTES)
#define CALLINFO_BLOCK_SIZE 5120
/* No line device describes itself in more than this; a larger claim is a
   broken provider and the device is skipped. */
#define DEVCAPS_MAX_SIZE 0x10000

typedef struct LineContext {
    HLINE hLine;
    HLINEAPP hLineApp;
    HANDLE hLineEvent;
} LineContext;

static HANDLE s_hStopEvent = NULL;
static HANDLE s_hWatcherThread = NULL;
static DWORD s_dwMainThreadId = 0;
static LineContext s_line;

static void CloseCellularLine(LineContext *pLine)
{
    if (pLine->hLine != 0)
        lineClose(pLine->hLine);
    if (pLine->hLineApp != 0)
        lineShutdown(pLine->hLineApp);
    pLine->hLine = 0;
    pLine->hLineApp = 0;
    pLine->hLineEvent = NULL;
}

/* The name is taken only from bytes the provider says it filled in. */
static BOOL LineNameMatches(const LINEDEVCAPS *pCaps, DWORD dwBlockSize, LPCWSTR pszName)
{
    DWORD dwUsed = pCaps->dwUsedSize < dwBlockSize ? pCaps->dwUsedSize : dwBlockSize;
    DWORD dwOffset = pCaps->dwLineNameOffset;
    DWORD dwSize = pCaps->dwLineNameSize;
    DWORD cchName = (DWORD)wcslen(pszName);
    const WCHAR *pchLine;

    if (dwSize == 0 || dwOffset < sizeof(LINEDEVCAPS) || dwOffset > dwUsed || dwSize > dwUsed - dwOffset)
        return FALSE;
    if (dwSize / sizeof(WCHAR) < cchName)
        return FALSE;
    pchLine = (const WCHAR *)((const BYTE *)pCaps + dwOffset);
    if (wcsncmp(pchLine, pszName, cchName) != 0)
        return FALSE;
    /* Exactly the name: it ends where the field ends or at a terminator. */
    return dwSize / sizeof(WCHAR) == cchName || pchLine[cchName] == L'\0';
}

static BOOL DeviceHasName(HLINEAPP hLineApp, DWORD dwDeviceId, DWORD dwVersion, LPCWSTR pszName)
{
    DWORD query[DEVCAPS_PROBE_SIZE / sizeof(DWORD)];
    LINEDEVCAPS *pQuery = (LINEDEVCAPS *)query;
    LINEDEVCAPS *pCaps;
    DWORD dwNeeded;
    BOOL bMatch;

    pQuery->dwTotalSize = (DWORD)DEVCAPS_PROBE_SIZE;
    if (lineGetDevCaps(hLineApp, dwDeviceId, dwVersion, 0, pQuery) != 0)
        return FALSE;
    dwNeeded = pQuery->dwNeededSize;
    if (dwNeeded < sizeof(LINEDEVCAPS) || dwNeeded > DEVCAPS_MAX_SIZE)
        return FALSE;

    pCaps = (LINEDEVCAPS *)malloc(dwNeeded);
    if (pCaps == NULL)
        return FALSE;
    pCaps->dwTotalSize = dwNeeded;
    bMatch = lineGetDevCaps(hLineApp, dwDeviceId, dwVersion, 0, pCaps) == 0 &&
             LineNameMatches(pCaps, dwNeeded, pszName);
    free(pCaps);
    return bMatch;
}

static DWORD FindLineDevice(HLINEAPP hLineApp, DWORD dwNumDevs, DWORD dwLowVersion,
                            DWORD dwHighVersion, LPCWSTR pszName)
{
    DWORD dwFound = (DWORD)-1;
    DWORD dwDeviceId;

    for (dwDeviceId = 0; dwDeviceId < dwNumDevs; dwDeviceId++) {
        DWORD dwVersion = 0;
        LINEEXTENSIONID extensionId;
        if (lineNegotiateAPIVersion(hLineApp, dwDeviceId, dwLowVersion, dwHighVersion, &dwVersion,
                                    &extensionId) != 0)
            continue;
        /* The highest matching device wins, so the search goes on. */
        if (DeviceHasName(hLineApp, dwDeviceId, dwVersion, pszName))
            dwFound = dwDeviceId;
    }
    return dwFound;
}

static BOOL OpenCellularLine(LineContext *pLine)
{
    LINEINITIALIZEEXPARAMS params;
    DWORD dwNumDevs = 0;
    DWORD dwVersion = TAPI_CURRENT_VERSION;
    DWORD dwDeviceId;

    pLine->hLine = 0;
    pLine->hLineApp = 0;
    pLine->hLineEvent = NULL;

    memset(&params, 0, sizeof(params));
    params.dwTotalSize = sizeof(params);
    params.dwOptions = LINEINITIALIZEEXOPTION_USEEVENT;
    if (lineInitializeEx(&pLine->hLineApp, NULL, NULL, NULL, &dwNumDevs, &dwVersion, &params) != 0) {
        CloseCellularLine(pLine);
        return FALSE;
    }

    /* No match leaves -1, which is LINEMAPPER: lineOpen then decides. */
    dwDeviceId = FindLineDevice(pLine->hLineApp, dwNumDevs, TAPI_CURRENT_VERSION, TAPI_CURRENT_VERSION,
                                CELLULAR_LINE_NAME);
    if (lineOpen(pLine->hLineApp, dwDeviceId, &pLine->hLine, dwVersion, 0, 0, LINE_PRIVILEGES,
                 LINEMEDIAMODE_INTERACTIVEVOICE, NULL) != 0) {
        CloseCellularLine(pLine);
        return FALSE;
    }
    pLine->hLineEvent = params.Handles.hEvent;
    return TRUE;
}

static BOOL WaitLineMessage(LineContext *pLine, LINEMESSAGE *pMessage)
{
    if (WaitForSingleObject(pLine->hLineEvent, LINE_MESSAGE_WAIT_MS) == WAIT_TIMEOUT)
        return FALSE;
    return lineGetMessage(pLine->hLineApp, pMessage, 0) == 0;
}

static void CheckConnectedCall(HCALL hCall)
{
    LINECALLINFO *pInfo = (LINECALLINFO *)malloc(CALLINFO_BLOCK_SIZE);
    if (pInfo == NULL)
        return;
    memset(pInfo, 0, CALLINFO_BLOCK_SIZE);
    pInfo->dwTotalSize = CALLINFO_BLOCK_SIZE;
    /* Voice alone counts: a call with voice and data is not a voice call. */
    if (lineGetCallInfo(hCall, pInfo) == 0 && pInfo->dwMediaMode == LINEMEDIAMODE_INTERACTIVEVOICE)
        PostThreadMessageW(s_dwMainThreadId, WM_CALL_CONNECTED, 0, 0);
    free(pInfo);
}

static BOOL StopRequested(void)
{
    return s_hStopEvent != NULL && WaitForSingleObject(s_hStopEvent, STOP_POLL_MS) != WAIT_TIMEOUT;
}

static void HandleLineMessage(const LINEMESSAGE *pMessage)
{
    if (pMessage->dwMessageID != LINE_CALLSTATE)
        return;
    if (pMessage->dwParam1 & LINECALLSTATE_CONNECTED)
        CheckConnectedCall((HCALL)pMessage->hDevice);
    else if (pMessage->dwParam1 & LINECALLSTATE_DISCONNECTED)
        PostThreadMessageW(s_dwMainThreadId, WM_CALL_ENDED, 0, 0);
}

static DWORD WINAPI CallWatcherThread(LPVOID lpParameter)
{
    LINEMESSAGE message;
    (void)lpParameter;

    if (s_hStopEvent == NULL)
        return WATCHER_FAILED;
    if (!OpenCellularLine(&s_line))
        return WATCHER_FAILED;
    while (!StopRequested()) {
        if (WaitLineMessage(&s_line, &message))
            HandleLineMessage(&message);
    }
    CloseCellularLine(&s_line);
    return 0;
}

BOOL StartCallWatcher(DWORD dwMainThreadId)
{
    s_hStopEvent = CreateEventW(NULL, TRUE, FALSE, NULL);
    if (s_hStopEvent == NULL) {
        StopCallWatcher();
        return FALSE;
    }
    s_hWatcherThread = CreateThread(NULL, 0, CallWatcherThread, NULL, CREATE_SUSPENDED, NULL);
    if (s_hWatcherThread == NULL) {
        StopCallWatcher();
        return FALSE;
    }
    /* Written while the thread is still suspended: it never sees it unset. */
    s_dwMainThreadId = dwMainThreadId;
    ResumeThread(s_hWatcherThread);
    return TRUE;
}

void StopCallWatcher(void)
{
    if (s_hStopEvent != NULL)
        SetEvent(s_hStopEvent);
    if (s_hWatcherThread != NULL) {
        if (WaitForSingleObject(s_hWatcherThread, WATCHER_STOP_WAIT_MS) == WAIT_TIMEOUT)
            TerminateThread(s_hWatcherThread, WATCHER_FAILED);
        CloseHandle(s_hWatcherThread);
        s_hWatcherThread = NULL;
    }
    if (s_hStopEvent != NULL) {
        CloseHandle(s_hStopEvent);
        s_hStopEvent = NULL;
    }
}
