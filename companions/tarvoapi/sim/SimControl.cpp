#include "companions/tarvoapi/sim/SimControl.h"

#include <charconv>

namespace softphone_sim {

namespace {

bool ParseMs(const std::string& text, std::uint32_t& value) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size();
}

bool IsDigits(std::string_view text) {
  if (text.empty()) return false;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

}  // namespace

const char* Usage() {
  return "softphone-sim: the client program, simulated, for TarvoAPIDLL.dll\n"
         "\n"
         "  softphone-sim [--pipe NAME] [--reply-delay MS] [--answer-ms MS] [--do COMMAND]...\n"
         "      shows the client's window; --do carries out control commands at start\n"
         "      (e.g. --do \"attach-answer pending\"); --answer-ms is how long a placed call\n"
         "      rings before it is answered (1000)\n"
         "\n"
         "  softphone-sim --control [--pipe NAME] [--timeout MS] STEP...\n"
         "      drives a running simulator through its pipe, steps in order:\n"
         "      --do COMMAND     a control command; an error answer ends the script (exit 1)\n"
         "      --wait PATTERN   waits for an event starting with PATTERN, time left out\n"
         "                       (e.g. --wait \"cmd SET CALL 2 STATUS INPROGRESS\"); exit 3\n"
         "                       after --timeout (5000 ms)\n"
         "      --state          prints the client's state\n"
         "      --monitor MS     prints every event for MS milliseconds\n"
         "      --sleep MS       waits MS milliseconds\n"
         "      exit 2 when no simulator answers\n"
         "\n"
         "The pipe is \\\\.\\pipe\\softphone-sim unless --pipe or SOFTPHONE_SIM_PIPE names another.\n"
         "Control commands:\n";
}

std::optional<Arguments> ParseArguments(const std::vector<std::string>& args, std::string* error) {
  Arguments parsed;
  const auto fail = [error](std::string text) -> std::optional<Arguments> {
    if (error) *error = std::move(text);
    return std::nullopt;
  };
  for (const auto& arg : args) {
    if (arg == "--control") parsed.control = true;
  }
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const bool hasValue = i + 1 < args.size();
    const auto value = [&]() -> const std::string& { return args[++i]; };
    std::uint32_t ms = 0;
    if (arg == "--help" || arg == "-h" || arg == "/?") {
      parsed.help = true;
    } else if (arg == "--control") {
      continue;
    } else if (arg == "--pipe") {
      if (!hasValue) return fail("--pipe needs a name");
      parsed.sim.pipe = parsed.script.pipe = value();
    } else if (arg == "--do") {
      if (!hasValue) return fail("--do needs a command");
      if (parsed.control) {
        parsed.script.steps.push_back({ScriptStep::Kind::kDo, value(), 0});
      } else {
        parsed.sim.commands.push_back(value());
      }
    } else if (!parsed.control && (arg == "--reply-delay" || arg == "--answer-ms")) {
      if (!hasValue || !ParseMs(value(), ms)) return fail(arg + " needs milliseconds");
      (arg == "--reply-delay" ? parsed.sim.replyDelayMs : parsed.sim.answerMs) = ms;
    } else if (parsed.control && arg == "--wait") {
      if (!hasValue) return fail("--wait needs a pattern");
      parsed.script.steps.push_back({ScriptStep::Kind::kWait, value(), 0});
    } else if (parsed.control && arg == "--state") {
      parsed.script.steps.push_back({ScriptStep::Kind::kState, {}, 0});
    } else if (parsed.control && (arg == "--monitor" || arg == "--sleep" || arg == "--timeout")) {
      if (!hasValue || !ParseMs(value(), ms)) return fail(arg + " needs milliseconds");
      if (arg == "--timeout") {
        parsed.script.waitTimeoutMs = parsed.script.connectTimeoutMs = ms;
      } else {
        parsed.script.steps.push_back(
            {arg == "--monitor" ? ScriptStep::Kind::kMonitor : ScriptStep::Kind::kSleep, {}, ms});
      }
    } else {
      return fail("unknown argument: " + arg);
    }
  }
  if (parsed.control && parsed.script.steps.empty() && !parsed.help) return fail("--control needs steps");
  return parsed;
}

std::string WithoutTime(std::string_view line) {
  const std::size_t space = line.find(' ');
  if (space == std::string_view::npos) return std::string(line);
  const std::size_t next = line.find(' ', space + 1);
  const std::string_view second = line.substr(space + 1, next == std::string_view::npos ? next : next - space - 1);
  if (!IsDigits(second) || line.starts_with("ok") || line.starts_with("hello")) return std::string(line);
  std::string text(line.substr(0, space));
  if (next != std::string_view::npos) text.append(line.substr(next));
  return text;
}

bool Matches(std::string_view pattern, std::string_view line) {
  return !IsReply(line) && WithoutTime(line).starts_with(pattern);
}

bool IsReply(std::string_view line) {
  return line == "ok" || line.starts_with("ok ") || line == "error" || line.starts_with("error ");
}

std::vector<std::string> LineSplitter::Feed(std::string_view bytes) {
  std::vector<std::string> lines;
  for (const char c : bytes) {
    if (c == '\n') {
      if (!partial_.empty() && partial_.back() == '\r') partial_.pop_back();
      if (!discarding_) lines.push_back(partial_);
      partial_.clear();
      discarding_ = false;
      continue;
    }
    if (discarding_) continue;
    partial_ += c;
    if (partial_.size() == kMaxLine) {
      lines.push_back(partial_);
      partial_.clear();
      discarding_ = true;
    }
  }
  return lines;
}

}  // namespace softphone_sim
