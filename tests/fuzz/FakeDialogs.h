// Fakes of the user interface for the fuzz targets that run dialogs without a screen: dialog
// controls that keep what is set on them, a dialog window that records what is done to it, and
// QuietUi, a base for the targets' Ui that answers the calls nothing depends on (no modeless
// dialog is created, message boxes are confirmed with OK, menus and the message loop do nothing,
// threads are never started).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "platform/DialogControls.h"
#include "platform/DialogPresenter.h"
#include "platform/Ui.h"

namespace fuzz {

constexpr std::uint32_t kWmNcDestroy = 0x0082;

class FakeControls final : public platform::DialogControls {
 public:
  struct Control {
    std::string text;
    bool checked = false, enabled = true, visible = true;
    std::vector<std::string> items;
    int selection = -1;
  };
  std::map<int, Control> controls;

  bool HasControl(int id) override { return controls.count(id) != 0; }
  int IdOf(std::uintptr_t handle) override { return static_cast<int>(handle); }
  std::string GetText(int id) override { return controls[id].text; }
  void SetText(int id, std::string_view text) override { controls[id].text = text; }
  bool IsChecked(int id) override { return controls[id].checked; }
  void SetChecked(int id, bool checked) override { controls[id].checked = checked; }
  bool IsEnabled(int id) override { return controls[id].enabled; }
  void SetEnabled(int id, bool enabled) override { controls[id].enabled = enabled; }
  bool IsVisible(int id) override { return controls[id].visible; }
  void SetVisible(int id, bool visible) override { controls[id].visible = visible; }
  int ListAdd(int id, std::string_view text) override {
    auto& items = controls[id].items;
    items.emplace_back(text);
    return static_cast<int>(items.size()) - 1;
  }
  void ListClear(int id) override {
    controls[id].items.clear();
    controls[id].selection = -1;
  }
  void ListDelete(int id, int index) override {
    auto& items = controls[id].items;
    if (index >= 0 && index < static_cast<int>(items.size())) items.erase(items.begin() + index);
  }
  int ListCount(int id) override { return static_cast<int>(controls[id].items.size()); }
  std::string ListItem(int id, int index) override {
    const auto& items = controls[id].items;
    return index >= 0 && index < static_cast<int>(items.size()) ? items[static_cast<std::size_t>(index)] : "";
  }
  int ListSelection(int id) override { return controls[id].selection; }
  void ListSelect(int id, int index) override {
    controls[id].selection = index >= 0 && index < ListCount(id) ? index : -1;
  }
  void ListSetTopIndex(int, int) override {}
  void SliderSetRange(int, int, int) override {}
  void SliderSetPos(int, int) override {}
  int SliderPos(int) override { return 0; }
  void SliderSetPage(int, int) override {}
  void SliderSetTicFrequency(int, int) override {}
  int ControlWidth(int) override { return 0; }
  void ListViewSetExtendedStyle(int, std::uint32_t) override {}
  void ListViewSetColors(int, std::uint32_t, std::uint32_t) override {}
  int ListViewInsertColumn(int, int column, std::string_view, int) override { return column; }
  bool ListViewSetImageList(int, int, int, std::uint32_t) override { return true; }
  int ListViewInsertRow(int, int, std::string_view) override { return -1; }
  bool ListViewSetText(int, int, int, std::string_view) override { return false; }
  bool ListViewSetImage(int, int, int) override { return false; }
  bool ListViewSetData(int, int, std::intptr_t) override { return false; }
  std::intptr_t ListViewData(int, int) override { return 0; }
  int ListViewCount(int) override { return 0; }
  bool ListViewIsSelected(int, int) override { return false; }
  void ListViewSelect(int, int) override {}
};

// Keeps the result it was ended with, whether it was destroyed and its running timers (id to
// period); nothing is shown and no timer ever fires.
class FakeWindow final : public platform::DialogWindow {
 public:
  explicit FakeWindow(std::uintptr_t handle) : handle_(handle) {}
  FakeControls controls;
  std::optional<std::intptr_t> ended;
  bool destroyed = false;
  std::map<std::uintptr_t, std::uint32_t> timers;

  platform::DialogControls& Controls() override { return controls; }
  std::uintptr_t Handle() override { return handle_; }
  void Show(bool) override {}
  void ShowCommand(int) override {}
  void CenterOnOwner() override {}
  void MakeTopmost() override {}
  void Activate() override {}
  void Focus() override {}
  void End(std::intptr_t result) override { ended = result; }
  void Destroy() override { destroyed = true; }
  bool SetTimer(std::uintptr_t id, std::uint32_t ms) override {
    timers[id] = ms;
    return true;
  }
  void KillTimer(std::uintptr_t id) override { timers.erase(id); }

 private:
  std::uintptr_t handle_;
};

class QuietUi : public platform::Ui {
 public:
  platform::ModuleHandle LoadLanguageLibrary(const char*) override { return 0; }
  void SetResourceModule(platform::ModuleHandle) override {}
  platform::DialogWindow* CreateModeless(int, platform::DialogPresenter&, platform::DialogWindow*) override {
    return nullptr;
  }
  int ShowMessageBox(platform::DialogWindow*, std::string_view, std::string_view, std::uint32_t) override {
    return platform::kIdOk;
  }
  void ShowPopupMenu(platform::DialogWindow&, int, const std::vector<platform::MenuEdit>&) override {}
  void AddSystemMenuItem(platform::DialogWindow&, std::uint32_t, std::string_view) override {}
  std::uintptr_t SetWindowIcon(platform::DialogWindow&, int) override { return 1; }
  void MoveTopmostTo(platform::DialogWindow&, int, int) override {}
  int RunMessageLoop() override { return 0; }
  void PostQuit(int) override {}
  bool CreateSingleInstanceMutex(const char*) override { return true; }
  void StartThread(const char*, std::function<void(std::stop_token)>) override {}
};

}  // namespace fuzz
