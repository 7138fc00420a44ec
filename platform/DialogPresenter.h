// The portable side of a dialog: the Win32 host creates the real window from its resource
// template and hands every message to the presenter, which acts through DialogWindow.
#pragma once

#include <cstdint>

#include "platform/DialogControls.h"

namespace platform {

class DialogWindow {
 public:
  virtual ~DialogWindow() = default;
  virtual DialogControls& Controls() = 0;
  // Opaque window handle (the HWND's value), for ports that need to name this window.
  virtual std::uintptr_t Handle() = 0;
  virtual void Show(bool visible) = 0;
  // ShowWindow with one of its commands (kSwShow, kSwShowNormal, kSwHide). WM_SHOWWINDOW reaches
  // the presenter only when the visibility changes.
  virtual void ShowCommand(int command) = 0;
  // Centres the window on its owner, or on the work area when the owner is hidden or minimised.
  virtual void CenterOnOwner() = 0;
  // Top-most, neither moved nor resized, and shown.
  virtual void MakeTopmost() = 0;
  // Makes it the active window of its thread.
  virtual void Activate() = 0;
  // Gives it the keyboard focus, which a dialog hands on to its control that had it last (or its
  // first), activating the window.
  virtual void Focus() = 0;
  // Ends a modal dialog with `result`; for a modeless dialog, destroys it.
  virtual void End(std::intptr_t result) = 0;
  virtual void Destroy() = 0;
  virtual bool SetTimer(std::uintptr_t id, std::uint32_t ms) = 0;
  virtual void KillTimer(std::uintptr_t id) = 0;
  // The window never shows: every request to show it has its show flag stripped (a modal
  // dialog box would otherwise show itself once its queue is empty).
  virtual void KeepHidden() {}
  // For WM_CTLCOLOR*: sets a white text background on the message's device context and returns
  // the white brush as the message's answer.
  virtual std::intptr_t WhiteBackground(std::uintptr_t /*deviceContext*/) { return 0; }
};

class DialogPresenter {
 public:
  virtual ~DialogPresenter() = default;
  // Every message the dialog receives, with its two parameters at full width. Returns true when
  // handled; `result` is then the dialog procedure's answer for that message.
  virtual bool OnMessage(DialogWindow& window, std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam,
                         std::intptr_t& result) = 0;
};

}  // namespace platform
