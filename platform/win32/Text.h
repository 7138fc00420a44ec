// UTF-8 inside, UTF-16 at the wide Win32 calls: the conversions every shell file uses.
#pragma once

#include <string>
#include <string_view>

namespace win32 {

// Malformed input is not an error: bad UTF-8 sequences and lone surrogates become U+FFFD.
std::wstring Utf8ToWide(std::string_view utf8);
std::string WideToUtf8(std::wstring_view wide);

}  // namespace win32
