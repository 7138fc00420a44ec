// A version resource block (VS_VERSIONINFO) read from its bytes, as VerQueryValue reads it: the
// portable reader of the scenario runner and the tests.
//
// Every node is wLength (bytes, children included), wValueLength (bytes, or UTF-16 units when
// wType is 1), wType, a UTF-16 key with its terminator, padding to a 32-bit boundary, the value,
// padding, and the children, each on a 32-bit boundary. The walker trusts no length: a node that
// runs past its parent or the block, or a key without a terminator, ends the search there; a text
// value longer than its node is cut at the node's end, a binary one is not there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/VersionResource.h"

namespace bridge {

class VersionBlockReader final : public platform::VersionBlock {
 public:
  explicit VersionBlockReader(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}

  std::optional<std::vector<std::uint8_t>> QueryBytes(std::string_view subBlock) override;
  std::optional<std::string> QueryText(std::string_view subBlock) override;

 private:
  struct Node {
    std::size_t end = 0;  // one past the node's last byte
    std::size_t valueBegin = 0;
    std::size_t valueEnd = 0;
    std::size_t childrenBegin = 0;
    std::string key;  // UTF-8
  };
  std::optional<Node> NodeAt(std::size_t offset, std::size_t limit) const;
  std::optional<Node> Find(std::string_view subBlock) const;
  std::uint16_t Word(std::size_t offset) const;

  std::vector<std::uint8_t> bytes_;
};

// UTF-16 units, little-endian, up to the first terminator or the end; unpaired surrogates read as
// U+FFFD.
std::string Utf16LeToUtf8(const std::uint8_t* bytes, std::size_t count);

}  // namespace bridge
