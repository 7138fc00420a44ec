/* planted_lang.dll: a library with resources and code, as someone might plant one under a
 * language library's name. Its entry point leaves a mark in the environment when it runs. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)instance;
  (void)reserved;
  if (reason == DLL_PROCESS_ATTACH) SetEnvironmentVariableA("TELIOX_PLANTED_CODE_RAN", "1");
  return TRUE;
}
