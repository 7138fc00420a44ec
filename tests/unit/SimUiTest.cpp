// The simulated user interface of a program: dialogs and their messages, modal loops that wait
// for the scenario's answers while other messages keep flowing, message boxes, the tray menu,
// snapshots and actions, language libraries, the single-instance mutex, and the end of a program
// with its threads wherever they stand.
#include <gtest/gtest.h>

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Window.h"
#include "sim/ProgramClock.h"
#include "sim/Scheduler.h"
#include "sim/SimDesktop.h"
#include "sim/Transcript.h"
#include "sim/VirtualClock.h"
#include "sim/ui/SimUi.h"

using namespace sim;
using platform::DialogWindow;
using scenario::Action;
using scenario::ActionKind;

namespace {

constexpr std::uint32_t kWmActivate = 0x0006;
constexpr std::uint32_t kWmSetFont = 0x0030;
constexpr std::uint32_t kWmNcDestroy = 0x0082;
constexpr std::uint32_t kWmVScroll = 0x0115;
constexpr std::uint32_t kApp = platform::kWmApp;

constexpr char kProgramScript[] = R"rc(
STRINGTABLE
BEGIN
  4, "online"
  5, "offline"
END

152 MENU
BEGIN
  POPUP "Tray"
  BEGIN
    POPUP "Settings"
    BEGIN
      MENUITEM "Ring..", 32810
      MENUITEM "Volume..", 32791
      MENUITEM "Devices..", 32792, GRAYED
    END
    POPUP "Language"
    BEGIN
      MENUITEM "English", 32796
      MENUITEM "Chinese", 32797
      MENUITEM "Japanese", 32814
    END
    MENUITEM SEPARATOR
    MENUITEM "Close", 32777
  END
END

102 DIALOGEX 0, 0, 100, 100
STYLE WS_POPUP | WS_CAPTION
CAPTION "Main"
FONT 9, "MS Shell Dlg"
BEGIN
  LISTBOX 1000, 0, 0, 10, 10
  PUSHBUTTON "Clear", 1038, 0, 0, 10, 10
END

136 DIALOGEX 0, 0, 30, 70
STYLE WS_POPUP | WS_VISIBLE
BEGIN
  CONTROL "", 1024, "msctls_trackbar32", TBS_VERT, 0, 0, 10, 60
END

140 DIALOGEX 0, 0, 200, 150
STYLE WS_POPUP | WS_CAPTION | WS_SYSMENU
CAPTION "Settings"
BEGIN
  LTEXT "Two\nlines", -1, 0, 0, 10, 10
  DEFPUSHBUTTON "OK", 1, 0, 0, 10, 10
  PUSHBUTTON "Cancel", 2, 0, 0, 10, 10
  PUSHBUTTON "Apply", 1040, 0, 0, 10, 10, WS_DISABLED
  AUTOCHECKBOX "Loud", 1003, 0, 0, 10, 10
  AUTORADIOBUTTON "A", 1004, 0, 0, 10, 10, WS_GROUP
  AUTORADIOBUTTON "B", 1005, 0, 0, 10, 10
  CONTROL "", 1010, "msctls_trackbar32", TBS_VERT | WS_GROUP, 0, 0, 10, 10
  COMBOBOX 1020, 0, 0, 10, 10, CBS_DROPDOWNLIST
  LISTBOX 1021, 0, 0, 10, 10
  EDITTEXT 1022, 0, 0, 10, 10
  CONTROL "", 1030, "SysListView32", LVS_REPORT, 0, 0, 10, 10
END
)rc";

constexpr char kLibraryScript[] = R"rc(
STRINGTABLE
BEGIN
  4, "Online (en)"
END
102 DIALOGEX 0, 0, 100, 100
CAPTION "Main (en)"
BEGIN
END
)rc";

std::shared_ptr<const ResourceScript> Script(const char* text) {
  auto result = ParseResourceScript(text, "test.rc", nullptr);
  EXPECT_TRUE(result.Ok()) << result.error;
  return result.script;
}

Action Do(ActionKind kind, std::uint16_t id = 0, std::int32_t value = 0, std::optional<std::int32_t> code = {}) {
  return Action{kind, id, value, code};
}

struct Seen {
  std::uint32_t msg = 0;
  std::uintptr_t wParam = 0;
  std::intptr_t lParam = 0;
};

// Records every message; `handler` decides which it handles.
class Presenter : public platform::DialogPresenter {
 public:
  using Handler = std::function<bool(DialogWindow&, std::uint32_t, std::uintptr_t, std::intptr_t, std::intptr_t&)>;
  Handler handler;
  std::vector<Seen> seen;

  bool OnMessage(DialogWindow& window, std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam,
                 std::intptr_t& result) override {
    seen.push_back({msg, wParam, lParam});
    return handler && handler(window, msg, wParam, lParam, result);
  }
  std::vector<std::uint32_t> Messages() const {
    std::vector<std::uint32_t> messages;
    for (const auto& s : seen) messages.push_back(s.msg);
    return messages;
  }
  std::vector<Seen> Of(std::uint32_t msg) const {
    std::vector<Seen> found;
    for (const auto& s : seen) {
      if (s.msg == msg) found.push_back(s);
    }
    return found;
  }
};

// Counts a thread's stack unwinding.
struct Unwound {
  std::atomic<int>& count;
  ~Unwound() { ++count; }
};

