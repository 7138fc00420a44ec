// The softphone client library as the bridge uses it: the 14 exports, with the records it
// delivers laid out as the library lays them out.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/Window.h"

namespace platform {

// Notifications posted to the window given to Initialize (WM_USER + 120 .. + 130).
inline constexpr std::uint32_t kClientAttached = 0x478;
inline constexpr std::uint32_t kClientAttachPending = 0x479;
inline constexpr std::uint32_t kClientAttachRefused = 0x47A;
inline constexpr std::uint32_t kClientNotAvailable = 0x47B;
inline constexpr std::uint32_t kClientAvailable = 0x47C;
inline constexpr std::uint32_t kClientStatusText = 0x47D;      // wParam: zero-terminated text
inline constexpr std::uint32_t kClientContactList = 0x47E;
inline constexpr std::uint32_t kClientCallStatus = 0x47F;      // wParam: CALLStructure, lParam: kind
inline constexpr std::uint32_t kClientDetached = 0x480;
inline constexpr std::uint32_t kClientVoicemailList = 0x481;   // wParam: VoicemailEntry array, lParam: count
inline constexpr std::uint32_t kClientVoicemailStatus = 0x482; // wParam: voicemail id, lParam: status

// CALLStructure: the bridge reads three fields at fixed offsets.
inline constexpr std::size_t kCallIdOffset = 0;
inline constexpr std::size_t kCallStatusOffset = 172;
inline constexpr std::size_t kCallStatusSize = 20;
inline constexpr std::size_t kCallConferenceOffset = 192;
inline constexpr std::size_t kCallStructureSize = 196;

// VoicemailEntry: 268 bytes, little-endian.
inline constexpr std::size_t kVoicemailIdOffset = 0;
inline constexpr std::size_t kVoicemailTimestampOffset = 4;
inline constexpr std::size_t kVoicemailStatusOffset = 8;
inline constexpr std::size_t kVoicemailPartnerOffset = 12;
inline constexpr std::size_t kVoicemailPartnerSize = 256;
inline constexpr std::size_t kVoicemailEntrySize = 268;

// Buffer size the bridge passes to GetRecentCallHandle.
inline constexpr std::size_t kRecentCallHandleSize = 100;

class ClientApi {
 public:
  virtual ~ClientApi() = default;
  virtual bool Initialize(WindowHandle window) = 0;
  virtual void Connect2Tarvo() = 0;
  virtual void Disconnect2Tarvo() = 0;
  // Queued; replies come back as notifications.
  virtual void SendStringCommand(const char* command) = 0;
  // Sent at once.
  virtual bool SendCommandDirect(const char* command) = 0;
  // Calls in progress (count, id of one), ringing incoming (count, id), on hold (count, id);
  // an id is 0 or less when there is none.
  virtual void GetCallNumber(int& inProgress, int& inProgressId, int& ringing, int& ringingId, int& onHold,
                             int& onHoldId) = 0;
  // The same groups as counts and id arrays; a null array asks for the count only, otherwise
  // the array holds `count` elements on entry.
  virtual void GetCallNumberEx(int& inProgress, unsigned long* inProgressIds, int& ringing,
                               unsigned long* ringingIds, int& onHold, unsigned long* onHoldIds) = 0;
  // Fills kCallStructureSize bytes.
  virtual bool GetCallbyID(int id, std::uint8_t* callStructure) = 0;
  virtual void SetCurrentCalltoOnHold() = 0;
  // Zero-terminated handle into a buffer of at least kRecentCallHandleSize bytes.
  virtual bool GetRecentCallHandle(char* handle) = 0;
  virtual bool CloseTarvoMSGDialog() = 0;
  virtual void MinimizeTarvo() = 0;
  virtual void UpdateVMList() = 0;
  virtual void UpdateContactList1() = 0;
};

}  // namespace platform
