#include "sim/MemoryRegistry.h"
#include "tests/unit/TestRegistries.h"

std::vector<TestRegistry> TestRegistries() {
  return {{"Memory", [] { return std::make_unique<sim::MemoryRegistry>(); },
           [](platform::Registry& registry, const std::string& path) {
             static_cast<sim::MemoryRegistry&>(registry).Remove("HKCU\\" + path);
           }}};
}

std::string ScratchKeyPath(const std::string& leaf) { return "Software\\TelioxTest\\" + leaf; }
