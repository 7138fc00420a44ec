// The line protocol between the sim flavour of Hidmar.dll and the handset simulator, and the
// simulator's script of command-line steps. Portable: the Win32 pipe code only moves the lines.
//
// The library serves a named pipe (byte mode, any number of clients). Lines end in LF (a CR
// before it is dropped), fields are separated by spaces, at most kMaxLine bytes a line. README.md
// in this folder documents the commands and events for people writing scripts.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/HidLink.h"
#include "sim/HandsetModel.h"

namespace hidmar_sim {

inline constexpr int kProtocolVersion = 1;
inline constexpr std::size_t kMaxLine = 512;
inline constexpr char kDefaultPipeName[] = "\\\\.\\pipe\\hidmar-sim";
// Environment: another pipe name (tests run beside a demo), and commands the library carries
// out when it starts, ';'-separated ("unplug" starts without a handset).
inline constexpr char kPipeVariable[] = "HIDMAR_SIM_PIPE";
inline constexpr char kStartVariable[] = "HIDMAR_SIM_START";

// --- commands: simulator to library, answered by one "ok" or "error <reason>" line each ---------

struct Command {
  enum class Kind { kPlug, kUnplug, kKey, kReport, kRepeat, kDropAcks, kAckDelay, kVersionReply, kState };
  Kind kind = Kind::kState;
  // plug
  std::uint16_t product = static_cast<std::uint16_t>(platform::kHandsetProductA);
  std::uint8_t major = 1;
  std::uint8_t minor = 4;
  std::uint8_t code = 0;               // key
  sim::HandsetModel::Report report{};  // report
  std::uint32_t value = 0;             // drop-acks count, ack-delay milliseconds
  sim::HandsetModel::VersionReply versionReply = sim::HandsetModel::VersionReply::kNormal;
};

// Nullopt for a line that is not a command; `error` then says why.
std::optional<Command> ParseCommand(std::string_view line, std::string* error = nullptr);
std::string FormatCommand(const Command& command);

// The handset's keys (b1 of a key report) with the names commands and buttons use.
struct HandsetKey {
  std::uint8_t code;
  const char* name;   // for "key <name>"
  const char* label;  // for a button
};
const std::vector<HandsetKey>& HandsetKeys();
std::optional<std::uint8_t> KeyCode(std::string_view nameOrNumber);

// --- events: library to simulator -----------------------------------------------------------

// What the simulator shows of the handset and the library in front of it.
struct HandsetState {
  bool plugged = false;
  std::uint16_t product = 0;
  std::uint8_t major = 0;
  std::uint8_t minor = 0;
  bool opened = false;
  std::uint32_t window = 0;
  std::uint32_t message = platform::kHandsetReportMessage;
  sim::HandsetModel::Ringer ringer = sim::HandsetModel::Ringer::kQuiet;
  bool indicator = false;
  bool activity = false;
  std::optional<sim::HandsetModel::RingTone> tone;
  std::uint32_t uploads = 0;
  std::uint32_t drops = 0;
  std::uint64_t ackDelay = sim::HandsetModel::kDefaultAckDelayMs;
  sim::HandsetModel::VersionReply versionReply = sim::HandsetModel::VersionReply::kNormal;

  bool operator==(const HandsetState&) const = default;
};

// "plugged=1 product=1402 firmware=1.4 opened=1 window=0001002A message=0464 ringer=quiet
// indicator=off activity=off tone=none uploads=0 drops=0 ack-delay=5 version-reply=normal"
std::string FormatState(const HandsetState& state);
std::optional<HandsetState> ParseState(std::string_view fields);

struct Event {
  enum class Kind {
    kHello,  // "hello hidmar-sim <version> <who>": first line on every connection
    kState,  // "state <ms> <fields>": on connection and whenever a field changes
    kOut,    // "out <ms> <bytes> [failed]": every report the program wrote
    kIn,     // "in <ms> <bytes>": every report delivered to the program
    kLib,    // "lib <ms> <text>": find, open, message and close calls
    kReply,  // "ok" or "error <reason>": the answer to a command
  };
  Kind kind = Kind::kReply;
  std::uint64_t time = 0;
  std::string text;                 // hello's <who>, lib's text, error's reason
  std::vector<std::uint8_t> bytes;  // out, in
  bool ok = true;                   // out: written; reply: ok
  HandsetState state;               // state
};

std::optional<Event> ParseEvent(std::string_view line);
std::string FormatHello(std::string_view who);
std::string FormatStateEvent(std::uint64_t time, const HandsetState& state);
// From a transcript line of the handset model ("hid>", "hid<", "hidlib"); nullopt for others.
std::optional<std::string> FormatModelEvent(std::uint64_t time, std::string_view channel, std::string_view payload);

// Splits a byte stream into lines. A line longer than kMaxLine is cut there and the rest of it,
// up to its end, dropped.
class LineBuffer {
 public:
  std::vector<std::string> Feed(std::string_view bytes);

 private:
  std::string partial_;
  bool discarding_ = false;
};

// --- the simulator's command line -------------------------------------------------------------

struct ScriptStep {
  enum class Kind {
    kSend,        // a command; its error ends the script
    kWaitOut,     // an output report written (successfully) whose bytes begin with `bytes`
    kWaitIn,      // an input report delivered whose bytes begin with `bytes`
    kWaitState,   // a state with every field of `fields`
    kPrintState,  // the current state line to standard output
    kMonitor,     // every line to standard output for `ms`
    kSleep,       // nothing for `ms`
  };
  Kind kind = Kind::kSend;
  std::string command;
  std::vector<std::uint8_t> bytes;
  std::vector<std::string> fields;
  std::uint32_t ms = 0;
};

struct Script {
  std::string pipe;  // empty: the environment's, else the default
  std::uint32_t waitTimeoutMs = 5000;
  std::uint32_t connectTimeoutMs = 5000;
  std::vector<ScriptStep> steps;  // none: the window
  bool help = false;
  bool device = false;  // the window feeds the virtual HID device (no steps)
};

// Exit codes of a script run.
inline constexpr int kExitOk = 0;
inline constexpr int kExitCommandFailed = 1;
inline constexpr int kExitNoLibrary = 2;
inline constexpr int kExitTimedOut = 3;
inline constexpr int kExitUsage = 64;

std::optional<Script> ParseArguments(const std::vector<std::string>& args, std::string* error);
const char* Usage();

// Waits see every event since the connection opened, each wait starting after the event the
// previous one matched: "--key yes --wait-in '00 20'" finds the key report even though it
// arrives before the command's "ok". A state wait is met at once when the newest state before
// that point matches: it waits for a condition, not for a change.
bool Matches(const ScriptStep& wait, const Event& event);

// Numbers in commands: decimal, or hexadecimal with 0x. Report bytes: always hexadecimal.
std::optional<std::uint32_t> ParseNumber(std::string_view text);
std::optional<std::vector<std::uint8_t>> ParseHexBytes(std::string_view text);

}  // namespace hidmar_sim
