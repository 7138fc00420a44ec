// Sonvane.dll, real flavour: the seven exports on Windows Core Audio (winmm where it is missing).
#include <windows.h>

#include "companions/sonvane/SonvaneCore.h"
#include "companions/sonvane/real/CoreAudioSystem.h"

namespace {

sonvane::Library& TheLibrary() {
  // Built at the first call, not in DllMain: COM must not be touched under the loader lock.
  static sonvane::CoreAudioSystem system;
  static sonvane::Library library(system);
  return library;
}

}  // namespace

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
  return TRUE;
}

extern "C" {

int SONVANE_CALL UpdateAudioDevice(const char*) { return TheLibrary().Update(); }
unsigned SONVANE_CALL APIwaveInGetNumDevs(void) { return TheLibrary().RecordingCount(); }
unsigned SONVANE_CALL APIwaveOutGetNumDevs(void) { return TheLibrary().PlaybackCount(); }
int SONVANE_CALL APIwaveInGetDevCaps(unsigned device, char* name, int size) {
  return TheLibrary().RecordingName(device, name, size);
}
int SONVANE_CALL APIwaveOutGetDevCaps(unsigned device, char* name, int size) {
  return TheLibrary().PlaybackName(device, name, size);
}
int SONVANE_CALL GetDefaultAudioDevice(char* inputName, char* outputName) {
  return TheLibrary().GetDefaults(inputName, outputName);
}
int SONVANE_CALL SetDefaultAudioDevice(const char* inputName, const char* outputName) {
  return TheLibrary().SetDefaults(inputName, outputName);
}

}  // extern "C"
