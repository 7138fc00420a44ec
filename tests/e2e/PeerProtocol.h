// What teliox_e2e_peer.exe understands: a second program for the port tests to find, message,
// start and compete with for a mutex.
//
//   teliox_e2e_peer.exe                  window titled kPeerDefaultTitle (how StartProcess starts it)
//   teliox_e2e_peer.exe --window TITLE   window titled TITLE
//   teliox_e2e_peer.exe --mutex NAME     exits with kMutexTaken or kMutexRefused
//   teliox_e2e_peer.exe --tray-menu      tray icon and its pop-up menu, for screenshots
//
// The window is hidden, of class kPeerClass, and ends on WM_CLOSE or after 30 seconds.
#pragma once

#include <windows.h>

inline constexpr char kPeerExe[] = "teliox_e2e_peer.exe";
inline constexpr char kPeerClass[] = "TelioxE2ePeer";
inline constexpr char kPeerDefaultTitle[] = "Teliox e2e peer";
inline constexpr char kPeerRegisteredName[] = "PX_CloseApplication";

inline constexpr UINT kPeerAsk = WM_APP + 1;           // answers wParam * 1000 + lParam
inline constexpr UINT kPeerRecord = WM_APP + 2;        // (posted) remembers wParam
inline constexpr UINT kPeerLastRecord = WM_APP + 3;    // answers the remembered wParam, 0 before any
inline constexpr UINT kPeerStartupFlags = WM_APP + 4;  // answers GetStartupInfoA's dwFlags
inline constexpr UINT kPeerProcessId = WM_APP + 5;     // answers GetCurrentProcessId
inline constexpr UINT kPeerSelf = WM_APP + 6;          // answers its own HWND
inline constexpr UINT kPeerRegistered = WM_APP + 7;    // answers RegisterWindowMessageA(kPeerRegisteredName)
// WM_COPYDATA: the window's title becomes "copy <wParam> <id> <bytes in hex>"; answers the size.

inline constexpr int kMutexTaken = 10;
inline constexpr int kMutexRefused = 20;
