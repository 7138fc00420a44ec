#include "sim/HandsetModel.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace sim {

namespace {

constexpr std::uint8_t kInputStatus = 0x00;  // b0 of every report the handset sends
constexpr int kUploadPairs = 5;

bool IsUploadTag(std::uint8_t code) { return code >= kCmdUploadFirstTag && code <= kCmdUploadLastTag; }

}  // namespace

HandsetModel::HandsetModel(VirtualClock& clock, Scheduler& scheduler, Transcript& transcript, WindowPoster& poster)
    : clock_(clock), scheduler_(scheduler), transcript_(transcript), poster_(poster) {}

HandsetModel::~HandsetModel() {
  // Waits for a report being delivered right now; later ones find the model gone.
  std::lock_guard guard(life_->mutex);
  life_->alive = false;
}

// --- directives ----------------------------------------------------------------------------

void HandsetModel::Plug(std::uint16_t productId, std::uint8_t firmwareMajor, std::uint8_t firmwareMinor) {
  std::lock_guard lock(mutex_);
  // A new device instance: whatever the library held refers to the old one.
  ++epoch_;
  found_ = false;
  opened_ = false;
  window_ = 0;
  plugged_ = true;
  productId_ = productId;
  firmwareMajor_ = firmwareMajor;
  firmwareMinor_ = firmwareMinor;
  PowerOnLocked();
}

void HandsetModel::Unplug() {
  std::lock_guard lock(mutex_);
  ++epoch_;
  plugged_ = false;
  found_ = false;
  opened_ = false;
  window_ = 0;
}

void HandsetModel::DropAcks(std::uint32_t count) {
  std::lock_guard lock(mutex_);
  dropAcks_ = count;
}

void HandsetModel::SetAckDelay(std::uint64_t ms) {
  std::lock_guard lock(mutex_);
  ackDelay_ = ms;
}

void HandsetModel::SetVersionReply(VersionReply mode) {
  std::lock_guard lock(mutex_);
  versionReply_ = mode;
}

void HandsetModel::SetNextSequence(std::uint8_t sequence) {
  std::lock_guard lock(mutex_);
  nextSequence_ = sequence;
}

bool HandsetModel::PressKey(std::uint8_t code) {
  Outgoing outgoing;
  {
    std::lock_guard lock(mutex_);
    if (!plugged_ || !opened_) return false;
    outgoing = OutgoingLocked(FreshReportLocked(code));
  }
  Deliver(outgoing);
  return true;
}

bool HandsetModel::InjectReport(const Report& report) {
  Outgoing outgoing;
  {
    std::lock_guard lock(mutex_);
    if (!plugged_ || !opened_) return false;
    nextSequence_ = static_cast<std::uint8_t>(report[2] + 1);
    outgoing = OutgoingLocked(report);
  }
  Deliver(outgoing);
  return true;
}

bool HandsetModel::Repeat() {
  Outgoing outgoing;
  {
    std::lock_guard lock(mutex_);
    if (!plugged_ || !opened_ || !lastReport_) return false;
    outgoing = OutgoingLocked(*lastReport_);
  }
  Deliver(outgoing);
  return true;
}

// --- observation ---------------------------------------------------------------------------

bool HandsetModel::Plugged() const {
  std::lock_guard lock(mutex_);
  return plugged_;
}

bool HandsetModel::Opened() const {
  std::lock_guard lock(mutex_);
  return opened_;
}

platform::WindowHandle HandsetModel::Window() const {
  std::lock_guard lock(mutex_);
  return window_;
}

std::uint32_t HandsetModel::NotifyMessage() const {
  std::lock_guard lock(mutex_);
  return message_;
}

HandsetModel::Ringer HandsetModel::RingerState() const {
  std::lock_guard lock(mutex_);
  return ringer_;
}

bool HandsetModel::IndicatorOn() const {
  std::lock_guard lock(mutex_);
  return (status_ & kStatusIndicatorOff) == 0;
}

bool HandsetModel::KeyActivityOn() const {
  std::lock_guard lock(mutex_);
  return (status_ & kStatusKeyActivity) != 0;
}

std::optional<HandsetModel::RingTone> HandsetModel::StoredRingTone() const {
  std::lock_guard lock(mutex_);
  return ringTone_;
}

std::uint32_t HandsetModel::CompletedUploads() const {
  std::lock_guard lock(mutex_);
  return uploads_;
}

std::uint32_t HandsetModel::PendingDrops() const {
  std::lock_guard lock(mutex_);
  return dropAcks_;
}

std::vector<HandsetModel::WrittenReport> HandsetModel::WrittenReports() const {
  std::lock_guard lock(mutex_);
  return {written_.begin(), written_.end()};
}

// --- the library ---------------------------------------------------------------------------

int HandsetModel::FindDevice(std::uint32_t vendorId, std::uint32_t productId) {
  bool found;
  {
    std::lock_guard lock(mutex_);
    found = plugged_ && vendorId == platform::kHandsetVendorId && productId == productId_;
    found_ = found;
  }
  char text[64];
  std::snprintf(text, sizeof text, "find %04X %04X %s", static_cast<unsigned>(vendorId),
                static_cast<unsigned>(productId), found ? "found" : "none");
  transcript_.Add("hidlib", text);
  return found ? 1 : 0;
}

int HandsetModel::OpenDevice(platform::WindowHandle window) {
  bool ok;
  {
    std::lock_guard lock(mutex_);
    ok = plugged_ && found_;
    if (ok) {
      opened_ = true;
      window_ = window;
    }
  }
  transcript_.Add("hidlib", ok ? "open ok" : "open failed");
  return ok ? 1 : 0;
}

