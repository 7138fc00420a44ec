// shell_smoke.exe: drives the Win32 shell (DialogHost, DialogControls, AppShell, ResourceModule)
// on real windows under Wine. Prints each failed check and a summary; exits 0 only when all pass.
// With --show it only shows the dialog (for screenshots) until closed or 20 seconds pass.
#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "platform/DialogPresenter.h"
#include "platform/win32/AppShell.h"
#include "platform/win32/DialogHost.h"
#include "platform/win32/ResourceModule.h"
#include "platform/win32/Text.h"
#include "tests/e2e/ShellSmokeIds.h"

namespace {

constexpr UINT kAskAnswer = WM_APP + 1;  // handled: answers kAnswer through DWLP_MSGRESULT
constexpr UINT kIgnored = WM_APP + 2;    // never handled
constexpr UINT kEndWith = WM_APP + 3;    // ends the dialog with wParam
constexpr UINT kCountMe = WM_APP + 4;    // counted, to see the loop dispatch it
constexpr std::intptr_t kAnswer = 0x1234;
constexpr UINT_PTR kWatchdogTimer = 99;
constexpr UINT_PTR kEndTimer = 7;

class Checks {
 public:
  void Expect(bool ok, const char* what) {
    ++count_;
    if (ok) return;
    ++failed_;
    std::printf("FAIL: %s\n", what);
  }

  void Equal(const std::string& actual, const std::string& expected, const char* what) {
    ++count_;
    if (actual == expected) return;
    ++failed_;
    std::printf("FAIL: %s: got \"%s\", want \"%s\"\n", what, actual.c_str(), expected.c_str());
  }

  void Equal(long long actual, long long expected, const char* what) {
    ++count_;
    if (actual == expected) return;
    ++failed_;
    std::printf("FAIL: %s: got %lld, want %lld\n", what, actual, expected);
  }

  int Finish() {
    std::printf("smoke: %d checks, %d failed\n", count_, failed_);
    std::fflush(stdout);
    return failed_ == 0 ? 0 : 1;
  }

 private:
  int count_ = 0;
  int failed_ = 0;
};

HWND HwndOf(platform::DialogWindow& window) { return reinterpret_cast<HWND>(window.Handle()); }

std::string CaptionOf(HWND hwnd) {
  wchar_t text[128] = {};
  GetWindowTextW(hwnd, text, 128);
  return win32::WideToUtf8(text);
}

// What a real presenter does on WM_INITDIALOG: fill lists and set up the slider.
void FillControls(platform::DialogControls& controls) {
  for (const char* device : {"聽筒", "喇叭", "耳機"}) controls.ListAdd(IDC_DEVICES, device);
  for (const char* language : {"繁體中文", "English"}) controls.ListAdd(IDC_LANGUAGE, language);
  controls.ListSelect(IDC_LANGUAGE, 0);
  controls.SliderSetRange(IDC_VOLUME, 0, 10);
  controls.SliderSetTicFrequency(IDC_VOLUME, 2);
  controls.SliderSetPos(IDC_VOLUME, 6);
}

// The main modeless presenter: records what arrives, answers a few messages, destroys its own
// window from inside its WM_CLOSE handler and quits the loop on WM_NCDESTROY.
class SmokePresenter : public platform::DialogPresenter {
 public:
  std::vector<std::uint32_t> messages;
  std::intptr_t initParam = -1;
  int counted = 0;
  bool quitOnDestroy = false;
  bool whiteBackground = false;
  int quitCode = 0;

