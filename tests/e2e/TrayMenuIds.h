// Resource ids of the tray menu test resources (tray_menu.rc), shared by the port tests and the peer.
#pragma once

#define IDR_TRAY_MENU 152
#define IDS_ABOUT_ITEM 101
#define IDS_TRAY_TIP 102

#define IDM_TRAY_RING 32810
#define IDM_TRAY_VOLUME 32791
#define IDM_TRAY_DEVICES 32792
#define IDM_TRAY_RESET 32812
#define IDM_TRAY_ENGLISH 32796
#define IDM_TRAY_CHINESE 32797
#define IDM_TRAY_JAPANESE 32814
#define IDM_TRAY_FRENCH 32815
#define IDM_TRAY_DUTCH 32816
#define IDM_TRAY_VERSION 32785
#define IDM_TRAY_CLOSE 32777
