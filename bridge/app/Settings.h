// Where the bridge keeps its settings, and the language numbers both programs share.
#pragma once

#include <cstdint>

#include "common/SettingsKey.h"
#include "platform/Registry.h"

namespace bridge {

// HKEY_CURRENT_USER, "SOFTWARE\VORLANE\TELIOX\" + "Teliox".
inline constexpr char kSettingsBase[] = "SOFTWARE\\VORLANE\\TELIOX\\";
inline constexpr char kSettingsName[] = "Teliox";
inline constexpr char kValueLanguage[] = "LANGUAGE";
inline constexpr char kValueRingMode[] = "RINGMODE";
inline constexpr char kValueRingType[] = "RINGTYPE";
inline constexpr char kValueKeyTone[] = "KEYTONE";

// The full settings key path.
const char* SettingsPath();

// Opens (creating it if needed) the settings key into `key`.
bool OpenSettings(CSettingsKey& key);

// Reads one DWORD setting, or `defaultValue` when the key or value is missing or mistyped.
std::uint32_t ReadSetting(platform::Registry& registry, const char* name, std::uint32_t defaultValue);
// Writes one DWORD setting; silently skipped when the key cannot be opened.
void WriteSetting(platform::Registry& registry, const char* name, std::uint32_t value);

// Language numbers: 1 English, 2 Traditional Chinese (built in), 3 Japanese, 4 French, 5 Dutch.
inline constexpr std::uint32_t kLanguageEnglish = 1;
inline constexpr std::uint32_t kLanguageChinese = 2;
inline constexpr std::uint32_t kLanguageCount = 5;

// The language a system language id selects (exact match of the whole id; anything else English).
std::uint32_t LanguageForLangId(std::uint16_t langId);
// The resource library of language 1..5, or null for any other number.
const char* LanguageLibrary(std::uint32_t language);

}  // namespace bridge
