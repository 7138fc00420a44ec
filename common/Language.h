// The language numbers both programs use (the bridge stores them, the manager receives them) and
// the rule that picks one from the system's language id.
#pragma once

#include <cstdint>

namespace common {

enum class Language : std::uint32_t { English = 1, TraditionalChinese = 2, Japanese = 3, French = 4, Dutch = 5 };
inline constexpr std::uint32_t kLanguageCount = 5;

// The language a system language id selects: an exact match of the whole 16-bit id, anything
// else English.
constexpr Language LanguageForLangId(std::uint16_t langId) {
  switch (langId) {
    case 0x0404:
      return Language::TraditionalChinese;
    case 0x0411:
      return Language::Japanese;
    case 0x040C:
      return Language::French;
    case 0x0413:
      return Language::Dutch;
    default:
      return Language::English;
  }
}

constexpr std::uint32_t LanguageNumber(Language language) { return static_cast<std::uint32_t>(language); }

}  // namespace common
