// The voicemail list from the client, moved through and played from the handset's keys:
// CVoicemailDlg (dialog 160), the always-on-top list; CPleaseWaitDlg (dialog 161), shown while a
// list is asked for; CVoicemailWindows, the two as the main window runs them.
//
// Everything here runs on the user-interface thread: the client library's notifications and the
// handset's keys arrive there as messages to the main window.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bridge/softphone/VoicemailEntry.h"
#include "platform/ClientApi.h"
#include "platform/Desktop.h"
#include "platform/DialogPresenter.h"
#include "platform/Ui.h"

namespace bridge {

// Sent (not posted) by the list window to its parent when the user has closed it.
inline constexpr std::uint32_t kMsgVoicemailClosed = 0x801;

// What the voicemail windows reach outside themselves.
struct VoicemailPorts {
  platform::Ui& ui;
  platform::Desktop& desktop;
  platform::ClientApi& client;
};

class CVoicemailDlg final : public platform::DialogPresenter {
 public:
  // `parent` hears kMsgVoicemailClosed.
  CVoicemailDlg(VoicemailPorts ports, platform::WindowHandle parent) : ports_(ports), parent_(parent) {}

  bool OnMessage(platform::DialogWindow& window, std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam,
                 std::intptr_t& result) override;

  // Keeps its own copy of a delivered list (read within the bounds of VoicemailEntry.h); nothing
  // when the count is 0 or less, the array is null, or a copy is held already.
  void SetEntries(const std::uint8_t* array, std::intptr_t count);
  // Fills the list from the copy: columns, colours, the status images, one row per entry, row 0
  // selected. Without a copy the list stays empty.
  void FillList();
  // Every row of voicemail `id` shows the image of `status`; a status without an image leaves it.
  void UpdateStatus(std::int32_t id, std::int32_t status);
  // The handset's up and down keys: the row above or below the selected one, else row 0.
  void SelectPrevious();
  void SelectNext();
  // The yes and no keys: the selected voicemail's playback, through the client.
  void StartPlayback();
  void StopPlayback();

  // Null before the window is made and once it is gone.
  platform::DialogWindow* Window() const { return window_; }

 private:
  void ShowAndFocus();
  int FirstSelected();
  void SendPlayback(const char* action);

  VoicemailPorts ports_;
  const platform::WindowHandle parent_;
  platform::DialogWindow* window_ = nullptr;
  std::optional<std::vector<VoicemailEntry>> entries_;
};

class CPleaseWaitDlg final : public platform::DialogPresenter {
 public:
  // The text is cut to the window's 127 characters.
  explicit CPleaseWaitDlg(std::string_view text);

  bool OnMessage(platform::DialogWindow& window, std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam,
                 std::intptr_t& result) override;

  platform::DialogWindow* Window() const { return window_; }

 private:
  std::string text_;
  platform::DialogWindow* window_ = nullptr;
};

// The voicemail display as the main window sees it:
//   None     no list, no request          Waiting  a request under way (please-wait shown)
//   Shown    the list, not closed          Hidden   the list, closed by the user
// The voicemail key goes None → Waiting, Shown → None, Hidden → Waiting; a delivered list makes
// any state Shown; the user's close makes Shown Hidden; the client's detach ends Shown and
// Waiting, and leaves a Hidden list.
class CVoicemailWindows {
 public:
  enum class State { None, Waiting, Shown, Hidden };

  explicit CVoicemailWindows(VoicemailPorts ports) : ports_(ports) {}
  // The windows go with their parent, the main window, which must outlive neither this object
  // nor anything here.
  CVoicemailWindows(const CVoicemailWindows&) = delete;
  CVoicemailWindows& operator=(const CVoicemailWindows&) = delete;

  // The main window, parent of both windows; set once it is initialised.
  void SetParent(platform::DialogWindow* parent) { parent_ = parent; }

  // The handset's voicemail key; ignored while the client is not attached.
  void OnVoicemailKey(bool clientAttached);
  // Messages 0x481 (array, count), 0x482 (id, status), 0x480 and kMsgVoicemailClosed.
  void OnListDelivered(std::uintptr_t wParam, std::intptr_t lParam);
  void OnStatusChanged(std::uintptr_t wParam, std::intptr_t lParam);
  void OnClientDetached();
  void OnClosedByUser() { hidden_ = true; }

  State CurrentState() const;
  // Shown: the handset's up, down, no and yes keys go to List().
  bool ListShown() const { return CurrentState() == State::Shown; }
  CVoicemailDlg* List() const { return list_.get(); }

 private:
  void DestroyList();
  void DestroyWait();

  VoicemailPorts ports_;
  platform::DialogWindow* parent_ = nullptr;
  std::unique_ptr<CVoicemailDlg> list_;
  std::unique_ptr<CPleaseWaitDlg> wait_;
  bool hidden_ = false;
};

}  // namespace bridge
