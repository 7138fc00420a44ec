// A program's own user-interface services: resources and language libraries, dialogs, the tray
// pop-up menu, message boxes, the message loop, the single-instance mutex and worker threads.
// Texts are UTF-8; the Win32 side converts them for the wide functions.
#pragma once

#include <cstdint>
#include <functional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "platform/DialogPresenter.h"

namespace platform {

// A loaded resource library; 0 stands for the program's own resources.
using ModuleHandle = std::uintptr_t;
inline constexpr ModuleHandle kProgramResources = 0;

// Message box flags and answers, with Win32's numbers.
inline constexpr std::uint32_t kMbOk = 0x00;
inline constexpr std::uint32_t kMbYesNo = 0x04;
inline constexpr std::uint32_t kMbIconExclamation = 0x30;
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;
inline constexpr int kIdYes = 6;
inline constexpr int kIdNo = 7;

// One change to a pop-up menu before it is shown. `path` holds item positions below the menu
// resource's first pop-up: {0, 4} is item 4 of the pop-up at position 0. Items that do not exist
// are left alone, as EnableMenuItem and CheckMenuItem by position do.
struct MenuEdit {
  enum class Kind { Enable, Gray, Check };
  std::vector<int> path;
  Kind kind = Kind::Enable;
};

class Ui {
 public:
  virtual ~Ui() = default;

  // --- Resources
  // A resource library by file name, as data only, from the program's folder or the system
  // folder (never the current directory or the PATH); 0 on failure.
  // A loaded library stays loaded for the life of the program.
  virtual ModuleHandle LoadLanguageLibrary(const char* fileName) = 0;
  // Where strings, menus and dialogs come from from now on; icons always come from the program.
  virtual void SetResourceModule(ModuleHandle module) = 0;
  // A string of the current resources; empty when it is not there.
  virtual std::string LoadText(int id) = 0;

  // --- Windows
  // Creates a modeless dialog from a template of the current resources, hidden unless the
  // template says visible; null on failure. The presenter sees every message and must outlive
  // the window; the window is gone once the presenter has seen WM_NCDESTROY.
  virtual DialogWindow* CreateModeless(int templateId, DialogPresenter& presenter, DialogWindow* parent) = 0;
  // Runs a modal dialog to its end; its end result, or -1 when it could not be created.
  virtual std::intptr_t RunModal(int templateId, DialogPresenter& presenter, DialogWindow* owner) = 0;
  // MessageBox: the answer (kIdYes, kIdNo, ...).
  virtual int ShowMessageBox(DialogWindow* owner, std::string_view text, std::string_view caption,
                             std::uint32_t flags) = 0;
  // Loads menu `menuId` from the current resources, applies `edits` to its first pop-up and
  // tracks that pop-up at the cursor, right-aligned, with `owner` brought to the foreground
  // first. The chosen command reaches `owner` as WM_COMMAND; returns once the menu has closed.
  virtual void ShowPopupMenu(DialogWindow& owner, int menuId, const std::vector<MenuEdit>& edits) = 0;
  // Appends a separator and an item to the window's system menu.
  virtual void AddSystemMenuItem(DialogWindow& window, std::uint32_t id, std::string_view text) = 0;
  // Sets an icon of the program's resources as the window's big and small icon; returns the big
  // icon's handle (it lives as long as the program), 0 when it could not be loaded.
  virtual std::uintptr_t SetWindowIcon(DialogWindow& window, int iconId) = 0;
  // Moves the window without resizing it, top-most, so that its bottom-right corner lies at
  // (right, bottom) in screen coordinates.
  virtual void MoveTopmostTo(DialogWindow& window, int right, int bottom) = 0;

  // --- The program's message loop
  // GetMessage/TranslateMessage/DispatchMessage until WM_QUIT; returns the quit code.
  virtual int RunMessageLoop() = 0;
  virtual void PostQuit(int exitCode) = 0;

  // --- Process
  // CreateMutexA, initially owned, held until the process ends; false when it existed already
  // or could not be created.
  virtual bool CreateSingleInstanceMutex(const char* name) = 0;
  // Starts a worker thread for the life of the process. The stop token is only ever requested by
  // tests; production threads run until the process ends.
  virtual void StartThread(const char* name, std::function<void(std::stop_token)> body) = 0;
};

}  // namespace platform
