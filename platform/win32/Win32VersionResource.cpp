#include "platform/win32/Win32VersionResource.h"

#include <windows.h>

#include <algorithm>
#include <new>
#include <utility>
#include <vector>

#include "platform/win32/Text.h"

namespace win32 {
namespace {

// The buffer GetFileVersionInfoW filled, queried with VerQueryValueW only: the block is opaque,
// and the documentation pairs each query form with the read of the same form.
class Win32VersionBlock final : public platform::VersionBlock {
 public:
  explicit Win32VersionBlock(std::vector<std::uint8_t> block) : block_(std::move(block)) {}

  std::optional<std::vector<std::uint8_t>> QueryBytes(std::string_view subBlock) override {
    const auto value = Query(subBlock, 1);
    if (!value) return std::nullopt;
    return std::vector<std::uint8_t>(value->first, value->first + value->second);
  }

  // The length VerQueryValueW gives for a text is in characters, its terminator included.
  std::optional<std::string> QueryText(std::string_view subBlock) override {
    const auto value = Query(subBlock, sizeof(wchar_t));
    if (!value) return std::nullopt;
    std::wstring text(reinterpret_cast<const wchar_t*>(value->first), value->second / sizeof(wchar_t));
    if (const auto end = text.find(L'\0'); end != std::wstring::npos) text.resize(end);
    return WideToUtf8(text);
  }

 private:
  // The value's first byte and its size in bytes, kept within the buffer whatever the block says.
  std::optional<std::pair<const std::uint8_t*, std::size_t>> Query(std::string_view subBlock, std::size_t unit) {
    void* value = nullptr;
    UINT length = 0;
    const std::wstring path = Utf8ToWide(subBlock);
    if (!VerQueryValueW(block_.data(), path.c_str(), &value, &length)) return std::nullopt;
    const auto* first = static_cast<const std::uint8_t*>(value);
    const std::uint8_t* begin = block_.data();
    const std::uint8_t* end = begin + block_.size();
    if (!first || first < begin || first > end) return std::make_pair(end, std::size_t{0});
    const std::size_t room = static_cast<std::size_t>(end - first) / unit;
    return std::make_pair(first, std::min<std::size_t>(length, room) * unit);
  }

  std::vector<std::uint8_t> block_;
};

}  // namespace

std::string Win32VersionResources::ModuleFileName(platform::ModuleHandle module) {
  wchar_t path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(reinterpret_cast<HMODULE>(module), path, MAX_PATH);
  // A path cut to the buffer names another file, or none.
  if (length == 0 || length >= MAX_PATH) return {};
  return WideToUtf8(std::wstring_view(path, length));
}

std::unique_ptr<platform::VersionBlock> Win32VersionResources::Read(const std::string& path) {
  const std::wstring file = Utf8ToWide(path);
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(file.c_str(), &ignored);
  if (size == 0) return nullptr;
  std::vector<std::uint8_t> block;
  try {
    block.resize(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  if (!GetFileVersionInfoW(file.c_str(), 0, size, block.data())) return nullptr;
  return std::make_unique<Win32VersionBlock>(std::move(block));
}

std::uint16_t Win32VersionResources::UserDefaultLangId() { return GetUserDefaultLangID(); }

}  // namespace win32
