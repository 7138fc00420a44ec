#include "bridge/app/Settings.h"

#include <string>

namespace bridge {
namespace {

constexpr const char* kLanguageLibraries[] = {"T40ENG_VL.dll", "T40CHT_VL.dll", "T40JPN_Qor.dll", "T40FRA_Bex.dll",
                                              "T40DUT_Bex.dll"};

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

Language CurrentLanguage(platform::Registry& registry, platform::Desktop& desktop, bool writeDerived) {
  CSettingsKey key(registry);
  const bool open = OpenSettings(key);
  std::uint32_t number = open ? key.ReadDword(kValueLanguage, 0) : 0;
  if (number == 0) {
    number = common::LanguageNumber(common::LanguageForLangId(desktop.SystemDefaultLangId()));
    if (writeDerived && open) key.WriteDword(kValueLanguage, number);
  }
  return static_cast<Language>(number);
}

const char* LanguageLibrary(Language language) {
  const std::uint32_t number = common::LanguageNumber(language);
  if (number < 1 || number > common::kLanguageCount) return nullptr;
  return kLanguageLibraries[number - 1];
}

}  // namespace bridge
