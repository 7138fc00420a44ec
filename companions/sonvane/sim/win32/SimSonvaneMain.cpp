// Sonvane.dll, sim flavour: the library of the seven exports (win32/SonvaneDll.cpp) on the device
// world of a text file, named by the
// environment variable SONVANE_SIM_STATE or else "Sonvane-sim.txt" beside this library.
#include <windows.h>

#include <string>

#include "companions/sonvane/sim/SimState.h"
#include "companions/sonvane/win32/SonvaneDll.h"

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

}  // namespace

sonvane::Library& sonvane::TheLibrary() {
  static SimAudioSystem system(StatePath());
  static Library library(system);
  return library;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    g_module = instance;
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}
