#include "bridge/app/Settings.h"

#include <string>

namespace bridge {
namespace {

struct LanguageEntry {
  std::uint32_t number;
  const char* library;
  std::uint16_t langId;  // 0: chosen for every id not listed
};

constexpr LanguageEntry kLanguages[] = {
    {1, "T40ENG_VL.dll", 0},      {2, "T40CHT_VL.dll", 0x0404}, {3, "T40JPN_Qor.dll", 0x0411},
    {4, "T40FRA_Bex.dll", 0x040C}, {5, "T40DUT_Bex.dll", 0x0413},
};

}  // namespace

const char* SettingsPath() {
  static const std::string path = std::string(kSettingsBase) + kSettingsName;
  return path.c_str();
}

bool OpenSettings(CSettingsKey& key) { return key.Create(platform::kHkeyCurrentUser, SettingsPath()); }

std::uint32_t ReadSetting(platform::Registry& registry, const char* name, std::uint32_t defaultValue) {
  CSettingsKey key(registry);
  if (!OpenSettings(key)) return defaultValue;
  return key.ReadDword(name, defaultValue);
}

void WriteSetting(platform::Registry& registry, const char* name, std::uint32_t value) {
  CSettingsKey key(registry);
  if (OpenSettings(key)) key.WriteDword(name, value);
}

std::uint32_t LanguageForLangId(std::uint16_t langId) {
  for (const auto& entry : kLanguages) {
    if (entry.langId != 0 && entry.langId == langId) return entry.number;
  }
  return kLanguageEnglish;
}

const char* LanguageLibrary(std::uint32_t language) {
  for (const auto& entry : kLanguages) {
    if (entry.number == language) return entry.library;
  }
  return nullptr;
}

}  // namespace bridge
