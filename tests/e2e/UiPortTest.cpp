// The Ui port on real Win32 under Wine: language libraries and texts, dialogs and their
// lifetimes, the message box, the tray pop-up menu, window decorations, the single-instance
// mutex, worker threads and the message loop.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/win32/Text.h"
#include "platform/win32/Win32Ui.h"
#include "tests/e2e/PortTestSupport.h"
#include "tests/e2e/ShellSmokeIds.h"
#include "tests/e2e/TrayMenuIds.h"

namespace {

HWND HwndOf(platform::DialogWindow& window) { return reinterpret_cast<HWND>(window.Handle()); }

std::string CaptionOf(HWND hwnd) {
  wchar_t text[256] = {};
  GetWindowTextW(hwnd, text, 256);
  return win32::WideToUtf8(text);
}

// Records every message and hands each to an optional hook of the test.
class Presenter : public platform::DialogPresenter {
 public:
  using Hook =
      std::function<bool(platform::DialogWindow&, std::uint32_t, std::uintptr_t, std::intptr_t, std::intptr_t&)>;
  std::vector<std::uint32_t> messages;
  std::vector<std::uint32_t> commands;  // menu commands
  Hook hook;

  bool OnMessage(platform::DialogWindow& window, std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam,
                 std::intptr_t& result) override {
    messages.push_back(msg);
    // Menu commands only: no notification code and no control (the edit control reports focus).
    if (msg == WM_COMMAND && HIWORD(wParam) == 0 && lParam == 0) commands.push_back(LOWORD(wParam));
    return hook ? hook(window, msg, wParam, lParam, result) : false;
  }

  int Count(std::uint32_t msg) const {
    int count = 0;
    for (std::uint32_t each : messages) count += each == msg;
    return count;
  }
};

class UiPort : public ::testing::Test {
 protected:
  void TearDown() override { ui.SetResourceModule(platform::kProgramResources); }

  // A hidden modeless dialog of the program's resources, as the bridge's main window is.
  platform::DialogWindow& MainWindow() {
    if (!main_) main_ = ui.CreateModeless(IDD_SMOKE, mainPresenter, nullptr);
    EXPECT_NE(main_, nullptr);
    return *main_;
  }

  win32::Win32Ui ui;
  Presenter mainPresenter;