  bool OnMessage(platform::DialogWindow& window, std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam,
                 std::intptr_t& result) override {
    messages.push_back(msg);
    switch (msg) {
      case WM_INITDIALOG:
        initParam = lParam;
        FillControls(window.Controls());
        result = TRUE;
        return true;
      case WM_CTLCOLORDLG:
        if (!whiteBackground) return false;
        result = reinterpret_cast<std::intptr_t>(GetStockObject(WHITE_BRUSH));
        return true;
      case kAskAnswer:
        result = kAnswer;
        return true;
      case kCountMe:
        ++counted;
        return true;
      case WM_TIMER:
        if (wParam == kWatchdogTimer) PostQuitMessage(99);
        return true;
      case WM_COMMAND:
        if (LOWORD(wParam) != IDC_CLOSE && LOWORD(wParam) != IDCANCEL) return false;
        window.Destroy();
        return true;
      case WM_CLOSE:
        window.Destroy();
        return true;
      case WM_NCDESTROY:
        if (quitOnDestroy) PostQuitMessage(quitCode);
        return true;
      default:
        return false;
    }
  }

  bool Saw(std::uint32_t msg) const { return IndexOf(msg) >= 0; }
  int IndexOf(std::uint32_t msg) const {
    for (std::size_t i = 0; i < messages.size(); ++i)
      if (messages[i] == msg) return static_cast<int>(i);
    return -1;
  }
};

// Ends a modal dialog from a timer, from a posted message, or with Destroy, and looks at its
// owner while it runs.
class ModalPresenter : public platform::DialogPresenter {
 public:
  enum class Way { Timer, Posted, Destroy };
  Way way = Way::Timer;
  std::string statusText;
  bool ownerDisabled = false;

  bool OnMessage(platform::DialogWindow& window, std::uint32_t msg, std::uintptr_t wParam, std::intptr_t,
                 std::intptr_t& result) override {
    switch (msg) {
      case WM_INITDIALOG: {
        statusText = window.Controls().GetText(IDC_STATUS);
        const HWND owner = GetWindow(HwndOf(window), GW_OWNER);
        ownerDisabled = owner && !IsWindowEnabled(owner);
        window.SetTimer(kWatchdogTimer, 5000);
        if (way == Way::Timer) window.SetTimer(kEndTimer, 30);
        if (way == Way::Posted) PostMessageW(HwndOf(window), kEndWith, 7, 0);
        if (way == Way::Destroy) PostMessageW(HwndOf(window), WM_CLOSE, 0, 0);
        result = TRUE;
        return true;
      }
      case WM_TIMER:
        window.KillTimer(wParam);
        window.End(wParam == kEndTimer ? 42 : -2);
        return true;
      case kEndWith:
        window.End(static_cast<std::intptr_t>(wParam));
        return true;
      case WM_CLOSE:
        window.Destroy();
        return true;
      default:
        return false;
    }
  }
};

// Deletes its own host while the host is inside Destroy(), then poisons the host's memory so that
// a later read by the shell crashes and a later write shows in the poison.
class SelfDeletingPresenter : public platform::DialogPresenter {
 public:
  ~SelfDeletingPresenter() override {
    if (host_) host_->~DialogHost();
  }
  win32::DialogHost* Emplace() {
    host_ = new (storage_) win32::DialogHost(*this);
    return host_;
  }
  bool hostDeleted = false;

  bool PoisonIntact() const {
    for (unsigned char byte : storage_)
      if (byte != 0xCD) return false;
    return true;
  }

  bool OnMessage(platform::DialogWindow& window, std::uint32_t msg, std::uintptr_t, std::intptr_t,
                 std::intptr_t&) override {
    if (msg == WM_CLOSE) {
      window.Destroy();
      return true;
    }
    if (msg == WM_NCDESTROY && host_) {
      host_->~DialogHost();
      host_ = nullptr;
      std::memset(storage_, 0xCD, sizeof storage_);
      hostDeleted = true;
      PostQuitMessage(5);
      return true;
    }
    return false;
  }

