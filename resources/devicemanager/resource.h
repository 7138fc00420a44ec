// Resource identifiers of SNDWD.exe, shared by its built-in Traditional Chinese resources
// (devicemanager.rc) and every language library (resources/lang/swd_*/). Only plain
// "#define NAME number" lines, since tools other than the compilers read this file too.

// Strings
#define IDS_WINDOWS_DEFAULT_DEVICE 3
#define IDS_REMOTE_DESKTOP_NOTICE 4

// Icon and picture
#define IDI_APP 128
#define IDB_WIZARD 131

// Dialogs
#define IDD_DEVICE_WIZARD 144
#define IDD_DEVICE_SETTINGS 145
#define IDD_DEVICE_CHANGED 149
#define IDD_MANAGER_MAIN 157

// Main window (157)
#define IDC_MAIN_BUTTON1 1001
#define IDC_MAIN_OPEN_SETTINGS 1002
#define IDC_MAIN_NEW_WATCHER 1005
#define IDC_MAIN_UNUSED_LIST 1071
#define IDC_MAIN_LOG_LIST 1072

// Shared by the device dialogs
#define IDC_PLAYBACK_LIST 1010
#define IDC_RECORDING_LIST 1011
#define IDC_MIC_LABEL 1015
#define IDC_SPEAKER_LABEL 1016
#define IDC_DIALOG_OK 1023
#define IDC_AUTOMATIC 1026

// Device wizard (144)
#define IDC_WIZARD_OTHERS 1014
#define IDC_WIZARD_NOTE 1048

// Device settings (145)
#define IDC_SETTINGS_OK 1001
#define IDC_SETTINGS_CANCEL 1002
#define IDC_CLIENT_SPEAKER_LABEL 1017
#define IDC_CLIENT_MIC_LABEL 1018
#define IDC_DO_NOTHING 1049
#define IDC_MY_DEVICES 1050
#define IDC_CLIENT_SPEAKER 1063
#define IDC_CLIENT_MIC 1064
#define IDC_WHEN_CHANGED 1065

// Device changed (149)
#define IDC_CURRENT_MIC 1040
#define IDC_CURRENT_SPEAKER 1043
#define IDC_STORED_SPEAKER 1041
#define IDC_STORED_MIC 1042
#define IDC_CHANGED_BEFORE_GROUP 1045
#define IDC_CHANGED_NOW_GROUP 1046
#define IDC_KEEP_MINE 1063
#define IDC_ACCEPT_WINDOWS 1064
#define IDC_CHANGED_NOTE 1069
#define IDC_CHANGED_QUESTION 1070
