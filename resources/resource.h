// resources/: language files, pictures, the resource script and the manifest. Every resource id
// of the program is defined here; the code and kavid.rc share this one header (plain #defines,
// so that the resource compiler reads it too).
#pragma once

// Icons, pictures and bitmaps.
#define IDR_MAINFRAME 128
#define IDP_BANNER 147
#define IDP_PASSED 148
#define IDP_FAILED 149
#define IDP_WARNING 150
#define IDB_RUNNING 151
#define IDB_RUNNING_BLANK 160
#define IDP_INSTRUCTION 176

// Dialogs and menus.
#define IDD_ABOUTBOX 100
#define IDD_PROGRESS 153
#define IDD_MAIN 161
#define IDD_DIAGNOSE 162
#define IDD_HELP 163
#define IDD_PARENT 164
#define IDR_SIMULATION_MENU 166
#define IDD_INSTRUCTION 175
#define IDD_TWAIN_SOURCE 177

// Controls.
#define IDC_PROGRESS 1000
#define IDC_BTN_DIAGNOSE 1005
#define IDC_BTN_CANCEL 1006
#define IDC_BTN_TECHINFO 1007
#define IDC_LINK_INFO 1016
#define IDC_LIST_DEVICES 1020
#define IDC_TITLE 1021
#define IDC_PROMPT 1022
#define IDC_BTN_RETEST 1028
#define IDC_ABOUT_TEXT 1033
#define IDC_INSTRUCTION_TEXT 1039
#define IDC_SOURCE_LIST 1035
#define IDC_SOURCE_SELECT 1042
#define IDC_STATIC_ICON -1

// Commands of the system menu and of the tester's hidden menu.
#define IDM_ABOUTBOX 16
#define IDM_CHOOSE_LANGUAGE 32901
#define IDM_SIMULATION_FIRST 32779
#define IDM_SIMULATION_LAST 33138

// Timers.
#define IDT_WAIT_CURSOR 1001