class SimUiTest : public ::testing::Test {
 protected:
  struct Running {
    SimProgram* program = nullptr;
    std::unique_ptr<ProgramClock> clock;
    std::unique_ptr<SimUi> ui;
  };
  using Main = std::function<void(SimUi&, ProgramClock&)>;

  SimUiTest() {
    catalogue_.builtin = Script(kProgramScript);
    catalogue_.libraries["T40ENG_VL.dll"] = Script(kLibraryScript);
    catalogue_.libraries["T40FRA_Bex.dll"] = Script(kLibraryScript);
  }

  // Starts a program whose user-interface thread runs `main`, and lets it settle.
  Running& Start(const std::string& name, Main main) {
    auto running = std::make_unique<Running>();
    running->program = &desktop_.AddProgram(name, name + ".exe");
    running->clock = std::make_unique<ProgramClock>(clock_);
    running->ui = std::make_unique<SimUi>(name, desktop_, *running->program, *running->clock, catalogue_,
                                          [this] { return TakeAnswer(); });
    SimUi* ui = running->ui.get();
    ProgramClock* clock = running->clock.get();
    ui->StartUiThread([ui, clock, main] { main(*ui, *clock); });
    running_.push_back(std::move(running));
    clock_.RunUntilIdle();
    return *running_.back();
  }

  // A program with the main window 102 (presenter main_) running its message loop.
  SimUi& StartBridge() {
    SimUi& ui = *Start("bridge", [this](SimUi& ui, ProgramClock&) {
                   main_window_ = ui.CreateModeless(102, main_, nullptr)->Handle();
                   ui.RunMessageLoop();
                 }).ui;
    EXPECT_NE(0u, main_window_);
    return ui;
  }

  void Answer(const Action& action) {
    {
      std::lock_guard lock(answersMutex_);
      answers_.push_back(action);
    }
    for (const auto& running : running_) running->ui->AnswerQueued();
    clock_.RunUntilIdle();
  }

  std::optional<Action> TakeAnswer() {
    std::lock_guard lock(answersMutex_);
    if (answers_.empty()) return std::nullopt;
    const Action action = answers_.front();
    answers_.pop_front();
    return action;
  }

  std::size_t AnswersLeft() {
    std::lock_guard lock(answersMutex_);
    return answers_.size();
  }

  void Post(std::uint32_t msg, std::uintptr_t wParam = 0, std::intptr_t lParam = 0) {
    desktop_.PostTo(main_window_, msg, wParam, lParam);
    clock_.RunUntilIdle();
  }

  // The ui, box and lib lines so far, without their times; `from` skips the first ones.
  std::vector<std::string> Lines(std::size_t from = 0) {
    std::vector<std::string> lines;
    for (const auto& line : transcript_.Lines()) {
      if (line.channel == "ui" || line.channel == "box" || line.channel == "lib") {
        lines.push_back(Transcript::Body(line));
      }
    }
    lines.erase(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(std::min(from, lines.size())));
    return lines;
  }

  VirtualClock clock_{VirtualClock::Options{.autoAdvance = false}};
  Transcript transcript_{clock_};
  Scheduler scheduler_{clock_};
  SimDesktop desktop_{clock_, scheduler_, transcript_};
  ResourceCatalogue catalogue_;
  std::mutex answersMutex_;
  std::deque<Action> answers_;
  WindowHandle main_window_ = 0;
  // Presenters outlive the programs, which are ended first.
  Presenter main_, modal_, other_;
  std::vector<std::unique_ptr<Running>> running_;
};

// Ends a modal dialog with 1 on IDOK and 2 on IDCANCEL.
bool EndOnOkOrCancel(DialogWindow& window, std::uint32_t msg, std::uintptr_t wParam, std::intptr_t, std::intptr_t&) {
  if (msg != platform::kWmCommand) return false;
  if ((wParam & 0xFFFF) == platform::kIdOk) window.End(1);
  if ((wParam & 0xFFFF) == platform::kIdCancel) window.End(2);
  return true;
}

