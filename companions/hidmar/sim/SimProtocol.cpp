#include "companions/hidmar/sim/SimProtocol.h"

#include <charconv>
#include <cstdio>

#include "sim/Transcript.h"

namespace hidmar_sim {

namespace {

using sim::HandsetModel;
using Ringer = HandsetModel::Ringer;
using VersionReply = HandsetModel::VersionReply;

std::vector<std::string_view> Words(std::string_view line) {
  std::vector<std::string_view> words;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
    const std::size_t start = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') ++i;
    if (i > start) words.push_back(line.substr(start, i - start));
  }
  return words;
}

std::optional<std::uint32_t> ParseDigits(std::string_view text, int base) {
  if (text.empty()) return std::nullopt;
  std::uint32_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::optional<std::uint8_t> ParseByte(std::string_view text) {
  const auto value = ParseNumber(text);
  if (!value || *value > 0xFF) return std::nullopt;
  return static_cast<std::uint8_t>(*value);
}

std::optional<std::uint8_t> ParseHexByte(std::string_view text) {
  if (text.size() > 2 && (text.substr(0, 2) == "0x" || text.substr(0, 2) == "0X")) text.remove_prefix(2);
  if (text.size() > 2) return std::nullopt;
  const auto value = ParseDigits(text, 16);
  if (!value) return std::nullopt;
  return static_cast<std::uint8_t>(*value);
}

bool Fail(std::string* error, std::string text) {
  if (error) *error = std::move(text);
  return false;
}

// Hexadecimal with or without 0x.
std::optional<std::uint32_t> ParseHex(std::string_view text) {
  if (text.size() > 2 && (text.substr(0, 2) == "0x" || text.substr(0, 2) == "0X")) text.remove_prefix(2);
  return ParseDigits(text, 16);
}

constexpr const char* kRingerNames[] = {"quiet", "ringing", "silent"};
constexpr const char* kVersionReplyNames[] = {"normal", "silent", "ack"};

const char* RingerName(Ringer ringer) { return kRingerNames[static_cast<int>(ringer)]; }
const char* VersionReplyName(VersionReply reply) { return kVersionReplyNames[static_cast<int>(reply)]; }

std::optional<VersionReply> ParseVersionReply(std::string_view text) {
  for (int i = 0; i < 3; ++i) {
    if (text == kVersionReplyNames[i]) return static_cast<VersionReply>(i);
  }
  return std::nullopt;
}

std::string Hex(std::uint32_t value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "%0*X", digits, static_cast<unsigned>(value));
  return text;
}

std::optional<std::uint64_t> ParseTime(std::string_view text) {
  std::uint64_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// Everything after the first `count` words of `line`, leading blanks removed.
std::string_view After(std::string_view line, std::size_t count) {
  std::size_t i = 0;
  for (std::size_t word = 0; word < count; ++word) {
    while (i < line.size() && line[i] == ' ') ++i;
    while (i < line.size() && line[i] != ' ') ++i;
  }
  while (i < line.size() && line[i] == ' ') ++i;
  return line.substr(i);
}

bool StartsWith(const std::vector<std::uint8_t>& bytes, const std::vector<std::uint8_t>& prefix) {
  return bytes.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), bytes.begin());
}

}  // namespace

// --- numbers ----------------------------------------------------------------------------------

std::optional<std::uint32_t> ParseNumber(std::string_view text) {
  if (text.size() > 2 && (text.substr(0, 2) == "0x" || text.substr(0, 2) == "0X")) {
    return ParseDigits(text.substr(2), 16);
  }
  return ParseDigits(text, 10);
}

std::optional<std::vector<std::uint8_t>> ParseHexBytes(std::string_view text) {
  std::vector<std::uint8_t> bytes;
  for (const auto word : Words(text)) {
    const auto byte = ParseHexByte(word);
    if (!byte) return std::nullopt;
    bytes.push_back(*byte);
  }
  return bytes;
}

// --- keys -------------------------------------------------------------------------------------

