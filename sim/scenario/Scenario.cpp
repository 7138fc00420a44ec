#include "sim/scenario/Scenario.h"

#include <cstddef>
#include <initializer_list>
#include <limits>
#include <set>
#include <utility>

namespace sim {
namespace {

using namespace scenario;

constexpr std::string_view kChannels[] = {"hid>",  "hid<", "hidlib", "cmd", "cmd!", "api", "reg",   "lib", "tray",
                                          "mixer", "wave", "ui",     "msg", "proc", "box", "audio", "exit"};

constexpr std::string_view kFamilies[] = {"registry", "system", "process", "handset", "client", "audio", "tray"};
// The longest regex a scenario may hold, and its largest repeat count or back-reference.
constexpr std::size_t kMaxRegexLength = 1000;
constexpr std::size_t kMaxRepeatCount = 100000;

// Whether a repeat count ({n}, {n,m}) or a back-reference (\n) exceeds kMaxRepeatCount.
bool HasHugeNumber(std::string_view pattern) {
  const auto tooBig = [&](std::size_t& i) {
    std::size_t value = 0;
    for (; i < pattern.size() && pattern[i] >= '0' && pattern[i] <= '9'; ++i) {
      value = value * 10 + static_cast<std::size_t>(pattern[i] - '0');
      if (value > kMaxRepeatCount) return true;
    }
    --i;
    return false;
  };
  bool inBraces = false;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    const char c = pattern[i];
    if (c == '\\' && i + 1 < pattern.size()) {
      ++i;  // an escaped character, or the first digit of a back-reference
      if (pattern[i] >= '0' && pattern[i] <= '9' && tooBig(i)) return true;
    } else if (c == '{') {
      inBraces = true;
    } else if (c == '}') {
      inBraces = false;
    } else if (inBraces && c >= '0' && c <= '9' && tooBig(i)) {
      return true;
    }
  }
  return false;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

struct Token {
  std::string raw;
  std::optional<std::string> quoted;  // set when the token is exactly one quoted text, unescaped
};

// A backslash before anything but ", \ and n stays, so regexes (\d, \() and Windows paths read as
// written.
std::optional<std::string> Unquote(std::string_view raw) {
  if (raw.size() < 2 || raw.front() != '"') return std::nullopt;
  std::string text;
  for (std::size_t i = 1; i < raw.size(); ++i) {
    const char c = raw[i];
    if (c == '"') {
      if (i + 1 != raw.size()) return std::nullopt;
      return text;
    }
    if (c == '\\' && i + 1 < raw.size()) {
      const char next = raw[++i];
      if (next == 'n') {
        text += '\n';
      } else if (next == '"' || next == '\\') {
        text += next;
      } else {
        text += '\\';
        text += next;
      }
      continue;
    }
    text += c;
  }
  return std::nullopt;
}

struct TokenizedLine {
  std::string source;
  std::vector<Token> tokens;
  std::string error;
};

TokenizedLine Tokenize(std::string_view line) {
  TokenizedLine out;
  std::size_t end = line.size();  // where a comment starts
  std::size_t i = 0;
  while (i < line.size()) {
    if (IsBlank(line[i])) {
      ++i;
      continue;
    }
    if (line[i] == '#') {
      end = i;
      break;
    }
    std::string raw;
    bool inQuote = false;
    while (i < line.size()) {
      const char c = line[i];
      if (inQuote) {
        if (c == '\\' && i + 1 < line.size()) {
          raw += c;
          raw += line[i + 1];
          i += 2;
          continue;
        }
        if (c == '"') inQuote = false;
      } else if (IsBlank(c) || c == '#') {
        break;
      } else if (c == '"') {
        inQuote = true;
      }
      raw += c;
      ++i;
    }
    if (inQuote) {
      out.error = "unterminated quote in " + raw;
      return out;
    }
    Token token{raw, Unquote(raw)};
    out.tokens.push_back(std::move(token));
  }
  std::size_t begin = 0;
  while (begin < end && IsBlank(line[begin])) ++begin;
  while (end > begin && IsBlank(line[end - 1])) --end;
  out.source = std::string(line.substr(begin, end - begin));
  return out;
}

std::string Show(std::string_view raw) {
  if (!raw.empty() && raw.front() == '"') return std::string(raw);
  return "\"" + std::string(raw) + "\"";
}

std::optional<std::uint64_t> ParseDecimal(std::string_view text) {
  if (text.empty()) return std::nullopt;
  std::uint64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    const auto digit = static_cast<std::uint64_t>(c - '0');
    if (value > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

// Reads a directive's arguments left to right. The first failure sticks: later reads return
// defaults and the message names what went wrong first.
class Reader {
 public:
  Reader(const std::vector<Token>& tokens, std::size_t next, std::string verb)
      : tokens_(tokens), next_(next), verb_(std::move(verb)) {}

  bool Failed() const { return !error_.empty(); }
  const std::string& Error() const { return error_; }
  bool More() const { return !Failed() && next_ < tokens_.size(); }

  void Fail(const std::string& message) {
    if (error_.empty()) error_ = verb_ + ": " + message;
  }

  // Consumes the next token if it is the bare word.
  bool Accept(std::string_view word) {
    if (!More() || tokens_[next_].quoted || tokens_[next_].raw != word) return false;
    ++next_;
    return true;
  }

  const Token* Take(std::string_view what) {
    if (Failed()) return nullptr;
    if (next_ >= tokens_.size()) {
      Fail("missing " + std::string(what));
      return nullptr;
    }
    return &tokens_[next_++];
  }

  void End() {
    if (More()) Fail("unexpected " + Show(tokens_[next_].raw));
  }

  std::int64_t Number(std::string_view what, std::int64_t min, std::int64_t max) {
    const Token* token = Take(what);
    if (!token) return 0;
    const auto value = ParseNumber(token->raw);
    if (!value) {
      Fail("bad " + std::string(what) + " " + Show(token->raw));
      return 0;
    }
    if (*value < min || *value > max) {
      Fail(std::string(what) + " " + token->raw + " out of range " + std::to_string(min) + ".." + std::to_string(max));
      return 0;
    }
    return *value;
  }

  template <typename T>
  T Int(std::string_view what) {
    return static_cast<T>(Number(what, std::numeric_limits<T>::min(), std::numeric_limits<T>::max()));
  }

  std::uint64_t Duration(std::string_view what) {
    const Token* token = Take(what);
    if (!token) return 0;
    const auto value = ParseDuration(token->raw);
    if (!value) Fail("bad " + std::string(what) + " " + Show(token->raw) + " (500ms, 2s, 1.5s)");
    return value.value_or(0);
  }

  // A text in double quotes.
  std::string Text(std::string_view what) {
    const Token* token = Take(what);
    if (!token) return {};
    if (!token->quoted) {
      Fail(std::string(what) + " must be in double quotes: " + Show(token->raw));
      return {};
    }
    return *token->quoted;
  }

  std::string NonEmptyText(std::string_view what) {
    std::string text = Text(what);
    if (!Failed() && text.empty()) Fail("empty " + std::string(what));
    return text;
  }

  // A bare word, or a text in double quotes.
  std::string Word(std::string_view what) {
    const Token* token = Take(what);
    if (!token) return {};
    if (token->quoted) return *token->quoted;
    if (token->raw.find('"') != std::string::npos) Fail("bad " + std::string(what) + " " + Show(token->raw));
    return token->raw;
  }

  // Index of the bare word among `words`.
  std::size_t Choice(std::string_view what, std::initializer_list<std::string_view> words) {
    const Token* token = Take(what);
    if (!token) return kNone;
    std::size_t index = 0;
    for (const auto word : words) {
      if (!token->quoted && token->raw == word) return index;
      ++index;
    }
    std::string list;
    for (const auto word : words) list += (list.empty() ? "" : "|") + std::string(word);
    Fail("bad " + std::string(what) + " " + Show(token->raw) + " (" + list + ")");
    return kNone;
  }

  // A trailing `keyword value...` option, in any order, each at most once.
  std::size_t Option(std::initializer_list<std::string_view> keywords) {
    const Token& token = tokens_[next_];
    std::size_t index = 0;
    for (const auto keyword : keywords) {
      if (!token.quoted && token.raw == keyword) {
        ++next_;
        if (!seenOptions_.insert(token.raw).second) {
          Fail(token.raw + " given twice");
          return kNone;
        }
        return index;
      }
      ++index;
    }
    End();
    return kNone;
  }

  std::uint8_t Byte(std::string_view what) {
    const Token* token = Take(what);
    if (!token) return 0;
    std::string_view digits = token->raw;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) digits.remove_prefix(2);
    unsigned value = 0;
    bool good = !token->quoted && !digits.empty() && digits.size() <= 2;
    for (const char c : digits) {
      const int digit = HexDigit(c);
      if (digit < 0) good = false;
      value = value * 16 + static_cast<unsigned>(digit < 0 ? 0 : digit);
    }
    if (!good) Fail("bad " + std::string(what) + " " + Show(token->raw) + " (two hex digits)");
    return static_cast<std::uint8_t>(value);
  }

  // A quoted ECMAScript regex, compiled here so a bad one fails at parse time.
  std::string Regex(std::regex& regex) {
    const Token* token = Take("regex");
    if (!token) return {};
    if (!token->quoted) {
      Fail("regex must be in double quotes: " + Show(token->raw));
      return {};
    }
    // The standard library compiles a regex recursively: a pattern of some tens of thousands of
    // characters overflows the stack instead of failing. No expectation needs more than this.
    if (token->quoted->size() > kMaxRegexLength) {
      Fail("regex longer than " + std::to_string(kMaxRegexLength) + " characters: " + Show(token->raw.substr(0, 40)));
      return {};
    }
    // Nor does it check repeat counts and back-references for overflow: huge ones are refused.
    if (HasHugeNumber(*token->quoted)) {
      Fail("number above " + std::to_string(kMaxRepeatCount) + " in regex " + Show(token->raw.substr(0, 40)));
      return {};
    }
    try {
      regex = std::regex(*token->quoted, std::regex::ECMAScript);
    } catch (const std::regex_error& error) {
      Fail("bad regex " + token->raw + ": " + error.what());
    }
    return *token->quoted;
  }

  RegistryKey Key() {
    const Token* token = Take("registry key");
    if (!token) return {};
    const std::string text = token->quoted ? *token->quoted : token->raw;
    RegistryKey key;
    const auto slash = text.find('\\');
    const std::string root = text.substr(0, slash);
    if (root == "HKCU" || root == "HKEY_CURRENT_USER") {
      key.hive = Hive::kHkcu;
    } else if (root == "HKLM" || root == "HKEY_LOCAL_MACHINE") {
      key.hive = Hive::kHklm;
    } else {
      Fail("bad registry key " + Show(token->raw) + " (HKCU\\... or HKLM\\...)");
      return {};
    }
    if (slash == std::string::npos || slash + 1 == text.size()) {
      Fail("registry key " + Show(token->raw) + " has no path below its root");
      return {};
    }
    key.path = text.substr(slash + 1);
    return key;
  }

  // The next raw token, for forms the reader does not know (voicemail entries, mixer lines).
  const Token* Raw(std::string_view what) { return Take(what); }

  static constexpr std::size_t kNone = static_cast<std::size_t>(-1);

 private:
  static int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  }

  const std::vector<Token>& tokens_;
  std::size_t next_;
  std::string verb_;
  std::string error_;
  std::set<std::string> seenOptions_;
};

void ProgramPrefix(Reader& r, Directive& d) {
  if (r.Accept("manager")) {
    d.program = Program::kManager;
  } else {
    r.Accept("bridge");
  }
}

// --- world set-up

void ParseRegistrySet(Reader& r, Directive& d) {
  RegistrySet set;
  set.key = r.Key();
  set.name = r.Word("value name");
  switch (r.Choice("value type", {"dword", "sz", "binary"})) {
    case 0:
      set.type = ValueType::kDword;
      set.dword = static_cast<std::uint32_t>(
          r.Number("dword", std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::uint32_t>::max()));
      break;
    case 1:
      set.type = ValueType::kSz;
      set.text = r.Text("text");
      break;
    case 2:
      set.type = ValueType::kBinary;
      while (r.More()) set.bytes.push_back(r.Byte("byte"));
      break;
    default:
      break;
  }
  d.args = std::move(set);
}

void ParseRegistryDelete(Reader& r, Directive& d) {
  RegistryDelete del;
  del.key = r.Key();
  if (r.More()) del.name = r.Word("value name");
  d.args = std::move(del);
}

void ParseSystemLangid(Reader& r, Directive& d) { d.args = SystemLangid{r.Int<std::uint16_t>("language id")}; }

void ParseSystemVersion(Reader& r, Directive& d) {
  SystemVersion version;
  version.platformId = r.Int<std::uint32_t>("platform id");
  version.major = r.Int<std::uint32_t>("major version");
  version.minor = r.Int<std::uint32_t>("minor version");
  version.build = r.Int<std::uint32_t>("build number");
  d.args = version;
}

void ParseAbsent(Reader& r, Directive& d) { d.args = FileAvailability{r.NonEmptyText("file name"), false}; }
void ParsePresent(Reader& r, Directive& d) { d.args = FileAvailability{r.NonEmptyText("file name"), true}; }

void ParseProcessStart(Reader& r, Directive& d) {
  ProcessStart start;
  start.name = r.NonEmptyText("process name");
  while (r.More()) {
    if (r.Option({"id"}) == 0) start.id = r.Int<std::uint32_t>("process id");
  }
  d.args = std::move(start);
}

void ParseProcessEnd(Reader& r, Directive& d) { d.args = ProcessEnd{r.Int<std::uint32_t>("process id")}; }

// --- handset

void ParseHandsetPlug(Reader& r, Directive& d) {
  HandsetPlug plug;
  plug.productId = r.Int<std::uint16_t>("product id");
  while (r.More()) {
    if (r.Option({"firmware"}) == 0) {
      Firmware firmware;
      firmware.major = r.Int<std::uint8_t>("firmware major");
      firmware.minor = r.Int<std::uint8_t>("firmware minor");
      plug.firmware = firmware;
    }
  }
  d.args = plug;
}

void ParseHandsetUnplug(Reader&, Directive& d) { d.args = HandsetUnplug{}; }
void ParseHandsetDropAcks(Reader& r, Directive& d) { d.args = HandsetDropAcks{r.Int<std::uint32_t>("count")}; }
void ParseHandsetAckDelay(Reader& r, Directive& d) { d.args = HandsetAckDelay{r.Duration("delay")}; }

void ParseHandsetVersionReply(Reader& r, Directive& d) {
  constexpr VersionReply kModes[] = {VersionReply::kNormal, VersionReply::kSilent, VersionReply::kAck};
  const auto index = r.Choice("reply", {"normal", "silent", "ack"});
  if (index != Reader::kNone) d.args = HandsetVersionReply{kModes[index]};
}

void ParseHandsetKey(Reader& r, Directive& d) { d.args = HandsetKey{r.Int<std::uint8_t>("key code")}; }

void ParseHandsetReport(Reader& r, Directive& d) {
  HandsetReport report;
  for (auto& byte : report.bytes) byte = r.Byte("report byte");
  d.args = report;
}

void ParseHandsetRepeat(Reader&, Directive& d) { d.args = HandsetRepeat{}; }

// --- client

void ParseClientStart(Reader&, Directive& d) { d.args = ClientAttach{Attach::kStart}; }
void ParseClientStop(Reader&, Directive& d) { d.args = ClientAttach{Attach::kStop}; }
void ParseClientRefuse(Reader&, Directive& d) { d.args = ClientAttach{Attach::kRefuse}; }
void ParseClientPending(Reader&, Directive& d) { d.args = ClientAttach{Attach::kPending}; }

void ParseClientWindow(Reader& r, Directive& d) {
  constexpr WindowState kStates[] = {WindowState::kForeground, WindowState::kBackground, WindowState::kHidden,
                                     WindowState::kAbsent};
  const auto index = r.Choice("window state", {"foreground", "background", "hidden", "absent"});
  if (index != Reader::kNone) d.args = ClientWindow{kStates[index]};
}

void ParseClientCall(Reader& r, Directive& d) {
  // The status lives in a 20-byte field of the call record, terminator included.
  constexpr std::size_t kMaxStatus = 19;
  ClientCall call;
  call.id = r.Int<std::int32_t>("call id");
  call.status = r.Word("call status");
  if (!r.Failed() && (call.status.empty() || call.status.size() > kMaxStatus)) {
    r.Fail("call status " + Show(call.status) + " must have 1 to 19 characters");
  }
  while (r.More()) {
    switch (r.Option({"conference", "partner", "kind"})) {
      case 0:
        call.conference = r.Int<std::int32_t>("conference");
        break;
      case 1:
        call.partner = r.Text("partner");
        break;
      case 2:
        call.kind = r.Int<std::int32_t>("kind");
        break;
      default:
        break;
    }
  }
  d.args = std::move(call);
}

void ParseClientStatus(Reader& r, Directive& d) { d.args = ClientStatus{r.Text("status text")}; }
void ParseClientRecent(Reader& r, Directive& d) { d.args = ClientRecent{r.Text("handle")}; }

void ParseClientMessageWindow(Reader& r, Directive& d) {
  if (r.Choice("state", {"open"}) == 0) d.args = ClientMessageWindow{};
}

void ParseClientHoldReplies(Reader& r, Directive& d) {
  const auto index = r.Choice("state", {"on", "off"});
  if (index != Reader::kNone) d.args = ClientHoldReplies{index == 0};
}

// <id>:<timestamp>:<status>:"<partner>"
std::optional<Voicemail> ParseVoicemail(const std::string& raw) {
  constexpr std::size_t kMaxPartner = 255;  // 256-byte field, terminator included
  std::int32_t numbers[3] = {};
  std::size_t begin = 0;
  for (auto& number : numbers) {
    const auto colon = raw.find(':', begin);
    if (colon == std::string::npos) return std::nullopt;
    const auto value = ParseNumber(std::string_view(raw).substr(begin, colon - begin));
    if (!value || *value < std::numeric_limits<std::int32_t>::min() ||
        *value > std::numeric_limits<std::int32_t>::max()) {
      return std::nullopt;
    }
    number = static_cast<std::int32_t>(*value);
    begin = colon + 1;
  }
  auto partner = Unquote(std::string_view(raw).substr(begin));
  if (!partner || partner->size() > kMaxPartner) return std::nullopt;
  return Voicemail{numbers[0], numbers[1], numbers[2], std::move(*partner)};
}

void ParseClientVoicemails(Reader& r, Directive& d) {
  ClientVoicemails list;
  while (r.More()) {
    if (r.Accept("count")) {
      if (list.count) r.Fail("count given twice");
      list.count = r.Int<std::int32_t>("count");
      continue;
    }
    const Token* token = r.Raw("voicemail");
    if (!token) break;
    auto voicemail = ParseVoicemail(token->raw);
    if (!voicemail) {
      r.Fail("bad voicemail " + Show(token->raw) + " (<id>:<timestamp>:<status>:\"<partner>\")");
      break;
    }
    list.entries.push_back(std::move(*voicemail));
  }
  d.args = std::move(list);
}

void ParseClientVoicemailStatus(Reader& r, Directive& d) {
  ClientVoicemailStatus status;
  status.id = r.Int<std::int32_t>("voicemail id");
  status.status = r.Int<std::int32_t>("status");
  d.args = status;
}

// --- audio world

void ParseAudioHandset(Reader& r, Directive& d) {
  AudioHandset handset;
  handset.name = r.NonEmptyText("device name");
  while (r.More()) {
    if (r.Option({"product"}) == 0) handset.productId = r.Int<std::uint16_t>("product id");
  }
  d.args = std::move(handset);
}

void ParseAudioDevice(Reader& r, Directive& d, DeviceChange change) {
  // A device may be nameless (or named " ") while the system is still setting it up.
  d.args = AudioDevice{change, change == DeviceChange::kRemove ? r.NonEmptyText("device name") : r.Text("device name")};
}
void ParseAudioPlayback(Reader& r, Directive& d) { ParseAudioDevice(r, d, DeviceChange::kPlayback); }
void ParseAudioRecording(Reader& r, Directive& d) { ParseAudioDevice(r, d, DeviceChange::kRecording); }
void ParseAudioRemove(Reader& r, Directive& d) { ParseAudioDevice(r, d, DeviceChange::kRemove); }

// dst<d> or dst<d>.src<s>
std::optional<MixerLine> ParseMixerLine(std::string_view text) {
  constexpr std::uint64_t kMax = std::numeric_limits<std::uint32_t>::max();
  if (text.substr(0, 3) != "dst") return std::nullopt;
  text.remove_prefix(3);
  const auto dot = text.find('.');
  const auto destination = ParseDecimal(text.substr(0, dot));
  if (!destination || *destination > kMax) return std::nullopt;
  MixerLine line{static_cast<std::uint32_t>(*destination), std::nullopt};
  if (dot == std::string_view::npos) return line;
  const std::string_view rest = text.substr(dot + 1);
  if (rest.substr(0, 3) != "src") return std::nullopt;
  const auto source = ParseDecimal(rest.substr(3));
  if (!source || *source > kMax) return std::nullopt;
  line.source = static_cast<std::uint32_t>(*source);
  return line;
}

void ParseAudioControl(Reader& r, Directive& d) {
  constexpr auto kMin = std::numeric_limits<std::int64_t>::min();
  constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
  AudioControl control;
  control.mixer = r.NonEmptyText("mixer name");
  if (const Token* token = r.Raw("mixer line")) {
    const auto line = token->quoted ? std::nullopt : ParseMixerLine(token->raw);
    if (line) {
      control.line = *line;
    } else {
      r.Fail("bad mixer line " + Show(token->raw) + " (dst<d> or dst<d>.src<s>)");
    }
  }
  control.control = r.Choice("control", {"volume", "mute"}) == 1 ? MixerControl::kMute : MixerControl::kVolume;
  while (r.More()) {
    switch (r.Option({"range", "value"})) {
      case 0: {
        Range range;
        range.min = r.Number("range minimum", kMin, kMax);
        range.max = r.Number("range maximum", kMin, kMax);
        if (!r.Failed() && range.min > range.max) r.Fail("range minimum above its maximum");
        control.range = range;
        break;
      }
      case 1:
        control.value = r.Number("value", kMin, kMax);
        break;
      default:
        break;
    }
  }
  d.args = std::move(control);
}

void ParseAudioDefault(Reader& r, Directive& d) {
  AudioDefault defaults;
  defaults.recording = r.NonEmptyText("recording device");
  defaults.playback = r.NonEmptyText("playback device");
  d.args = std::move(defaults);
}

void ParseAudioFail(Reader& r, Directive& d) {
  AudioFail fail;
  fail.call = r.Choice("call", {"get-default", "set-default"}) == 1 ? DefaultCall::kSet : DefaultCall::kGet;
  fail.count = r.Int<std::uint32_t>("count");
  d.args = fail;
}

// --- programs and the user

void ParseStart(Reader& r, Directive& d) {
  ProgramPrefix(r, d);
  d.args = Start{};
}

void ParseCommand(Reader& r, Directive& d) {
  ProgramPrefix(r, d);
  d.args = Command{r.Int<std::uint16_t>("command id")};
}

void ParseMessage(Reader& r, Directive& d) {
  constexpr auto kMin = std::numeric_limits<std::int64_t>::min();
  constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
  ProgramPrefix(r, d);
  Message message;
  // A quoted text is a registered message name, anything else a number.
  if (const Token* token = r.Raw("message")) {
    if (token->quoted) {
      if (token->quoted->empty()) r.Fail("empty registered message name");
      message.registeredName = *token->quoted;
    } else {
      const auto value = ParseNumber(token->raw);
      if (!value || *value < 0 || *value > std::numeric_limits<std::uint32_t>::max()) {
        r.Fail("bad message " + Show(token->raw) + " (a number or a \"registered name\")");
      } else {
        message.msg = static_cast<std::uint32_t>(*value);
      }
    }
  }
  message.wParam = r.Number("wParam", kMin, kMax);
  message.lParam = r.Number("lParam", kMin, kMax);
  d.args = std::move(message);
}

void ParseCopyData(Reader& r, Directive& d) {
  ProgramPrefix(r, d);
  CopyData copy;
  copy.wParam = r.Number("wParam", std::numeric_limits<std::int64_t>::min(), std::numeric_limits<std::int64_t>::max());
  copy.text = r.Text("text");
  while (r.More()) {
    if (r.Option({"bytes"}) == 0) copy.bytes = r.Int<std::uint32_t>("byte count");
  }
  d.args = std::move(copy);
}

void ParseTrayClick(Reader& r, Directive& d) {
  constexpr Click kClicks[] = {Click::kLeft, Click::kRight, Click::kContext};
  const auto index = r.Choice("button", {"left", "right", "context"});
  if (index != Reader::kNone) d.args = TrayClick{kClicks[index]};
}

void ParseTrayRestart(Reader&, Directive& d) { d.args = TrayRestart{}; }
void ParseTrayRefuseAdds(Reader& r, Directive& d) { d.args = TrayRefuseAdds{r.Int<std::uint32_t>("count")}; }

Action ParseAction(Reader& r) {
  constexpr ActionKind kKinds[] = {ActionKind::kOk,    ActionKind::kCancel,  ActionKind::kYes,    ActionKind::kNo,
                                   ActionKind::kClose, ActionKind::kEnter,   ActionKind::kEscape, ActionKind::kClick,
                                   ActionKind::kCheck, ActionKind::kUncheck, ActionKind::kSelect, ActionKind::kSlider,
                                   ActionKind::kMenu};
  Action action;
  const auto index = r.Choice("action", {"ok", "cancel", "yes", "no", "close", "enter", "escape", "click", "check",
                                         "uncheck", "select", "slider", "menu"});
  if (index == Reader::kNone) return action;
  action.kind = kKinds[index];
  switch (action.kind) {
    case ActionKind::kClick:
    case ActionKind::kCheck:
    case ActionKind::kUncheck:
      action.id = r.Int<std::uint16_t>("control id");
      break;
    case ActionKind::kSelect:
      action.id = r.Int<std::uint16_t>("control id");
      action.value = r.Int<std::int32_t>("index");
      break;
    case ActionKind::kSlider:
      action.id = r.Int<std::uint16_t>("control id");
      action.value = r.Int<std::int32_t>("position");
      while (r.More()) {
        if (r.Option({"code"}) == 0) action.code = r.Int<std::int32_t>("code");
      }
      break;
    case ActionKind::kMenu:
      action.id = r.Int<std::uint16_t>("command id");
      break;
    default:
      break;
  }
  return action;
}

void ParseAnswer(Reader& r, Directive& d) { d.args = Answer{ParseAction(r)}; }

void ParseAct(Reader& r, Directive& d) {
  ProgramPrefix(r, d);
  Act act;
  act.window = r.Int<std::uint16_t>("window id");
  act.action = ParseAction(r);
  d.args = act;
}

void ParseDeactivate(Reader& r, Directive& d) {
  ProgramPrefix(r, d);
  d.args = Deactivate{r.Int<std::uint16_t>("window id")};
}

void ParseSnapshot(Reader& r, Directive& d) {
  ProgramPrefix(r, d);
  Snapshot snapshot;
  if (!r.Accept("menu")) snapshot.window = r.Int<std::uint16_t>("window id");
  d.args = snapshot;
}

// --- time and expectations

void ParseWait(Reader& r, Directive& d) { d.args = Wait{r.Duration("duration")}; }
void ParseAt(Reader& r, Directive& d) { d.args = At{r.Duration("time")}; }
void ParseMark(Reader&, Directive& d) { d.args = Mark{}; }

void ParseWindow(Reader& r, Expect& expect, std::string_view keyword) {
  while (r.More()) {
    if (r.Option({keyword}) == 0) expect.windowMs = r.Duration("duration");
  }
}

void ParseExpect(Reader& r, Directive& d) {
  Expect expect;
  expect.kind = ExpectKind::kExpect;
  expect.windowMs = 10;
  expect.pattern = r.Regex(expect.regex);
  ParseWindow(r, expect, "within");
  d.args = std::move(expect);
}

void ParseExpectNext(Reader& r, Directive& d) {
  Expect expect;
  expect.kind = ExpectKind::kNext;
  expect.windowMs = 10;
  if (const Token* token = r.Raw("channel")) {
    if (token->quoted || !IsTranscriptChannel(token->raw)) r.Fail("unknown channel " + Show(token->raw));
    expect.channel = token->raw;
  }
  expect.pattern = r.Regex(expect.regex);
  ParseWindow(r, expect, "within");
  d.args = std::move(expect);
}

void ParseExpectCount(Reader& r, Directive& d) {
  Expect expect;
  expect.kind = ExpectKind::kCount;
  expect.count = r.Int<std::uint32_t>("count");
  expect.pattern = r.Regex(expect.regex);
  ParseWindow(r, expect, "within");
  d.args = std::move(expect);
}

void ParseExpectNot(Reader& r, Directive& d) {
  Expect expect;
  expect.kind = ExpectKind::kNot;
  expect.pattern = r.Regex(expect.regex);
  ParseWindow(r, expect, "for");
  d.args = std::move(expect);
}

using ParseFn = void (*)(Reader&, Directive&);

constexpr std::pair<std::string_view, ParseFn> kVerbs[] = {
    {"registry set", ParseRegistrySet},
    {"registry delete", ParseRegistryDelete},
    {"system langid", ParseSystemLangid},
    {"system version", ParseSystemVersion},
    {"absent", ParseAbsent},
    {"present", ParsePresent},
    {"process start", ParseProcessStart},
    {"process end", ParseProcessEnd},
    {"handset plug", ParseHandsetPlug},
    {"handset unplug", ParseHandsetUnplug},
    {"handset drop-acks", ParseHandsetDropAcks},
    {"handset ack-delay", ParseHandsetAckDelay},
    {"handset version-reply", ParseHandsetVersionReply},
    {"handset key", ParseHandsetKey},
    {"handset report", ParseHandsetReport},
    {"handset repeat", ParseHandsetRepeat},
    {"client start", ParseClientStart},
    {"client stop", ParseClientStop},
    {"client refuse", ParseClientRefuse},
    {"client pending", ParseClientPending},
    {"client window", ParseClientWindow},
    {"client call", ParseClientCall},
    {"client status", ParseClientStatus},
    {"client recent", ParseClientRecent},
    {"client message-window", ParseClientMessageWindow},
    {"client hold-replies", ParseClientHoldReplies},
    {"client voicemails", ParseClientVoicemails},
    {"client voicemail-status", ParseClientVoicemailStatus},
    {"audio handset", ParseAudioHandset},
    {"audio playback", ParseAudioPlayback},
    {"audio recording", ParseAudioRecording},
    {"audio remove", ParseAudioRemove},
    {"audio control", ParseAudioControl},
    {"audio default", ParseAudioDefault},
    {"audio fail", ParseAudioFail},
    {"start", ParseStart},
    {"command", ParseCommand},
    {"message", ParseMessage},
    {"copydata", ParseCopyData},
    {"tray click", ParseTrayClick},
    {"tray restart", ParseTrayRestart},
    {"tray refuse-adds", ParseTrayRefuseAdds},
    {"answer", ParseAnswer},
    {"act", ParseAct},
    {"deactivate", ParseDeactivate},
    {"snapshot", ParseSnapshot},
    {"wait", ParseWait},
    {"at", ParseAt},
    {"mark", ParseMark},
    {"expect", ParseExpect},
    {"expect-next", ParseExpectNext},
    {"expect-count", ParseExpectCount},
    {"expect-not", ParseExpectNot},
};

ParseFn FindVerb(std::string_view verb) {
  for (const auto& [name, parse] : kVerbs) {
    if (name == verb) return parse;
  }
  return nullptr;
}

// Parses one non-empty line; returns an error message, or an empty string.
std::string ParseDirective(const TokenizedLine& line, Directive& d) {
  const auto& tokens = line.tokens;
  if (tokens[0].quoted) return "unknown directive " + Show(tokens[0].raw);
  std::size_t used = 0;
  ParseFn parse = nullptr;
  if (tokens.size() >= 2 && !tokens[1].quoted) {
    d.verb = tokens[0].raw + " " + tokens[1].raw;
    parse = FindVerb(d.verb);
    used = 2;
  }
  if (!parse) {
    d.verb = tokens[0].raw;
    parse = FindVerb(d.verb);
    used = 1;
  }
  if (!parse) {
    for (const auto family : kFamilies) {
      if (family == tokens[0].raw && tokens.size() >= 2) {
        return "unknown directive " + Show(tokens[0].raw + " " + tokens[1].raw);
      }
    }
    return "unknown directive " + Show(tokens[0].raw);
  }
  Reader reader(tokens, used, d.verb);
  parse(reader, d);
  reader.End();
  return reader.Error();
}

}  // namespace

std::string ParseError::ToString() const { return "line " + std::to_string(line) + ": " + message; }

ParseResult ParseScenario(std::string_view text) {
  constexpr std::string_view kBom = "\xEF\xBB\xBF";  // editors on Windows like to add one
  if (text.substr(0, kBom.size()) == kBom) text.remove_prefix(kBom.size());
  ParseResult result;
  int number = 0;
  while (!text.empty()) {
    const auto newline = text.find('\n');
    const std::string_view line = text.substr(0, newline);
    text = newline == std::string_view::npos ? std::string_view() : text.substr(newline + 1);
    ++number;
    const TokenizedLine tokenized = Tokenize(line);
    std::string error = tokenized.error;
    if (error.empty() && tokenized.tokens.empty()) continue;
    Directive directive;
    directive.line = number;
    directive.source = tokenized.source;
    if (error.empty()) error = ParseDirective(tokenized, directive);
    if (!error.empty()) {
      result.directives.clear();
      result.error = ParseError{number, std::move(error)};
      return result;
    }
    result.directives.push_back(std::move(directive));
  }
  return result;
}

std::optional<std::int64_t> ParseNumber(std::string_view text) {
  const bool negative = !text.empty() && text.front() == '-';
  if (negative) text.remove_prefix(1);
  std::uint64_t magnitude = 0;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    if (text.size() > 16) return std::nullopt;
    for (const char c : text) {
      int digit = -1;
      if (c >= '0' && c <= '9') digit = c - '0';
      if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
      if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
      if (digit < 0) return std::nullopt;
      magnitude = magnitude * 16 + static_cast<std::uint64_t>(digit);
    }
    if (!negative) return static_cast<std::int64_t>(magnitude);  // a bit pattern: 0xFFFFFFFFFFFFFFFF is -1
  } else {
    const auto value = ParseDecimal(text);
    if (!value) return std::nullopt;
    magnitude = *value;
    if (!negative && magnitude > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
      return std::nullopt;
    }
  }
  if (!negative) return static_cast<std::int64_t>(magnitude);
  constexpr std::uint64_t kMinMagnitude = std::uint64_t{1} << 63;
  if (magnitude > kMinMagnitude) return std::nullopt;
  return magnitude == kMinMagnitude ? std::numeric_limits<std::int64_t>::min() : -static_cast<std::int64_t>(magnitude);
}

