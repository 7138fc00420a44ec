// Teliox.exe: the bridge program on the real Win32 adapters. The command line is ignored.
#include <windows.h>

#include "bridge/app/BridgeApp.h"
#include "platform/win32/Win32ClientApi.h"
#include "platform/win32/Win32Clock.h"
#include "platform/win32/Win32Desktop.h"
#include "platform/win32/Win32HidLink.h"
#include "platform/win32/Win32Registry.h"
#include "platform/win32/Win32Ui.h"
#include "platform/win32/Win32VersionResource.h"
#include "platform/win32/Win32Winmm.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  win32::Win32Registry registry;
  win32::Win32Clock clock;
  win32::Win32Desktop desktop;
  win32::Win32Ui ui;
  win32::Win32ClientApi client;
  win32::Win32HidLink hid;
  win32::Win32Winmm winmm;
  win32::Win32VersionResources versions;
  bridge::BridgePorts ports{registry, clock, desktop, ui, client, hid, winmm, versions};
  bridge::CBridgeApp app(ports);
  app.InitInstance();
  // The workers run for the life of the process and are never joined: end it here, with them.
  ExitProcess(0);
}