 private:
  platform::DialogWindow* main_ = nullptr;
};

TEST_F(UiPort, LanguageLibrarySwitchesTextsAndDialogs) {
  EXPECT_EQ(ui.LoadLanguageLibrary("no_such_language.dll"), platform::kProgramResources);
  EXPECT_EQ(ui.LoadLanguageLibrary(nullptr), platform::kProgramResources);

  EXPECT_EQ(ui.LoadText(IDS_SMOKE_TITLE), "電話橋接");
  const platform::ModuleHandle english = ui.LoadLanguageLibrary("smoke_lang.dll");
  ASSERT_NE(english, platform::kProgramResources);
  ui.SetResourceModule(english);
  EXPECT_EQ(ui.LoadText(IDS_SMOKE_TITLE), "Phone bridge");
  EXPECT_EQ(ui.LoadText(IDS_SMOKE_LONG), "") << "missing from the library";
  EXPECT_EQ(ui.LoadText(4242), "");

  Presenter presenter;
  platform::DialogWindow* dialog = ui.CreateModeless(IDD_SMOKE, presenter, nullptr);
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(CaptionOf(HwndOf(*dialog)), "Link test");
  dialog->Destroy();

  ui.SetResourceModule(platform::kProgramResources);
  EXPECT_EQ(ui.LoadText(IDS_SMOKE_TITLE), "電話橋接");
  EXPECT_EQ(ui.LoadText(IDS_ABOUT_ITEM), "關於 Teliox(&A)...");
}

TEST_F(UiPort, ModelessDialogLivesUntilItsPresenterSawTheLastMessage) {
  Presenter presenter;
  platform::DialogWindow* dialog = ui.CreateModeless(IDD_SMOKE, presenter, nullptr);
  ASSERT_NE(dialog, nullptr);
  const HWND hwnd = HwndOf(*dialog);
  EXPECT_TRUE(IsWindow(hwnd));
  EXPECT_FALSE(IsWindowVisible(hwnd)) << "the template is not WS_VISIBLE";
  EXPECT_EQ(CaptionOf(hwnd), "連線測試");
  EXPECT_EQ(presenter.Count(WM_INITDIALOG), 1);

  // Owned by its parent, and destroyed by Windows together with it.
  Presenter childPresenter;
  platform::DialogWindow* child = ui.CreateModeless(IDD_SMOKE, childPresenter, dialog);
  ASSERT_NE(child, nullptr);
  const HWND childHwnd = HwndOf(*child);
  EXPECT_EQ(GetWindow(childHwnd, GW_OWNER), hwnd);

  dialog->Destroy();
  EXPECT_FALSE(IsWindow(hwnd));
  EXPECT_FALSE(IsWindow(childHwnd));
  EXPECT_EQ(presenter.Count(WM_NCDESTROY), 1);
  EXPECT_EQ(childPresenter.Count(WM_NCDESTROY), 1);
  EXPECT_EQ(presenter.messages.back(), static_cast<std::uint32_t>(WM_NCDESTROY));

  Presenter missing;
  EXPECT_EQ(ui.CreateModeless(4242, missing, nullptr), nullptr);
  EXPECT_TRUE(missing.messages.empty());

  // A presenter that gives up during its initialisation: no window, and nothing left behind to
  // touch the freed host.
  Presenter quitter;
  quitter.hook = [](platform::DialogWindow& window, std::uint32_t msg, std::uintptr_t, std::intptr_t, std::intptr_t&) {
    if (msg == WM_INITDIALOG) window.Destroy();
    return msg == WM_INITDIALOG;
  };
  EXPECT_EQ(ui.CreateModeless(IDD_SMOKE, quitter, nullptr), nullptr);
  EXPECT_EQ(quitter.Count(WM_NCDESTROY), 1);

  // Windows still open when the Ui goes are destroyed with it, without telling their presenters.
  HWND ownerHwnd = nullptr, ownedHwnd = nullptr;
  Presenter ownerPresenter, ownedPresenter;
  {
    win32::Win32Ui scoped;
    platform::DialogWindow* ownerWindow = scoped.CreateModeless(IDD_SMOKE, ownerPresenter, nullptr);
    ASSERT_NE(ownerWindow, nullptr);
    platform::DialogWindow* ownedWindow = scoped.CreateModeless(IDD_SMOKE, ownedPresenter, ownerWindow);
    ASSERT_NE(ownedWindow, nullptr);
    ownerHwnd = HwndOf(*ownerWindow);
    ownedHwnd = HwndOf(*ownedWindow);
  }
  EXPECT_FALSE(IsWindow(ownerHwnd));
  EXPECT_FALSE(IsWindow(ownedHwnd));
  EXPECT_EQ(ownerPresenter.Count(WM_NCDESTROY) + ownedPresenter.Count(WM_NCDESTROY), 0);

  // Many windows come and go; each host is freed at its last message, by whoever destroys it:
  // the program, Windows, or the presenter from inside one of its own handlers.
  for (int i = 0; i < 30; ++i) {
    Presenter each;
    each.hook = [](platform::DialogWindow& window, std::uint32_t msg, std::uintptr_t, std::intptr_t, std::intptr_t&) {
      if (msg == WM_CLOSE) window.Destroy();
      return msg == WM_CLOSE;
    };
    platform::DialogWindow* window = ui.CreateModeless(IDD_SMOKE, each, nullptr);
    ASSERT_NE(window, nullptr);
    if (i % 3 == 0) window->Destroy();
    if (i % 3 == 1) DestroyWindow(HwndOf(*window));
    if (i % 3 == 2) PostMessageW(HwndOf(*window), WM_CLOSE, 0, 0);
    ASSERT_TRUE(e2e::PumpUntil([&] { return each.Count(WM_NCDESTROY) == 1; }));
  }
}

TEST_F(UiPort, ModalDialogRunsToTheEndItsTimerChooses) {
  platform::DialogWindow& owner = MainWindow();
  Presenter presenter;
  bool ownerDisabled = false;
  presenter.hook = [&](platform::DialogWindow& window, std::uint32_t msg, std::uintptr_t, std::intptr_t,
                       std::intptr_t&) {
    if (msg == WM_INITDIALOG) {
      ownerDisabled = !IsWindowEnabled(HwndOf(owner));
      window.SetTimer(1, 30);
      return false;
    }
    if (msg == WM_TIMER) {
      window.End(42);
      return true;
    }
    return false;
  };
  EXPECT_EQ(ui.RunModal(IDD_SMOKE, presenter, &owner), 42);
  EXPECT_TRUE(ownerDisabled);
  EXPECT_TRUE(IsWindowEnabled(HwndOf(owner)));
  EXPECT_EQ(ui.RunModal(4242, presenter, &owner), -1);
}

// Finds the message box of `caption` from another thread, notes its texts and presses a button.
class MessageBoxPresser {
 public:
  MessageBoxPresser(std::wstring caption, WPARAM button)
      : thread_([this, caption = std::move(caption), button] {
          for (int i = 0; i < 250 && !box; ++i) {
            box = FindWindowW(L"#32770", caption.c_str());
            if (!box) Sleep(20);
          }
          if (!box) return;
          EnumChildWindows(box, CollectText, reinterpret_cast<LPARAM>(this));
          owner = GetWindow(box, GW_OWNER);
          PostMessageW(box, WM_COMMAND, button, 0);
        }) {}
  ~MessageBoxPresser() { Join(); }
  void Join() {
    if (thread_.joinable()) thread_.join();
  }

