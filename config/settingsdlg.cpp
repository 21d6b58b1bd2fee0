/*
 * The settings dialog: the Enabled check box and six drop-down lists over
 * the stored settings.  Only the "OK" soft key stores them and makes the
 * monitor follow Enabled; every other way out leaves the store as it was.
 * Between loading and saving, the controls are the only state.
 */
#include "config.h"
#include "resource.h"

#include "settings.h"

/* One string of the string table: a semicolon-ended list of items, or a format. */
#define STRING_TABLE_CHARS 256

/* The soft-key bar of the settings dialog; the About box has its own. */
static HWND s_hSettingsMenuBar = NULL;

/* Adds one item per semicolon-ended segment; text after the last semicolon
   is no item.  An item too long for the buffer is cut to fit. */
void AddListItems(HWND hCombo, LPCWSTR listText)
{
    WCHAR szItem[COMBO_ITEM_CHARS];
    LPCWSTR pStart = listText;
    LPCWSTR pEnd;
    if (pStart == NULL)
        return;
    while ((pEnd = wcschr(pStart, L';')) != NULL) {
        size_t nLength = (size_t)(pEnd - pStart);
        if (nLength > COMBO_ITEM_CHARS - 1)
            nLength = COMBO_ITEM_CHARS - 1;
        wcsncpy(szItem, pStart, nLength);
        szItem[nLength] = L'\0';
        SendMessageW(hCombo, CB_ADDSTRING, 0, (LPARAM)szItem);
        pStart = pEnd + 1;
    }
}

static void AddStringListItems(HWND hDlg, UINT uStringId, const int *controlIds, int nControls)
{
    WCHAR szList[STRING_TABLE_CHARS];
    int i;
    memset(szList, 0, sizeof(szList));
    LoadStringW(g_hInstance, uStringId, szList, STRING_TABLE_CHARS - 1);
    for (i = 0; i < nControls; i++)
        AddListItems(GetDlgItem(hDlg, controlIds[i]), szList);
}

static void AddLeadTimeItems(HWND hDlg)
{
    WCHAR szFormat[STRING_TABLE_CHARS];
    WCHAR szItem[COMBO_ITEM_CHARS];
    HWND hCombo = GetDlgItem(hDlg, IDC_REGULAR_SOUND_BEFORE);
    int i;
    memset(szFormat, 0, sizeof(szFormat));
    LoadStringW(g_hInstance, IDS_SECONDS_FORMAT, szFormat, STRING_TABLE_CHARS - 1);
    for (i = 0; i < RegularSoundBeforeCount(); i++) {
        wsprintfW(szItem, szFormat, RegularSoundBeforeMs(i) / 1000);
        SendMessageW(hCombo, CB_ADDSTRING, 0, (LPARAM)szItem);
    }
}

static void FillSettingsLists(HWND hDlg)
{
    static const int signalLists[] = {IDC_ON_SOUND_TYPE, IDC_OFF_SOUND_TYPE, IDC_REGULAR_SOUND_TYPE};
    static const int intervalList[] = {IDC_REGULAR_SOUND_DELAY};
    static const int screenOffList[] = {IDC_TURN_OFF_SCR};
    AddStringListItems(hDlg, IDS_SIGNAL_TYPES, signalLists, 3);
    AddStringListItems(hDlg, IDS_INTERVAL_ITEMS, intervalList, 1);
    AddLeadTimeItems(hDlg);
    AddStringListItems(hDlg, IDS_SCREEN_OFF_ITEMS, screenOffList, 1);
}

static void SelectListItem(HWND hDlg, int nControlId, int nPosition)
{
    SendMessageW(GetDlgItem(hDlg, nControlId), CB_SETCURSEL, (WPARAM)nPosition, 0);
}

/* The chosen position, CB_ERR (-1) when none, as the store keeps it. */
static int SelectedListItem(HWND hDlg, int nControlId)
{
    return (short)LOWORD(SendMessageW(GetDlgItem(hDlg, nControlId), CB_GETCURSEL, 0, 0));
}