TEST_F(SimUiTest, ModelessDialogsPrintTheirLifeAndHearEveryMessage) {
  SimUi* ui = &StartBridge();
  EXPECT_EQ((std::vector<std::uint32_t>{kWmSetFont, platform::kWmInitDialog}), main_.Messages());
  EXPECT_EQ(0, main_.seen[1].lParam);
  EXPECT_EQ(main_window_, desktop_.FindTopWindow("#32770", "Main"));
  ASSERT_TRUE(ui->Window(102).has_value());
  EXPECT_FALSE(ui->Window(102)->visible);

  platform::DialogWindow* popup = nullptr;
  main_.handler = [&](DialogWindow& window, std::uint32_t msg, std::uintptr_t, std::intptr_t, std::intptr_t&) {
    if (msg == kApp + 1) {
      window.Show(true);
      window.Show(true);  // no change, no line
    }
    if (msg == kApp + 2) window.Show(false);
    if (msg == kApp + 3) popup = ui->CreateModeless(136, other_, &window);
    if (msg == kApp + 4) window.Destroy();
    return msg >= kApp;
  };
  Post(kApp + 1);
  EXPECT_TRUE(ui->Window(102)->visible);
  Post(kApp + 2);
  Post(kApp + 3);  // a template that says visible is shown at once
  ASSERT_NE(nullptr, popup);
  EXPECT_TRUE(ui->Window(136)->visible);
  Post(kApp + 4);  // the pop-up goes first, with its owner
  EXPECT_EQ((std::vector<std::string>{"ui bridge:102 create", "ui bridge:102 show", "ui bridge:102 hide",
                                      "ui bridge:136 create", "ui bridge:136 show", "ui bridge:136 destroy",
                                      "ui bridge:102 destroy"}),
            Lines());
  EXPECT_EQ(kWmNcDestroy, other_.Messages().back());
  const auto messages = main_.Messages();
  ASSERT_GE(messages.size(), 2u);
  EXPECT_EQ(platform::kWmDestroy, messages[messages.size() - 2]);
  EXPECT_EQ(kWmNcDestroy, messages.back());
  EXPECT_FALSE(desktop_.WindowExists(main_window_));
  EXPECT_FALSE(ui->Window(102).has_value());

  // A presenter that destroys its window during WM_INITDIALOG gets no window.
  other_.handler = [](DialogWindow& window, std::uint32_t msg, std::uintptr_t, std::intptr_t, std::intptr_t&) {
    if (msg == platform::kWmInitDialog) window.Destroy();
    return false;
  };
  platform::DialogWindow* refused = popup;
  const std::size_t before = Lines().size();
  Start("manager", [&](SimUi& manager, ProgramClock&) { refused = manager.CreateModeless(140, other_, nullptr); });
  EXPECT_EQ(nullptr, refused);
  EXPECT_EQ((std::vector<std::string>{"ui manager:140 create", "ui manager:140 destroy"}), Lines(before));
}

TEST_F(SimUiTest, AModalDialogTakesAnswersQueuedBeforeItOpens) {
  SimUi* ui = &StartBridge();
  std::intptr_t result = 0;
  bool checkedWhenClicked = false;
  main_.handler = [&](DialogWindow& window, std::uint32_t msg, std::uintptr_t, std::intptr_t, std::intptr_t&) {
    if (msg == kApp + 1) result = ui->RunModal(140, modal_, &window);
    return msg >= kApp;
  };
  modal_.handler = [&](DialogWindow& window, std::uint32_t msg, std::uintptr_t wParam, std::intptr_t l,
                       std::intptr_t& r) {
    if (msg == platform::kWmCommand && (wParam & 0xFFFF) == 1003)
      checkedWhenClicked = window.Controls().IsChecked(1003);
    return EndOnOkOrCancel(window, msg, wParam, l, r);
  };
  Answer(Do(ActionKind::kCheck, 1003));
  Answer(Do(ActionKind::kOk));
  Post(kApp + 1);

  EXPECT_EQ(1, result);
  EXPECT_EQ((std::vector<std::string>{"ui bridge:102 create", "ui bridge:140 create", "ui bridge:140 end 1"}), Lines());
  const auto commands = modal_.Of(platform::kWmCommand);
  ASSERT_EQ(2u, commands.size());
  EXPECT_EQ(1003u, commands[0].wParam);  // BN_CLICKED is 0
  EXPECT_NE(0, commands[0].lParam);      // from the control
  EXPECT_EQ(1u, commands[1].wParam);
  EXPECT_NE(commands[0].lParam, commands[1].lParam);
  EXPECT_TRUE(checkedWhenClicked);
  EXPECT_EQ(kWmNcDestroy, modal_.Messages().back());
  EXPECT_EQ(main_window_, desktop_.DesktopFor(*running_[0]->program)->ForegroundWindow());  // the owner again
  EXPECT_EQ(0u, AnswersLeft());
}

TEST_F(SimUiTest, AnUnansweredModalDialogWaitsWhileTimersSendsAndPostsGoOn) {
  SimUi* ui = &StartBridge();
  std::intptr_t result = 0;
  std::vector<std::uint64_t> timers;
  main_.handler = [&](DialogWindow& window, std::uint32_t msg, std::uintptr_t, std::intptr_t, std::intptr_t& r) {
    if (msg == kApp + 1) {
      window.SetTimer(9, 50);
      result = ui->RunModal(140, modal_, &window);
    }
    if (msg == kApp + 2) window.KillTimer(9);
    if (msg == platform::kWmTimer) timers.push_back(clock_.Now());
    if (msg == kApp + 3) r = 42;
    return msg >= kApp || msg == platform::kWmTimer;
  };
  modal_.handler = EndOnOkOrCancel;
  Post(kApp + 1);
  EXPECT_EQ((std::vector<std::string>{"ui bridge:102 create", "ui bridge:140 create"}), Lines());

  clock_.AdvanceTo(120);
  EXPECT_EQ((std::vector<std::uint64_t>{50, 100}), timers);
  Post(kApp + 2);  // handled inside the modal loop
  clock_.AdvanceTo(300);
  EXPECT_EQ(2u, timers.size());
  EXPECT_EQ(42, desktop_.SendFrom(nullptr, main_window_, kApp + 3, 0, 0));
  EXPECT_EQ(0, result);

  Answer(Do(ActionKind::kCancel));
  EXPECT_EQ(2, result);
  const auto lines = transcript_.Lines();
  EXPECT_EQ("ui bridge:140 end 2", Transcript::Body(lines.back()));
  EXPECT_EQ(300u, lines.back().time);
}