const std::vector<HandsetKey>& HandsetKeys() {
  static const std::vector<HandsetKey> keys = {
      {0x1C, "client", "Client"},
      {0x1D, "up", "Up"},
      {0x1E, "down", "Down"},
      {0x1F, "no", "No"},
      {0x20, "yes", "Yes"},
      {0x23, "hold", "Hold"},
      {0x24, "redial", "Redial"},
      {0x2F, "mute", "Mute"},
      {0x32, "vol+", "Vol +"},
      {0x33, "vol-", "Vol -"},
      {0xB0, "d0", "0"},
      {0xB1, "d1", "1"},
      {0xB2, "d2", "2"},
      {0xB3, "d3", "3"},
      {0xB4, "d4", "4"},
      {0xB5, "d5", "5"},
      {0xB6, "d6", "6"},
      {0xB7, "d7", "7"},
      {0xB8, "d8", "8"},
      {0xB9, "d9", "9"},
      {0xBA, "star", "*"},
      {0xBB, "hash", "#"},
      {0xC1, "plus", "+"},
      {0xC2, "minimise", "Minimise"},
      {0xC3, "voicemail", "Voicemail"},
  };
  return keys;
}

std::optional<std::uint8_t> KeyCode(std::string_view nameOrNumber) {
  for (const auto& key : HandsetKeys()) {
    if (nameOrNumber == key.name) return key.code;
  }
  return ParseByte(nameOrNumber);
}

// --- commands ---------------------------------------------------------------------------------

std::optional<Command> ParseCommand(std::string_view line, std::string* error) {
  auto fail = [error](std::string_view why) {
    if (error) *error = why;
    return std::optional<Command>();
  };
  const auto words = Words(line);
  if (words.empty()) return fail("empty command");
  const std::string_view verb = words[0];
  const std::size_t args = words.size() - 1;
  Command command;
  if (verb == "plug") {
    if (args == 2 || args > 3) return fail("plug [product [major minor]]");
    command.kind = Command::Kind::kPlug;
    if (args >= 1) {
      const auto product = ParseNumber(words[1]);
      if (!product || *product > 0xFFFF) return fail("plug: bad product id");
      command.product = static_cast<std::uint16_t>(*product);
    }
    if (args == 3) {
      const auto major = ParseByte(words[2]);
      const auto minor = ParseByte(words[3]);
      if (!major || !minor) return fail("plug: bad firmware version");
      command.major = *major;
      command.minor = *minor;
    }
  } else if (verb == "unplug" || verb == "repeat" || verb == "state") {
    if (args != 0) return fail(std::string(verb) + " takes no arguments");
    command.kind = verb == "unplug"   ? Command::Kind::kUnplug
                   : verb == "repeat" ? Command::Kind::kRepeat
                                      : Command::Kind::kState;
  } else if (verb == "key") {
    const auto code = args == 1 ? KeyCode(words[1]) : std::nullopt;
    if (!code) return fail("key: a code (0x20) or a key name (yes)");
    command.kind = Command::Kind::kKey;
    command.code = *code;
  } else if (verb == "report") {
    const auto bytes = ParseHexBytes(After(line, 1));
    if (!bytes || bytes->size() != command.report.size()) return fail("report: seven hexadecimal bytes");
    command.kind = Command::Kind::kReport;
    std::copy(bytes->begin(), bytes->end(), command.report.begin());
  } else if (verb == "drop-acks" || verb == "ack-delay") {
    const auto value = args == 1 ? ParseNumber(words[1]) : std::nullopt;
    if (!value) return fail(std::string(verb) + ": one number");
    command.kind = verb == "drop-acks" ? Command::Kind::kDropAcks : Command::Kind::kAckDelay;
    command.value = *value;
  } else if (verb == "version-reply") {
    const auto mode = args == 1 ? ParseVersionReply(words[1]) : std::nullopt;
    if (!mode) return fail("version-reply normal|silent|ack");
    command.kind = Command::Kind::kVersionReply;
    command.versionReply = *mode;
  } else {
    return fail("unknown command");
  }
  return command;
}

std::string FormatCommand(const Command& command) {
  switch (command.kind) {
    case Command::Kind::kPlug:
      return "plug 0x" + Hex(command.product, 4) + " " + std::to_string(command.major) + " " +
             std::to_string(command.minor);
    case Command::Kind::kUnplug:
      return "unplug";
    case Command::Kind::kKey:
      return "key 0x" + Hex(command.code, 2);
    case Command::Kind::kReport:
      return "report " + sim::HexBytes(command.report.data(), command.report.size());
    case Command::Kind::kRepeat:
      return "repeat";
    case Command::Kind::kDropAcks:
      return "drop-acks " + std::to_string(command.value);
    case Command::Kind::kAckDelay:
      return "ack-delay " + std::to_string(command.value);
    case Command::Kind::kVersionReply:
      return std::string("version-reply ") + VersionReplyName(command.versionReply);
    case Command::Kind::kState:
      break;
  }
  return "state";
}

// --- state and events -------------------------------------------------------------------------

