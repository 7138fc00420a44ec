// The scenario language: one directive a line, parsed into typed directives the runner dispatches
// on with std::visit. docs/scenarios.md is the user's side of this file.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <regex>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace sim {

enum class Program { kBridge, kManager };

// One argument struct per directive (or per family where only a keyword differs). Numbers are
// range-checked against the field they end up in, so the runner can narrow without checking.
namespace scenario {

enum class Hive { kHkcu, kHklm };
struct RegistryKey {
  Hive hive = Hive::kHkcu;
  std::string path;  // below the root, never empty: "SOFTWARE\VORLANE\TELIOX"
};

enum class ValueType { kDword, kSz, kBinary };
// registry set <key> <name> dword <n> | sz "<text>" | binary <hex bytes>
struct RegistrySet {
  RegistryKey key;
  std::string name;  // may be empty ("" is the default value)
  ValueType type = ValueType::kDword;
  std::uint32_t dword = 0;  // -1 reads as 0xFFFFFFFF
  std::string text;
  std::vector<std::uint8_t> bytes;
};
// registry delete <key> [<name>]: the whole key, or one value.
struct RegistryDelete {
  RegistryKey key;
  std::optional<std::string> name;
};

struct SystemLangid {
  std::uint16_t langid = 0;
};
struct SystemVersion {
  std::uint32_t platformId = 0, major = 0, minor = 0, build = 0;
};
// absent "<file>" | present "<file>"
struct FileAvailability {
  std::string file;
  bool present = true;
};
struct ProcessStart {
  std::string name;
  std::optional<std::uint32_t> id;
};
struct ProcessEnd {
  std::uint32_t id = 0;
};

struct Firmware {
  std::uint8_t major = 0, minor = 0;
};
struct HandsetPlug {
  std::uint16_t productId = 0;
  std::optional<Firmware> firmware;
};
struct HandsetUnplug {};
struct HandsetDropAcks {
  std::uint32_t count = 0;
};
struct HandsetAckDelay {
  std::uint64_t ms = 0;
};
enum class VersionReply { kNormal, kSilent, kAck };
struct HandsetVersionReply {
  VersionReply mode = VersionReply::kNormal;
};
struct HandsetKey {
  std::uint8_t code = 0;
};
struct HandsetReport {
  std::array<std::uint8_t, 7> bytes{};
};
struct HandsetRepeat {};

enum class Attach { kStart, kStop, kRefuse, kPending };
// client start | stop | refuse | pending
struct ClientAttach {
  Attach answer = Attach::kStart;
};
// hidden: the window is there but not visible.
enum class WindowState { kForeground, kBackground, kHidden, kAbsent };
struct ClientWindow {
  WindowState state = WindowState::kForeground;
};
struct ClientCall {
  std::int32_t id = 0;
  std::string status;  // at most 19 characters: the record's field is 20 bytes
  std::optional<std::int32_t> conference;
  std::optional<std::string> partner;
  std::int32_t kind = 1;  // lParam of 0x47F
};
struct ClientStatus {
  std::string text;
};
struct ClientRecent {
  std::string handle;
};
struct ClientMessageWindow {};  // client message-window open
struct ClientHoldReplies {
  bool on = false;
};
struct Voicemail {
  std::int32_t id = 0, timestamp = 0, status = 0;
  std::string partner;  // at most 255 characters
};
// client voicemails [count <n>] <id>:<timestamp>:<status>:"<partner>" ... (none is an empty list)
struct ClientVoicemails {
  std::optional<std::int32_t> count;
  std::vector<Voicemail> entries;
};
struct ClientVoicemailStatus {
  std::int32_t id = 0, status = 0;
};

struct AudioHandset {
  std::string name;
  std::optional<std::uint16_t> productId;
};
enum class DeviceChange { kPlayback, kRecording, kRemove };
// audio playback | recording | remove "<name>"
struct AudioDevice {
  DeviceChange change = DeviceChange::kPlayback;
  std::string name;
};
// dst<d> or dst<d>.src<s>
struct MixerLine {
  std::uint32_t destination = 0;
  std::optional<std::uint32_t> source;
};
enum class MixerControl { kVolume, kMute };
struct Range {
  std::int64_t min = 0, max = 0;
};
struct AudioControl {
  std::string mixer;
  MixerLine line;
  MixerControl control = MixerControl::kVolume;
  std::optional<Range> range;
  std::optional<std::int64_t> value;
};
struct AudioDefault {
  std::string recording, playback;
};
enum class DefaultCall { kGet, kSet };
// audio fail get-default <n> | set-default <n>
struct AudioFail {
  DefaultCall call = DefaultCall::kGet;
  std::uint32_t count = 0;
};

// The program of start, command, message, copydata, act, deactivate and snapshot is
// Directive::program.
struct Start {};
struct Command {
  std::uint16_t id = 0;
};
struct Message {
  std::uint32_t msg = 0;  // unless registeredName is set
  std::optional<std::string> registeredName;
  std::int64_t wParam = 0, lParam = 0;  // -1 sets every bit in the parameter's full width
};
struct CopyData {
  std::int64_t wParam = 0;
  std::string text;
  std::optional<std::uint32_t> bytes;  // cbData; else the text with its terminator
};
enum class Click { kLeft, kRight, kContext };
struct TrayClick {
  Click click = Click::kLeft;
};
// tray restart: the shell's taskbar starts again, empty, and broadcasts "TaskbarCreated".
struct TrayRestart {};
// tray refuse-adds <n>: the next n adds fail.
struct TrayRefuseAdds {
  std::uint32_t count = 0;
};

enum class ActionKind {
  kOk,
  kCancel,
  kYes,
  kNo,
  kClose,
  kEnter,
  kEscape,
  kClick,
  kCheck,
  kUncheck,
  kSelect,
  kSlider,
  kMenu
};
struct Action {
  ActionKind kind = ActionKind::kOk;
  std::uint16_t id = 0;              // control id, or the command id of menu
  std::int32_t value = 0;            // select: item index; slider: position
  std::optional<std::int32_t> code;  // slider: the scroll code
};
struct Answer {
  Action action;
};
struct Act {
  std::uint16_t window = 0;
  Action action;
};
struct Deactivate {
  std::uint16_t window = 0;
};
struct Snapshot {
  std::optional<std::uint16_t> window;  // none: the open tray menu
};

struct Wait {
  std::uint64_t ms = 0;
};
struct At {
  std::uint64_t ms = 0;
};
struct Mark {};
enum class ExpectKind { kExpect, kNext, kCount, kNot };
// expect, expect-next, expect-count and expect-not; windowMs is `within` or `for` with its default
// already applied (10 ms for expect and expect-next, 0 for the others).
struct Expect {
  ExpectKind kind = ExpectKind::kExpect;
  std::string pattern;
  std::regex regex;
  std::string channel;      // expect-next
  std::uint32_t count = 0;  // expect-count
  std::uint64_t windowMs = 0;
};

using Args =
    std::variant<RegistrySet, RegistryDelete, SystemLangid, SystemVersion, FileAvailability, ProcessStart, ProcessEnd,
                 HandsetPlug, HandsetUnplug, HandsetDropAcks, HandsetAckDelay, HandsetVersionReply, HandsetKey,
                 HandsetReport, HandsetRepeat, ClientAttach, ClientWindow, ClientCall, ClientStatus, ClientRecent,
                 ClientMessageWindow, ClientHoldReplies, ClientVoicemails, ClientVoicemailStatus, AudioHandset,
                 AudioDevice, AudioControl, AudioDefault, AudioFail, Start, Command, Message, CopyData, TrayClick,
                 TrayRestart, TrayRefuseAdds, Answer, Act, Deactivate, Snapshot, Wait, At, Mark, Expect>;

}  // namespace scenario

struct Directive {
  int line = 0;        // 1-based
  std::string source;  // the line without its comment and surrounding blanks
  std::string verb;    // "handset plug", "expect-next": for messages
  Program program = Program::kBridge;
  scenario::Args args;
};

struct ParseError {
  int line = 0;
  std::string message;  // names the offending text
  // "line <n>: <message>"
  std::string ToString() const;
};

struct ParseResult {
  std::vector<Directive> directives;
  std::optional<ParseError> error;  // the first malformed line; directives is then empty
  bool Ok() const { return !error.has_value(); }
};

ParseResult ParseScenario(std::string_view text);

// The number and duration forms of the language, for whoever needs them outside a scenario.
// Numbers: decimal or 0x hex, optionally negative; hex of up to 16 digits is a bit pattern
// (0xFFFFFFFFFFFFFFFF is -1). Durations: 500ms, 2s, 1.5s, in whole milliseconds.
std::optional<std::int64_t> ParseNumber(std::string_view text);
std::optional<std::uint64_t> ParseDuration(std::string_view text);

// Transcript channels that expect-next accepts.
bool IsTranscriptChannel(std::string_view channel);

}  // namespace sim
