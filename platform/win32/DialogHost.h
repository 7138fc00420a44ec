// Hosts one portable dialog presenter in a real dialog window made from a resource template of
// the current resource module. Every message the dialog procedure receives, from the first
// (WM_SETFONT) to WM_NCDESTROY, goes to the presenter.
//
// Lifetime: the host must outlive its window, or be destroyed first (which destroys the window
// without telling the presenter). A presenter may destroy a modeless window, and may even delete its
// host, from inside any of its handlers: from WM_NCDESTROY on the host touches neither itself nor
// the window. A modal host must outlive RunModal.
// Closing on IDOK/IDCANCEL is the presenter's decision; the host adds no default handling.
#pragma once

#include <windows.h>

#include <cstdint>

#include "platform/DialogPresenter.h"
#include "platform/win32/Win32DialogControls.h"

namespace win32 {

// Registers the common control classes dialog templates name (track bars, list views); idempotent.
void RegisterCommonControlClasses();

class DialogHost final : public platform::DialogWindow {
 public:
  explicit DialogHost(platform::DialogPresenter& presenter);
  ~DialogHost() override;

  DialogHost(const DialogHost&) = delete;
  DialogHost& operator=(const DialogHost&) = delete;

  // Modeless. Visible only if the template says WS_VISIBLE. False when the template is missing,
  // creation failed, or the presenter destroyed the window during WM_INITDIALOG.
  bool Create(UINT templateId, HWND parent = nullptr);
  // Modal: returns the result given to End, or -1 when the dialog could not be created.
  std::intptr_t RunModal(UINT templateId, HWND parent = nullptr);

  HWND Window() const { return hwnd_; }

  // platform::DialogWindow
  platform::DialogControls& Controls() override { return controls_; }
  std::uintptr_t Handle() override { return reinterpret_cast<std::uintptr_t>(hwnd_); }
  void Show(bool visible) override;
  void ShowCommand(int command) override;
  void CenterOnOwner() override;
  void MakeTopmost() override;
  void Activate() override;
  void Focus() override;
  void End(std::intptr_t result) override;
  void Destroy() override;
  bool SetTimer(std::uintptr_t id, std::uint32_t ms) override;
  void KillTimer(std::uintptr_t id) override;
  void KeepHidden() override { keepHidden_ = true; }
  std::intptr_t WhiteBackground(std::uintptr_t deviceContext) override;

 private:
  // One per message being handled, innermost first, so a nested WM_NCDESTROY can tell every
  // handler further out that the window (and maybe the host) is gone.
  struct Frame {
    Frame* outer = nullptr;
    bool windowGone = false;
  };

  static INT_PTR CALLBACK Procedure(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
  INT_PTR Route(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
  void Attach(HWND hwnd);
  void Detach();

  platform::DialogPresenter& presenter_;
  Win32DialogControls controls_;
  HWND hwnd_ = nullptr;
  bool modal_ = false;
  bool keepHidden_ = false;
  Frame* frames_ = nullptr;
};

}  // namespace win32