TEST_F(SimUiTest, ADialogThatEndsInItsInitialisationPrintsOnlyItsEndAndTakesNoAnswer) {
  SimUi* ui = &StartBridge();
  std::intptr_t result = 0;
  main_.handler = [&](DialogWindow& window, std::uint32_t msg, std::uintptr_t, std::intptr_t, std::intptr_t&) {
    if (msg == kApp + 1) result = ui->RunModal(140, modal_, &window);
    return msg >= kApp;
  };
  modal_.handler = [](DialogWindow& window, std::uint32_t msg, std::uintptr_t, std::intptr_t, std::intptr_t& r) {
    if (msg != platform::kWmInitDialog) return false;
    window.End(7);
    r = 1;
    return true;
  };
  Answer(Do(ActionKind::kOk));
  Post(kApp + 1);
  EXPECT_EQ(7, result);
  EXPECT_EQ((std::vector<std::string>{"ui bridge:102 create", "ui bridge:140 end 7"}), Lines());
  EXPECT_EQ((std::vector<std::uint32_t>{platform::kWmInitDialog, platform::kWmDestroy, kWmNcDestroy}),
            modal_.Messages());
  EXPECT_EQ(1u, AnswersLeft());

  // Destroying a modal dialog ends it with IDCANCEL; a missing template gives -1.
  modal_.handler = [](DialogWindow& window, std::uint32_t msg, std::uintptr_t, std::intptr_t, std::intptr_t&) {
    if (msg == platform::kWmCommand) window.Destroy();
    return msg == platform::kWmCommand;
  };
  Post(kApp + 1);  // takes the queued ok
  EXPECT_EQ(2, result);
  main_.handler = [&](DialogWindow& window, std::uint32_t msg, std::uintptr_t, std::intptr_t, std::intptr_t&) {
    if (msg == kApp + 1) result = ui->RunModal(999, modal_, &window);
    if (msg == kApp + 2) result = ui->RunModal(140, modal_, &window);
    return msg >= kApp;
  };
  Post(kApp + 1);
  EXPECT_EQ(-1, result);

  // WM_QUIT ends a modal loop with 0 and then the program's own loop: the program is over.
  modal_.handler = nullptr;
  Post(kApp + 2);
  running_[0]->program->PostQuit(3);
  clock_.RunUntilIdle();
  EXPECT_EQ(0, result);
  EXPECT_EQ("ui bridge:140 end 0", Lines().back());
  EXPECT_FALSE(desktop_.WindowExists(main_window_));
}

// DestroyWindow destroys the owned windows first, an open modal dialog included, and the dialog's
// loop ends with its window: DialogBox returns 0, after the owner is gone (measured under Wine).
TEST_F(SimUiTest, DestroyingAnOwnerTakesItsModalDialogFirstAndEndsTheDialogsLoop) {
  SimUi* ui = &StartBridge();
  std::vector<std::string> order;
  std::optional<std::intptr_t> result;
  bool ownerAliveAfterModal = true;
  main_.handler = [&](DialogWindow& window, std::uint32_t msg, std::uintptr_t, std::intptr_t, std::intptr_t&) {
    if (msg == kApp + 1) {
      result = ui->RunModal(140, modal_, &window);
      ownerAliveAfterModal = desktop_.WindowExists(main_window_);
    }
    if (msg == kApp + 2) window.Destroy();
    if (msg == platform::kWmDestroy) order.push_back("main WM_DESTROY");
    if (msg == kWmNcDestroy) order.push_back("main WM_NCDESTROY");
    return msg >= kApp;
  };
  modal_.handler = [&](DialogWindow&, std::uint32_t msg, std::uintptr_t, std::intptr_t, std::intptr_t&) {
    if (msg == platform::kWmDestroy) order.push_back("modal WM_DESTROY");
    if (msg == kWmNcDestroy) order.push_back("modal WM_NCDESTROY");
    return false;
  };
  Post(kApp + 1);
  EXPECT_FALSE(result.has_value());
  Post(kApp + 2);  // arrives inside the modal loop
  ASSERT_TRUE(result.has_value());
  EXPECT_EQ(0, *result);
  EXPECT_FALSE(ownerAliveAfterModal);
  EXPECT_EQ(
      (std::vector<std::string>{"modal WM_DESTROY", "modal WM_NCDESTROY", "main WM_DESTROY", "main WM_NCDESTROY"}),
      order);
  EXPECT_EQ((std::vector<std::string>{"ui bridge:102 create", "ui bridge:140 create", "ui bridge:140 destroy",
                                      "ui bridge:102 destroy"}),
            Lines());
  EXPECT_FALSE(ui->Window(140).has_value());
}

