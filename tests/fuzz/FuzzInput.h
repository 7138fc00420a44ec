// What the fuzz targets share for reading their input: CHECK, which stops the run at once when a
// condition fails (libFuzzer then keeps the input), and Input, which takes bytes and little-endian
// numbers from the front of the data, reading zeros once it has run out.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#define CHECK(condition)                \
  do {                                  \
    if (!(condition)) __builtin_trap(); \
  } while (0)

namespace fuzz {

class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool Empty() const { return at_ >= size_; }
  std::uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
  std::uint32_t U16() { return Byte() | static_cast<std::uint32_t>(Byte()) << 8; }
  std::uint32_t U32() { return U16() | U16() << 16; }
  // Up to n bytes, fewer when the input ends first.
  std::vector<std::uint8_t> Bytes(std::size_t n) {
    n = std::min(n, size_ - std::min(at_, size_));
    std::vector<std::uint8_t> bytes(data_ + at_, data_ + at_ + n);
    at_ += n;
    return bytes;
  }
  // Up to n bytes as text, cut at the first zero byte.
  std::string Text(std::size_t n) {
    const auto bytes = Bytes(n);
    const auto end = std::find(bytes.begin(), bytes.end(), std::uint8_t{0});
    return std::string(bytes.begin(), end);
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

}  // namespace fuzz
