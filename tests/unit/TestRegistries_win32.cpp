#include <windows.h>

#include "platform/win32/Win32Registry.h"
#include "sim/MemoryRegistry.h"
#include "tests/unit/TestRegistries.h"

std::vector<TestRegistry> TestRegistries() {
  return {{"Memory", [] { return std::make_unique<sim::MemoryRegistry>(); },
           [](platform::Registry& registry, const std::string& path) {
             static_cast<sim::MemoryRegistry&>(registry).Remove("HKCU\\" + path);
           }},
          {"Wine", [] { return std::make_unique<win32::Win32Registry>(); },
           [](platform::Registry&, const std::string& path) {
             RegDeleteTreeA(HKEY_CURRENT_USER, path.c_str());
             // The per-process parent keys go too once empty (deleting a key with sub-keys fails).
             std::string parent = path;
             for (int level = 0; level < 2; ++level) {
               parent = parent.substr(0, parent.rfind('\\'));
               RegDeleteKeyA(HKEY_CURRENT_USER, parent.c_str());
             }
           }}};
}

std::string ScratchKeyPath(const std::string& leaf) {
  return "Software\\TelioxTest\\" + std::to_string(GetCurrentProcessId()) + "\\" + leaf;
}
