// Resource identifiers of CallTickerCfg.exe.
#ifndef CALLTICKER_CONFIG_RESOURCE_H
#define CALLTICKER_CONFIG_RESOURCE_H

// Dialogs, their soft-key bars and the icon.
#define IDD_SETTINGS 103
#define IDR_SETTINGS_MENU 130
#define IDR_ABOUT_MENU 131
#define IDI_APP 135
#define IDD_ABOUT 138

// String table.
#define IDS_APP_NAME 1
#define IDS_SIGNAL_TYPES 2
#define IDS_SECONDS_FORMAT 3
#define IDS_DONE 4
#define IDS_NOT_ACTIVATED 11
#define IDS_ACTIONS 12
#define IDS_OK 13
#define IDS_SCREEN_OFF_ITEMS 14
#define IDS_INTERVAL_ITEMS 15

// Controls of the settings dialog.
#define IDC_ENABLED 1000
#define IDC_ON_SOUND_TYPE 1001
#define IDC_OFF_SOUND_TYPE 1002
#define IDC_REGULAR_SOUND_TYPE 1003
#define IDC_REGULAR_SOUND_DELAY 1004
#define IDC_TURN_OFF_SCR 1005
#define IDC_ON_SOUND_LABEL 1008
#define IDC_OFF_SOUND_LABEL 1009
#define IDC_ELAPSED_LABEL 1010
#define IDC_INTERVAL_LABEL 1011
#define IDC_TURN_OFF_SCR_LABEL 1017
#define IDC_REGULAR_SOUND_BEFORE 1021

// Controls of the About box; the title shares its id with a label of the
// settings dialog.
#define IDC_ABOUT_TITLE 1008

// Soft-key commands.
#define IDM_DONE 0x800A
#define IDM_ABOUT 0x800C
#define IDM_OK 0x800D

#endif
