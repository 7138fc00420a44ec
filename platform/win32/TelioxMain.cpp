// Teliox.exe: the bridge program on the real Win32 adapters. The command line is ignored.
#include <windows.h>

#include "bridge/app/BridgeApp.h"
#include "platform/Absent.h"
#include "platform/RealClock.h"
#include "platform/win32/Win32ClientApi.h"
#include "platform/win32/Win32Desktop.h"
#include "platform/win32/Win32HidLink.h"
#include "platform/win32/Win32Registry.h"
#include "platform/win32/Win32Ui.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  win32::Win32Registry registry;
  platform::RealClock clock;
  win32::Win32Desktop desktop;
  win32::Win32Ui ui;
  // The audio devices join with their own adapter.
  win32::Win32ClientApi client;
  win32::Win32HidLink hid;
  platform::AbsentWinmm winmm;
  bridge::BridgePorts ports{registry, clock, desktop, ui, client, hid, winmm};
  bridge::CBridgeApp app(ports);
  app.InitInstance();
  // The workers run for the life of the process and are never joined: end it here, with them.
  ExitProcess(0);
}