TEST_F(SimUiTest, MessageBoxesTakeOnlyTheAnswersTheirButtonsAllow) {
  SimUi* ui = &StartBridge();
  std::vector<int> answers;
  main_.handler = [&](DialogWindow& window, std::uint32_t msg, std::uintptr_t, std::intptr_t, std::intptr_t&) {
    if (msg == kApp + 1) answers.push_back(ui->ShowMessageBox(&window, "Reset?", "Teliox", platform::kMbYesNo));
    if (msg == kApp + 2) answers.push_back(ui->ShowMessageBox(&window, "Handset\nmissing", "Teliox", platform::kMbOk));
    if (msg == kApp + 3) answers.push_back(ui->ShowMessageBox(&window, "Sure?", "", platform::kMbYesNo | 0x100));
    return msg >= kApp;
  };
  Post(kApp + 1);
  Answer(Do(ActionKind::kMenu, 32790));
  Answer(Do(ActionKind::kEscape));  // a yes/no box has no Cancel
  EXPECT_TRUE(answers.empty());
  const auto failures = ui->TakeFailures();
  ASSERT_EQ(2u, failures.size());
  EXPECT_EQ("bridge: the message box \"Reset?\" cannot take \"menu 32790\"", failures[0]);
  EXPECT_EQ("bridge: the message box \"Reset?\" cannot take \"escape\"", failures[1]);
  Answer(Do(ActionKind::kNo));
  Answer(Do(ActionKind::kEscape));  // queued: the OK box takes it when it opens
  Post(kApp + 2);
  Answer(Do(ActionKind::kEnter));
  Post(kApp + 3);  // MB_DEFBUTTON2: Enter is No
  EXPECT_EQ((std::vector<int>{platform::kIdNo, platform::kIdOk, platform::kIdNo}), answers);
  EXPECT_EQ((std::vector<std::string>{"box bridge \"Reset?\" -> no", "box bridge \"Handset\\nmissing\" -> ok",
                                      "box bridge \"Sure?\" -> no"}),
            Lines(1));
  EXPECT_TRUE(ui->TakeFailures().empty());
}

TEST_F(SimUiTest, TheTrayMenuListsItsEditedItemsAndPostsTheChosenCommandAfterClosing) {
  SimUi* ui = &StartBridge();
  std::vector<std::string> events;
  const std::vector<platform::MenuEdit> edits = {
      {{0, 0}, platform::MenuEdit::Kind::Gray},  {{0, 2}, platform::MenuEdit::Kind::Enable},
      {{1, 1}, platform::MenuEdit::Kind::Check}, {{0, 9}, platform::MenuEdit::Kind::Check},
      {{3, 0}, platform::MenuEdit::Kind::Gray},  // no pop-up there: left alone
  };
  main_.handler = [&](DialogWindow& window, std::uint32_t msg, std::uintptr_t wParam, std::intptr_t, std::intptr_t&) {
    if (msg == kApp + 1) {
      ui->ShowPopupMenu(window, 152, edits);
      events.push_back("closed");
    }
    if (msg == platform::kWmCommand) events.push_back("command " + std::to_string(wParam));
    return msg >= kApp || msg == platform::kWmCommand;
  };
  Post(kApp + 1);
  const std::vector<std::string> menu = {
      "ui bridge:menu popup text=\"Settings\"",
      "ui bridge:menu 32810 text=\"Ring..\" enabled=0 checked=0",
      "ui bridge:menu 32791 text=\"Volume..\" enabled=1 checked=0",
      "ui bridge:menu 32792 text=\"Devices..\" enabled=1 checked=0",
      "ui bridge:menu popup text=\"Language\"",
      "ui bridge:menu 32796 text=\"English\" enabled=1 checked=0",
      "ui bridge:menu 32797 text=\"Chinese\" enabled=1 checked=1",
      "ui bridge:menu 32814 text=\"Japanese\" enabled=1 checked=0",
      "ui bridge:menu separator",
      "ui bridge:menu 32777 text=\"Close\" enabled=1 checked=0",
  };
  EXPECT_EQ(menu, Lines(1));
  EXPECT_EQ(main_window_, desktop_.DesktopFor(*running_[0]->program)->ForegroundWindow());
  EXPECT_FALSE(ui->Snapshot(std::nullopt).has_value());
  EXPECT_EQ(menu, Lines(1 + menu.size()));

  Answer(Do(ActionKind::kClick, 5));
  Answer(Do(ActionKind::kMenu, 4242));
  EXPECT_EQ(
      (std::vector<std::string>{"bridge: the menu cannot take \"click 5\"", "bridge: the menu has no command 4242"}),
      ui->TakeFailures());
  Answer(Do(ActionKind::kMenu, 32797));
  EXPECT_EQ((std::vector<std::string>{"closed", "command 32797"}), events);
  EXPECT_EQ("bridge: no menu is open", ui->Snapshot(std::nullopt).value_or(""));

  // A greyed item, or escape, closes the menu with nothing chosen.
  Answer(Do(ActionKind::kMenu, 32810));
  Post(kApp + 1);
  Answer(Do(ActionKind::kEscape));
  Post(kApp + 1);
  EXPECT_EQ((std::vector<std::string>{"closed", "command 32797", "closed", "closed"}), events);
  EXPECT_TRUE(ui->TakeFailures().empty());
}

