// Identifiers shared by qmxclickerw.rc and the window's code.
#pragma once

#define IDR_MENU 100
#define IDR_ACCELERATORS 101
#define IDD_PARAMETERS 103

// Commands: the buttons, menu items and accelerators share them.
#define IDC_DOWNLOAD 200
#define IDC_SAVE 201
#define IDC_SAVE_CLEAR 202
#define IDC_SET_CLOCK 203
#define IDC_PARAMETERS 204
#define IDC_EXIT 205
#define IDC_ABOUT 206

// Child windows of the main window.
#define IDC_STATE 300
#define IDC_LIST 301
#define IDC_STATUS 302

// The parameters dialog.
#define IDC_PARAM_TEXT 400
#define IDC_PARAM_FILE 401
#define IDC_PARAM_WARNING 402
#define IDC_PARAM_SAVE_FIRST 403

// Strings.
#define IDS_TITLE 1000
#define IDS_COL_ENTRY 1001
#define IDS_COL_BARCODE 1002
#define IDS_COL_TYPE 1003
#define IDS_COL_SCANNED 1004
#define IDS_READY 1005
#define IDS_NO_SCANNER 1006
#define IDS_FOUND 1007
#define IDS_PORT 1008
#define IDS_IDENTITY 1009
#define IDS_CLOCK 1010
#define IDS_CLOCK_INVALID 1011
#define IDS_COUNT 1012
#define IDS_NOT_DELIVERED 1013
#define IDS_SAVE_TITLE 1014
#define IDS_SAVE_FILTER 1015
#define IDS_SAVED 1016
#define IDS_NOTHING_TO_SAVE 1017
#define IDS_CONFIRM_CLEAR 1018
#define IDS_CLEARED 1019
#define IDS_CLOCK_SET 1020
#define IDS_ERROR_53 1021
#define IDS_ERROR_453 1022
#define IDS_ERROR_COMPONENT 1023
#define IDS_NOT_SAVED 1024
#define IDS_CHANGED 1025
#define IDS_NOT_CLEARED 1026
#define IDS_CLOCK_NOT_SET 1027
#define IDS_PARAM_WARNING 1028
#define IDS_PARAM_BAD 1029
#define IDS_PARAM_ERASE 1030
#define IDS_PROGRAMMED 1031
#define IDS_OPEN_TITLE 1032
#define IDS_OPEN_FILTER 1033
#define IDS_BUSY_CLOSE 1034
#define IDS_ABOUT 1035
#define IDS_NOT_PROGRAMMED 1036
#define IDS_NO_SCANNER_STATUS 1037
#define IDS_WORKING 1038
#define IDS_EMPTY 1039
#define IDS_PARAM_HELD 1040
#define IDS_PARAM_UNKNOWN 1041
