// The Ui port on the Win32 shell: resources and language libraries, dialogs through DialogHost,
// the tray pop-up menu, message boxes, the message loop, the single-instance mutex and threads.
// Everything but StartThread and CreateSingleInstanceMutex belongs to the user-interface thread.
#pragma once

#include <memory>
#include <vector>

#include "platform/Ui.h"

namespace win32 {

class Win32Ui final : public platform::Ui {
 public:
  Win32Ui();
  // Destroys the modeless dialogs still open, without telling their presenters.
  ~Win32Ui() override;
  Win32Ui(const Win32Ui&) = delete;
  Win32Ui& operator=(const Win32Ui&) = delete;

  platform::ModuleHandle LoadLanguageLibrary(const char* fileName) override;
  void SetResourceModule(platform::ModuleHandle module) override;
  std::string LoadText(int id) override;

  // The returned window belongs to this object and is freed once its presenter has seen
  // WM_NCDESTROY; it must not be used after that.
  platform::DialogWindow* CreateModeless(int templateId, platform::DialogPresenter& presenter,
                                         platform::DialogWindow* parent) override;
  std::intptr_t RunModal(int templateId, platform::DialogPresenter& presenter, platform::DialogWindow* owner) override;
  int ShowMessageBox(platform::DialogWindow* owner, std::string_view text, std::string_view caption,
                     std::uint32_t flags) override;
  void ShowPopupMenu(platform::DialogWindow& owner, int menuId, const std::vector<platform::MenuEdit>& edits) override;
  void AddSystemMenuItem(platform::DialogWindow& window, std::uint32_t id, std::string_view text) override;
  // Leaves the window's icons alone when neither the current resources nor the program have it.
  std::uintptr_t SetWindowIcon(platform::DialogWindow& window, int iconId) override;
  void MoveTopmostTo(platform::DialogWindow& window, int right, int bottom) override;

  // The modeless dialogs created here get their dialog keyboard handling in the loop.
  int RunMessageLoop() override;
  void PostQuit(int exitCode) override;

  bool CreateSingleInstanceMutex(const char* name) override;
  // The name is not given to the thread: Vista has no call that names one.
  void StartThread(const char* name, std::function<void(std::stop_token)> body) override;

 private:
  class ModelessDialog;
  void Release(ModelessDialog* dialog);
  bool IsModelessDialog(std::uintptr_t window) const;

  std::vector<std::unique_ptr<ModelessDialog>> modeless_;
};

}  // namespace win32