std::string FormatState(const HandsetState& s) {
  std::string text;
  text += s.plugged ? "plugged=1" : "plugged=0";
  text += " product=" + Hex(s.product, 4);
  text += " firmware=" + std::to_string(s.major) + "." + std::to_string(s.minor);
  text += s.opened ? " opened=1" : " opened=0";
  text += " window=" + Hex(s.window, 8);
  text += " message=" + Hex(s.message, 4);
  text += std::string(" ringer=") + RingerName(s.ringer);
  text += s.indicator ? " indicator=on" : " indicator=off";
  text += s.activity ? " activity=on" : " activity=off";
  text += " tone=";
  if (s.tone) {
    for (std::size_t i = 0; i < s.tone->size(); ++i) {
      if (i) text += '-';
      text += Hex((*s.tone)[i], 2);
    }
  } else {
    text += "none";
  }
  text += " uploads=" + std::to_string(s.uploads);
  text += " drops=" + std::to_string(s.drops);
  text += " ack-delay=" + std::to_string(s.ackDelay);
  text += std::string(" version-reply=") + VersionReplyName(s.versionReply);
  return text;
}

std::optional<HandsetState> ParseState(std::string_view fields) {
  HandsetState s;
  int seen = 0;
  for (const auto word : Words(fields)) {
    const auto eq = word.find('=');
    if (eq == std::string_view::npos) return std::nullopt;
    const auto key = word.substr(0, eq);
    const auto value = word.substr(eq + 1);
    auto flag = [&](bool& out) {
      if (value != "0" && value != "1") return false;
      out = value == "1";
      return true;
    };
    auto onOff = [&](bool& out) {
      if (value != "on" && value != "off") return false;
      out = value == "on";
      return true;
    };
    bool ok = true;
    if (key == "plugged") {
      ok = flag(s.plugged);
    } else if (key == "product") {
      const auto v = ParseHex(value);
      ok = v && *v <= 0xFFFF;
      if (ok) s.product = static_cast<std::uint16_t>(*v);
    } else if (key == "firmware") {
      const auto dot = value.find('.');
      const auto major = dot == std::string_view::npos ? std::nullopt : ParseDigits(value.substr(0, dot), 10);
      const auto minor = dot == std::string_view::npos ? std::nullopt : ParseDigits(value.substr(dot + 1), 10);
      ok = major && minor && *major <= 0xFF && *minor <= 0xFF;
      if (ok) {
        s.major = static_cast<std::uint8_t>(*major);
        s.minor = static_cast<std::uint8_t>(*minor);
      }
    } else if (key == "opened") {
      ok = flag(s.opened);
    } else if (key == "window" || key == "message") {
      const auto v = ParseHex(value);
      ok = v.has_value();
      if (ok) (key == "window" ? s.window : s.message) = *v;
    } else if (key == "ringer") {
      ok = false;
      for (int i = 0; i < 3; ++i) {
        if (value == kRingerNames[i]) {
          s.ringer = static_cast<Ringer>(i);
          ok = true;
        }
      }
    } else if (key == "indicator") {
      ok = onOff(s.indicator);
    } else if (key == "activity") {
      ok = onOff(s.activity);
    } else if (key == "tone") {
      if (value != "none") {
        std::string spaced(value);
        for (auto& c : spaced) c = c == '-' ? ' ' : c;
        const auto bytes = ParseHexBytes(spaced);
        ok = bytes && bytes->size() == 5;
        if (ok) s.tone = HandsetModel::RingTone{(*bytes)[0], (*bytes)[1], (*bytes)[2], (*bytes)[3], (*bytes)[4]};
      }
    } else if (key == "uploads" || key == "drops") {
      const auto v = ParseDigits(value, 10);
      ok = v.has_value();
      if (ok) (key == "uploads" ? s.uploads : s.drops) = *v;
    } else if (key == "ack-delay") {
      const auto v = ParseTime(value);
      ok = v.has_value();
      if (ok) s.ackDelay = *v;
    } else if (key == "version-reply") {
      const auto v = ParseVersionReply(value);
      ok = v.has_value();
      if (ok) s.versionReply = *v;
    } else {
      continue;  // a later version's field
    }
    if (!ok) return std::nullopt;
    ++seen;
  }
  if (seen == 0) return std::nullopt;
  return s;
}

std::string FormatHello(std::string_view who) {
  return "hello hidmar-sim " + std::to_string(kProtocolVersion) + " " + std::string(who);
}

std::string FormatStateEvent(std::uint64_t time, const HandsetState& state) {
  return "state " + std::to_string(time) + " " + FormatState(state);
}

