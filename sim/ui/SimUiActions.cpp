// SimUi: message boxes, the tray menu, and the user's actions on windows, boxes and menus.
#include <functional>

#include "sim/Transcript.h"
#include "sim/ui/SimUi.h"
#include "sim/ui/SimUiInternal.h"

namespace sim {

namespace {

using scenario::ActionKind;

constexpr std::uint32_t kWmActivate = 0x0006;
constexpr std::uintptr_t kWaInactive = 0;
constexpr std::uint32_t kWmHScroll = 0x0114;
constexpr std::uint32_t kWmVScroll = 0x0115;
constexpr std::uintptr_t kScClose = 0xF060;
constexpr std::uint32_t kBnClicked = 0;
constexpr std::uint32_t kSelChange = 1;  // LBN_SELCHANGE and CBN_SELCHANGE
constexpr std::uint32_t kTbThumbPosition = 4;
constexpr std::uint32_t kTbThumbTrack = 5;
constexpr std::uint32_t kTbEndTrack = 8;
constexpr std::uint32_t kTbsVert = 0x2;
constexpr std::uint32_t kSsNotify = 0x100;
constexpr std::uint32_t kMbTypeMask = 0xF;
constexpr std::uint32_t kMbDefButtonShift = 8;

// A message box's buttons by MB_ type, in order, with the answers they give.
struct BoxButton {
  const char* name;
  int id;
};
std::vector<BoxButton> ButtonsOf(std::uint32_t flags) {
  switch (flags & kMbTypeMask) {
    case 1:
      return {{"ok", platform::kIdOk}, {"cancel", platform::kIdCancel}};
    case 2:
      return {{"abort", 3}, {"retry", 4}, {"ignore", 5}};
    case 3:
      return {{"yes", platform::kIdYes}, {"no", platform::kIdNo}, {"cancel", platform::kIdCancel}};
    case 4:
      return {{"yes", platform::kIdYes}, {"no", platform::kIdNo}};
    case 5:
      return {{"retry", 4}, {"cancel", platform::kIdCancel}};
    case 6:
      return {{"cancel", platform::kIdCancel}, {"try again", 10}, {"continue", 11}};
    default:
      return {{"ok", platform::kIdOk}};
  }
}

bool TakesControl(ActionKind kind) {
  return kind == ActionKind::kClick || kind == ActionKind::kCheck || kind == ActionKind::kUncheck ||
         kind == ActionKind::kSelect || kind == ActionKind::kSlider;
}

void ApplyEdits(std::vector<MenuItem>& items, const std::vector<platform::MenuEdit>& edits) {
  for (const auto& edit : edits) {
    if (edit.path.empty()) continue;
    std::vector<MenuItem>* level = &items;
    bool found = true;
    for (std::size_t i = 0; i + 1 < edit.path.size() && found; ++i) {
      const int at = edit.path[i];
      found = at >= 0 && at < static_cast<int>(level->size()) && (*level)[static_cast<std::size_t>(at)].popup;
      if (found) level = &(*level)[static_cast<std::size_t>(at)].items;
    }
    const int last = edit.path.back();
    if (!found || last < 0 || last >= static_cast<int>(level->size())) continue;
    MenuItem& item = (*level)[static_cast<std::size_t>(last)];
    switch (edit.kind) {
      case platform::MenuEdit::Kind::Enable:
        item.grayed = false;
        break;
      case platform::MenuEdit::Kind::Gray:
        item.grayed = true;
        break;
      case platform::MenuEdit::Kind::Check:
        item.checked = true;
        break;
    }
  }
}

// The first item with the command, in menu order; `grayed` also when a pop-up above it is.
const MenuItem* FindCommand(const std::vector<MenuItem>& items, int command, bool& grayed) {
  for (const auto& item : items) {
    if (item.popup) {
      const bool outer = grayed;
      grayed = grayed || item.grayed;
      if (const MenuItem* found = FindCommand(item.items, command, grayed)) return found;
      grayed = outer;
    } else if (!item.separator && item.id == command) {
      grayed = grayed || item.grayed;
      return &item;
    }
  }
  return nullptr;
}

void MenuLinesOf(const std::vector<MenuItem>& items, const std::string& prefix, std::vector<std::string>& lines) {
  for (const auto& item : items) {
    if (item.separator) {
      lines.push_back(prefix + "separator");
    } else if (item.popup) {
      lines.push_back(prefix + "popup text=" + Quote(item.text));
      MenuLinesOf(item.items, prefix, lines);
    } else {
      lines.push_back(prefix + std::to_string(item.id) + " text=" + Quote(item.text) +
                      " enabled=" + (item.grayed ? "0" : "1") + " checked=" + (item.checked ? "1" : "0"));
    }
  }
}

}  // namespace

std::string ActionText(const scenario::Action& action) {
  static constexpr const char* kNames[] = {"ok",    "cancel", "yes",     "no",     "close",  "enter", "escape",
                                           "click", "check",  "uncheck", "select", "slider", "menu"};
  // Appended piece by piece: GCC 12 warns falsely about `" " + std::to_string(n)` here.
  std::string text = kNames[static_cast<int>(action.kind)];
  auto append = [&text](std::string_view word, std::int64_t number) {
    text.append(word);
    text.append(std::to_string(number));
  };
  if (TakesControl(action.kind) || action.kind == ActionKind::kMenu) append(" ", action.id);
  if (action.kind == ActionKind::kSelect || action.kind == ActionKind::kSlider) append(" ", action.value);
  if (action.kind == ActionKind::kSlider && action.code) append(" code ", *action.code);
  return text;
}

// ---- message boxes and the tray menu ----

int SimUi::ShowMessageBox(platform::DialogWindow*, std::string_view text, std::string_view, std::uint32_t flags) {
  ModalFrame frame;
  frame.kind = ModalFrame::Kind::kBox;
  frame.text = std::string(text);
  frame.flags = flags;
  RunNested(frame);
  return frame.answer.value_or(0);  // 0: WM_QUIT took the box away
}

void SimUi::ShowPopupMenu(platform::DialogWindow& owner, int menuId, const std::vector<platform::MenuEdit>& edits) {
  const auto script = CurrentScript();
  if (!script) return;
  const auto menu = script->menus.find(menuId);
  if (menu == script->menus.end()) return;
  const MenuItem* popup = nullptr;
  for (const auto& item : menu->second.items) {
    if (item.popup) {
      popup = &item;
      break;
    }
  }
  if (!popup) return;
  auto open = std::make_unique<OpenMenu>();
  open->items = popup->items;
  ApplyEdits(open->items, edits);
  const WindowHandle ownerHandle = owner.Handle();
  view_->BringToForeground(ownerHandle);
  {
    std::lock_guard lock(mutex_);
    openMenu_ = std::move(open);
  }
  for (const auto& line : MenuLines()) desktop_.Log().Add("ui", line);

  ModalFrame frame;
  frame.kind = ModalFrame::Kind::kMenu;
  struct Close {
    SimUi& ui;
    ~Close() {
      std::lock_guard lock(ui.mutex_);
      ui.openMenu_.reset();
    }
  };
  {
    Close close{*this};
    RunNested(frame);
  }
  // TrackPopupMenu posts the command once the menu has gone.
  if (frame.chosen) {
    desktop_.PostTo(ownerHandle, platform::kWmCommand, static_cast<std::uintptr_t>(*frame.chosen), 0);
  }
}

std::vector<std::string> SimUi::MenuLines() {
  std::lock_guard lock(mutex_);
  std::vector<std::string> lines;
  if (openMenu_) MenuLinesOf(openMenu_->items, name_ + ":menu ", lines);
  return lines;
}

// ---- applying the user's actions ----

void SimUi::Apply(ModalFrame& frame, const scenario::Action& action) {
  std::optional<std::string> error;
  switch (frame.kind) {
    case ModalFrame::Kind::kDialog:
      error = ApplyToDialog(frame.dialog, action);
      break;
    case ModalFrame::Kind::kBox:
      error = ApplyToBox(frame, action);
      break;
    case ModalFrame::Kind::kMenu:
      error = ApplyToMenu(frame, action);
      break;
  }
  if (error) Fail(*error);
}

std::optional<std::string> SimUi::ApplyToBox(ModalFrame& frame, const scenario::Action& action) {
  const auto buttons = ButtonsOf(frame.flags);
  auto find = [&](int id) -> const BoxButton* {
    for (const auto& button : buttons) {
      if (button.id == id) return &button;
    }
    return nullptr;
  };
  const BoxButton* chosen = nullptr;
  switch (action.kind) {
    case ActionKind::kOk:
      chosen = find(platform::kIdOk);
      break;
    case ActionKind::kCancel:
      chosen = find(platform::kIdCancel);
      break;
    case ActionKind::kYes:
      chosen = find(platform::kIdYes);
      break;
    case ActionKind::kNo:
      chosen = find(platform::kIdNo);
      break;
    case ActionKind::kEnter: {
      // MB_DEFBUTTONn names the default button; one past the last means the first.
      std::size_t index = (frame.flags >> kMbDefButtonShift) & 0xF;
      if (index >= buttons.size()) index = 0;
      chosen = &buttons[index];
      break;
    }
    case ActionKind::kEscape:
    case ActionKind::kClose:
      // Escape and the close button give Cancel; a box with only OK gives OK; otherwise they
      // do nothing (the close button is disabled).
      chosen = find(platform::kIdCancel);
      if (!chosen && buttons.size() == 1) chosen = &buttons[0];
      break;
    default:
      break;
  }
  if (!chosen) return name_ + ": the message box " + Quote(frame.text) + " cannot take \"" + ActionText(action) + "\"";
  desktop_.Log().Add("box", name_ + " " + Quote(frame.text) + " -> " + chosen->name);
  frame.answer = chosen->id;
  return std::nullopt;
}

std::optional<std::string> SimUi::ApplyToMenu(ModalFrame& frame, const scenario::Action& action) {
  switch (action.kind) {
    case ActionKind::kMenu: {
      bool grayed = false;
      bool found;
      {
        std::lock_guard lock(mutex_);
        found = openMenu_ && FindCommand(openMenu_->items, action.id, grayed) != nullptr;
      }
      if (!found) return name_ + ": the menu has no command " + std::to_string(action.id);
      // A greyed item cannot be chosen: the click goes nowhere and the menu closes.
      if (!grayed) frame.chosen = action.id;
      frame.closed = true;
      return std::nullopt;
    }
    case ActionKind::kCancel:
    case ActionKind::kEscape:
    case ActionKind::kClose:
      frame.closed = true;
      return std::nullopt;
    default:
      return name_ + ": the menu cannot take \"" + ActionText(action) + "\"";
  }
}

std::optional<std::string> SimUi::ApplyToDialog(const std::shared_ptr<SimDialog>& dialog,
                                                const scenario::Action& action) {
  const std::string where = name_ + ":" + std::to_string(dialog->templateId);
  auto refuse = [&](const std::string& why) { return where + " cannot take \"" + ActionText(action) + "\": " + why; };
  std::optional<ControlState> control;
  if (TakesControl(action.kind)) {
    control = dialog->controls.Find(action.id);
    if (!control) return refuse("no control " + std::to_string(action.id));
    if (!control->enabled) return refuse("control " + std::to_string(action.id) + " is disabled");
    if (!control->visible) return refuse("control " + std::to_string(action.id) + " is hidden");
  }
  switch (action.kind) {
    case ActionKind::kOk:
      Command(dialog, platform::kIdOk, kBnClicked);
      break;
    case ActionKind::kCancel:
      Command(dialog, platform::kIdCancel, kBnClicked);
      break;
    case ActionKind::kYes:
      Command(dialog, platform::kIdYes, kBnClicked);
      break;
    case ActionKind::kNo:
      Command(dialog, platform::kIdNo, kBnClicked);
      break;
    case ActionKind::kEnter: {
      // The program's loop gives its modeless dialogs the same keyboard handling as a modal loop.
      const auto button = dialog->controls.DefaultButton();
      if (!button) {
        Command(dialog, platform::kIdOk, kBnClicked);
      } else if (button->enabled) {
        Command(dialog, button->id, kBnClicked);
      }
      break;
    }
    case ActionKind::kEscape:
      Command(dialog, platform::kIdCancel, kBnClicked);
      break;
    case ActionKind::kClose:
      DialogProc(dialog, platform::kWmSysCommand, kScClose, 0);
      break;
    case ActionKind::kClick: {
      const bool clickable = control->kind == ControlKind::kButton || control->kind == ControlKind::kCheck ||
                             control->kind == ControlKind::kRadio ||
                             (control->kind == ControlKind::kStatic && (control->style & kSsNotify) != 0);
      if (!clickable) return refuse(std::string("a ") + ControlKindName(control->kind) + " cannot be clicked");
      dialog->controls.UserClick(action.id);
      Command(dialog, action.id, kBnClicked);
      break;
    }
    case ActionKind::kCheck:
    case ActionKind::kUncheck: {
      const bool check = action.kind == ActionKind::kCheck;
      if (control->kind != ControlKind::kCheck && control->kind != ControlKind::kRadio) {
        return refuse("control " + std::to_string(action.id) + " is no check box or radio button");
      }
      if (control->kind == ControlKind::kRadio && !check) return refuse("a radio button cannot be unchecked");
      // A plain (not automatic) button leaves its state to the program.
      if (control->autoButton) {
        if (control->kind == ControlKind::kRadio) {
          dialog->controls.UserClick(action.id);
        } else {
          dialog->controls.SetChecked(action.id, check);
        }
      }
      Command(dialog, action.id, kBnClicked);
      break;
    }
    case ActionKind::kSelect:
      if (control->kind == ControlKind::kListView) return SelectInListView(dialog, *control, action.value);
      if (control->kind != ControlKind::kList && control->kind != ControlKind::kCombo) {
        return refuse("control " + std::to_string(action.id) + " is no list");
      }
      if (action.value < 0 || action.value >= static_cast<int>(control->items.size())) {
        return refuse("no item " + std::to_string(action.value));
      }
      dialog->controls.ListSelect(action.id, action.value);
      Command(dialog, action.id, kSelChange);
      break;
    case ActionKind::kSlider: {
      if (control->kind != ControlKind::kSlider)
        return refuse("control " + std::to_string(action.id) + " is no slider");
      dialog->controls.SliderSetPos(action.id, action.value);
      const int position = dialog->controls.SliderPos(action.id);
      const std::uint32_t msg = (control->style & kTbsVert) != 0 ? kWmVScroll : kWmHScroll;
      auto scroll = [&](std::uint32_t code) {
        std::uintptr_t wParam = code & 0xFFFF;
        if (code == kTbThumbPosition || code == kTbThumbTrack) {
          wParam |= static_cast<std::uintptr_t>(static_cast<std::uint16_t>(position)) << 16;
        }
        DialogProc(dialog, msg, wParam, static_cast<std::intptr_t>(control->handle));
      };
      if (action.code) {
        scroll(static_cast<std::uint32_t>(*action.code));
      } else {
        scroll(kTbThumbPosition);
        scroll(kTbEndTrack);
      }
      break;
    }
    case ActionKind::kMenu:
      return refuse("a window takes no menu command");
  }
  return std::nullopt;
}

std::optional<std::string> SimUi::SelectInListView(const std::shared_ptr<SimDialog>& dialog,
                                                   const ControlState& control, int row) {
  if (row < 0 || row >= static_cast<int>(control.rows.size())) {
    return name_ + ":" + std::to_string(dialog->templateId) + " cannot take \"select " + std::to_string(control.id) +
           " " + std::to_string(row) + "\": no row " + std::to_string(row);
  }
  const int previous = dialog->controls.ListViewSelection(control.id);
  if (previous == row) return std::nullopt;
  // A click selects the row alone, in a multiple-selection list too.
  dialog->controls.ListViewSelect(control.id, -1);
  dialog->controls.ListViewSelect(control.id, row);
  auto notify = [&](int item, std::uint32_t newState, std::uint32_t oldState) {
    ListViewNotify record;
    record.hwndFrom = control.handle;
    record.idFrom = static_cast<std::uintptr_t>(control.id);
    record.code = kLvnItemChanged;
    record.item = item;
    record.newState = newState;
    record.oldState = oldState;
    record.changed = kLvifState;
    record.lParam = control.rows[static_cast<std::size_t>(item)].data;
    DialogProc(dialog, kWmNotify, static_cast<std::uintptr_t>(control.id), reinterpret_cast<std::intptr_t>(&record));
  };
  constexpr std::uint32_t kChosen = kLvisSelected | kLvisFocused;
  if (previous >= 0) notify(previous, 0, kChosen);
  if (!dialog->gone) notify(row, kChosen, 0);
  return std::nullopt;
}

// ---- the host's side ----

std::optional<std::string> SimUi::Act(int windowId, const scenario::Action& action) {
  if (clock_.Killed()) return name_ + " has ended";
  const auto dialog = FindOpen(windowId);
  const std::string where = name_ + ":" + std::to_string(windowId);
  if (!dialog) return where + " is not open";
  if (action.kind == ActionKind::kMenu) return where + " takes no menu command";
  if (TakesControl(action.kind) && !dialog->controls.HasControl(action.id)) {
    return where + " has no control " + std::to_string(action.id);
  }
  PostTask([this, windowId, action, where] {
    const auto target = FindOpen(windowId);
    if (!target) {
      Fail(where + " closed before \"" + ActionText(action) + "\"");
      return;
    }
    if (auto error = ApplyToDialog(target, action)) Fail(*error);
  });
  return std::nullopt;
}

std::optional<std::string> SimUi::Deactivate(int windowId) {
  if (clock_.Killed()) return name_ + " has ended";
  if (!FindOpen(windowId)) return name_ + ":" + std::to_string(windowId) + " is not open";
  PostTask([this, windowId] {
    const auto target = FindOpen(windowId);
    if (!target) return;
    if (view_->ForegroundWindow() == target->handle) desktop_.SetActive(0);
    DialogProc(target, kWmActivate, kWaInactive, 0);
  });
  return std::nullopt;
}

std::optional<std::string> SimUi::Snapshot(std::optional<int> windowId) {
  if (clock_.Killed()) return name_ + " has ended";
  std::vector<std::string> lines;
  if (!windowId) {
    {
      std::lock_guard lock(mutex_);
      if (!openMenu_) return name_ + ": no menu is open";
    }
    lines = MenuLines();
  } else {
    const auto dialog = FindOpen(*windowId);
    if (!dialog) return name_ + ":" + std::to_string(*windowId) + " is not open";
    lines = dialog->controls.Snapshot(name_ + ":" + std::to_string(*windowId) + " ");
  }
  for (const auto& line : lines) desktop_.Log().Add("ui", line);
  return std::nullopt;
}

}  // namespace sim
