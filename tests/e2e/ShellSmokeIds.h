// Resource ids shared by shell_smoke.exe and its English language library.
#pragma once

#define IDD_SMOKE 100
#define IDR_SMOKE_MENU 110
#define IDI_SMOKE 120

#define IDS_SMOKE_TITLE 200
#define IDS_SMOKE_LONG 201

#define IDM_SMOKE_RING 40001
#define IDM_SMOKE_EXIT 40002

#define IDC_STATUS 1001
#define IDC_NAME 1002
#define IDC_RING 1003
#define IDC_HANDSET 1004
#define IDC_SPEAKER 1005
#define IDC_DEVICES 1006
#define IDC_LANGUAGE 1007
#define IDC_VOLUME 1008
#define IDC_CLOSE 1009
#define IDC_LINES 1010
