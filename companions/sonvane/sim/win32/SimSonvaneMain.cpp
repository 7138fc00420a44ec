// Sonvane.dll, sim flavour: the seven exports on the device world of a text file, named by the
// environment variable SONVANE_SIM_STATE or else "Sonvane-sim.txt" beside this library.
#include <windows.h>

#include <string>

#include "companions/sonvane/SonvaneCore.h"
#include "companions/sonvane/sim/SimState.h"

namespace {

HMODULE g_module = nullptr;

std::string StatePath() {
  char buffer[MAX_PATH * 2] = {};
  const DWORD length = GetEnvironmentVariableA("SONVANE_SIM_STATE", buffer, sizeof buffer);
  if (length > 0 && length < sizeof buffer) return buffer;
  const DWORD module = GetModuleFileNameA(g_module, buffer, sizeof buffer);
  std::string path(buffer, module < sizeof buffer ? module : 0);
  const std::size_t slash = path.find_last_of("\\/");
  path.resize(slash == std::string::npos ? 0 : slash + 1);
  return path + "Sonvane-sim.txt";
}

sonvane::Library& TheLibrary() {
  // Built at the first call, not in DllMain: the loader lock is not held then.
  static sonvane::SimAudioSystem system(StatePath());
  static sonvane::Library library(system);
  return library;
}

}  // namespace

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    g_module = instance;
    DisableThreadLibraryCalls(instance);
  }
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