static void LoadSettingsToDialog(HWND hDlg)
{
    AppSettings settings;
    SendMessageW(GetDlgItem(hDlg, IDC_ENABLED), BM_SETCHECK, settings.GetEnabled() ? 1 : 0, 0);
    SelectListItem(hDlg, IDC_ON_SOUND_TYPE, settings.GetOnSoundType());
    SelectListItem(hDlg, IDC_OFF_SOUND_TYPE, settings.GetOffSoundType());
    SelectListItem(hDlg, IDC_REGULAR_SOUND_TYPE, settings.GetRegularSoundType());
    SelectListItem(hDlg, IDC_REGULAR_SOUND_DELAY, settings.GetRegularSoundDelay());
    SelectListItem(hDlg, IDC_REGULAR_SOUND_BEFORE, settings.GetRegularSoundBefore());
    SelectListItem(hDlg, IDC_TURN_OFF_SCR, settings.GetTurnOffScr());
}

static void SaveAndApplySettings(HWND hDlg)
{
    AppSettings settings;
    settings.SetEnabled(SendMessageW(GetDlgItem(hDlg, IDC_ENABLED), BM_GETCHECK, 0, 0) != 0 ? 1 : 0);
    settings.SetOnSoundType(SelectedListItem(hDlg, IDC_ON_SOUND_TYPE));
    settings.SetOffSoundType(SelectedListItem(hDlg, IDC_OFF_SOUND_TYPE));
    settings.SetRegularSoundType(SelectedListItem(hDlg, IDC_REGULAR_SOUND_TYPE));
    settings.SetRegularSoundDelay(SelectedListItem(hDlg, IDC_REGULAR_SOUND_DELAY));
    settings.SetRegularSoundBefore(SelectedListItem(hDlg, IDC_REGULAR_SOUND_BEFORE));
    settings.SetTurnOffScr(SelectedListItem(hDlg, IDC_TURN_OFF_SCR));

    /* The stored value decides, not the check box. */
    if (settings.GetEnabled()) {
        StartMonitor(NULL);
        if (!IsMonitorRunning())
            ShowStringMessage(g_hInstance, hDlg, IDS_NOT_ACTIVATED, IDS_APP_NAME, MB_OK | MB_ICONHAND);
    } else {
        StopMonitor();
    }
}

static void DestroySettingsMenuBar(void)
{
    if (s_hSettingsMenuBar == NULL)
        return;
    DestroyWindow(s_hSettingsMenuBar);
    s_hSettingsMenuBar = NULL;
}

static void OnInitDialog(HWND hDlg)
{
    InitFullScreenDialog(hDlg, FULL_SCREEN_DIALOG_FLAGS);
    s_hSettingsMenuBar = CreateSoftKeyBar(g_hInstance, hDlg, IDR_SETTINGS_MENU);
    FillSettingsLists(hDlg);
    LoadSettingsToDialog(hDlg);
    SetForegroundWindow(hDlg);
}

static void OnOkSoftKey(HWND hDlg)
{
    SaveAndApplySettings(hDlg);
    /* The dialog's last state is what was stored, not what was picked:
       where a write failed, the old value shows again.  Whoever reads the
       screen as the dialog ends sees the settings the monitor will use. */
    LoadSettingsToDialog(hDlg);
    DestroySettingsMenuBar();
    EndDialog(hDlg, IDM_OK);
}

/* Leaves without storing anything.  No caller reads the dialog's result; it
   only names the way out for whoever watches the dialog end (dialog.end in
   the event log), so a close by the system is ended with WM_CLOSE's own
   number, which no command identifier of this dialog takes. */
static void CloseSettings(HWND hDlg, int nResult)
{
    DestroySettingsMenuBar();
    EndDialog(hDlg, nResult);
}

static INT_PTR OnCommand(HWND hDlg, WORD wId)
{
    switch (wId) {
    case IDM_OK:
        OnOkSoftKey(hDlg);
        return FALSE;
    case IDM_ABOUT:
        RunDialog(IDD_ABOUT, AboutDialogProc);
        return FALSE;
    case IDOK:
    case IDCANCEL:
        CloseSettings(hDlg, wId);
        return TRUE;
    default:
        return FALSE;
    }
}

INT_PTR CALLBACK SettingsDialogProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    (void)lParam;
    switch (uMsg) {
    case WM_INITDIALOG:
        OnInitDialog(hDlg);
        return TRUE; /* the focus goes to the first tab stop, Enabled */
    case WM_COMMAND:
        return OnCommand(hDlg, LOWORD(wParam));
    case WM_CLOSE:
        CloseSettings(hDlg, WM_CLOSE);
        return TRUE;
    default:
        return FALSE;
    }
}