  HWND box = nullptr;
  HWND owner = nullptr;
  std::vector<std::string> texts;

 private:
  static BOOL CALLBACK CollectText(HWND child, LPARAM self) {
    wchar_t text[256] = {};
    GetWindowTextW(child, text, 256);
    reinterpret_cast<MessageBoxPresser*>(self)->texts.push_back(win32::WideToUtf8(text));
    return TRUE;
  }

  std::thread thread_;
};

TEST_F(UiPort, MessageBoxShowsItsTextsAndAnswersTheButtonPressed) {
  platform::DialogWindow& owner = MainWindow();
  const std::string caption = e2e::UniqueName("Teliox 測試");
  MessageBoxPresser presser(win32::Utf8ToWide(caption), IDNO);
  const int answer =
      ui.ShowMessageBox(&owner, "要回復出廠設定嗎？", caption, platform::kMbYesNo | platform::kMbIconExclamation);
  presser.Join();
  ASSERT_NE(presser.box, nullptr) << "no message box appeared";
  EXPECT_EQ(answer, platform::kIdNo);
  EXPECT_EQ(presser.owner, HwndOf(owner));
  EXPECT_NE(std::find(presser.texts.begin(), presser.texts.end(), "要回復出廠設定嗎？"), presser.texts.end());

  MessageBoxPresser yes(win32::Utf8ToWide(caption), IDYES);
  EXPECT_EQ(ui.ShowMessageBox(nullptr, "?", caption, platform::kMbYesNo), platform::kIdYes);
}

// Drives the tray menu from the owner's timers while TrackPopupMenu runs: looks at the menu that
// is showing, then presses keys or cancels it.
class MenuDriver {
 public:
  static constexpr UINT_PTR kActTimer = 31;
  static constexpr UINT_PTR kWatchdogTimer = 32;

  MenuDriver(Presenter& presenter, std::function<void(HWND owner)> act) : act_(std::move(act)) {
    presenter.hook = [this](platform::DialogWindow& window, std::uint32_t msg, std::uintptr_t wParam, std::intptr_t,
                            std::intptr_t&) {
      if (msg == WM_INITMENUPOPUP && !shownMenu) shownMenu = reinterpret_cast<HMENU>(wParam);
      if (msg != WM_TIMER) return false;
      window.KillTimer(wParam);
      if (wParam == kWatchdogTimer) {
        timedOut = true;
        EndMenu();
      } else {
        if (const HWND menuWindow = VisibleMenuWindow()) GetWindowRect(menuWindow, &menuRect);
        act_(HwndOf(window));
      }
      return true;
    };
  }

  // The pop-up menu window of this thread that is on screen.
  static HWND VisibleMenuWindow() {
    HWND found = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), FindMenuWindow, reinterpret_cast<LPARAM>(&found));
    return found;
  }

  HMENU shownMenu = nullptr;
  RECT menuRect{};  // empty unless a menu window was on screen
  bool timedOut = false;

 private:
  static BOOL CALLBACK FindMenuWindow(HWND hwnd, LPARAM out) {
    wchar_t className[16] = {};
    GetClassNameW(hwnd, className, 16);
    if (std::wstring(className) != L"#32768" || !IsWindowVisible(hwnd)) return TRUE;
    *reinterpret_cast<HWND*>(out) = hwnd;
    return FALSE;
  }

  std::function<void(HWND)> act_;
};

