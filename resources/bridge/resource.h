// Resource identifiers of Teliox.exe, shared by its built-in Traditional Chinese resources
// (bridge.rc) and every language library (resources/lang/*/). Only plain "#define NAME number"
// lines (no include guard: identical redefinitions are harmless), since tools other than
// the compilers read this file too.

// Strings
#define IDS_ONLINE 4
#define IDS_OFFLINE 5
#define IDS_FACTORY_RESET_QUESTION 13
#define IDS_VOICEMAIL_FROM 16
#define IDS_VOICEMAIL_DATE 17
#define IDS_VOICEMAIL_UNPLAYED 18
#define IDS_VOICEMAIL_PLAYING 19
#define IDS_VOICEMAIL_PLAYED 20
#define IDS_VOICEMAIL_UPDATING 21
#define IDS_ABOUTBOX 101

// Dialogs
#define IDD_ABOUTBOX 100
#define IDD_BRIDGE_MAIN 102
#define IDD_VOLUME_POPUP 136
#define IDD_VOLUME 145
#define IDD_NOTICE 157
#define IDD_RING_TONE 159
#define IDD_VOICEMAIL 160
#define IDD_PLEASE_WAIT 161

// Icons (always taken from the program) and the voicemail status images
#define IDI_APP 128
#define IDI_TRAY_CLIENT_ONLY 129
#define IDI_TRAY_HANDSET_ONLY 146
#define IDI_TRAY_BOTH 147
#define IDI_TRAY_NONE 148
#define IDB_VOICEMAIL_STATUS 162

// Tray menu and its commands
#define IDR_TRAY_MENU 152
#define ID_RING_SETTINGS 32810
#define ID_VOLUME_SETTINGS 32791
#define ID_SOUND_DEVICE_SETTINGS 32792
#define ID_FACTORY_RESET 32812
#define ID_LANGUAGE_ENGLISH 32796
#define ID_LANGUAGE_TRADITIONAL_CHINESE 32797
#define ID_LANGUAGE_JAPANESE 32814
#define ID_LANGUAGE_FRENCH 32815
#define ID_LANGUAGE_DUTCH 32816
#define ID_VERSION 32785
#define ID_CLOSE 32777
// Commands a language library's menu may carry; the built-in menu has none of them.
#define ID_HANDSET_EVENTS_ON 32781
#define ID_HANDSET_EVENTS_OFF 32784
// The About item added to the main window's system menu.
#define IDM_ABOUTBOX 0x0010
// The framework's help command; the application routes it to its help handler.
#define ID_HELP 0xE146

// Main window (102): the test panel
#define IDC_TARVO_DEBUG 1000
#define IDC_TEST_YES 1001
#define IDC_TEST_NO 1002
#define IDC_HID_DEBUG 1003
#define IDC_TEST_VOLUME_UP 1004
#define IDC_TEST_UP 1005
#define IDC_TEST_DOWN 1006
#define IDC_TEST_TARVO 1007
#define IDC_TEST_HOLD 1008
#define IDC_TEST_VOLUME_DOWN 1009
#define IDC_TEST_REDIAL 1010
#define IDC_TEST_MUTE 1011
#define IDC_CLEAR_TARVO_DEBUG 1038
#define IDC_CLEAR_HID_DEBUG 1039

// About box (100)
#define IDC_SOFTWARE_VERSION 1070
#define IDC_FIRMWARE_VERSION 1037

// Volume pop-up (136)
#define IDC_POPUP_SPEAKER 1024

// Volume dialog (145)
#define IDC_SPEAKER_VOLUME 1031
#define IDC_MIC_VOLUME 1032
#define IDC_MIC_LABEL 1033
#define IDC_SPEAKER_LABEL 1034
#define IDC_KEYTONE_VOLUME 1036
#define IDC_KEYTONE_LABEL 1037
#define IDC_VOLUME_OK 1001

// Ring-tone dialog (159)
#define IDC_RING_PLAY 1087
#define IDC_RING_SILENT 1099
#define IDC_RING_TONE_1 1100
#define IDC_RING_TONE_2 1101
#define IDC_RING_TONE_3 1102
#define IDC_RING_TONE_4 1103
#define IDC_RING_TONE_5 1104
#define IDC_RING_TONE_6 1105
#define IDC_RING_TONE_7 1106
#define IDC_RING_TONE_8 1107
#define IDC_RING_TONE_9 1108
#define IDC_RING_TONE_10 1109

// Voicemail list (160) and please-wait window (161)
#define IDC_VOICEMAIL_LIST 1101
#define IDC_WAIT_TEXT 1102

// Notice window (157)
#define IDC_NOTICE_TEXT 1103
