// The simulated user interface of one program: platform::Ui for a SimProgram on the SimDesktop,
// so a program's portable code runs in-process on the virtual clock with its dialogs, message
// boxes, tray menu, language libraries and threads, and the scenario acts as its user.
//
// Transcript lines (channel, payload):
//   lib  <prog> load "<file>" ok|failed          a language library loaded
//   lib  <prog> resources "<file>"|builtin       where strings, menus and dialogs come from
//   ui   <prog>:<id> create|show|hide|destroy    a modeless dialog; `create` before WM_INITDIALOG,
//                                                `show`/`hide` when its visibility changes (a
//                                                shown window becomes the active one); the
//                                                dialogs it owns, modal ones too, are destroyed
//                                                before it
//   ui   <prog>:<id> create ... end <result>     a modal dialog; `create` once WM_INITDIALOG is
//                                                through, so one that ends there prints only
//                                                `end`; WM_QUIT ends it with 0 and stays queued;
//                                                destroyed with its owner, it prints `destroy`
//                                                and RunModal returns 0, as DialogBox does
//   ui   <prog>:<id> <control> <kind> ...        snapshot lines, see SimDialogControls
//   ui   <prog>:menu <cmd>|popup|separator ...   the tray menu when it opens and on snapshot
//   box  <prog> "<text>" -> ok|cancel|yes|no     a message box, when answered
//
// Messages reach a presenter as Windows sends them: WM_SETFONT (when the template has a font)
// and WM_INITDIALOG (lParam 0) first; WM_COMMAND with wParam = id | notification << 16 and lParam
// the control's handle (0 when there is no such control); WM_DESTROY and WM_NCDESTROY at the end.
// Unhandled, WM_SYSCOMMAND SC_CLOSE becomes WM_CLOSE, and WM_CLOSE posts WM_COMMAND IDCANCEL
// (BN_CLICKED, from the Cancel button) unless that button is disabled, as the default dialog
// procedure does. Destroy() of a modal dialog ends it with IDCANCEL.
//
// The user's actions (an `answer` for the innermost open modal window, message box or menu, or
// an `act` on an open window), done as a user would:
//   ok, cancel, yes, no  WM_COMMAND IDOK, IDCANCEL, IDYES, IDNO (BN_CLICKED, from that button).
//   enter, escape        what the dialog keyboard handling does (a modal loop's, and the
//                        program's own loop's for its modeless dialogs): Enter clicks the
//                        template's default push button when it is enabled, or sends IDOK when
//                        there is none; Escape sends IDCANCEL.
//   close                the title bar's close button: WM_SYSCOMMAND SC_CLOSE.
//   click <id>           an automatic check box toggles and an automatic radio button checks
//                        itself and clears its group, then WM_COMMAND BN_CLICKED.
//   check|uncheck <id>   a check box or radio button (a radio button cannot be unchecked): an
//                        automatic one takes the state, then WM_COMMAND BN_CLICKED.
//   select <id> <i>      a list box or combo box selects item i, then WM_COMMAND LBN_SELCHANGE /
//                        CBN_SELCHANGE. A list view selects row i alone and sends WM_NOTIFY
//                        (wParam the id, lParam a ListViewNotify) LVN_ITEMCHANGED, first for the
//                        row losing the selection, if any, then for row i; selecting the row
//                        already selected sends nothing.
//   slider <id> <p>      the track bar takes position p (clamped to its range), then the thumb's
//                        release: WM_HSCROLL (WM_VSCROLL with TBS_VERT) TB_THUMBPOSITION with p in
//                        the high word, then TB_ENDTRACK; lParam the control. With `code <n>`,
//                        that one code only (the position in the high word for 4 and 5).
//   menu <cmd>           the tray menu closes, then WM_COMMAND <cmd> is posted to its owner, as
//                        TrackPopupMenu does. A greyed item (or one in a greyed pop-up) closes the
//                        menu with nothing chosen; cancel, escape and close close it with nothing.
// A control that does not fit the action, is disabled or hidden, or an action the window cannot
// take (a message box offers only its buttons: MB_OK takes ok, enter, escape and close; MB_YESNO
// only yes, no and enter) is a failure of the scenario: reported through TakeFailures and the
// failure listener, and the window stays open.
//
// Threads: the Ui methods are for the program's threads (dialogs, boxes and menus for its user-
// interface thread). The host's methods below are for the scenario runner's thread while the
// world is idle; what touches presenters is posted to the user-interface thread as a private
// message to a hidden window of the program, and runs when that thread next takes a message.
//
// Ending: a program is ended as its process would be, wherever its threads stand. Kill() makes
// every blocking point of the program (the ProgramClock's sleeps and waits, the message waits
// and sends of its SimProgram) throw ProcessEnded; the threads started here catch it at their
// top. ProcessEnded is the simulation's stand-in for process termination: it is thrown only on a
// killed program's threads and never crosses into production code as something to handle, which
// is why production code must not swallow it in a catch-all.
//
// For the host, in this order:
//   1. SimProgram& program = desktop.AddProgram(...); ProgramClock clock(virtualClock);
//      SimUi ui(name, desktop, program, clock, catalogue, takeAnswer); build the program on
//      `ui` and `clock`; ui.StartUiThread(main), where main runs the program and writes its exit.
//   2. For the directives: `answer` (after queuing it in the world) -> AnswerQueued(); `act` ->
//      Act(); `deactivate` -> Deactivate(); `snapshot` -> Snapshot(). Then let the world run
//      until idle and collect TakeFailures().
//   3. At the end: KillAndJoin(), destroy the program's objects, destroy the SimUi, then
//      desktop.RemoveProgram(program). (When main returns, or on Kill, the program's windows,
//      process entry, tray icons and mutexes are already gone: SimDesktop::EndProgram.)
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "platform/Ui.h"
#include "sim/ProgramClock.h"
#include "sim/SimDesktop.h"
#include "sim/scenario/Scenario.h"
#include "sim/ui/ResourceScript.h"
#include "sim/ui/SimDialogControls.h"

