// SNDWD.exe: the audio device manager on the real Win32 adapters. The command line is ignored.
#include <windows.h>

#include "devicemanager/app/AudioManagerApp.h"
#include "platform/win32/Win32AudioControl.h"
#include "platform/win32/Win32Clock.h"
#include "platform/win32/Win32Desktop.h"
#include "platform/win32/Win32Registry.h"
#include "platform/win32/Win32Ui.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  win32::Win32Registry registry;
  win32::Win32Clock clock;
  win32::Win32Desktop desktop;
  win32::Win32Ui ui;
  win32::Win32AudioControl audio;
  devicemanager::ManagerPorts ports{registry, clock, desktop, ui, audio};
  devicemanager::CAudioManagerApp app(ports);
  app.InitInstance();
  // The watcher may still sleep in a pause or wait on a request: end the process with it here.
  ExitProcess(0);
}