TEST_F(SimUiTest, SnapshotsListTheControlsAndActionsReachThePresenterAsFromTheUser) {
  SimUi* ui = &StartBridge();
  DialogWindow* settings = nullptr;
  main_.handler = [&](DialogWindow& window, std::uint32_t msg, std::uintptr_t, std::intptr_t, std::intptr_t&) {
    if (msg != kApp + 1) return false;
    settings = ui->CreateModeless(140, other_, &window);
    auto& controls = settings->Controls();
    controls.SetChecked(1004, true);
    controls.SliderSetRange(1010, 0, 10);
    controls.SliderSetPos(1010, 3);
    controls.ListAdd(1020, "x");
    controls.ListAdd(1020, "y");
    for (const char* item : {"a", "b", "c"}) controls.ListAdd(1021, item);
    controls.SetText(1022, "one\ntwo");
    auto& store = dynamic_cast<SimDialogControls&>(controls);
    store.ListViewInsert(1030, 0, {"Alice", "today"}, 0, 7);
    store.ListViewInsert(1030, 9, {"Bob"}, std::nullopt, 8);
    return true;
  };
  struct Notified {
    int item;
    std::uint32_t newState, oldState;
    std::intptr_t data;
  };
  std::vector<Notified> notified;
  other_.handler = [&](DialogWindow&, std::uint32_t msg, std::uintptr_t, std::intptr_t lParam, std::intptr_t&) {
    if (msg == kWmNotify) {
      const auto& record = *reinterpret_cast<const ListViewNotify*>(lParam);
      EXPECT_EQ(kLvnItemChanged, record.code);
      EXPECT_EQ(1030u, record.idFrom);
      notified.push_back({record.item, record.newState, record.oldState, record.lParam});
    }
    return false;
  };
  Post(kApp + 1);
  ASSERT_NE(nullptr, settings);
  const std::size_t before = Lines().size();
  EXPECT_FALSE(ui->Snapshot(140).has_value());
  EXPECT_EQ((std::vector<std::string>{
                "ui bridge:140 1 button text=\"OK\" enabled=1",
                "ui bridge:140 2 button text=\"Cancel\" enabled=1",
                "ui bridge:140 1003 check text=\"Loud\" enabled=1 checked=0",
                "ui bridge:140 1004 radio text=\"A\" enabled=1 checked=1",
                "ui bridge:140 1005 radio text=\"B\" enabled=1 checked=0",
                "ui bridge:140 1010 slider enabled=1 range=0..10 page=2 tick=1 pos=3",
                "ui bridge:140 1020 combo text=\"\" enabled=1 items=\"x|y\" selected=-1",
                "ui bridge:140 1021 list enabled=1 items=\"a|b|c\" selected=-1",
                "ui bridge:140 1022 edit text=\"one\\ntwo\" enabled=1",
                "ui bridge:140 1030 listview enabled=1",
                "ui bridge:140 1030 listview row=0 cols=\"Alice|today\" image=0 data=7 selected=0",
                "ui bridge:140 1030 listview row=1 cols=\"Bob\" image=none data=8 selected=0",
                "ui bridge:140 1040 button text=\"Apply\" enabled=0",
            }),
            Lines(before));

  auto act = [&](const Action& action) {
    const auto error = ui->Act(140, action);
    clock_.RunUntilIdle();
    return error;
  };
  other_.seen.clear();
  EXPECT_FALSE(act(Do(ActionKind::kClick, 1005)));
  EXPECT_FALSE(settings->Controls().IsChecked(1004));
  EXPECT_TRUE(settings->Controls().IsChecked(1005));
  EXPECT_FALSE(act(Do(ActionKind::kSelect, 1021, 2)));
  EXPECT_EQ(2, settings->Controls().ListSelection(1021));
  EXPECT_FALSE(act(Do(ActionKind::kSelect, 1020, 1)));
  EXPECT_EQ("y", settings->Controls().GetText(1020));
  const auto commands = other_.Of(platform::kWmCommand);
  ASSERT_EQ(3u, commands.size());
  EXPECT_EQ(1005u, commands[0].wParam);
  EXPECT_EQ(1021u | 1u << 16, commands[1].wParam);
  EXPECT_EQ(1020u | 1u << 16, commands[2].wParam);

  EXPECT_FALSE(act(Do(ActionKind::kSelect, 1030, 1)));
  EXPECT_FALSE(act(Do(ActionKind::kSelect, 1030, 0)));
  EXPECT_FALSE(act(Do(ActionKind::kSelect, 1030, 0)));  // already selected: nothing
  ASSERT_EQ(3u, notified.size());
  EXPECT_EQ(1, notified[0].item);
  EXPECT_EQ(kLvisSelected | kLvisFocused, notified[0].newState);
  EXPECT_EQ(8, notified[0].data);
  EXPECT_EQ(1, notified[1].item);
  EXPECT_EQ(kLvisSelected | kLvisFocused, notified[1].oldState);
  EXPECT_EQ(0, notified[2].item);
  EXPECT_EQ(7, notified[2].data);

  other_.seen.clear();
  EXPECT_FALSE(act(Do(ActionKind::kSlider, 1010, 99)));  // clamped to the range
  EXPECT_FALSE(act(Do(ActionKind::kSlider, 1010, 5, 5)));
  const auto scrolls = other_.Of(kWmVScroll);
  ASSERT_EQ(3u, scrolls.size());
  EXPECT_EQ(4u | 10u << 16, scrolls[0].wParam);
  EXPECT_EQ(8u, scrolls[1].wParam);
  EXPECT_EQ(5u | 5u << 16, scrolls[2].wParam);
  EXPECT_NE(0, scrolls[0].lParam);
  EXPECT_EQ(scrolls[0].lParam, scrolls[2].lParam);
  EXPECT_EQ(5, settings->Controls().SliderPos(1010));

  // What cannot be done: at once when the window or control is not there, later otherwise.
  EXPECT_EQ("bridge:140 has no control 9999", act(Do(ActionKind::kClick, 9999)).value_or(""));
  EXPECT_EQ("bridge:999 is not open", ui->Act(999, Do(ActionKind::kOk)).value_or(""));
  EXPECT_EQ("bridge:140 takes no menu command", act(Do(ActionKind::kMenu, 32777)).value_or(""));
  EXPECT_FALSE(act(Do(ActionKind::kClick, 1040)));
  EXPECT_FALSE(act(Do(ActionKind::kSelect, 1021, 3)));
  EXPECT_EQ((std::vector<std::string>{"bridge:140 cannot take \"click 1040\": control 1040 is disabled",
                                      "bridge:140 cannot take \"select 1021 3\": no item 3"}),
            ui->TakeFailures());

  // Escape is IDCANCEL from the Cancel button, as the program's loop gives a modeless dialog the
  // dialog keyboard handling; close goes the default dialog procedure's way to a posted IDCANCEL
  // from the Cancel button; losing activation is WM_ACTIVATE WA_INACTIVE.
  other_.seen.clear();
  EXPECT_FALSE(act(Do(ActionKind::kEscape)));
  EXPECT_FALSE(act(Do(ActionKind::kCancel)));
  ASSERT_EQ(2u, other_.seen.size());
  const std::intptr_t cancelButton = other_.seen[1].lParam;
  EXPECT_NE(0, cancelButton);
  EXPECT_EQ(2u, other_.seen[0].wParam);
  EXPECT_EQ(cancelButton, other_.seen[0].lParam);
  other_.seen.clear();
  EXPECT_FALSE(act(Do(ActionKind::kClose)));
  ASSERT_EQ(3u, other_.seen.size());
  EXPECT_EQ(platform::kWmSysCommand, other_.seen[0].msg);
  EXPECT_EQ(0xF060u, other_.seen[0].wParam);
  EXPECT_EQ(platform::kWmClose, other_.seen[1].msg);
  EXPECT_EQ(platform::kWmCommand, other_.seen[2].msg);
  EXPECT_EQ(2u, other_.seen[2].wParam);
  EXPECT_EQ(cancelButton, other_.seen[2].lParam);
  EXPECT_FALSE(ui->Deactivate(140));
  clock_.RunUntilIdle();
  EXPECT_EQ(kWmActivate, other_.seen.back().msg);
  EXPECT_EQ(0u, other_.seen.back().wParam);
}