std::optional<std::string> FormatModelEvent(std::uint64_t time, std::string_view channel, std::string_view payload) {
  const char* name = channel == "hid>" ? "out" : channel == "hid<" ? "in" : channel == "hidlib" ? "lib" : nullptr;
  if (!name) return std::nullopt;
  std::string line = std::string(name) + " " + std::to_string(time);
  if (!payload.empty()) line += " " + std::string(payload);
  return line;
}

std::optional<Event> ParseEvent(std::string_view line) {
  const auto words = Words(line);
  if (words.empty()) return std::nullopt;
  Event event;
  const std::string_view kind = words[0];
  if (kind == "ok" && words.size() == 1) {
    event.kind = Event::Kind::kReply;
    return event;
  }
  if (kind == "error") {
    event.kind = Event::Kind::kReply;
    event.ok = false;
    event.text = std::string(After(line, 1));
    return event;
  }
  if (kind == "hello") {
    if (words.size() < 3 || words[1] != "hidmar-sim") return std::nullopt;
    event.kind = Event::Kind::kHello;
    event.text = std::string(After(line, 3));
    return event;
  }
  if (words.size() < 2) return std::nullopt;
  const auto time = ParseTime(words[1]);
  if (!time) return std::nullopt;
  event.time = *time;
  const std::string_view rest = After(line, 2);
  if (kind == "state") {
    const auto state = ParseState(rest);
    if (!state) return std::nullopt;
    event.kind = Event::Kind::kState;
    event.state = *state;
  } else if (kind == "out" || kind == "in") {
    event.kind = kind == "out" ? Event::Kind::kOut : Event::Kind::kIn;
    std::string_view bytes = rest;
    constexpr std::string_view kFailed = "failed";
    if (bytes.size() >= kFailed.size() && bytes.substr(bytes.size() - kFailed.size()) == kFailed) {
      event.ok = false;
      bytes.remove_suffix(kFailed.size());
    }
    const auto parsed = ParseHexBytes(bytes);
    if (!parsed) return std::nullopt;
    event.bytes = *parsed;
  } else if (kind == "lib") {
    event.kind = Event::Kind::kLib;
    event.text = std::string(rest);
  } else {
    return std::nullopt;
  }
  return event;
}

// --- lines ------------------------------------------------------------------------------------

std::vector<std::string> LineBuffer::Feed(std::string_view bytes) {
  std::vector<std::string> lines;
  for (const char c : bytes) {
    if (c == '\n') {
      if (!partial_.empty() && partial_.back() == '\r') partial_.pop_back();
      if (!discarding_) lines.push_back(std::move(partial_));
      partial_.clear();
      discarding_ = false;
    } else if (!discarding_) {
      if (partial_.size() == kMaxLine) {
        lines.push_back(std::move(partial_));
        partial_.clear();
        discarding_ = true;
      } else {
        partial_ += c;
      }
    }
  }
  return lines;
}

// --- the command line -------------------------------------------------------------------------

const char* Usage() {
  return "handset-sim [--pipe NAME] [--timeout MS] [--connect-timeout MS] [STEP...]\n"
         "handset-sim --device [--pipe NAME]\n"
         "Without steps: the simulator window. With --device the window holds the handset itself and\n"
         "feeds it to programs through the virtual HID device, which it installs (plug) and removes\n"
         "(unplug); the pipe then is its own. Steps run in order over one connection:\n"
         "  --plug [PRODUCT [MAJOR MINOR]]   --unplug   --key CODE|NAME   --report \"B0 .. B6\"\n"
         "  --repeat   --drop-acks N   --ack-delay MS   --version-reply normal|silent|ack\n"
         "  --send \"COMMAND\"            any command of the pipe protocol\n"
         "  --wait-report \"C0 00 9A\"    an output report the program wrote, by its first bytes\n"
         "  --wait-in \"00 5A\"           an input report delivered to the program, by its first bytes\n"
         "  --wait-state \"ringer=ringing indicator=on\"\n"
         "  --state   --monitor MS   --sleep MS\n"
         "Exit: 0 done, 1 a command failed, 2 no library on the pipe, 3 a wait timed out, 64 usage.\n";
}

