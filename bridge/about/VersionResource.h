// CVersionResource: a file's version resource as the About box needs it: the fixed file
// information and the twelve version texts of the translation that suits the user's language.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/VersionResource.h"

namespace bridge {

// VS_FIXEDFILEINFO, field by field.
struct FixedFileInfo {
  std::uint32_t signature = 0;  // 0xFEEF04BD
  std::uint32_t structVersion = 0;
  std::uint32_t fileVersionMS = 0;
  std::uint32_t fileVersionLS = 0;
  std::uint32_t productVersionMS = 0;
  std::uint32_t productVersionLS = 0;
  std::uint32_t fileFlagsMask = 0;
  std::uint32_t fileFlags = 0;
  std::uint32_t fileOS = 0;
  std::uint32_t fileType = 0;
  std::uint32_t fileSubtype = 0;
  std::uint32_t fileDateMS = 0;
  std::uint32_t fileDateLS = 0;
  bool operator==(const FixedFileInfo&) const = default;
};
inline constexpr std::size_t kFixedFileInfoSize = 52;

// The version texts, in the order they are looked up.
enum class VersionText {
  CompanyName,
  FileDescription,
  FileVersion,
  InternalName,
  LegalCopyright,
  OriginalFileName,
  ProductName,
  ProductVersion,
  Comments,
  LegalTrademarks,
  PrivateBuild,
  SpecialBuild,
};
inline constexpr std::size_t kVersionTextCount = 12;
// The name each text is stored under.
const char* VersionTextName(VersionText text);

class CVersionResource {
 public:
  explicit CVersionResource(platform::VersionResources& system) : system_(system) {}

  // Zero fixed information, every text empty.
  void Reset();
  // The version resource of the file the module was loaded from; kProgramResources: the running
  // program's own file.
  bool ReadFromModule(platform::ModuleHandle module = platform::kProgramResources);
  // True when the file has a version resource. The fixed information is taken only when it is
  // exactly 52 bytes; the texts come from the translation that suits the user's language best.
  bool ReadFromFile(const std::string& path);

  // Parts 0..3 of the file version: 3 is the high word of the high half, 0 the low word of the
  // low half (file version 1,3,0,3 has part 3 = 1 and part 0 = 3). Any other index gives 0.
  std::uint16_t FileVersionPart(int index) const;
  std::uint16_t ProductVersionPart(int index) const;

  const FixedFileInfo& FixedInfo() const { return fixed_; }
  std::uint32_t Signature() const { return fixed_.signature; }
  std::uint32_t StructVersion() const { return fixed_.structVersion; }
  std::uint32_t FileFlagsMask() const { return fixed_.fileFlagsMask; }
  std::uint32_t FileFlags() const { return fixed_.fileFlags; }
  std::uint32_t FileOS() const { return fixed_.fileOS; }
  std::uint32_t FileType() const { return fixed_.fileType; }
  std::uint32_t FileSubtype() const { return fixed_.fileSubtype; }
  // The file date as a FILETIME value: 100-ns intervals since 1 January 1601.
  std::uint64_t FileDate() const { return std::uint64_t{fixed_.fileDateMS} << 32 | fixed_.fileDateLS; }

  const std::string& Text(VersionText text) const { return texts_[static_cast<std::size_t>(text)]; }
  const std::string& CompanyName() const { return Text(VersionText::CompanyName); }
  const std::string& FileDescription() const { return Text(VersionText::FileDescription); }
  const std::string& FileVersion() const { return Text(VersionText::FileVersion); }
  const std::string& InternalName() const { return Text(VersionText::InternalName); }
  const std::string& LegalCopyright() const { return Text(VersionText::LegalCopyright); }
  const std::string& OriginalFileName() const { return Text(VersionText::OriginalFileName); }
  const std::string& ProductName() const { return Text(VersionText::ProductName); }
  const std::string& ProductVersion() const { return Text(VersionText::ProductVersion); }
  const std::string& Comments() const { return Text(VersionText::Comments); }
  const std::string& LegalTrademarks() const { return Text(VersionText::LegalTrademarks); }
  const std::string& PrivateBuild() const { return Text(VersionText::PrivateBuild); }
  const std::string& SpecialBuild() const { return Text(VersionText::SpecialBuild); }

 private:
  platform::VersionResources& system_;
  FixedFileInfo fixed_;
  std::array<std::string, kVersionTextCount> texts_;
};

}  // namespace bridge
