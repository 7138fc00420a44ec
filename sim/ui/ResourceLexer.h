// The resource scripts' tokens, and the names the system headers would give the resource
// compiler (styles, ids, languages, version flags, window classes). Internal to ResourceScript.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sim::rc {

// A script refused: where and why. A line below 0 means the message names its own place.
struct Failure {
  int line;
  std::string message;
};

enum class Tok { kIdent, kNumber, kString, kPunct, kDirective, kEnd };

struct Token {
  Tok type = Tok::kEnd;
  int line = 0;
  std::string text;  // identifier, decoded string, punctuation, or the directive line after '#'
  std::int64_t number = 0;
};

// Splits a script into tokens; `#` lines become one directive token each. Throws Failure.
std::vector<Token> Tokenize(std::string_view text);

// Decimal or 0x hex with an optional L/U suffix, at most 32 bits; `at` is left after the number.
bool ScanNumber(std::string_view text, std::size_t& at, std::int64_t& value);

bool IsIdentStart(char c);
bool IsIdentChar(char c);
std::string Upper(std::string_view text);

// A name of the system headers, e.g. "WS_VISIBLE", "IDOK", "LANG_ENGLISH".
std::optional<std::int64_t> BuiltinName(std::string_view name);
// The class a CONTROL statement names by keyword or macro ("BUTTON", "TRACKBAR_CLASS"), given in
// upper case; null when it is none of them.
const char* ClassAlias(std::string_view upperName);

}  // namespace sim::rc