namespace sim {

// A program's resources: its own script, and the language libraries it may load by file name
// (compared without case and without folders).
struct ResourceCatalogue {
  std::shared_ptr<const ResourceScript> builtin;
  std::map<std::string, std::shared_ptr<const ResourceScript>> libraries;
};

// Takes the next queued scenario answer, if any (World::TakeAnswer).
using AnswerSource = std::function<std::optional<scenario::Action>()>;

// The record a list view's WM_NOTIFY points at, laid out as NMLISTVIEW on either width.
struct ListViewNotify {
  std::uintptr_t hwndFrom = 0;
  std::uintptr_t idFrom = 0;
  std::uint32_t code = 0;
  std::int32_t item = -1;
  std::int32_t subItem = 0;
  std::uint32_t newState = 0;
  std::uint32_t oldState = 0;
  std::uint32_t changed = 0;
  std::int32_t actionX = 0, actionY = 0;
  std::intptr_t lParam = 0;  // the row's data
};
inline constexpr std::uint32_t kWmNotify = 0x004E;
inline constexpr std::uint32_t kLvnItemChanged = 0xFFFFFF9B;  // LVN_FIRST - 1
inline constexpr std::uint32_t kLvisFocused = 0x1;
inline constexpr std::uint32_t kLvisSelected = 0x2;
inline constexpr std::uint32_t kLvifState = 0x8;

class SimDialog;

class SimUi final : public platform::Ui {
 public:
  SimUi(std::string name, SimDesktop& desktop, SimProgram& program, ProgramClock& clock, ResourceCatalogue resources,
        AnswerSource answers);
  // Kills and joins what still runs, and removes the program's dialogs from the desktop without
  // telling their presenters.
  ~SimUi() override;
  SimUi(const SimUi&) = delete;
  SimUi& operator=(const SimUi&) = delete;

  // --- platform::Ui
  platform::ModuleHandle LoadLanguageLibrary(const char* fileName) override;
  void SetResourceModule(platform::ModuleHandle module) override;
  std::string LoadText(int id) override;
  platform::DialogWindow* CreateModeless(int templateId, platform::DialogPresenter& presenter,
                                         platform::DialogWindow* parent) override;
  std::intptr_t RunModal(int templateId, platform::DialogPresenter& presenter, platform::DialogWindow* owner) override;
  int ShowMessageBox(platform::DialogWindow* owner, std::string_view text, std::string_view caption,
                     std::uint32_t flags) override;
  void ShowPopupMenu(platform::DialogWindow& owner, int menuId, const std::vector<platform::MenuEdit>& edits) override;
  void AddSystemMenuItem(platform::DialogWindow& window, std::uint32_t id, std::string_view text) override;
  std::uintptr_t SetWindowIcon(platform::DialogWindow& window, int iconId) override;
  void MoveTopmostTo(platform::DialogWindow& window, int right, int bottom) override;
  int RunMessageLoop() override;
  void PostQuit(int exitCode) override;
  bool CreateSingleInstanceMutex(const char* name) override;
  void StartThread(const char* name, std::function<void(std::stop_token)> body) override;

