// The simulator's command line and its control pipe, apart from Win32.
//
// The simulator serves a named pipe (byte mode, any number of listeners). A listener first gets
// "hello softphone-sim <version>", then every event line (SoftphoneSim.h); each line it writes
// is a control command, answered by one "ok ..." or "error ..." line among the events. Lines end
// in LF (a CR before it is dropped), at most kMaxLine bytes.
//
// The same program is also the pipe's client for scripts: `softphone-sim --control STEP...`
// connects to a running simulator and carries out the steps in order.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace softphone_sim {

inline constexpr int kControlVersion = 1;
inline constexpr std::size_t kMaxLine = 1024;
inline constexpr char kDefaultPipeName[] = "\\\\.\\pipe\\softphone-sim";
inline constexpr char kPipeVariable[] = "SOFTPHONE_SIM_PIPE";

// The simulator window's options.
struct SimOptions {
  std::string pipe;  // empty: the environment's, else the default
  std::uint32_t replyDelayMs = 0;
  std::uint32_t answerMs = 1000;
  std::vector<std::string> commands;  // control commands carried out at start
};

struct ScriptStep {
  enum class Kind {
    kDo,       // a control command; its "error" ends the script
    kWait,     // an event matching `text` (see Matches)
    kState,    // prints the "state" answer
    kMonitor,  // prints every event for `ms`
    kSleep,    // nothing for `ms`
  };
  Kind kind = Kind::kDo;
  std::string text;
  std::uint32_t ms = 0;
};

struct Script {
  std::string pipe;
  std::uint32_t waitTimeoutMs = 5000;
  std::uint32_t connectTimeoutMs = 5000;
  std::vector<ScriptStep> steps;
};

struct Arguments {
  bool help = false;
  bool control = false;  // script mode
  SimOptions sim;
  Script script;
};

// Exit codes of the script mode.
inline constexpr int kExitOk = 0;
inline constexpr int kExitCommandFailed = 1;
inline constexpr int kExitNoSimulator = 2;
inline constexpr int kExitTimedOut = 3;
inline constexpr int kExitUsage = 64;

std::optional<Arguments> ParseArguments(const std::vector<std::string>& args, std::string* error);
const char* Usage();

// An event line without its time: "note 1200 047F id=1 ..." -> "note 047F id=1 ...". Lines
// without a time field ("ok", "hello ...") come back as they are.
std::string WithoutTime(std::string_view line);
// A wait matches an event whose timeless form starts with the pattern. Waits see every event
// since the connection opened, each starting after the event the previous wait matched, so a
// reply that overtakes the command's answer is still found.
bool Matches(std::string_view pattern, std::string_view line);
bool IsReply(std::string_view line);

// Splits a byte stream into lines. A line longer than kMaxLine is cut there and the rest of it,
// up to its end, dropped.
class LineSplitter {
 public:
  std::vector<std::string> Feed(std::string_view bytes);

 private:
  std::string partial_;
  bool discarding_ = false;
};

}  // namespace softphone_sim
