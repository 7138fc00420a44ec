#include "platform/win32/DialogHost.h"

#include <commctrl.h>

#include <mutex>
#include <utility>

#include "platform/win32/ResourceModule.h"

namespace win32 {

namespace {

// The host whose window is being created on this thread, until the window's first message.
thread_local DialogHost* creatingHost = nullptr;

// Messages whose answer is the dialog procedure's return value itself; every other answer goes
// through DWLP_MSGRESULT.
bool AnswersDirectly(UINT msg) {
  switch (msg) {
    case WM_INITDIALOG:
    case WM_CHARTOITEM:
    case WM_COMPAREITEM:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
    case WM_QUERYDRAGICON:
    case WM_VKEYTOITEM:
      return true;
    default:
      return false;
  }
}

}  // namespace

void RegisterCommonControlClasses() {
  static std::once_flag once;
  std::call_once(once, [] {
    INITCOMMONCONTROLSEX classes{sizeof(INITCOMMONCONTROLSEX), ICC_BAR_CLASSES | ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&classes);
  });
}

DialogHost::DialogHost(platform::DialogPresenter& presenter) : presenter_(presenter) {}

DialogHost::~DialogHost() {
  if (!hwnd_) return;
  const HWND hwnd = hwnd_;
  Detach();
  DestroyWindow(hwnd);
}

bool DialogHost::Create(UINT templateId, HWND parent) {
  if (hwnd_) return false;
  RegisterCommonControlClasses();
  modal_ = false;
  DialogHost* const previous = std::exchange(creatingHost, this);
  const HWND hwnd = CreateDialogParamW(CurrentResourceModule(), MAKEINTRESOURCEW(templateId), parent, Procedure,
                                       reinterpret_cast<LPARAM>(this));
  creatingHost = previous;
  return hwnd && hwnd == hwnd_;
}

std::intptr_t DialogHost::RunModal(UINT templateId, HWND parent) {
  if (hwnd_) return -1;
  RegisterCommonControlClasses();
  modal_ = true;
  DialogHost* const previous = std::exchange(creatingHost, this);
  const INT_PTR result = DialogBoxParamW(CurrentResourceModule(), MAKEINTRESOURCEW(templateId), parent, Procedure,
                                         reinterpret_cast<LPARAM>(this));
  creatingHost = previous;
  modal_ = false;
  return result;
}

void DialogHost::Show(bool visible) {
  if (hwnd_) ShowWindow(hwnd_, visible ? SW_SHOW : SW_HIDE);
}

void DialogHost::ShowCommand(int command) {
  if (hwnd_) ShowWindow(hwnd_, command);
}

void DialogHost::CenterOnOwner() {
  if (!hwnd_) return;
  RECT window{};
  if (!GetWindowRect(hwnd_, &window)) return;
  // As a dialog framework centres: on a visible, restored owner, otherwise on the work area of
  // the monitor the window is on.
  RECT around{};
  const HWND owner = GetWindow(hwnd_, GW_OWNER);
  if (!owner || !IsWindowVisible(owner) || IsIconic(owner) || !GetWindowRect(owner, &around)) {
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    if (!GetMonitorInfoW(MonitorFromWindow(hwnd_, MONITOR_DEFAULTTOPRIMARY), &monitor)) return;
    around = monitor.rcWork;
  }
  const int width = window.right - window.left;
  const int height = window.bottom - window.top;
  const int left = around.left + ((around.right - around.left) - width) / 2;
  const int top = around.top + ((around.bottom - around.top) - height) / 2;
  SetWindowPos(hwnd_, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void DialogHost::MakeTopmost() {
  if (hwnd_) SetWindowPos(hwnd_, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
}

void DialogHost::Activate() {
  if (hwnd_) SetActiveWindow(hwnd_);
}

// The dialog's own WM_SETFOCUS hands the focus on to the control that had it last.
void DialogHost::Focus() {
  if (hwnd_) SetFocus(hwnd_);
}

void DialogHost::End(std::intptr_t result) {
  if (!hwnd_) return;
  if (modal_)
    EndDialog(hwnd_, result);
  else
    DestroyWindow(hwnd_);
}

void DialogHost::Destroy() {
  if (!hwnd_) return;
  // A modal window belongs to DialogBoxParamW's loop; only EndDialog re-enables the owner.
  if (modal_)
    EndDialog(hwnd_, IDCANCEL);
  else
    DestroyWindow(hwnd_);
}

bool DialogHost::SetTimer(std::uintptr_t id, std::uint32_t ms) {
  return hwnd_ && ::SetTimer(hwnd_, id, ms, nullptr) != 0;
}

void DialogHost::KillTimer(std::uintptr_t id) {
  if (hwnd_) ::KillTimer(hwnd_, id);
}

void DialogHost::Attach(HWND hwnd) {
  hwnd_ = hwnd;
  controls_.Attach(hwnd);
  SetWindowLongPtrW(hwnd, DWLP_USER, reinterpret_cast<LONG_PTR>(this));
}

void DialogHost::Detach() {
  if (hwnd_) SetWindowLongPtrW(hwnd_, DWLP_USER, 0);
  hwnd_ = nullptr;
  controls_.Attach(nullptr);
  for (Frame* frame = frames_; frame; frame = frame->outer) frame->windowGone = true;
  frames_ = nullptr;
}

INT_PTR CALLBACK DialogHost::Procedure(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto* host = reinterpret_cast<DialogHost*>(GetWindowLongPtrW(hwnd, DWLP_USER));
  // The window's first message (WM_SETFONT) comes before WM_INITDIALOG carries the host.
  if (!host && creatingHost) {
    host = std::exchange(creatingHost, nullptr);
    host->Attach(hwnd);
  }
  // No host: the window outlived a destroyed host and is on its way out.
  return host ? host->Route(hwnd, msg, wParam, lParam) : FALSE;
}

INT_PTR DialogHost::Route(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  platform::DialogPresenter& presenter = presenter_;
  std::intptr_t result = 0;
  if (msg == WM_NCDESTROY) {
    // Let go first: the presenter may delete the host while handling the last message.
    Detach();
    presenter.OnMessage(*this, msg, wParam, lParam, result);
    return FALSE;
  }

  // A window kept hidden never shows, however it is asked to (the modal loop shows its dialog).
  if (msg == WM_WINDOWPOSCHANGING && keepHidden_ && lParam) {
    reinterpret_cast<WINDOWPOS*>(lParam)->flags &= ~SWP_SHOWWINDOW;
  }

  Frame frame{frames_};
  frames_ = &frame;
  // WM_INITDIALOG's parameter is the host itself, which is none of the presenter's business.
  const bool handled = presenter.OnMessage(*this, msg, wParam, msg == WM_INITDIALOG ? 0 : lParam, result);
  if (frame.windowGone) return FALSE;
  frames_ = frame.outer;

  // Unhandled WM_INITDIALOG: TRUE lets the system focus the first tab stop.
  if (!handled) return msg == WM_INITDIALOG ? TRUE : FALSE;
  if (AnswersDirectly(msg)) return result;
  SetWindowLongPtrW(hwnd, DWLP_MSGRESULT, result);
  return TRUE;
}

std::intptr_t DialogHost::WhiteBackground(std::uintptr_t deviceContext) {
  SetBkColor(reinterpret_cast<HDC>(deviceContext), RGB(255, 255, 255));
  return reinterpret_cast<std::intptr_t>(GetStockObject(WHITE_BRUSH));
}

}  // namespace win32
