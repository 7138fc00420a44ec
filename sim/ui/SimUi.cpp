// SimUi: resources, dialogs and their messages, the nested loops, threads and the end of the
// program. The user's actions live in SimUiActions.cpp.
#include "sim/ui/SimUi.h"

#include "sim/Transcript.h"
#include "sim/ui/SimDialog.h"
#include "sim/ui/SimUiInternal.h"

namespace sim {

namespace {

constexpr std::uint32_t kWmSetFont = 0x0030;
constexpr std::uint32_t kWmShowWindow = 0x0018;
constexpr std::uint32_t kWmNcDestroy = 0x0082;
constexpr std::uintptr_t kScClose = 0xF060;
constexpr std::uintptr_t kFontHandle = 0x00F0A7;  // stands for the dialog font's HFONT
// Library handles look like the module bases LoadLibrary gives.
constexpr platform::ModuleHandle kFirstModule = 0x10000000;
constexpr platform::ModuleHandle kModuleStep = 0x00100000;

}  // namespace

// ---- SimDialog ----

void SimDialog::End(std::intptr_t value) {
  if (modal) {
    ui.EndDialog(*this, value);
  } else {
    ui.DestroyDialog(*this);
  }
}

// Only EndDialog lets a modal dialog go: destroying one ends it with IDCANCEL.
void SimDialog::Destroy() {
  if (modal) {
    ui.EndDialog(*this, platform::kIdCancel);
  } else {
    ui.DestroyDialog(*this);
  }
}

bool SimDialog::SetTimer(std::uintptr_t id, std::uint32_t ms) {
  if (gone) return false;
  ui.desktop_.SetTimer(handle, id, ms);
  return true;
}

void SimDialog::KillTimer(std::uintptr_t id) {
  if (!gone) ui.desktop_.KillTimer(handle, id);
}

// ---- construction and the end of the program ----

SimUi::SimUi(std::string name, SimDesktop& desktop, SimProgram& program, ProgramClock& clock,
             ResourceCatalogue resources, AnswerSource answers)
    : name_(std::move(name)),
      desktop_(desktop),
      program_(program),
      clock_(clock),
      resources_(std::move(resources)),
      answers_(std::move(answers)),
      view_(desktop.DesktopFor(program)),
      current_(resources_.builtin) {
  agent_ = desktop_.NewWindow(&program_, "", "SimUiAgent",
                              [this](std::uint32_t msg, std::uintptr_t, std::intptr_t) { return AgentProc(msg); });
}

SimUi::~SimUi() {
  KillAndJoin();
  std::map<WindowHandle, std::shared_ptr<SimDialog>> dialogs;
  {
    std::lock_guard lock(mutex_);
    dialogs.swap(dialogs_);
  }
  for (const auto& [handle, dialog] : dialogs) {
    dialog->gone = true;
    desktop_.DestroyWindow(handle);
  }
  desktop_.DestroyWindow(agent_);
}

void SimUi::Kill() {
  clock_.Kill();
  program_.Kill();
  // The process's windows, process entry, tray icons and mutexes go with it at once.
  {
    std::lock_guard lock(mutex_);
    for (const auto& [handle, dialog] : dialogs_) dialog->gone = true;
  }
  desktop_.EndProgram(program_);
}

void SimUi::KillAndJoin() {
  Kill();
  for (;;) {
    std::vector<Thread> threads;
    {
      std::lock_guard lock(mutex_);
      threads.swap(threads_);
    }
    if (threads.empty()) return;
    for (auto& thread : threads) {
      thread.stop.request_stop();
      if (thread.thread.joinable()) thread.thread.join();
    }
  }
}

void SimUi::StartUiThread(std::function<void()> main) {
  std::thread thread = clock_.Virtual().Spawn([this, main = std::move(main)] {
    program_.BindUiThread();
    try {
      main();
    } catch (const ProcessEnded&) {
    }
    // WinMain returned: the process exits, and its other threads with it.
    Kill();
  });
  std::lock_guard lock(mutex_);
  threads_.push_back(Thread{"ui", std::move(thread), std::stop_source()});
}

void SimUi::StartThread(const char* name, std::function<void(std::stop_token)> body) {
  if (clock_.Killed()) return;
  std::stop_source stop;
  std::thread thread = clock_.Virtual().Spawn([body = std::move(body), token = stop.get_token()] {
    try {
      body(token);
    } catch (const ProcessEnded&) {
    }
  });
  std::lock_guard lock(mutex_);
  threads_.push_back(Thread{name ? name : "", std::move(thread), std::move(stop)});
}

bool SimUi::CreateSingleInstanceMutex(const char* name) {
  // An unnamed mutex is always new.
  return !name || desktop_.CreateNamedMutex(program_, name);
}

int SimUi::RunMessageLoop() {
  SimMessage message;
  while (program_.NextMessage(message)) program_.Dispatch(message);
  return program_.QuitCode();
}

void SimUi::PostQuit(int exitCode) { program_.PostQuit(exitCode); }

// ---- resources ----

platform::ModuleHandle SimUi::LoadLanguageLibrary(const char* fileName) {
  const std::string file = fileName ? fileName : "";
  const std::string key = LowerAscii(FileNameOf(file));
  std::shared_ptr<const ResourceScript> script;
  for (const auto& [library, candidate] : resources_.libraries) {
    if (LowerAscii(FileNameOf(library)) == key) script = candidate;
  }
  platform::ModuleHandle handle = 0;
  if (!key.empty() && script && desktop_.FilePresent(file)) {
    std::lock_guard lock(mutex_);
    // Loading a library again gives the module already loaded.
    for (const auto& [loaded, module] : modules_) {
      if (module.script == script) handle = loaded;
    }
    if (!handle) {
      handle = kFirstModule + kModuleStep * modules_.size();
      modules_.emplace(handle, Module{file, script});
    }
  }
  desktop_.Log().Add("lib", name_ + " load " + Quote(file) + (handle ? " ok" : " failed"));
  return handle;
}

void SimUi::SetResourceModule(platform::ModuleHandle module) {
  std::string file;
  {
    std::lock_guard lock(mutex_);
    if (module == platform::kProgramResources) {
      current_ = resources_.builtin;
    } else {
      const auto it = modules_.find(module);
      if (it != modules_.end()) {
        current_ = it->second.script;
        file = it->second.file;
      }
    }
  }
  if (module != platform::kProgramResources && file.empty()) {
    Fail(name_ + ": SetResourceModule with a module that was never loaded");
    return;
  }
  desktop_.Log().Add("lib", name_ + " resources " + (file.empty() ? std::string("builtin") : Quote(file)));
}

std::shared_ptr<const ResourceScript> SimUi::CurrentScript() {
  std::lock_guard lock(mutex_);
  return current_;
}

std::string SimUi::LoadText(int id) {
  const auto script = CurrentScript();
  if (!script) return {};
  const auto it = script->strings.find(id);
  return it == script->strings.end() ? std::string() : it->second;
}

// ---- dialogs ----

std::shared_ptr<SimDialog> SimUi::MakeDialog(const DialogTemplate& dialog, platform::DialogPresenter& presenter,
                                             bool modal) {
  std::uintptr_t firstHandle;
  {
    std::lock_guard lock(mutex_);
    firstHandle = nextControlHandle_;
    nextControlHandle_ += dialog.controls.size() + 1;
  }
  // Image lists come from the program's own bitmaps, whatever the current resources.
  std::set<int> bitmaps;
  if (resources_.builtin) {
    for (const auto& [id, file] : resources_.builtin->bitmaps) bitmaps.insert(id);
  }
  auto made = std::make_shared<SimDialog>(*this, dialog, presenter, modal, firstHandle, std::move(bitmaps));
  std::weak_ptr<SimDialog> weak = made;
  made->handle = desktop_.NewWindow(&program_, dialog.caption, "#32770",
                                    [this, weak](std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam) {
                                      const auto target = weak.lock();
                                      return target ? DialogProc(target, msg, wParam, lParam) : 0;
                                    });
  std::lock_guard lock(mutex_);
  dialogs_[made->handle] = made;
  return made;
}

std::shared_ptr<SimDialog> SimUi::FindOpen(int windowId) {
  std::lock_guard lock(mutex_);
  std::shared_ptr<SimDialog> found;
  for (const auto& [handle, dialog] : dialogs_) {
    if (dialog->templateId == windowId && !dialog->gone && !dialog->ended && !dialog->destroying) found = dialog;
  }
  return found;
}

std::intptr_t SimUi::DialogProc(const std::shared_ptr<SimDialog>& dialog, std::uint32_t msg, std::uintptr_t wParam,
                                std::intptr_t lParam) {
  if (dialog->gone) return 0;
  std::intptr_t result = 0;
  if (dialog->presenter.OnMessage(*dialog, msg, wParam, lParam, result)) return result;
  if (dialog->gone || dialog->destroying) return 0;
  // What the default dialog procedure does with what the presenter left alone.
  switch (msg) {
    case platform::kWmInitDialog:
      return 1;
    case platform::kWmSysCommand:
      if ((wParam & 0xFFF0) == kScClose) DialogProc(dialog, platform::kWmClose, 0, 0);
      return 0;
    case platform::kWmClose: {
      const auto cancel = dialog->controls.Find(platform::kIdCancel);
      if (!cancel || cancel->enabled) {
        desktop_.PostTo(dialog->handle, platform::kWmCommand, static_cast<std::uintptr_t>(platform::kIdCancel),
                        cancel ? static_cast<std::intptr_t>(cancel->handle) : 0);
      }
      return 0;
    }
    default:
      return 0;
  }
}

void SimUi::Command(const std::shared_ptr<SimDialog>& dialog, int id, std::uint32_t notification) {
  const auto control = dialog->controls.Find(id);
  const std::uintptr_t wParam = static_cast<std::uint16_t>(id) | static_cast<std::uintptr_t>(notification) << 16;
  DialogProc(dialog, platform::kWmCommand, wParam, control ? static_cast<std::intptr_t>(control->handle) : 0);
}

void SimUi::Initialize(const std::shared_ptr<SimDialog>& dialog) {
  if (dialog->hasFont) DialogProc(dialog, kWmSetFont, kFontHandle, 0);
  DialogProc(dialog, platform::kWmInitDialog, 0, 0);
}

platform::DialogWindow* SimUi::CreateModeless(int templateId, platform::DialogPresenter& presenter,
                                              platform::DialogWindow* parent) {
  const auto script = CurrentScript();
  if (!script) return nullptr;
  const auto it = script->dialogs.find(templateId);
  if (it == script->dialogs.end()) return nullptr;
  const auto dialog = MakeDialog(it->second, presenter, false);
  dialog->owner = parent ? parent->Handle() : 0;
  Line(templateId, "create");
  Initialize(dialog);
  // Destroyed during its initialisation: CreateDialog fails.
  if (dialog->gone || dialog->destroying) return nullptr;
  if (it->second.visible) ShowDialog(*dialog, true);
  return dialog.get();
}

std::intptr_t SimUi::RunModal(int templateId, platform::DialogPresenter& presenter, platform::DialogWindow* owner) {
  const auto script = CurrentScript();
  if (!script) return -1;
  const auto it = script->dialogs.find(templateId);
  if (it == script->dialogs.end()) return -1;
  const auto dialog = MakeDialog(it->second, presenter, true);
  dialog->owner = owner ? owner->Handle() : 0;
  Initialize(dialog);
  if (!dialog->ended && !dialog->gone) {
    Line(templateId, "create");
    if (!dialog->keepHidden) {
      {
        std::lock_guard lock(mutex_);
        dialog->visible = true;
      }
      desktop_.SetVisible(dialog->handle, true);
      desktop_.SetActive(dialog->handle);
    }
    ModalFrame frame;
    frame.kind = ModalFrame::Kind::kDialog;
    frame.dialog = dialog;
    RunNested(frame);
    // WM_QUIT ended the loop: the dialog goes with the result it has (0 unless ended). A dialog
    // destroyed with its owner is gone already: DialogBox then returns 0 (measured under Wine,
    // where GetLastError says ERROR_INVALID_WINDOW_HANDLE).
    if (!dialog->ended) EndDialog(*dialog, 0);
  }
  const std::intptr_t result = dialog->result;
  // The dialog box's window goes once its loop is over, and its owner is active again.
  const bool wasActive = view_->ForegroundWindow() == dialog->handle;
  DialogProc(dialog, platform::kWmDestroy, 0, 0);
  ReleaseDialog(dialog);
  if (wasActive && owner) desktop_.SetActive(owner->Handle());
  return result;
}

void SimUi::ShowDialog(SimDialog& dialog, bool visible) {
  if (dialog.gone || (visible && dialog.keepHidden)) return;
  bool changed;
  {
    std::lock_guard lock(mutex_);
    changed = dialog.visible != visible;
    dialog.visible = visible;
  }
  desktop_.SetVisible(dialog.handle, visible);
  if (changed) Line(dialog.templateId, visible ? "show" : "hide");
  // ShowWindow sends WM_SHOWWINDOW only when the visibility changes, before it returns.
  if (changed) DialogProc(dialog.shared_from_this(), kWmShowWindow, visible ? 1 : 0, 0);
  if (visible) desktop_.SetActive(dialog.handle);
}

void SimUi::CenterDialog(SimDialog& dialog) {
  if (dialog.gone) return;
  Line(dialog.templateId, "centre");
}

void SimUi::MakeDialogTopmost(SimDialog& dialog) {
  if (dialog.gone) return;
  Line(dialog.templateId, "topmost");
  ShowDialog(dialog, true);
}

void SimUi::ActivateDialog(SimDialog& dialog) {
  if (dialog.gone) return;
  desktop_.SetActive(dialog.handle);
}

void SimUi::EndDialog(SimDialog& dialog, std::intptr_t result) {
  if (dialog.gone || dialog.ended.exchange(true)) return;
  dialog.result = result;
  Line(dialog.templateId, "end " + std::to_string(static_cast<std::int64_t>(result)));
  {
    std::lock_guard lock(mutex_);
    dialog.visible = false;
  }
  desktop_.SetVisible(dialog.handle, false);
}

void SimUi::DestroyDialog(SimDialog& dialog) {
  if (dialog.gone || dialog.destroying.exchange(true)) return;
  const auto self = dialog.shared_from_this();  // the presenter may let go of it in WM_NCDESTROY
  // DestroyWindow destroys the windows a window owns first, modal dialogs included, and only then
  // sends WM_DESTROY to the window itself. A modal dialog's loop ends with its window. Newest
  // first, as the z-order lists them.
  std::vector<std::shared_ptr<SimDialog>> owned;
  {
    std::lock_guard lock(mutex_);
    for (auto it = dialogs_.rbegin(); it != dialogs_.rend(); ++it) {
      if (it->second->owner == dialog.handle) owned.push_back(it->second);
    }
  }
  for (const auto& other : owned) DestroyDialog(*other);
  Line(dialog.templateId, "destroy");
  {
    std::lock_guard lock(mutex_);
    dialog.visible = false;
  }
  std::intptr_t ignored = 0;
  dialog.presenter.OnMessage(dialog, platform::kWmDestroy, 0, 0, ignored);
  ReleaseDialog(self);
}

// Detaches first, then tells the presenter, which may delete itself in its WM_NCDESTROY handler.
void SimUi::ReleaseDialog(const std::shared_ptr<SimDialog>& dialog) {
  if (dialog->gone.exchange(true)) return;
  {
    std::lock_guard lock(mutex_);
    dialogs_.erase(dialog->handle);
  }
  desktop_.DestroyWindow(dialog->handle);
  std::intptr_t ignored = 0;
  dialog->presenter.OnMessage(*dialog, kWmNcDestroy, 0, 0, ignored);
}

void SimUi::AddSystemMenuItem(platform::DialogWindow& window, std::uint32_t id, std::string_view text) {
  auto* dialog = dynamic_cast<SimDialog*>(&window);
  if (!dialog || dialog->gone) return;
  std::lock_guard lock(mutex_);
  dialog->systemMenu.emplace_back(id, std::string(text));
}

std::uintptr_t SimUi::SetWindowIcon(platform::DialogWindow& window, int iconId) {
  auto* dialog = dynamic_cast<SimDialog*>(&window);
  if (!dialog || dialog->gone) return 0;
  std::lock_guard lock(mutex_);
  dialog->icon = iconId;
  // A stand-in handle that names the icon.
  return 0x10000u + static_cast<std::uintptr_t>(iconId);
}

void SimUi::MoveTopmostTo(platform::DialogWindow& window, int right, int bottom) {
  auto* dialog = dynamic_cast<SimDialog*>(&window);
  if (!dialog || dialog->gone) return;
  std::lock_guard lock(mutex_);
  dialog->bottomRight = std::make_pair(right, bottom);
}

std::optional<SimUi::WindowFacts> SimUi::Window(int windowId) {
  const auto dialog = FindOpen(windowId);
  if (!dialog) return std::nullopt;
  std::lock_guard lock(mutex_);
  return WindowFacts{dialog->handle, dialog->caption,     dialog->modal,     dialog->visible,
                     dialog->icon,   dialog->bottomRight, dialog->systemMenu};
}

// ---- nested loops and the private messages ----

void SimUi::RunNested(ModalFrame& frame) {
  modals_.push_back(&frame);
  struct Pop {
    SimUi& ui;
    ~Pop() {
      ui.modals_.pop_back();
      // The window further out may take the answers still queued.
      if (!ui.modals_.empty()) ui.PostWake();
    }
  } pop{*this};
  // The open window looks for an answer once what is already queued has been handled.
  PostWake();
  SimMessage message;
  while (!frame.Done()) {
    // WM_QUIT ends a modal loop and stays pending for the loops further out.
    if (!program_.NextMessage(message)) return;
    program_.Dispatch(message);
  }
}

void SimUi::PostWake() { desktop_.PostTo(agent_, kAgentWake, 0, 0); }

void SimUi::PostTask(std::function<void()> task) {
  {
    std::lock_guard lock(mutex_);
    tasks_.push_back(std::move(task));
  }
  PostWake();
}

std::intptr_t SimUi::AgentProc(std::uint32_t msg) {
  if (msg != kAgentWake) return 0;
  for (;;) {
    std::function<void()> task;
    {
      std::lock_guard lock(mutex_);
      if (tasks_.empty()) break;
      task = std::move(tasks_.front());
      tasks_.erase(tasks_.begin());
    }
    task();
  }
  OfferAnswer();
  return 0;
}

void SimUi::AnswerQueued() { PostWake(); }

void SimUi::OfferAnswer() {
  if (modals_.empty()) return;
  ModalFrame& frame = *modals_.back();
  if (frame.Done() || !answers_) return;
  // A window that never shows is no window the user could answer.
  if (frame.dialog && frame.dialog->keepHidden) return;
  const auto action = answers_();
  if (!action) return;
  Apply(frame, *action);
  // More answers may be queued for the same window.
  PostWake();
}

std::vector<std::string> SimUi::TakeFailures() {
  std::lock_guard lock(mutex_);
  return std::exchange(failures_, {});
}

void SimUi::SetFailureListener(std::function<void(const std::string&)> listener) {
  std::lock_guard lock(mutex_);
  failureListener_ = std::move(listener);
}

void SimUi::Fail(const std::string& message) {
  std::function<void(const std::string&)> listener;
  {
    std::lock_guard lock(mutex_);
    failures_.push_back(message);
    listener = failureListener_;
  }
  if (listener) listener(message);
}

void SimUi::Line(int windowId, std::string_view what) {
  desktop_.Log().Add("ui", name_ + ":" + std::to_string(windowId) + " " + std::string(what));
}

}  // namespace sim