std::optional<std::uint64_t> ParseDuration(std::string_view text) {
  // Up to about 31 years: enough for any scenario, far from overflow.
  constexpr std::uint64_t kMaxMs = std::uint64_t{1} << 40;
  std::uint64_t scale;
  if (text.size() > 2 && text.substr(text.size() - 2) == "ms") {
    scale = 1;
    text.remove_suffix(2);
  } else if (text.size() > 1 && text.back() == 's') {
    scale = 1000;
    text.remove_suffix(1);
  } else {
    return std::nullopt;
  }
  const auto dot = text.find('.');
  const auto whole = ParseDecimal(text.substr(0, dot));
  if (!whole || *whole > kMaxMs) return std::nullopt;
  std::uint64_t ms = *whole * scale;
  if (dot != std::string_view::npos) {
    const std::string_view fraction = text.substr(dot + 1);
    if (!ParseDecimal(fraction)) return std::nullopt;
    // Digits below a millisecond must be zero.
    std::uint64_t unit = scale;
    for (const char c : fraction) {
      const auto digit = static_cast<std::uint64_t>(c - '0');
      if (unit % 10 != 0) {
        if (digit != 0) return std::nullopt;
        continue;
      }
      unit /= 10;
      ms += digit * unit;
    }
  }
  if (ms > kMaxMs) return std::nullopt;
  return ms;
}

bool IsTranscriptChannel(std::string_view channel) {
  for (const auto known : kChannels) {
    if (known == channel) return true;
  }
  return false;
}

}  // namespace sim
