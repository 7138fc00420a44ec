// The main window's side of the handset's reports: listing them in the HID debug list and
// turning the keys the handset link hands out into operations followed by their key tone.
#include <cstdio>

#include "bridge/app/BridgeDlg.h"
#include "platform/HidLink.h"
#include "resources/bridge/resource.h"

namespace bridge {
namespace {

constexpr int kHidDebugList = IDC_HID_DEBUG;
// The HID debug list keeps the newest lines only, so a long session cannot grow it without bound.
constexpr int kHidDebugListMax = 500;

// Key codes.
constexpr std::uint8_t kKeyClient = 0x1C;
constexpr std::uint8_t kKeyUp = 0x1D;
constexpr std::uint8_t kKeyDown = 0x1E;
constexpr std::uint8_t kKeyNo = 0x1F;
constexpr std::uint8_t kKeyYes = 0x20;
constexpr std::uint8_t kKeyHold = 0x23;
constexpr std::uint8_t kKeyRedial = 0x24;
constexpr std::uint8_t kKeyMute = 0x2F;
constexpr std::uint8_t kKeyVolumeUp = 0x32;
constexpr std::uint8_t kKeyVolumeDown = 0x33;
constexpr std::uint8_t kKeyDigit0 = 0xB0;
constexpr std::uint8_t kKeyDigit9 = 0xB9;
constexpr std::uint8_t kKeyStar = 0xBA;
constexpr std::uint8_t kKeyHash = 0xBB;
constexpr std::uint8_t kKeyPlus = 0xC1;
constexpr std::uint8_t kKeyMinimize = 0xC2;
constexpr std::uint8_t kKeyVoicemail = 0xC3;

}  // namespace

void CBridgeDlg::LogHandsetReport(const std::uint8_t* bytes, int count) {
  if (!window_) return;
  char text[256] = "MCU->";
  std::size_t length = 5;
  for (int i = 0; i < count && length + 3 < sizeof text; ++i) {
    length += static_cast<std::size_t>(std::snprintf(text + length, sizeof text - length, " %02X", bytes[i]));
  }
  auto& controls = window_->Controls();
  while (controls.ListCount(kHidDebugList) >= kHidDebugListMax) controls.ListDelete(kHidDebugList, 0);
  const int index = controls.ListAdd(kHidDebugList, text);
  // Selecting the line scrolls it into view; the selection itself is not wanted.
  controls.ListSelect(kHidDebugList, index);
  controls.ListSelect(kHidDebugList, -1);
}

void CBridgeDlg::OnHandsetEvent(std::uintptr_t wParam, std::intptr_t lParam) {
  const auto report = handset_.OnHandsetReport(wParam, lParam);
  if (!report.present) return;
  LogHandsetReport(report.bytes.data(), platform::kHandsetReportLength);
  if (report.key) DispatchKey(*report.key, report.mode);
}

void CBridgeDlg::DispatchKey(std::uint8_t code, HandsetEventMode mode) {
  auto& keys = softphone_;
  if (mode == HandsetEventMode::VolumeOnly) {
    if (code == kKeyUp) keys.OnKeyVolumeUp();
    if (code == kKeyDown) keys.OnKeyVolumeDown();
    return;
  }
  // A shown voicemail list takes the keys that move through it and play from it; every other
  // key but the voicemail key does nothing meanwhile.
  if (CVoicemailDlg* list = VoicemailListShown() ? voicemail_.List() : nullptr) {
    switch (code) {
      case kKeyUp:
        list->SelectPrevious();
        return PlayKeyTone('A');
      case kKeyDown:
        list->SelectNext();
        return PlayKeyTone('B');
      case kKeyNo:
        list->StopPlayback();
        return PlayKeyTone('D');
      case kKeyYes:
        list->StartPlayback();
        return PlayKeyTone('C');
      case kKeyVoicemail:
        return OnVoicemailKey();
      default:
        return;
    }
  }
  if (code >= kKeyDigit0 && code <= kKeyDigit9) return keys.OnKeyDigit(static_cast<char>('0' + (code - kKeyDigit0)));
  switch (code) {
    case kKeyClient:
      keys.OnKeyClient();
      return PlayKeyTone('B');
    case kKeyUp:
      keys.OnKeyUp();
      return PlayKeyTone('A');
    case kKeyDown:
      keys.OnKeyDown();
      return PlayKeyTone('B');
    case kKeyNo:
      keys.OnKeyHangUp();
      return PlayKeyTone('D');
    case kKeyYes:
      keys.OnKeyAnswer();
      return PlayKeyTone('C');
    case kKeyHold:
      keys.OnKeyHold();
      return PlayKeyTone('C');
    case kKeyRedial:
      keys.OnKeyRedial();
      return PlayKeyTone('A');
    case kKeyMute:
      keys.OnKeyMute();
      return PlayKeyTone('D');
    case kKeyVolumeUp:
      return keys.OnKeyVolumeUp();
    case kKeyVolumeDown:
      return keys.OnKeyVolumeDown();
    case kKeyStar:
      return keys.OnKeyDigit('*');
    case kKeyHash:
      return keys.OnKeyDigit('#');
    case kKeyPlus:
      keys.OnKeyHangUp();
      return keys.SendHookOffPlus();
    case kKeyMinimize:
      return keys.MinimizeClient();
    case kKeyVoicemail:
      return OnVoicemailKey();
    default:
      return;
  }
}

bool CBridgeDlg::VoicemailListShown() const { return voicemail_.ListShown(); }

void CBridgeDlg::OnVoicemailKey() { voicemail_.OnVoicemailKey(softphone_.State().clientAttached); }

}  // namespace bridge