 private:
  alignas(win32::DialogHost) unsigned char storage_[sizeof(win32::DialogHost)];
  win32::DialogHost* host_ = nullptr;
};

void CheckRouting(Checks& checks, SmokePresenter& presenter, win32::DialogHost& host) {
  const HWND hwnd = host.Window();
  checks.Expect(presenter.Saw(WM_SETFONT), "WM_SETFONT reaches the presenter");
  checks.Expect(presenter.IndexOf(WM_SETFONT) < presenter.IndexOf(WM_INITDIALOG),
                "WM_SETFONT arrives before WM_INITDIALOG");
  checks.Equal(presenter.initParam, 0, "WM_INITDIALOG lParam seen by the presenter");
  checks.Expect(!IsWindowVisible(hwnd), "dialog without WS_VISIBLE stays hidden");
  checks.Equal(SendMessageW(hwnd, kAskAnswer, 0, 0), kAnswer, "handled message answers through DWLP_MSGRESULT");
  checks.Equal(SendMessageW(hwnd, kIgnored, 0, 0), 0, "unhandled message answers 0");
  checks.Equal(SendMessageW(hwnd, WM_CTLCOLORDLG, 0, reinterpret_cast<LPARAM>(hwnd)),
               reinterpret_cast<std::intptr_t>(GetStockObject(WHITE_BRUSH)), "WM_CTLCOLORDLG answers directly");
}

void CheckTexts(Checks& checks, win32::DialogHost& host) {
  platform::DialogControls& controls = host.Controls();
  checks.Equal(CaptionOf(host.Window()), "連線測試", "dialog caption");
  checks.Equal(controls.GetText(IDC_STATUS), "連線", "static text");
  checks.Equal(controls.GetText(IDC_CLOSE), "關閉", "button text");
  checks.Equal(controls.GetText(IDC_RING), "鈴聲設定..", "check box text");
  checks.Expect(controls.HasControl(IDC_VOLUME), "HasControl finds the track bar");
  checks.Expect(!controls.HasControl(4242), "HasControl of a missing id");
  checks.Equal(controls.GetText(4242), "", "text of a missing control");

  // Beyond the BMP too: a surrogate pair must survive both conversions.
  const std::string name = "撥號 ☎ 😀 0912";
  controls.SetText(IDC_NAME, name);
  checks.Equal(controls.GetText(IDC_NAME), name, "edit text round trip");
  controls.SetText(IDC_STATUS, "");
  checks.Equal(controls.GetText(IDC_STATUS), "", "text cleared");
}

void CheckButtonsAndStates(Checks& checks, platform::DialogControls& controls) {
  checks.Expect(!controls.IsChecked(IDC_RING), "check box starts unchecked");
  controls.SetChecked(IDC_RING, true);
  checks.Expect(controls.IsChecked(IDC_RING), "check box checked");
  controls.SetChecked(IDC_SPEAKER, true);
  checks.Expect(controls.IsChecked(IDC_SPEAKER) && !controls.IsChecked(IDC_HANDSET), "radio checked");

  controls.SetEnabled(IDC_RING, false);
  checks.Expect(!controls.IsEnabled(IDC_RING), "control disabled");
  controls.SetEnabled(IDC_RING, true);
  checks.Expect(controls.IsEnabled(IDC_RING), "control enabled again");

  checks.Expect(controls.IsVisible(IDC_STATUS), "control visible inside a hidden dialog");
  controls.SetVisible(IDC_STATUS, false);
  checks.Expect(!controls.IsVisible(IDC_STATUS), "control hidden");
  controls.SetVisible(IDC_STATUS, true);
}

void CheckLists(Checks& checks, platform::DialogControls& controls, HWND dialog) {
  checks.Equal(controls.ListCount(IDC_DEVICES), 3, "list box filled on WM_INITDIALOG");
  checks.Equal(controls.ListItem(IDC_DEVICES, 1), "喇叭", "list box item");
  checks.Equal(controls.ListItem(IDC_DEVICES, 9), "", "list box item out of range");
  checks.Equal(controls.ListAdd(IDC_DEVICES, "藍牙耳機"), 3, "list box add returns the index");
  checks.Equal(controls.ListItem(IDC_DEVICES, 3), "藍牙耳機", "added list box item");
  checks.Equal(controls.ListSelection(IDC_DEVICES), -1, "list box starts without selection");
  controls.ListSelect(IDC_DEVICES, 2);
  checks.Equal(controls.ListSelection(IDC_DEVICES), 2, "list box selection");
  controls.ListSelect(IDC_DEVICES, -1);
  checks.Equal(controls.ListSelection(IDC_DEVICES), -1, "list box selection cleared");
  for (int i = 0; i < 12; ++i) controls.ListAdd(IDC_DEVICES, "線路");
  controls.ListSetTopIndex(IDC_DEVICES, 5);
  checks.Equal(SendDlgItemMessageW(dialog, IDC_DEVICES, LB_GETTOPINDEX, 0, 0), 5, "list box top index");
  controls.ListClear(IDC_DEVICES);
  checks.Equal(controls.ListCount(IDC_DEVICES), 0, "list box cleared");

  checks.Equal(controls.ListCount(IDC_LANGUAGE), 2, "combo box filled on WM_INITDIALOG");
  checks.Equal(controls.ListItem(IDC_LANGUAGE, 0), "繁體中文", "combo box item");
  checks.Equal(controls.ListSelection(IDC_LANGUAGE), 0, "combo box selection");
  controls.ListSelect(IDC_LANGUAGE, 1);
  checks.Equal(controls.ListSelection(IDC_LANGUAGE), 1, "combo box selection moved");
  checks.Equal(controls.GetText(IDC_LANGUAGE), "English", "combo box shows the selected item");
  checks.Equal(controls.ListAdd(IDC_LANGUAGE, "日本語"), 2, "combo box add returns the index");
  controls.ListClear(IDC_LANGUAGE);
  checks.Equal(controls.ListCount(IDC_LANGUAGE), 0, "combo box cleared");
  checks.Equal(controls.ListSelection(IDC_LANGUAGE), -1, "cleared combo box has no selection");

  // A multiple-selection list box reports its caret through LB_GETCURSEL even with nothing selected.
  for (const char* line : {"線路 1", "線路 2", "線路 3"}) controls.ListAdd(IDC_LINES, line);
  checks.Equal(controls.ListSelection(IDC_LINES), -1, "multiple-selection list box starts without selection");
  controls.ListSelect(IDC_LINES, 2);
  controls.ListSelect(IDC_LINES, 1);
  checks.Equal(controls.ListSelection(IDC_LINES), 1, "multiple-selection list box selects one item");
  checks.Equal(SendDlgItemMessageW(dialog, IDC_LINES, LB_GETSELCOUNT, 0, 0), 1, "selecting replaces the selection");
  controls.ListSelect(IDC_LINES, -1);
  checks.Equal(controls.ListSelection(IDC_LINES), -1, "multiple-selection list box cleared");

  checks.Equal(controls.ListAdd(IDC_STATUS, "x"), -1, "list add on a static fails");
  checks.Equal(controls.ListCount(IDC_STATUS), 0, "list count of a static");
}

void CheckSlider(Checks& checks, platform::DialogControls& controls, HWND dialog) {
  checks.Equal(controls.SliderPos(IDC_VOLUME), 6, "slider set up on WM_INITDIALOG");
  controls.SliderSetPos(IDC_VOLUME, 20);
  checks.Equal(controls.SliderPos(IDC_VOLUME), 10, "slider position clamped to the range");
  controls.SliderSetPos(IDC_VOLUME, 4);
  checks.Equal(controls.SliderPos(IDC_VOLUME), 4, "slider position");
  checks.Equal(SendDlgItemMessageW(dialog, IDC_VOLUME, TBM_GETNUMTICS, 0, 0), 6, "slider tics every 2 on 0..10");
  controls.SliderSetPage(IDC_VOLUME, 5);
  checks.Equal(SendDlgItemMessageW(dialog, IDC_VOLUME, TBM_GETPAGESIZE, 0, 0), 5, "slider page size");
  // Wider than the 16 bits TBM_SETRANGE could carry.
  controls.SliderSetRange(IDC_VOLUME, -5, 70000);
  checks.Equal(SendDlgItemMessageW(dialog, IDC_VOLUME, TBM_GETRANGEMIN, 0, 0), -5, "slider minimum");
  checks.Equal(SendDlgItemMessageW(dialog, IDC_VOLUME, TBM_GETRANGEMAX, 0, 0), 70000, "slider maximum");
}

void CheckModal(Checks& checks, HWND owner) {
  ModalPresenter presenter;
  win32::DialogHost host(presenter);
  presenter.way = ModalPresenter::Way::Timer;
  checks.Equal(host.RunModal(IDD_SMOKE, owner), 42, "modal dialog ended by its timer");
  checks.Equal(presenter.statusText, "連線", "modal dialog controls readable on WM_INITDIALOG");
  checks.Expect(presenter.ownerDisabled, "owner disabled while the modal dialog runs");
  checks.Expect(IsWindowEnabled(owner), "owner enabled again after the modal dialog");
  checks.Expect(host.Window() == nullptr, "modal host lets go of its window");

  presenter.way = ModalPresenter::Way::Posted;
  checks.Equal(host.RunModal(IDD_SMOKE, owner), 7, "modal dialog ended by a posted message");

  presenter.way = ModalPresenter::Way::Destroy;
  checks.Equal(host.RunModal(IDD_SMOKE, owner), IDCANCEL, "modal dialog destroyed gives IDCANCEL");
  checks.Expect(IsWindowEnabled(owner), "owner enabled after a destroyed modal dialog");

  checks.Equal(host.RunModal(4242, owner), -1, "modal dialog with a missing template");
}

void CheckResources(Checks& checks, bool english) {
  checks.Equal(win32::LoadUtf8String(IDS_SMOKE_TITLE), english ? "Phone bridge" : "電話橋接", "string table entry");
  checks.Equal(static_cast<long long>(win32::LoadWideString(IDS_SMOKE_LONG).size()), english ? 0 : 300,
               "long string loads whole (missing from the library)");
  const win32::UniqueMenu menu = win32::LoadMenuResource(IDR_SMOKE_MENU);
  wchar_t item[64] = {};
  if (menu) GetMenuStringW(GetSubMenu(menu.get(), 0), IDM_SMOKE_RING, item, 64, MF_BYCOMMAND);
  checks.Equal(win32::WideToUtf8(item), english ? "Ring settings.." : "鈴聲設定..", "menu item text");
  checks.Expect(win32::LoadProgramIcon(IDI_SMOKE) != nullptr, "program icon loads");
  checks.Expect(win32::LoadProgramIcon(IDI_SMOKE, 16, 16).valid(), "program icon loads at 16x16");
  checks.Expect(win32::FindDialogTemplate(IDD_SMOKE) != nullptr, "dialog template found");
  checks.Expect(win32::FindDialogTemplate(4242) == nullptr, "missing dialog template");
}

void CheckLanguageSwitch(Checks& checks) {
  win32::UniqueModule library(LoadLibraryW(L"smoke_lang.dll"));
  checks.Expect(library.valid(), "language library loads");
  if (!library) return;
  win32::SetCurrentResourceModule(library.get());
  checks.Expect(win32::CurrentResourceModule() == library.get(), "language library is current");
  CheckResources(checks, true);

  SmokePresenter presenter;
  win32::DialogHost host(presenter);
  checks.Expect(host.Create(IDD_SMOKE), "dialog created from the language library");
  checks.Equal(CaptionOf(host.Window()), "Link test", "caption from the language library");
  checks.Equal(host.Controls().GetText(IDC_STATUS), "Connect", "static text from the language library");
  checks.Equal(host.Controls().GetText(IDC_CLOSE), "Close", "button text from the language library");
  checks.Equal(host.Controls().GetText(IDC_RING), "Ring settings..", "check box text from the language library");
  host.Destroy();

  win32::SetCurrentResourceModule(nullptr);
  checks.Expect(win32::CurrentResourceModule() == win32::ProgramModule(), "back to the program's resources");
  checks.Equal(win32::LoadUtf8String(IDS_SMOKE_TITLE), "電話橋接", "string from the program again");
}

// Destroy from inside a handler, where WM_NCDESTROY deletes the host before Destroy() returns.
void CheckSelfDeletion(Checks& checks) {
  SelfDeletingPresenter presenter;
  win32::DialogHost* host = presenter.Emplace();
  const bool created = host->Create(IDD_SMOKE);
  checks.Expect(created, "self-deleting dialog created");
  if (!created) return;
  PostMessageW(host->Window(), WM_CLOSE, 0, 0);
  checks.Equal(win32::AppShell().Run(), 5, "loop ends after the host deleted itself");
  checks.Expect(presenter.hostDeleted, "host deleted from its own WM_NCDESTROY");
  checks.Expect(presenter.PoisonIntact(), "nothing wrote to the deleted host");
}

int RunChecks() {
  Checks checks;
  CheckResources(checks, false);

  SmokePresenter presenter;
  presenter.quitOnDestroy = true;
  presenter.quitCode = 3;
  presenter.whiteBackground = true;
  win32::DialogHost host(presenter);
  checks.Expect(host.Create(IDD_SMOKE), "modeless dialog created");
  if (!host.Window()) return checks.Finish();
  host.SetTimer(kWatchdogTimer, 10000);

  CheckRouting(checks, presenter, host);
  CheckTexts(checks, host);
  CheckButtonsAndStates(checks, host.Controls());
  CheckLists(checks, host.Controls(), host.Window());
  CheckSlider(checks, host.Controls(), host.Window());
  CheckModal(checks, host.Window());
  CheckLanguageSwitch(checks);

  // The loop dispatches what was queued before WM_CLOSE, then leaves with the WM_QUIT code.
  PostMessageW(host.Window(), kCountMe, 0, 0);
  PostMessageW(host.Window(), WM_CLOSE, 0, 0);
  checks.Equal(win32::AppShell().Run(), 3, "loop returns the WM_QUIT code");
  checks.Equal(presenter.counted, 1, "queued message dispatched by the loop");
  checks.Expect(presenter.Saw(WM_DESTROY) && presenter.messages.back() == WM_NCDESTROY,
                "WM_NCDESTROY is the last message");
  checks.Expect(host.Window() == nullptr, "host lets go of a destroyed window");
  checks.Equal(host.Controls().GetText(IDC_STATUS), "", "controls of a destroyed dialog read empty");
  presenter.quitOnDestroy = false;
  checks.Expect(host.Create(IDD_SMOKE), "host creates a new window after the old one is gone");
  host.Destroy();

  CheckSelfDeletion(checks);
  return checks.Finish();
}

// Shows the Chinese dialog for a screenshot; closes on its button or after 20 seconds.
int RunShow() {
  SmokePresenter presenter;
  presenter.quitOnDestroy = true;
  win32::DialogHost host(presenter);
  if (!host.Create(IDD_SMOKE)) return 1;
  host.Controls().SetText(IDC_NAME, "0912 345 678");
  host.Controls().SetChecked(IDC_RING, true);
  host.Controls().SetChecked(IDC_HANDSET, true);
  host.Controls().ListSelect(IDC_DEVICES, 1);
  for (const char* line : {"線路 1：已連線", "線路 2：響鈴中"}) host.Controls().ListAdd(IDC_LINES, line);
  host.SetTimer(kWatchdogTimer, 20000);
  host.Show(true);
  SetForegroundWindow(host.Window());
  const int code = win32::AppShell().Run();
  return code == 99 ? 0 : code;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
  const bool show = commandLine && std::strstr(commandLine, "--show") != nullptr;
  return show ? RunShow() : RunChecks();
}