std::optional<Script> ParseArguments(const std::vector<std::string>& args, std::string* error) {
  Script script;
  auto bad = [&](const std::string& text) {
    Fail(error, text);
    return std::optional<Script>();
  };
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& option = args[i];
    const bool hasValue = i + 1 < args.size();
    auto value = [&]() -> const std::string& { return args[++i]; };
    auto number = [&](std::uint32_t& out) {
      if (!hasValue) return false;
      const auto parsed = ParseNumber(value());
      if (parsed) out = *parsed;
      return parsed.has_value();
    };
    auto send = [&](std::string command) {
      std::string why;
      if (!ParseCommand(command, &why)) return Fail(error, option + ": " + why);
      ScriptStep step;
      step.command = std::move(command);
      script.steps.push_back(std::move(step));
      return true;
    };
    ScriptStep step;
    if (option == "--help" || option == "-h" || option == "/?") {
      script.help = true;
    } else if (option == "--device") {
      script.device = true;
    } else if (option == "--pipe") {
      if (!hasValue) return bad("--pipe needs a name");
      script.pipe = value();
    } else if (option == "--timeout" || option == "--connect-timeout") {
      std::uint32_t ms = 0;
      if (!number(ms)) return bad(option + " needs milliseconds");
      (option == "--timeout" ? script.waitTimeoutMs : script.connectTimeoutMs) = ms;
    } else if (option == "--plug") {
      // Up to three numbers follow: product, then both parts of the firmware version.
      std::string command = "plug";
      while (i + 1 < args.size() && args[i + 1].rfind("--", 0) != 0) command += " " + args[++i];
      if (!send(command)) return std::nullopt;
    } else if (option == "--unplug" || option == "--repeat") {
      if (!send(option.substr(2))) return std::nullopt;
    } else if (option == "--key" || option == "--report" || option == "--drop-acks" || option == "--ack-delay" ||
               option == "--version-reply" || option == "--send") {
      if (!hasValue) return bad(option + " needs a value");
      const std::string& v = value();
      if (!send(option == "--send" ? v : option.substr(2) + " " + v)) return std::nullopt;
    } else if (option == "--wait-report" || option == "--wait-in") {
      if (!hasValue) return bad(option + " needs bytes");
      const auto bytes = ParseHexBytes(value());
      if (!bytes || bytes->empty() || bytes->size() > 7) return bad(option + ": one to seven hexadecimal bytes");
      step.kind = option == "--wait-report" ? ScriptStep::Kind::kWaitOut : ScriptStep::Kind::kWaitIn;
      step.bytes = *bytes;
      script.steps.push_back(std::move(step));
    } else if (option == "--wait-state") {
      if (!hasValue) return bad("--wait-state needs fields");
      const std::string& v = value();
      for (const auto word : Words(v)) {
        // Each field must be one a state line can carry.
        if (!ParseState(word)) return bad("--wait-state: not a state field: " + std::string(word));
        step.fields.emplace_back(word);
      }
      if (step.fields.empty()) return bad("--wait-state needs fields");
      step.kind = ScriptStep::Kind::kWaitState;
      script.steps.push_back(std::move(step));
    } else if (option == "--state") {
      step.kind = ScriptStep::Kind::kPrintState;
      script.steps.push_back(std::move(step));
    } else if (option == "--monitor" || option == "--sleep") {
      if (!number(step.ms)) return bad(option + " needs milliseconds");
      step.kind = option == "--monitor" ? ScriptStep::Kind::kMonitor : ScriptStep::Kind::kSleep;
      script.steps.push_back(std::move(step));
    } else {
      return bad("unknown option " + option);
    }
  }
  if (script.device && !script.steps.empty()) return bad("--device takes no steps: script the window over its pipe");
  return script;
}

bool Matches(const ScriptStep& wait, const Event& event) {
  switch (wait.kind) {
    case ScriptStep::Kind::kWaitOut:
      return event.kind == Event::Kind::kOut && event.ok && StartsWith(event.bytes, wait.bytes);
    case ScriptStep::Kind::kWaitIn:
      return event.kind == Event::Kind::kIn && StartsWith(event.bytes, wait.bytes);
    case ScriptStep::Kind::kWaitState: {
      if (event.kind != Event::Kind::kState) return false;
      const std::string fields = " " + FormatState(event.state) + " ";
      for (const auto& field : wait.fields) {
        // Compare in the canonical spelling, so "product=0x1403" or "ringer=ringing" both work.
        const auto canonical = ParseState(field);
        if (!canonical) return false;
        const std::string name = field.substr(0, field.find('='));
        const std::string all = FormatState(*canonical);
        const auto at = all.find(name + "=");
        const auto end = all.find(' ', at);
        const std::string want = all.substr(at, end == std::string::npos ? std::string::npos : end - at);
        if (fields.find(" " + want + " ") == std::string::npos) return false;
      }
      return true;
    }
    default:
      return false;
  }
}

}  // namespace hidmar_sim