  // --- The host's side (the runner's thread, world idle)
  // Starts the program's user-interface thread running `main`. When main returns (or the
  // program is killed) the program is killed: its other threads end at their next blocking
  // point, as when WinMain returns and the process exits.
  void StartUiThread(std::function<void()> main);
  // An answer was queued: the innermost open modal window, box or menu takes it when the
  // user-interface thread next runs; if none is open it waits for the next one to open.
  void AnswerQueued();
  // An action on the open window made from template `windowId` (the latest, if several). An
  // error now when the window or the control is not there; later failures come through
  // TakeFailures.
  std::optional<std::string> Act(int windowId, const scenario::Action& action);
  // WM_ACTIVATE WA_INACTIVE to the window's presenter; the window stops being the active one.
  std::optional<std::string> Deactivate(int windowId);
  // Prints the window's snapshot lines now (or the open tray menu's, for nullopt).
  std::optional<std::string> Snapshot(std::optional<int> windowId);
  // Runs `pong` on the user-interface thread when it next takes a message (a modal loop takes
  // it too): how a watchdog sees that the thread still comes back to its message loop.
  void Ping(std::function<void()> pong) { PostTask(std::move(pong)); }
  // Scenario failures seen since the last call: answers or actions a window could not take.
  std::vector<std::string> TakeFailures();
  // Also called with each failure as it happens (on the thread that found it).
  void SetFailureListener(std::function<void(const std::string&)> listener);

  // Ends the program's time without waiting (any thread); KillAndJoin also joins every thread
  // started here and must be called from a thread that is no clock participant.
  void Kill();
  void KillAndJoin();

  // What the simulation remembers of an open window, for hosts and tests.
  struct WindowFacts {
    std::uintptr_t handle = 0;
    std::string caption;
    bool modal = false;
    bool visible = false;
    int icon = 0;
    std::optional<std::pair<int, int>> bottomRight;  // MoveTopmostTo
    std::vector<std::pair<std::uint32_t, std::string>> systemMenu;
  };
  std::optional<WindowFacts> Window(int windowId);

 private:
  friend class SimDialog;
  struct ModalFrame;
  struct OpenMenu;
  struct Module {
    std::string file;
    std::shared_ptr<const ResourceScript> script;
  };

  std::shared_ptr<const ResourceScript> CurrentScript();
  std::shared_ptr<SimDialog> MakeDialog(const DialogTemplate& dialog, platform::DialogPresenter& presenter, bool modal);
  std::shared_ptr<SimDialog> FindOpen(int windowId);
  void Initialize(const std::shared_ptr<SimDialog>& dialog);
  std::intptr_t DialogProc(const std::shared_ptr<SimDialog>& dialog, std::uint32_t msg, std::uintptr_t wParam,
                           std::intptr_t lParam);
  void Command(const std::shared_ptr<SimDialog>& dialog, int id, std::uint32_t notification);
  void ShowDialog(SimDialog& dialog, bool visible);
  void CenterDialog(SimDialog& dialog);
  void MakeDialogTopmost(SimDialog& dialog);
  void ActivateDialog(SimDialog& dialog);
  void EndDialog(SimDialog& dialog, std::intptr_t result);
  void DestroyDialog(SimDialog& dialog);
  void ReleaseDialog(const std::shared_ptr<SimDialog>& dialog);

  void RunNested(ModalFrame& frame);
  void PostWake();
  void PostTask(std::function<void()> task);
  std::intptr_t AgentProc(std::uint32_t msg);
  void OfferAnswer();
  void Apply(ModalFrame& frame, const scenario::Action& action);
  std::optional<std::string> ApplyToDialog(const std::shared_ptr<SimDialog>& dialog, const scenario::Action& action);
  std::optional<std::string> SelectInListView(const std::shared_ptr<SimDialog>& dialog, const ControlState& control,
                                              int row);
  std::optional<std::string> ApplyToBox(ModalFrame& frame, const scenario::Action& action);
  std::optional<std::string> ApplyToMenu(ModalFrame& frame, const scenario::Action& action);
  std::vector<std::string> MenuLines();
  void Fail(const std::string& message);
  void Line(int windowId, std::string_view what);

  const std::string name_;
  SimDesktop& desktop_;
  SimProgram& program_;
  ProgramClock& clock_;
  const ResourceCatalogue resources_;
  const AnswerSource answers_;
  const std::unique_ptr<platform::Desktop> view_;  // the desktop as this program sees it
  WindowHandle agent_ = 0;                         // the hidden window of the private messages

  // Guards everything below that the host's thread or worker threads may reach.
  std::mutex mutex_;
  std::map<platform::ModuleHandle, Module> modules_;
  std::shared_ptr<const ResourceScript> current_;
  std::string currentName_;
  std::map<WindowHandle, std::shared_ptr<SimDialog>> dialogs_;
  std::uintptr_t nextControlHandle_ = 0x20000000;
  std::unique_ptr<OpenMenu> openMenu_;
  std::vector<std::function<void()>> tasks_;
  std::vector<std::string> failures_;
  std::function<void(const std::string&)> failureListener_;
  struct Thread {
    std::string name;
    std::thread thread;
    std::stop_source stop;
  };
  std::vector<Thread> threads_;

  // The user-interface thread's own: the open modal windows, boxes and menus, innermost last.
  std::vector<ModalFrame*> modals_;
};

}  // namespace sim
