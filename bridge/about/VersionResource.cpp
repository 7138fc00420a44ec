#include "bridge/about/VersionResource.h"

#include <cstdio>
#include <optional>
#include <vector>

namespace bridge {
namespace {

constexpr const char* kTextNames[kVersionTextCount] = {
    "CompanyName", "FileDescription", "FileVersion", "InternalName",    "LegalCopyright", "OriginalFileName",
    "ProductName", "ProductVersion",  "Comments",    "LegalTrademarks", "PrivateBuild",   "SpecialBuild",
};

constexpr std::uint8_t kLanguageNeutral = 0x00;
constexpr std::uint8_t kLanguageEnglish = 0x09;

std::uint32_t Dword(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
  return bytes[offset] | std::uint32_t{bytes[offset + 1]} << 8 | std::uint32_t{bytes[offset + 2]} << 16 |
         std::uint32_t{bytes[offset + 3]} << 24;
}

// Each entry holds a language id in its low word and a code page in its high word. First match
// wins: the user's whole language id, then its primary language (the low byte), then a neutral
// entry, then English, then whatever comes first.
std::optional<std::uint32_t> ChooseTranslation(const std::vector<std::uint32_t>& entries, std::uint16_t userLanguage) {
  if (entries.empty()) return std::nullopt;
  const auto language = [](std::uint32_t entry) { return static_cast<std::uint16_t>(entry & 0xFFFF); };
  const auto primary = [&](std::uint32_t entry) { return static_cast<std::uint8_t>(language(entry) & 0xFF); };
  for (const auto entry : entries) {
    if (language(entry) == userLanguage) return entry;
  }
  for (const std::uint8_t wanted :
       {static_cast<std::uint8_t>(userLanguage & 0xFF), kLanguageNeutral, kLanguageEnglish}) {
    for (const auto entry : entries) {
      if (primary(entry) == wanted) return entry;
    }
  }
  return entries.front();
}

std::uint16_t Part(std::uint32_t high, std::uint32_t low, int index) {
  switch (index) {
    case 0:
      return static_cast<std::uint16_t>(low & 0xFFFF);
    case 1:
      return static_cast<std::uint16_t>(low >> 16);
    case 2:
      return static_cast<std::uint16_t>(high & 0xFFFF);
    case 3:
      return static_cast<std::uint16_t>(high >> 16);
    default:
      return 0;
  }
}

}  // namespace

const char* VersionTextName(VersionText text) { return kTextNames[static_cast<std::size_t>(text)]; }

void CVersionResource::Reset() {
  fixed_ = FixedFileInfo{};
  for (auto& text : texts_) text.clear();
}

bool CVersionResource::ReadFromModule(platform::ModuleHandle module) {
  return ReadFromFile(system_.ModuleFileName(module));
}

bool CVersionResource::ReadFromFile(const std::string& path) {
  Reset();
  const auto block = system_.Read(path);
  if (!block) return false;

  if (const auto root = block->QueryBytes("\\"); root && root->size() == kFixedFileInfoSize) {
    std::uint32_t* fields[] = {&fixed_.signature,     &fixed_.structVersion,    &fixed_.fileVersionMS,
                               &fixed_.fileVersionLS, &fixed_.productVersionMS, &fixed_.productVersionLS,
                               &fixed_.fileFlagsMask, &fixed_.fileFlags,        &fixed_.fileOS,
                               &fixed_.fileType,      &fixed_.fileSubtype,      &fixed_.fileDateMS,
                               &fixed_.fileDateLS};
    for (std::size_t i = 0; i < std::size(fields); ++i) *fields[i] = Dword(*root, 4 * i);
  }

  std::vector<std::uint32_t> entries;
  if (const auto list = block->QueryBytes("\\VarFileInfo\\Translation")) {
    for (std::size_t at = 0; at + 4 <= list->size(); at += 4) entries.push_back(Dword(*list, at));
  }
  const auto chosen = ChooseTranslation(entries, system_.UserDefaultLangId());
  if (!chosen) return true;

  char prefix[40];
  std::snprintf(prefix, sizeof prefix, "\\StringFileInfo\\%04X%04X\\", static_cast<unsigned>(*chosen & 0xFFFF),
                static_cast<unsigned>(*chosen >> 16));
  for (std::size_t i = 0; i < kVersionTextCount; ++i) {
    if (auto value = block->QueryText(std::string(prefix) + kTextNames[i])) texts_[i] = std::move(*value);
  }
  return true;
}

std::uint16_t CVersionResource::FileVersionPart(int index) const {
  return Part(fixed_.fileVersionMS, fixed_.fileVersionLS, index);
}

std::uint16_t CVersionResource::ProductVersionPart(int index) const {
  return Part(fixed_.productVersionMS, fixed_.productVersionLS, index);
}

}  // namespace bridge
