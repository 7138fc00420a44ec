// Sonvane.dll, real flavour: the library of the seven exports (win32/SonvaneDll.cpp) on Windows
// Core Audio (winmm where it is missing).
#include <windows.h>

#include "companions/sonvane/real/CoreAudioSystem.h"
#include "companions/sonvane/win32/SonvaneDll.h"

sonvane::Library& sonvane::TheLibrary() {
  static CoreAudioSystem system;
  static Library library(system);
  return library;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
  return TRUE;
}