void HandsetModel::SetNotifyMessage(std::uint32_t message) {
  {
    std::lock_guard lock(mutex_);
    message_ = message;
  }
  char text[32];
  std::snprintf(text, sizeof text, "message 0x%04X", static_cast<unsigned>(message));
  transcript_.Add("hidlib", text);
}

int HandsetModel::WriteReport(const std::uint8_t* report, int length) {
  Report bytes{};
  const int count = report ? std::clamp(length, 0, platform::kHandsetReportLength) : 0;
  if (count > 0) std::copy_n(report, count, bytes.begin());
  const std::uint64_t now = clock_.Now();  // never ask the clock while holding our lock
  bool ok;
  std::optional<std::uint8_t> reply;
  std::uint64_t delay;
  std::uint64_t epoch;
  {
    std::lock_guard lock(mutex_);
    ok = report && length == platform::kHandsetReportLength && plugged_ && opened_;
    if (ok && bytes[0] == kHandsetReportId) {
      if (bytes[2] == kCmdStatus) {
        status_ = bytes[3];
      } else {
        reply = HandleCommandLocked(bytes[2]);
      }
    }
    delay = ackDelay_;
    epoch = epoch_;
    if (written_.size() == kWrittenHistory) written_.pop_front();
    written_.push_back({now, bytes, ok});
  }
  std::string line = HexBytes(bytes.data(), static_cast<std::size_t>(count));
  if (!ok) line += line.empty() ? "failed" : " failed";
  transcript_.Add("hid>", line);
  if (reply) DeliverLater(*reply, delay, epoch);
  return ok ? 1 : 0;
}

void HandsetModel::CloseDevice() {
  {
    std::lock_guard lock(mutex_);
    ++epoch_;
    opened_ = false;
    window_ = 0;
  }
  transcript_.Add("hidlib", "close 10");
}

void HandsetModel::ReleaseLibrary() {
  {
    std::lock_guard lock(mutex_);
    ++epoch_;
    opened_ = false;
    found_ = false;
    window_ = 0;
    message_ = platform::kHandsetReportMessage;
  }
  transcript_.Add("hidlib", "close 2");
}

// --- the handset ---------------------------------------------------------------------------

std::optional<std::uint8_t> HandsetModel::HandleCommandLocked(std::uint8_t code) {
  if (code == kCmdStop) ringer_ = Ringer::kQuiet;
  if (!HandleUploadByteLocked(code)) {
    switch (code) {
      case kCmdVersionMajor:
      case kCmdVersionMinor:
        // Version requests are answered by the reply mode alone; drops do not touch them.
        switch (versionReply_) {
          case VersionReply::kSilent:
            return std::nullopt;
          case VersionReply::kAck:
            return kHandsetAck;
          case VersionReply::kNormal:
            break;
        }
        return code == kCmdVersionMajor ? firmwareMajor_ : firmwareMinor_;
      case kCmdRing:
        ringer_ = Ringer::kRinging;
        break;
      case kCmdRingSilent:
        ringer_ = Ringer::kSilentRinging;
        break;
      default:
        break;
    }
  }
  if (dropAcks_ > 0) {
    --dropAcks_;
    return std::nullopt;
  }
  return kHandsetAck;
}

bool HandsetModel::HandleUploadByteLocked(std::uint8_t code) {
  Upload& up = upload_;
  if (up.active && up.paramDue) {
    up.paramDue = false;
    // The sender steps back to the tag after a restart byte, so 0x9F is never a parameter here.
    if (code == kCmdStop) return true;
    up.params[static_cast<std::size_t>(up.pair)] = code;
    if (up.pair == kUploadPairs - 1) {
      ringTone_ = up.params;
      ++uploads_;
      up = Upload{};
    }
    return true;
  }
  if (code == kCmdUploadFirstTag) {
    up = Upload{};
    up.active = true;
    up.paramDue = true;
    return true;
  }
  if (!up.active) return false;
  if (code == kCmdStop) return true;  // restart while a tag is due: the tag comes next anyway
  const int pair = code - kCmdUploadFirstTag;
  if (IsUploadTag(code) && (pair == up.pair || pair == up.pair + 1)) {
    up.pair = pair;
    up.paramDue = true;
    return true;
  }
  up = Upload{};  // out of sequence: the upload is abandoned and this is a command of its own
  return false;
}

void HandsetModel::PowerOnLocked() {
  status_ = kPowerOnStatus;
  ringer_ = Ringer::kQuiet;
  upload_ = Upload{};
  ringTone_.reset();
}

HandsetModel::Report HandsetModel::FreshReportLocked(std::uint8_t code) {
  return Report{kInputStatus, code, nextSequence_++, status_, 0x00, 0x00, 0x00};
}

HandsetModel::Outgoing HandsetModel::OutgoingLocked(const Report& report) {
  lastReport_ = report;
  return Outgoing{report, window_, message_};
}

void HandsetModel::Deliver(const Outgoing& outgoing) {
  // The line comes first: the window's thread may run as soon as the message is posted.
  transcript_.Add("hid<", HexBytes(outgoing.report.data(), outgoing.report.size()));
  const auto packed = platform::PackReport(outgoing.report.data());
  poster_.PostTo(outgoing.window, outgoing.message, packed.wParam, packed.lParam);
}

void HandsetModel::DeliverLater(std::uint8_t code, std::uint64_t delay, std::uint64_t epoch) {
  scheduler_.After(delay, [this, life = life_, code, epoch] {
    std::lock_guard guard(life->mutex);
    if (!life->alive) return;
    Outgoing outgoing;
    {
      std::lock_guard lock(mutex_);
      if (epoch != epoch_ || !plugged_ || !opened_) return;
      outgoing = OutgoingLocked(FreshReportLocked(code));
    }
    Deliver(outgoing);
  });
}

}  // namespace sim
