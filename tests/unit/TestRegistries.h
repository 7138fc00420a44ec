// The registries the registry tests run against: the in-memory hive everywhere, and under Wine
// also the real registry, so both answer the same expectations.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/Registry.h"

struct TestRegistry {
  std::string name;
  std::function<std::unique_ptr<platform::Registry>()> make;
  // Removes the scratch key (and everything below it) that a test used under HKCU.
  std::function<void(platform::Registry&, const std::string&)> removeTree;
};

std::vector<TestRegistry> TestRegistries();

// A scratch key path under HKCU unique to this test process.
std::string ScratchKeyPath(const std::string& leaf);
