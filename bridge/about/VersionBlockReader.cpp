#include "bridge/about/VersionBlockReader.h"

#include <algorithm>

namespace bridge {
namespace {

constexpr std::size_t kHeaderBytes = 6;  // wLength, wValueLength, wType
constexpr std::uint16_t kTextType = 1;

// Nodes are aligned from the start of the block, which is itself 32-bit aligned.
constexpr std::size_t Align4(std::size_t offset) { return (offset + 3) & ~std::size_t{3}; }

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Keys compare as VerQueryValue compares them: without regard to case.
bool SameKey(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

}  // namespace

std::string Utf16LeToUtf8(const std::uint8_t* bytes, std::size_t count) {
  std::string out;
  const std::size_t units = count / 2;
  const auto unit = [bytes](std::size_t i) -> char32_t { return bytes[2 * i] | char32_t{bytes[2 * i + 1]} << 8; };
  for (std::size_t i = 0; i < units; ++i) {
    const char32_t c = unit(i);
    if (c == 0) break;
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units && unit(i + 1) >= 0xDC00 && unit(i + 1) <= 0xDFFF) {
      AppendUtf8(out, 0x10000 + ((c - 0xD800) << 10) + (unit(i + 1) - 0xDC00));
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      AppendUtf8(out, 0xFFFD);
    } else {
      AppendUtf8(out, c);
    }
  }
  return out;
}

std::uint16_t VersionBlockReader::Word(std::size_t offset) const {
  return static_cast<std::uint16_t>(bytes_[offset] | bytes_[offset + 1] << 8);
}

std::optional<VersionBlockReader::Node> VersionBlockReader::NodeAt(std::size_t offset, std::size_t limit) const {
  if (limit > bytes_.size() || offset > limit || limit - offset < kHeaderBytes) return std::nullopt;
  const std::size_t length = Word(offset);
  if (length < kHeaderBytes || length > limit - offset) return std::nullopt;
  Node node;
  node.end = offset + length;
  const std::size_t valueLength = Word(offset + 2);
  const bool text = Word(offset + 4) == kTextType;

  std::size_t keyEnd = offset + kHeaderBytes;
  for (;; keyEnd += 2) {
    if (node.end - keyEnd < 2) return std::nullopt;  // no terminator within the node
    if (Word(keyEnd) == 0) break;
  }
  node.key = Utf16LeToUtf8(bytes_.data() + offset + kHeaderBytes, keyEnd - offset - kHeaderBytes);
  keyEnd += 2;

  const std::size_t valueBytes = text ? valueLength * 2 : valueLength;
  node.valueBegin = std::min(Align4(keyEnd), node.end);
  if (valueBytes > node.end - node.valueBegin) {
    // Some compilers count a text's length in bytes: what the node holds is still the text.
    if (!text) return std::nullopt;
    node.valueEnd = node.end;
  } else {
    node.valueEnd = node.valueBegin + valueBytes;
  }
  node.childrenBegin = std::min(Align4(node.valueEnd), node.end);
  return node;
}

std::optional<VersionBlockReader::Node> VersionBlockReader::Find(std::string_view subBlock) const {
  auto node = NodeAt(0, bytes_.size());
  while (node) {
    while (!subBlock.empty() && subBlock.front() == '\\') subBlock.remove_prefix(1);
    if (subBlock.empty()) return node;
    const std::size_t cut = subBlock.find('\\');
    const std::string_view name = subBlock.substr(0, cut);
    subBlock.remove_prefix(cut == std::string_view::npos ? subBlock.size() : cut);

    std::optional<Node> match;
    for (std::size_t at = node->childrenBegin; at < node->end;) {
      auto child = NodeAt(at, node->end);
      if (!child) break;
      if (SameKey(child->key, name)) {
        match = std::move(child);
        break;
      }
      at = Align4(child->end);
    }
    node = std::move(match);
  }
  return std::nullopt;
}

std::optional<std::vector<std::uint8_t>> VersionBlockReader::QueryBytes(std::string_view subBlock) {
  const auto node = Find(subBlock);
  if (!node) return std::nullopt;
  return std::vector<std::uint8_t>(bytes_.begin() + static_cast<std::ptrdiff_t>(node->valueBegin),
                                   bytes_.begin() + static_cast<std::ptrdiff_t>(node->valueEnd));
}

std::optional<std::string> VersionBlockReader::QueryText(std::string_view subBlock) {
  const auto node = Find(subBlock);
  if (!node) return std::nullopt;
  return Utf16LeToUtf8(bytes_.data() + node->valueBegin, node->valueEnd - node->valueBegin);
}

}  // namespace bridge
