// Resource identifiers shared by the resource script and the program.
#pragma once

#define IDD_MAIN 102
#define IDI_APP 128
#define IDI_LOGO 139

#define IDC_PROGRESS 1000
#define IDC_UNINSTALL 1003
#define IDC_PATH 1004
#define IDC_PATH_LABEL 1005
#define IDC_PRODUCT 1006
#define IDC_PRODUCT_LABEL 1007
#define IDC_BROWSE 1008
#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
#ifndef IDCLOSE
#define IDCLOSE 8
#endif

// String table
#define IDS_RESTART_TEXT 4
#define IDS_RESTART_CAPTION 5
#define IDS_BROWSE_CAPTION 7
#define IDS_BROWSE_TEXT 8
#define IDS_CONFIRM_DELETE 9
#define IDS_SYSTEM_FOLDER 10
#define IDS_SAFEMODE_ASK 13
#define IDS_APP_CAPTION 14
#define IDS_SAFEMODE_RESTART 15
#define IDS_RUNONCE_FAILED 16
#define IDS_SELFPROTECTION 17
#define IDS_PRODUCT_WHS 18
#define IDS_PRODUCT_HOME 19
#define IDS_PRODUCT_OFFICE 20
#define IDS_DONE_SERVICE 10000
#define IDS_DONE_DRIVERS 10001
#define IDS_DONE_REGISTRY 10002
#define IDS_DONE_FILES 10003
#define IDS_DONE_SHORTCUTS 10004
#define IDS_DONE_ALL 10005
#define IDS_REMOVING 10006
#define IDS_RESIDUE 10007  // the run's last progress line: items left, items queued
#define IDS_REMOVE_FAILED 20000
#define IDS_USAGE 25000  // "/?": English only; other languages fall back to it