TEST_F(SimUiTest, LanguageLibrariesLoadOnlyWhenPresentAndSupplyStringsAndDialogs) {
  desktop_.SetFilePresent("T40FRA_Bex.dll", false);
  std::vector<std::string> texts;
  platform::ModuleHandle english = 0, again = 0, missing = 1, absent = 1;
  std::string caption;
  bool unknownMissing = false;
  Start("bridge", [&](SimUi& ui, ProgramClock&) {
    missing = ui.LoadLanguageLibrary("T40JPN_Qor.dll");  // no such library
    absent = ui.LoadLanguageLibrary("T40FRA_Bex.dll");   // declared absent
    english = ui.LoadLanguageLibrary("T40ENG_VL.dll");
    again = ui.LoadLanguageLibrary("C:\\Program Files\\Teliox\\t40eng_vl.DLL");
    texts.push_back(ui.LoadText(4));
    ui.SetResourceModule(english);
    texts.push_back(ui.LoadText(4));
    texts.push_back(ui.LoadText(5));  // not in the library: nothing
    caption = desktop_.WindowTitle(ui.CreateModeless(102, main_, nullptr)->Handle());
    unknownMissing = ui.CreateModeless(136, other_, nullptr) == nullptr;  // not in the library either
    ui.SetResourceModule(platform::kProgramResources);
    texts.push_back(ui.LoadText(5));
    ui.RunMessageLoop();
  });
  EXPECT_EQ(0u, missing);
  EXPECT_EQ(0u, absent);
  EXPECT_NE(0u, english);
  EXPECT_EQ(english, again);
  EXPECT_TRUE(unknownMissing);
  EXPECT_EQ((std::vector<std::string>{"online", "Online (en)", "", "offline"}), texts);
  EXPECT_EQ("Main (en)", caption);
  EXPECT_EQ((std::vector<std::string>{
                "lib bridge load \"T40JPN_Qor.dll\" failed",
                "lib bridge load \"T40FRA_Bex.dll\" failed",
                "lib bridge load \"T40ENG_VL.dll\" ok",
                "lib bridge load \"C:\\Program Files\\Teliox\\t40eng_vl.DLL\" ok",
                "lib bridge resources \"T40ENG_VL.dll\"",
                "ui bridge:102 create",
                "lib bridge resources builtin",
            }),
            Lines());
}

TEST_F(SimUiTest, TheSingleInstanceMutexIsSharedByEveryProgramUntilItsOwnerEnds) {
  std::vector<bool> created;
  Running& first = Start("bridge", [&](SimUi& ui, ProgramClock&) {
    created.push_back(ui.CreateSingleInstanceMutex("TelioxMutex"));
    ui.RunMessageLoop();
  });
  Start("second", [&](SimUi& ui, ProgramClock&) {
    created.push_back(ui.CreateSingleInstanceMutex("TelioxMutex"));
    created.push_back(ui.CreateSingleInstanceMutex("telioxmutex"));  // names keep their case
    created.push_back(ui.CreateSingleInstanceMutex(nullptr));
  });
  first.ui->KillAndJoin();
  Start("third", [&](SimUi& ui, ProgramClock&) { created.push_back(ui.CreateSingleInstanceMutex("TelioxMutex")); });
  EXPECT_EQ((std::vector<bool>{true, false, true, true, true}), created);
}

