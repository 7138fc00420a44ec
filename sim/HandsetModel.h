// The USB handset together with the HID access library in front of it, as the bridge reaches it
// through HidLink: output reports go in, input reports come out as window messages.
//
// Choices made where the handset's and the library's documentation is silent:
// - The model starts unplugged. Plug is a power-on: quiet, indicator off, no key activity, no
//   stored ring tone (the bridge uploads it again on every connection), no upload under way. Plug
//   while plugged is a new device instance, as an unplug followed by a plug.
// - The library opens only what its last FindDevice found; Unplug, CloseDevice (10) and
//   ReleaseLibrary (2) forget the open handle, ReleaseLibrary also the found device and the
//   notification message. A replugged handset must be found and opened again.
// - WriteReport fails unless the handset is plugged and open and the call passes a report of
//   length 7. A written report whose byte 0 is not 0xC0 is accepted and ignored by the handset.
// - Byte 2 0x00 is always a status report, also during an upload (the status threads keep
//   writing); every other value is a command, acknowledged with 0x5A after the acknowledgement
//   delay unless a drop is pending. 0x90/0x91 follow the version-reply mode instead.
// - Upload: 0x81 outside a parameter slot starts one. After a tag (0x81..0x85) the next command
//   byte is that tag's parameter, whatever its value, except 0x9F, which restarts the pair: the
//   next byte must be a tag again, that of the pair being resent or of the next one. A completed
//   fifth pair stores the tone. Any other byte where a tag is due abandons the upload and is
//   handled as a command.
// - 0x9F always quiets the ringer, inside an upload too.
// - Input reports: b0 0x00, b1 the code, b2 the sequence byte, b3 the status byte of the last
//   status report (0x42 at power-on), b4..b6 0x00. The sequence byte is taken when a report
//   leaves, starts at 0x01 and keeps counting across unplug and plug, so a replugged handset's
//   first report is never taken for a repeat. An injected report moves the count on past its own
//   sequence byte.
// - Reports scheduled before an Unplug, Plug, CloseDevice or ReleaseLibrary are lost: the
//   library's reader stops with its handle.
//
// Thread safety: every member may be called from any thread. State is guarded by the model's own
// mutex, which is never held while calling the clock, scheduler, transcript or poster. The clock,
// scheduler, transcript and poster must outlive the model; scheduled reports find a destroyed
// model gone.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/HidLink.h"
#include "sim/Scheduler.h"
#include "sim/Transcript.h"
#include "sim/VirtualClock.h"
#include "sim/WindowPoster.h"

namespace sim {

// Output report layout.
inline constexpr std::uint8_t kHandsetReportId = 0xC0;
inline constexpr std::uint8_t kStatusAlways = 0x40;
inline constexpr std::uint8_t kStatusIndicatorOff = 0x02;
inline constexpr std::uint8_t kStatusKeyActivity = 0x01;
// Command codes (byte 2 of an output report).
inline constexpr std::uint8_t kCmdStatus = 0x00;
inline constexpr std::uint8_t kCmdUploadFirstTag = 0x81;
inline constexpr std::uint8_t kCmdUploadLastTag = 0x85;
inline constexpr std::uint8_t kCmdVersionMajor = 0x90;
inline constexpr std::uint8_t kCmdVersionMinor = 0x91;
inline constexpr std::uint8_t kCmdRing = 0x9A;
inline constexpr std::uint8_t kCmdRingSilent = 0x9C;
inline constexpr std::uint8_t kCmdStop = 0x9F;
// Input report code b1 of an acknowledgement.
inline constexpr std::uint8_t kHandsetAck = 0x5A;

class HandsetModel final : public platform::HidLink {
 public:
  using Report = std::array<std::uint8_t, platform::kHandsetReportLength>;
  using RingTone = std::array<std::uint8_t, 5>;

  enum class VersionReply { kNormal, kSilent, kAck };  // the firmware byte, nothing, or 0x5A
  enum class Ringer { kQuiet, kRinging, kSilentRinging };

  struct WrittenReport {
    std::uint64_t time = 0;
    Report bytes{};  // zero-filled past what the caller passed
    bool ok = false;
  };

  static constexpr std::uint64_t kDefaultAckDelayMs = 5;
  static constexpr std::uint8_t kPowerOnStatus = kStatusAlways | kStatusIndicatorOff;

