#include "platform/win32/Win32Ui.h"

#include <windows.h>

#include <algorithm>
#include <system_error>
#include <thread>
#include <utility>

#include "platform/win32/AppShell.h"
#include "platform/win32/DialogHost.h"
#include "platform/win32/ResourceModule.h"
#include "platform/win32/Text.h"

namespace win32 {

namespace {

HWND HwndOf(platform::DialogWindow& window) { return reinterpret_cast<HWND>(window.Handle()); }
HWND HwndOf(platform::DialogWindow* window) { return window ? HwndOf(*window) : nullptr; }

// Shared icons are owned by the system: never destroyed, valid for the life of the process.
HICON LoadSharedIcon(HMODULE module, UINT id, int size) {
  return static_cast<HICON>(LoadImageW(module, MAKEINTRESOURCEW(id), IMAGE_ICON, size, size, LR_SHARED));
}

// From the current resources, else from the program: a language library carries no icons.
HICON LoadWindowIcon(UINT id, int size) {
  const HICON icon = LoadSharedIcon(CurrentResourceModule(), id, size);
  return icon ? icon : LoadSharedIcon(ProgramModule(), id, size);
}

// Walks `path` down the pop-up menus; missing items and sub-menus leave the menu as it is.
void ApplyMenuEdit(HMENU popup, const platform::MenuEdit& edit) {
  if (edit.path.empty()) return;
  HMENU menu = popup;
  for (std::size_t i = 0; menu && i + 1 < edit.path.size(); ++i)
    menu = edit.path[i] < 0 ? nullptr : GetSubMenu(menu, edit.path[i]);
  const int position = edit.path.back();
  if (!menu || position < 0) return;
  const UINT item = static_cast<UINT>(position);
  switch (edit.kind) {
    case platform::MenuEdit::Kind::Enable:
      EnableMenuItem(menu, item, MF_BYPOSITION | MF_ENABLED);
      break;
    case platform::MenuEdit::Kind::Gray:
      EnableMenuItem(menu, item, MF_BYPOSITION | MF_GRAYED);
      break;
    case platform::MenuEdit::Kind::Check:
      CheckMenuItem(menu, item, MF_BYPOSITION | MF_CHECKED);
      break;
  }
}

}  // namespace

// Stands between the host and the caller's presenter, so that the host can be freed once the
// presenter has seen the window's last message.
class Win32Ui::ModelessDialog final : public platform::DialogPresenter {
 public:
  ModelessDialog(Win32Ui& ui, platform::DialogPresenter& presenter) : ui_(ui), presenter_(presenter), host_(*this) {}

  DialogHost& Host() { return host_; }
  // While DialogHost::Create runs, the host must not be freed under it.
  bool creating = false;
  bool gone = false;

  bool OnMessage(platform::DialogWindow& window, std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam,
                 std::intptr_t& result) override {
    const bool handled = presenter_.OnMessage(window, msg, wParam, lParam, result);
    if (msg == WM_NCDESTROY) {
      if (creating)
        gone = true;
      else
        ui_.Release(this);  // frees this object: nothing below may touch a member
    }
    return handled;
  }