TEST_F(SimUiTest, KillingAProgramEndsEveryThreadWhereverItStands) {
  std::atomic<int> unwound{0}, finished{0};
  Running& other = Start("manager", [&](SimUi& ui, ProgramClock&) {
    ui.CreateModeless(102, other_, nullptr);
    ui.RunMessageLoop();
  });
  const WindowHandle otherWindow = desktop_.FindTopWindow("#32770", "Main");
  // The manager's window takes its time over one message, so a send to it waits.
  other_.handler = [&](DialogWindow&, std::uint32_t msg, std::uintptr_t, std::intptr_t, std::intptr_t&) {
    if (msg == kApp + 9) other.clock->Sleep(100000);
    return false;
  };
  desktop_.PostTo(otherWindow, kApp + 9, 0, 0);
  clock_.RunUntilIdle();

  Running& bridge = Start("bridge", [&](SimUi& ui, ProgramClock& clock) {
    ui.StartThread("sleeper", [&](std::stop_token) {
      Unwound guard{unwound};
      clock.Sleep(100000);
      ++finished;
    });
    ui.StartThread("waiter", [&](std::stop_token) {
      Unwound guard{unwound};
      auto event = clock.MakeEvent();
      event->Wait(platform::kInfinite);
      ++finished;
    });
    ui.StartThread("sender", [&](std::stop_token) {
      Unwound guard{unwound};
      auto view = desktop_.DesktopFor(*desktop_.FindProgram("bridge"));
      view->Send(otherWindow, kApp + 10, 0, 0);
      ++finished;
    });
    ui.StartThread("brief", [&](std::stop_token) {
      clock.Sleep(10);
      ++finished;  // a thread that ends on its own just ends
    });
    Unwound guard{unwound};
    ui.ShowMessageBox(nullptr, "Still here?", "", platform::kMbOk);
    ++finished;
  });
  const std::uint32_t pid = bridge.program->ProcessId();
  clock_.AdvanceTo(50);
  EXPECT_EQ(1, finished);

  bridge.ui->KillAndJoin();
  EXPECT_EQ(4, unwound);
  EXPECT_EQ(1, finished);
  for (const auto& process : desktop_.Processes()) EXPECT_NE(pid, process.id);
  EXPECT_TRUE(bridge.ui->Act(102, Do(ActionKind::kOk)).has_value());

  // A program whose main returns ends at once: its threads, windows and process entry go.
  std::atomic<int> workerUnwound{0};
  Running& brief = Start("brief", [&](SimUi& ui, ProgramClock& clock) {
    ui.StartThread("worker", [&](std::stop_token) {
      Unwound guard{workerUnwound};
      clock.Sleep(100000);
    });
    ui.CreateModeless(136, main_, nullptr);
  });
  EXPECT_EQ(1, workerUnwound);
  EXPECT_EQ(0u, desktop_.FindTopWindow("#32770", ""));
  for (const auto& process : desktop_.Processes()) EXPECT_NE(brief.program->ProcessId(), process.id);
  brief.ui->KillAndJoin();
}

TEST(ProgramClock, SleepsAndEventsRunOnVirtualTimeUntilTheProgramIsKilled) {
  VirtualClock clock({.autoAdvance = false});
  ProgramClock program(clock);
  std::mutex mutex;
  std::vector<std::string> log;
  auto note = [&](const std::string& what) {
    std::lock_guard lock(mutex);
    log.push_back(std::to_string(clock.Now()) + " " + what);
  };
  auto event = program.MakeEvent();
  std::vector<std::thread> threads;
  threads.push_back(clock.Spawn([&] {
    program.Sleep(0);  // yields to the threads queued behind
    note("yielded");
    program.Sleep(30);
    note("slept");
  }));
  threads.push_back(clock.Spawn([&] { note(event->Wait(40) ? "set" : "timed out"); }));
  threads.push_back(clock.Spawn([&] { note(event->Wait(platform::kInfinite) ? "released" : "?"); }));
  threads.push_back(clock.Spawn([&] {
    program.Sleep(60);
    event->Set();
    event->Reset();  // the waiters are released all the same
    note("pulsed");
  }));
  threads.push_back(clock.Spawn([&] {
    try {
      program.Sleep(platform::kInfinite);
    } catch (const ProcessEnded&) {
      note("ended while sleeping");
    }
    try {
      program.Sleep(0);
    } catch (const ProcessEnded&) {
      note("ended at once");
    }
  }));
  clock.AdvanceTo(100);
  program.Kill();
  clock.RunUntilIdle();
  for (auto& thread : threads) thread.join();
  EXPECT_EQ((std::vector<std::string>{"0 yielded", "30 slept", "40 timed out", "60 pulsed", "60 released",
                                      "100 ended while sleeping", "100 ended at once"}),
            log);
  EXPECT_THROW(event->Wait(0), ProcessEnded);
}

}  // namespace