  HandsetModel(VirtualClock& clock, Scheduler& scheduler, Transcript& transcript, WindowPoster& poster);
  ~HandsetModel() override;
  HandsetModel(const HandsetModel&) = delete;
  HandsetModel& operator=(const HandsetModel&) = delete;

  // The world as scenario directives set it. None of these prints a transcript line.
  void Plug(std::uint16_t productId = platform::kHandsetProductA, std::uint8_t firmwareMajor = 1,
            std::uint8_t firmwareMinor = 4);
  void Unplug();
  // The next `count` command reports that would be acknowledged get no acknowledgement.
  void DropAcks(std::uint32_t count);
  void SetAckDelay(std::uint64_t ms);
  void SetVersionReply(VersionReply mode);
  void SetNextSequence(std::uint8_t sequence);
  // Reports produced on command, at once. False when nothing could be delivered (unplugged, not
  // open, or for Repeat no report yet).
  bool PressKey(std::uint8_t code);
  bool InjectReport(const Report& report);
  bool Repeat();

  // Observation.
  bool Plugged() const;
  bool Opened() const;
  platform::WindowHandle Window() const;
  std::uint32_t NotifyMessage() const;
  Ringer RingerState() const;
  bool IndicatorOn() const;
  bool KeyActivityOn() const;
  std::optional<RingTone> StoredRingTone() const;
  std::uint32_t CompletedUploads() const;
  std::uint32_t PendingDrops() const;
  // The last kWrittenHistory reports written, oldest first: a handset left running for days
  // (status reports ten times a second) keeps a bounded history.
  std::vector<WrittenReport> WrittenReports() const;
  static constexpr std::size_t kWrittenHistory = 4096;

  // platform::HidLink
  int FindDevice(std::uint32_t vendorId, std::uint32_t productId) override;
  int OpenDevice(platform::WindowHandle window) override;
  void SetNotifyMessage(std::uint32_t message) override;
  int WriteReport(const std::uint8_t* report, int length) override;
  void CloseDevice() override;
  void ReleaseLibrary() override;

 private:
  // Scheduled callbacks run only while the model lives.
  struct Lifetime {
    std::mutex mutex;
    bool alive = true;
  };
  // Where a ring-tone upload stands.
  struct Upload {
    bool active = false;
    bool paramDue = false;  // the last byte was a tag
    int pair = 0;           // index of the last tag, 0..4
    RingTone params{};
  };
  struct Outgoing {
    Report report{};
    platform::WindowHandle window = 0;
    std::uint32_t message = 0;
  };

  // Everything with a `Locked` suffix runs under mutex_.
  std::optional<std::uint8_t> HandleCommandLocked(std::uint8_t code);
  // True when the byte belongs to an upload (tag, parameter or restart).
  bool HandleUploadByteLocked(std::uint8_t code);
  void PowerOnLocked();
  Report FreshReportLocked(std::uint8_t code);  // takes the next sequence byte
  Outgoing OutgoingLocked(const Report& report);
  void Deliver(const Outgoing& outgoing);
  void DeliverLater(std::uint8_t code, std::uint64_t delay, std::uint64_t epoch);

  VirtualClock& clock_;
  Scheduler& scheduler_;
  Transcript& transcript_;
  WindowPoster& poster_;
  std::shared_ptr<Lifetime> life_ = std::make_shared<Lifetime>();

  mutable std::mutex mutex_;
  // The device.
  bool plugged_ = false;
  std::uint16_t productId_ = 0;
  std::uint8_t firmwareMajor_ = 0;
  std::uint8_t firmwareMinor_ = 0;
  std::uint8_t status_ = kPowerOnStatus;
  Ringer ringer_ = Ringer::kQuiet;
  Upload upload_;
  std::optional<RingTone> ringTone_;
  std::uint32_t uploads_ = 0;
  std::uint8_t nextSequence_ = 0x01;
  std::optional<Report> lastReport_;
  // Faults.
  std::uint32_t dropAcks_ = 0;
  std::uint64_t ackDelay_ = kDefaultAckDelayMs;
  VersionReply versionReply_ = VersionReply::kNormal;
  // The library.
  bool found_ = false;
  bool opened_ = false;
  platform::WindowHandle window_ = 0;
  std::uint32_t message_ = platform::kHandsetReportMessage;
  // Bumped whenever the reader stops, so reports scheduled before are lost.
  std::uint64_t epoch_ = 0;
  std::deque<WrittenReport> written_;
};

}  // namespace sim
