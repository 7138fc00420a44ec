// Where the bridge keeps its settings, and its language libraries.
#pragma once

#include <cstdint>

#include "common/Language.h"
#include "common/SettingsKey.h"
#include "platform/Desktop.h"
#include "platform/Registry.h"

namespace bridge {

using common::Language;

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

// "LANGUAGE"; when it is 0 (missing or mistyped too) the language the system's language id
// selects, written back when `writeDerived` and the key can be opened. A number outside 1..5
// written by hand is returned as it is.
Language CurrentLanguage(platform::Registry& registry, platform::Desktop& desktop, bool writeDerived);

// The resource library of language 1..5, or null for any other number.
const char* LanguageLibrary(Language language);

}  // namespace bridge
