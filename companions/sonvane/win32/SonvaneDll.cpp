// The seven exports of Sonvane.dll, the same in both flavours: each asks the flavour's library.
#include "companions/sonvane/win32/SonvaneDll.h"

using sonvane::TheLibrary;

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
