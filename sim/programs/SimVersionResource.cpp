#include "sim/programs/SimVersionResource.h"

#include <cstddef>

#include "bridge/about/VersionBlockReader.h"

namespace sim {
namespace {

constexpr std::uint32_t kFixedSignature = 0xFEEF04BD;
constexpr std::uint32_t kFixedStructVersion = 0x00010000;
constexpr std::uint16_t kBinary = 0;
constexpr std::uint16_t kText = 1;

// UTF-8 to UTF-16 units; a malformed sequence gives U+FFFD.
std::u16string Utf16Of(const std::string& utf8) {
  std::u16string out;
  for (std::size_t i = 0; i < utf8.size();) {
    const auto lead = static_cast<unsigned char>(utf8[i]);
    const int extra = lead < 0x80 ? 0 : (lead >> 5) == 0x6 ? 1 : (lead >> 4) == 0xE ? 2 : (lead >> 3) == 0x1E ? 3 : -1;
    char32_t c = extra == 0 ? lead : extra == 1 ? lead & 0x1F : extra == 2 ? lead & 0x0F : lead & 0x07;
    bool ok = extra >= 0 && i + static_cast<std::size_t>(extra) < utf8.size();
    for (int k = 1; ok && k <= extra; ++k) {
      const auto next = static_cast<unsigned char>(utf8[i + static_cast<std::size_t>(k)]);
      ok = (next & 0xC0) == 0x80;
      c = c << 6 | (next & 0x3F);
    }
    if (!ok || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
      out += u'\uFFFD';
      ++i;
      continue;
    }
    i += static_cast<std::size_t>(extra) + 1;
    if (c >= 0x10000) {
      out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
  }
  return out;
}

class Writer {
 public:
  void Word(std::uint16_t value) {
    bytes_.push_back(static_cast<std::uint8_t>(value & 0xFF));
    bytes_.push_back(static_cast<std::uint8_t>(value >> 8));
  }
  void Dword(std::uint32_t value) {
    Word(static_cast<std::uint16_t>(value & 0xFFFF));
    Word(static_cast<std::uint16_t>(value >> 16));
  }
  void Units(const std::u16string& text) {
    for (const char16_t unit : text) Word(unit);
    Word(0);
  }
  void Align() {
    while (bytes_.size() % 4 != 0) bytes_.push_back(0);
  }
  // The header with the length left open, the key, and the padding before the value or children.
  std::size_t Open(const std::string& key, std::size_t valueLength, std::uint16_t type) {
    const std::size_t start = bytes_.size();
    Word(0);
    Word(static_cast<std::uint16_t>(valueLength));
    Word(type);
    Units(Utf16Of(key));
    return start;
  }
  void Close(std::size_t start) {
    const std::size_t length = bytes_.size() - start;
    bytes_[start] = static_cast<std::uint8_t>(length & 0xFF);
    bytes_[start + 1] = static_cast<std::uint8_t>(length >> 8 & 0xFF);
  }
  void Entry(const VersionEntry& entry) {
    Align();
    if (entry.block) {
      const std::size_t start = Open(entry.key, 0, kText);
      for (const auto& child : entry.children) Entry(child);
      Close(start);
    } else if (entry.text) {
      const std::u16string value = Utf16Of(entry.value);
      const std::size_t start = Open(entry.key, value.size() + 1, kText);
      Align();
      Units(value);
      Close(start);
    } else {
      const std::size_t start = Open(entry.key, entry.words.size() * 2, kBinary);
      Align();
      for (const std::uint16_t word : entry.words) Word(word);
      Close(start);
    }
  }
  std::vector<std::uint8_t> Take() { return std::move(bytes_); }

 private:
  std::vector<std::uint8_t> bytes_;
};

std::uint32_t High(const std::array<std::uint16_t, 4>& parts) { return std::uint32_t{parts[0]} << 16 | parts[1]; }
std::uint32_t Low(const std::array<std::uint16_t, 4>& parts) { return std::uint32_t{parts[2]} << 16 | parts[3]; }

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// File names compare as Windows compares them, without regard to case.
bool SameFile(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

}  // namespace

std::vector<std::uint8_t> CompileVersionInfo(const VersionResource& version) {
  Writer out;
  const std::size_t root = out.Open("VS_VERSION_INFO", 52, kBinary);
  out.Align();
  for (const std::uint32_t field :
       {kFixedSignature, kFixedStructVersion, High(version.fileVersion), Low(version.fileVersion),
        High(version.productVersion), Low(version.productVersion), version.fileFlagsMask, version.fileFlags,
        version.fileOS, version.fileType, version.fileSubtype, std::uint32_t{0}, std::uint32_t{0}}) {
    out.Dword(field);
  }
  for (const auto& block : version.blocks) out.Entry(block);
  out.Close(root);
  return out.Take();
}

std::string SimVersionResources::ModuleFileName(platform::ModuleHandle module) {
  return module == platform::kProgramResources ? programFile_ : std::string();
}

std::unique_ptr<platform::VersionBlock> SimVersionResources::Read(const std::string& path) {
  if (block_.empty() || !SameFile(path, programFile_)) return nullptr;
  return std::make_unique<bridge::VersionBlockReader>(block_);
}

}  // namespace sim
