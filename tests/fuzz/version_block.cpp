// Version resource blocks of any bytes through the portable VS_VERSIONINFO reader, asked for
// the values the About box reads and for paths made of the input itself.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "bridge/about/VersionBlockReader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::uint8_t> bytes(data, data + size);
  bridge::VersionBlockReader reader(bytes);
  for (const char* path : {"\\", "\\VarFileInfo\\Translation", "\\StringFileInfo\\040904B0\\FileVersion",
                           "\\StringFileInfo\\040404B0\\ProductName", "\\StringFileInfo", ""}) {
    reader.QueryBytes(path);
    reader.QueryText(path);
  }
  // A path spelled by the input's first bytes, separators included.
  const std::string path(reinterpret_cast<const char*>(data), size < 64 ? size : 64);
  reader.QueryBytes(path);
  reader.QueryText(path);
  bridge::Utf16LeToUtf8(data, size);
  return 0;
}