std::string MenuStates(HMENU menu) {
  std::string states;
  for (int i = 0; i < GetMenuItemCount(menu); ++i) {
    const UINT state = GetMenuState(menu, static_cast<UINT>(i), MF_BYPOSITION);
    states += (state & MF_GRAYED) ? 'g' : (state & MF_CHECKED) ? 'c' : '-';
  }
  return states;
}

TEST_F(UiPort, PopupMenuShowsTheEditsAtTheCursorAndDeliversTheChosenCommand) {
  platform::DialogWindow& owner = MainWindow();
  std::string settings, languages;
  MenuDriver driver(mainPresenter, [&](HWND window) {
    settings = MenuStates(GetSubMenu(driver.shownMenu, 0));
    languages = MenuStates(GetSubMenu(driver.shownMenu, 1));
    // Up from no selection wraps to the last item, "close".
    PostMessageW(window, WM_KEYDOWN, VK_UP, 0);
    PostMessageW(window, WM_KEYDOWN, VK_RETURN, 0);
  });
  // Near the top of the screen, whatever its size, so the menu has room below the cursor.
  RECT area{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
  const POINT cursor{(area.left + area.right) / 2, area.top + 20};
  SetCursorPos(cursor.x, cursor.y);
  owner.SetTimer(MenuDriver::kActTimer, 200);
  owner.SetTimer(MenuDriver::kWatchdogTimer, 5000);
  using Kind = platform::MenuEdit::Kind;
  ui.ShowPopupMenu(owner, IDR_TRAY_MENU,
                   {{{0, 0}, Kind::Gray},
                    {{0, 1}, Kind::Gray},
                    {{0, 4}, Kind::Gray},    // no fifth settings item in this menu: ignored
                    {{0, 1}, Kind::Enable},  // a later edit wins
                    {{1, 2}, Kind::Check},
                    {{7, 0}, Kind::Check},  // no such pop-up
                    {{}, Kind::Gray},
                    {{-1}, Kind::Gray}});
  owner.KillTimer(MenuDriver::kWatchdogTimer);
  ASSERT_FALSE(driver.timedOut) << "the menu never reacted";
  ASSERT_NE(driver.shownMenu, nullptr) << "no pop-up menu was shown";
  EXPECT_EQ(settings, "g---");
  EXPECT_EQ(languages, "--c--");
  EXPECT_FALSE(IsMenu(driver.shownMenu)) << "the menu is destroyed once closed";

  EXPECT_EQ(driver.menuRect.right, cursor.x) << "right-aligned at the cursor";
  EXPECT_EQ(driver.menuRect.top, cursor.y);
  EXPECT_GT(driver.menuRect.right - driver.menuRect.left, 20);

  EXPECT_TRUE(e2e::PumpUntil([&] { return !mainPresenter.commands.empty(); }, 2000));
  EXPECT_EQ(mainPresenter.commands, std::vector<std::uint32_t>{IDM_TRAY_CLOSE});
}

TEST_F(UiPort, CancelledPopupMenuSendsNoCommand) {
  platform::DialogWindow& owner = MainWindow();
  MenuDriver driver(mainPresenter, [](HWND) { EndMenu(); });
  owner.SetTimer(MenuDriver::kActTimer, 100);
  owner.SetTimer(MenuDriver::kWatchdogTimer, 5000);
  ui.ShowPopupMenu(owner, IDR_TRAY_MENU, {});
  owner.KillTimer(MenuDriver::kWatchdogTimer);
  EXPECT_FALSE(driver.timedOut);
  EXPECT_FALSE(IsRectEmpty(&driver.menuRect)) << "the menu was on screen";
  e2e::PumpUntil([] { return false; }, 200);
  EXPECT_TRUE(mainPresenter.commands.empty());

  // A menu id the resources do not have shows nothing and returns at once.
  ui.ShowPopupMenu(owner, 4242, {});
}

TEST_F(UiPort, SystemMenuIconAndTopmostPlacement) {
  platform::DialogWindow& window = MainWindow();
  const HWND hwnd = HwndOf(window);

  const HMENU system = GetSystemMenu(hwnd, FALSE);
  ASSERT_NE(system, nullptr);
  const int before = GetMenuItemCount(system);
  ui.AddSystemMenuItem(window, 0x10, ui.LoadText(IDS_ABOUT_ITEM));
  ASSERT_EQ(GetMenuItemCount(system), before + 2);
  EXPECT_EQ(GetMenuState(system, static_cast<UINT>(before), MF_BYPOSITION) & MF_SEPARATOR, MF_SEPARATOR);
  EXPECT_EQ(GetMenuItemID(system, before + 1), 0x10u);
  wchar_t item[64] = {};
  GetMenuStringW(system, 0x10, item, 64, MF_BYCOMMAND);
  EXPECT_EQ(win32::WideToUtf8(item), "關於 Teliox(&A)...");

  // With a language library current the icon still comes from the program.
  ui.SetResourceModule(ui.LoadLanguageLibrary("smoke_lang.dll"));
  const std::uintptr_t returned = ui.SetWindowIcon(window, IDI_SMOKE);
  const LRESULT big = SendMessageW(hwnd, WM_GETICON, ICON_BIG, 0);
  EXPECT_EQ(returned, static_cast<std::uintptr_t>(big)) << "the big icon's handle comes back";
  const LRESULT smallIcon = SendMessageW(hwnd, WM_GETICON, ICON_SMALL, 0);
  EXPECT_NE(big, 0);
  EXPECT_NE(smallIcon, 0);
  EXPECT_EQ(ui.SetWindowIcon(window, 4242), 0u);
  EXPECT_EQ(SendMessageW(hwnd, WM_GETICON, ICON_BIG, 0), big) << "a missing icon changes nothing";

  RECT before_rect{};
  GetWindowRect(hwnd, &before_rect);
  const HWND active = GetActiveWindow();
  ui.MoveTopmostTo(window, 700, 500);
  RECT after{};
  GetWindowRect(hwnd, &after);
  EXPECT_EQ(after.right, 700);
  EXPECT_EQ(after.bottom, 500);
  EXPECT_EQ(after.right - after.left, before_rect.right - before_rect.left);
  EXPECT_EQ(after.bottom - after.top, before_rect.bottom - before_rect.top);
  EXPECT_TRUE(GetWindowLongW(hwnd, GWL_EXSTYLE) & WS_EX_TOPMOST);
  EXPECT_FALSE(IsWindowVisible(hwnd));
  EXPECT_EQ(GetActiveWindow(), active);
}

TEST_F(UiPort, SingleInstanceMutexBelongsToTheFirstProcessUntilItEnds) {
  const std::string name = e2e::UniqueName("TelioxE2e");
  EXPECT_TRUE(ui.CreateSingleInstanceMutex(name.c_str()));
  {
    e2e::PeerProcess second("--mutex " + name);
    EXPECT_EQ(second.ExitCode(), kMutexRefused) << "another process asks for the same name";
  }
  EXPECT_FALSE(ui.CreateSingleInstanceMutex(name.c_str())) << "and so does this one";

  const std::string fresh = e2e::UniqueName("TelioxE2e");
  {
    e2e::PeerProcess first("--mutex " + fresh);
    EXPECT_EQ(first.ExitCode(), kMutexTaken);
  }
  EXPECT_TRUE(ui.CreateSingleInstanceMutex(fresh.c_str())) << "free again once its holder ended";
}

TEST_F(UiPort, WorkerThreadPostsToTheWindowAndTheLoopEndsWithTheQuitCode) {
  platform::DialogWindow& window = MainWindow();
  const HWND hwnd = HwndOf(window);
  std::atomic<bool> stopRequested{true};
  std::atomic<DWORD> workerThread{0};
  mainPresenter.hook = [&](platform::DialogWindow&, std::uint32_t msg, std::uintptr_t wParam, std::intptr_t,
                           std::intptr_t&) {
    if (msg == WM_APP + 9) ui.PostQuit(static_cast<int>(wParam));
    if (msg == WM_TIMER) ui.PostQuit(99);
    return msg == WM_APP + 9 || msg == WM_TIMER;
  };
  window.SetTimer(1, 5000);
  ui.StartThread("Worker", [&, hwnd](std::stop_token stop) {
    stopRequested = stop.stop_requested() || stop.stop_possible();
    workerThread = GetCurrentThreadId();
    PostMessageW(hwnd, WM_APP + 9, 9, 0);
  });
  EXPECT_EQ(ui.RunMessageLoop(), 9);
  window.KillTimer(1);
  EXPECT_FALSE(stopRequested) << "production threads get a token that can never be requested";
  EXPECT_NE(workerThread, 0u);
  EXPECT_NE(workerThread, GetCurrentThreadId());
}

}  // namespace