 private:
  Win32Ui& ui_;
  platform::DialogPresenter& presenter_;
  DialogHost host_;
};

Win32Ui::Win32Ui() = default;

Win32Ui::~Win32Ui() {
  // Newest first, so owned dialogs go before their owners. Destroying a window can still destroy
  // others, whose hosts then leave the list through Release: never iterate it here.
  while (!modeless_.empty()) {
    std::unique_ptr<ModelessDialog> last = std::move(modeless_.back());
    modeless_.pop_back();
  }
}

void Win32Ui::Release(ModelessDialog* dialog) {
  const auto it = std::find_if(modeless_.begin(), modeless_.end(),
                               [dialog](const std::unique_ptr<ModelessDialog>& each) { return each.get() == dialog; });
  if (it == modeless_.end()) return;
  // Out of the list first: the destructor may run code that creates or frees other dialogs.
  std::unique_ptr<ModelessDialog> released = std::move(*it);
  modeless_.erase(it);
}

platform::ModuleHandle Win32Ui::LoadLanguageLibrary(const char* fileName) {
  if (!fileName || !*fileName) return platform::kProgramResources;
  // Never freed: strings, menus and dialogs of the library may be current at any time.
  return reinterpret_cast<platform::ModuleHandle>(win32::LoadResourceLibrary(fileName));
}

void Win32Ui::SetResourceModule(platform::ModuleHandle module) {
  SetCurrentResourceModule(reinterpret_cast<HMODULE>(module));
}

std::string Win32Ui::LoadText(int id) { return LoadUtf8String(static_cast<UINT>(id)); }

platform::DialogWindow* Win32Ui::CreateModeless(int templateId, platform::DialogPresenter& presenter,
                                                platform::DialogWindow* parent) {
  modeless_.push_back(std::make_unique<ModelessDialog>(*this, presenter));
  ModelessDialog* const dialog = modeless_.back().get();
  dialog->creating = true;
  const bool created = dialog->Host().Create(static_cast<UINT>(templateId), HwndOf(parent));
  dialog->creating = false;
  if (created && !dialog->gone) return &dialog->Host();
  Release(dialog);
  return nullptr;
}

std::intptr_t Win32Ui::RunModal(int templateId, platform::DialogPresenter& presenter, platform::DialogWindow* owner) {
  DialogHost host(presenter);
  return host.RunModal(static_cast<UINT>(templateId), HwndOf(owner));
}

int Win32Ui::ShowMessageBox(platform::DialogWindow* owner, std::string_view text, std::string_view caption,
                            std::uint32_t flags) {
  const std::wstring wideText = Utf8ToWide(text);
  const std::wstring wideCaption = Utf8ToWide(caption);
  return MessageBoxW(HwndOf(owner), wideText.c_str(), wideCaption.c_str(), flags);
}

void Win32Ui::ShowPopupMenu(platform::DialogWindow& owner, int menuId, const std::vector<platform::MenuEdit>& edits) {
  const UniqueMenu menu = LoadMenuResource(static_cast<UINT>(menuId));
  const HMENU popup = menu ? GetSubMenu(menu.get(), 0) : nullptr;
  if (!popup) return;
  for (const platform::MenuEdit& edit : edits) ApplyMenuEdit(popup, edit);

  POINT cursor{};
  GetCursorPos(&cursor);
  const HWND window = HwndOf(owner);
  // A pop-up menu only closes on a click elsewhere when its owner is the foreground window.
  SetForegroundWindow(window);
  TrackPopupMenu(popup, TPM_RIGHTALIGN, cursor.x, cursor.y, 0, window, nullptr);
  // Completes the switch to the owner's task; without it the next tray click can open the menu
  // only for it to close at once.
  PostMessageW(window, WM_NULL, 0, 0);
}

void Win32Ui::AddSystemMenuItem(platform::DialogWindow& window, std::uint32_t id, std::string_view text) {
  const HMENU menu = GetSystemMenu(HwndOf(window), FALSE);
  if (!menu) return;
  const std::wstring wideText = Utf8ToWide(text);
  AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(menu, MF_STRING, id, wideText.c_str());
}

std::uintptr_t Win32Ui::SetWindowIcon(platform::DialogWindow& window, int iconId) {
  const HWND hwnd = HwndOf(window);
  const UINT id = static_cast<UINT>(iconId);
  const HICON bigIcon = LoadWindowIcon(id, GetSystemMetrics(SM_CXICON));
  if (bigIcon) SendMessageW(hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon));
  if (const HICON smallIcon = LoadWindowIcon(id, GetSystemMetrics(SM_CXSMICON)))
    SendMessageW(hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon));
  return reinterpret_cast<std::uintptr_t>(bigIcon);
}

void Win32Ui::MoveTopmostTo(platform::DialogWindow& window, int right, int bottom) {
  const HWND hwnd = HwndOf(window);
  RECT rect{};
  if (!GetWindowRect(hwnd, &rect)) return;
  POINT topLeft{right - (rect.right - rect.left), bottom - (rect.bottom - rect.top)};
  // A child window is placed in its parent's client coordinates.
  if (GetWindowLongW(hwnd, GWL_STYLE) & WS_CHILD) MapWindowPoints(nullptr, GetParent(hwnd), &topLeft, 1);
  // Never activates: the window is usually hidden, and stays so.
  SetWindowPos(hwnd, HWND_TOPMOST, topLeft.x, topLeft.y, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE);
}

bool Win32Ui::IsModelessDialog(std::uintptr_t window) const {
  return std::any_of(modeless_.begin(), modeless_.end(),
                     [window](const std::unique_ptr<ModelessDialog>& each) { return each->Host().Handle() == window; });
}

int Win32Ui::RunMessageLoop() {
  return AppShell([this](HWND window) { return IsModelessDialog(reinterpret_cast<std::uintptr_t>(window)); }).Run();
}

void Win32Ui::PostQuit(int exitCode) { PostQuitMessage(exitCode); }

bool Win32Ui::CreateSingleInstanceMutex(const char* name) {
  const HANDLE mutex = CreateMutexA(nullptr, TRUE, name);
  const DWORD error = GetLastError();
  // Deliberately never closed: the name stays taken until the process ends.
  return mutex != nullptr && error != ERROR_ALREADY_EXISTS;
}

void Win32Ui::StartThread(const char*, std::function<void(std::stop_token)> body) {
  if (!body) return;
  try {
    // A default stop token can never be requested: production threads end with the process.
    std::thread(std::move(body), std::stop_token{}).detach();
  } catch (const std::system_error&) {
    // No thread could be made; like every failure of the shell, silent.
  }
}

}  // namespace win32
