// The messages between TarvoAPIDLL.dll (in the bridge's process) and the client program. Both
// sides use this file; docs/client-protocol.md describes the protocol for people.
//
// Transport: WM_COPYDATA. wParam is the sender's window, COPYDATASTRUCT.dwData the message kind
// (0x5456 "TV" in the high half), lpData/cbData the body. The body is a run of fields, each a
// 16-bit tag, a 16-bit length and that many bytes, all little-endian. Receivers skip tags they
// do not know; a field that runs past the end of the body, or an integer field that is not 4
// bytes long, makes the whole message invalid. The receiver's answer (the LRESULT) is 1 when it
// took the message, 0 when it ignored it.
//
// Portable: no Win32 here, so both sides' rules are tested natively.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tarvoapi {

// The client's main window, as the library finds it.
inline constexpr char kClientWindowClass[] = "tTvMainForm.UnicodeClass";
inline constexpr std::uint32_t kProtocolVersion = 1;

// Message kinds (dwData). Library to client:
inline constexpr std::uint32_t kAttach = 0x54560001;              // Version, Process
inline constexpr std::uint32_t kDetach = 0x54560002;              // -
inline constexpr std::uint32_t kCommand = 0x54560003;             // Text; queued by the library
inline constexpr std::uint32_t kCommandDirect = 0x54560004;       // Text; answer 1 when executed
inline constexpr std::uint32_t kHold = 0x54560005;                // -
inline constexpr std::uint32_t kMinimize = 0x54560006;            // -
inline constexpr std::uint32_t kCloseMessageWindow = 0x54560007;  // -; answer 1 when one was closed
inline constexpr std::uint32_t kUpdateVoicemails = 0x54560008;    // -
inline constexpr std::uint32_t kUpdateContacts = 0x54560009;      // -
// Client to library:
inline constexpr std::uint32_t kNotify = 0x54560081;       // Message and what it carries
inline constexpr std::uint32_t kClientState = 0x54560082;  // Call*, Handle: replaces the call table

// Field tags.
inline constexpr std::uint16_t kFieldVersion = 0x01;    // u32
inline constexpr std::uint16_t kFieldProcess = 0x02;    // u32
inline constexpr std::uint16_t kFieldText = 0x03;       // bytes
inline constexpr std::uint16_t kFieldMessage = 0x04;    // u32: the notification number 0x478..0x482
inline constexpr std::uint16_t kFieldParam = 0x05;      // i32: call kind, voicemail count or status
inline constexpr std::uint16_t kFieldId = 0x06;         // i32: voicemail id
inline constexpr std::uint16_t kFieldCall = 0x07;       // nested fields 0x10..0x14
inline constexpr std::uint16_t kFieldVoicemail = 0x08;  // one 268-byte VoicemailEntry
inline constexpr std::uint16_t kFieldHandle = 0x09;     // bytes: the recent call handle
inline constexpr std::uint16_t kFieldContact = 0x0A;    // bytes: one contact handle
// Inside a Call field.
inline constexpr std::uint16_t kFieldCallId = 0x10;          // i32, required
inline constexpr std::uint16_t kFieldCallStatus = 0x11;      // bytes
inline constexpr std::uint16_t kFieldCallConference = 0x12;  // i32
inline constexpr std::uint16_t kFieldCallPartner = 0x13;     // bytes
inline constexpr std::uint16_t kFieldCallIncoming = 0x14;    // u32: 1 incoming, 0 placed by the user

// Limits. Texts are taken up to their first zero byte, then cut; commands are refused instead,
// since a cut command could mean something else.
inline constexpr std::size_t kMaxBody = 1u << 20;
inline constexpr std::size_t kMaxCommand = 4095;
inline constexpr std::size_t kMaxStatusText = 1023;
inline constexpr std::size_t kMaxPartner = 167;  // CALLStructure's partner field, terminator excluded
inline constexpr std::size_t kMaxCallStatus = 19;
inline constexpr std::size_t kMaxHandle = 99;  // GetRecentCallHandle's buffer, terminator excluded
inline constexpr std::size_t kMaxCalls = 256;  // more calls in one message are ignored
inline constexpr std::size_t kMaxContacts = 4096;
inline constexpr std::size_t kVoicemailSize = 268;

using VoicemailRecord = std::array<std::uint8_t, kVoicemailSize>;

struct CallInfo {
  std::int32_t id = 0;
  std::string status;
  std::int32_t conference = 0;
  std::string partner;
  bool incoming = true;

  bool operator==(const CallInfo&) const = default;
};

// What the library sends.
struct LibraryMessage {
  std::uint32_t kind = kCommand;
  std::uint32_t version = kProtocolVersion;  // attach
  std::uint32_t process = 0;                 // attach
  std::string text;                          // command, command-direct

  bool operator==(const LibraryMessage&) const = default;
};

// What the client sends. Which members a notification uses:
//   0x478 calls (the whole table) and recentHandle; 0x47D text; 0x47E contacts;
//   0x47F param (kind) and calls[0]; 0x481 param (count) and voicemails; 0x482 id and param (status).
// A client state (kClientState) carries calls (the whole table) and recentHandle.
struct ClientMessage {
  std::uint32_t kind = kNotify;
  std::uint32_t message = 0;
  std::int32_t param = 0;
  std::int32_t id = 0;
  std::string text;
  std::vector<CallInfo> calls;
  std::vector<VoicemailRecord> voicemails;
  std::vector<std::string> contacts;
  std::optional<std::string> recentHandle;

  bool operator==(const ClientMessage&) const = default;
};

bool IsLibraryKind(std::uint32_t kind);
bool IsClientKind(std::uint32_t kind);

std::vector<std::uint8_t> Encode(const LibraryMessage& message);
std::vector<std::uint8_t> Encode(const ClientMessage& message);
// Nullopt for a message that breaks the rules above or has a kind of the other direction.
std::optional<LibraryMessage> DecodeLibraryMessage(std::uint32_t kind, std::span<const std::uint8_t> body);
std::optional<ClientMessage> DecodeClientMessage(std::uint32_t kind, std::span<const std::uint8_t> body);

// The text of a field: up to its first zero byte, cut to `limit` characters.
std::string FieldText(std::span<const std::uint8_t> bytes, std::size_t limit);

// --- low level, for tests and tools -----------------------------------------------------------

struct Field {
  std::uint16_t tag = 0;
  std::span<const std::uint8_t> data;
};
// Nullopt when a field runs past the end (a trailing part shorter than a header included).
std::optional<std::vector<Field>> SplitFields(std::span<const std::uint8_t> body);

class FieldWriter {
 public:
  void U32(std::uint16_t tag, std::uint32_t value);
  void I32(std::uint16_t tag, std::int32_t value) { U32(tag, static_cast<std::uint32_t>(value)); }
  // Longer than a field can hold (65535 bytes): cut there.
  void Bytes(std::uint16_t tag, std::span<const std::uint8_t> data);
  void Text(std::uint16_t tag, std::string_view text);
  const std::vector<std::uint8_t>& Data() const { return data_; }
  std::vector<std::uint8_t> Take() { return std::move(data_); }

 private:
  std::vector<std::uint8_t> data_;
};

}  // namespace tarvoapi
