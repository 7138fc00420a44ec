// The control store of a simulated dialog: every control of the template with the state the real
// control would keep (text, check, enabled, visible, list items and selection, track bar range,
// page, tic frequency and position, list-view rows, columns, colours and image list), answering
// the DialogControls port as the Win32 controls do. Thread-safe, so the scenario runner can take
// snapshots while the program's user-interface thread is blocked.
//
// A control's window is 1.5 pixels wide for each horizontal dialog unit of its template (the
// base unit of an 8-point "MS Shell Dlg" at 96 DPI), whatever the dialog's font.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/DialogControls.h"
#include "sim/ui/ResourceScript.h"

namespace sim {

struct ListViewRow {
  std::vector<std::string> columns;
  std::optional<int> image;  // none: no image
  std::intptr_t data = 0;    // the item's lParam
  bool selected = false;
};

struct ControlState {
  int id = 0;
  ControlKind kind = ControlKind::kStatic;
  std::uint32_t style = 0;
  std::uintptr_t handle = 0;  // stands for the control's HWND in WM_COMMAND and WM_NOTIFY
  bool defaultButton = false;
  bool autoButton = false;
  std::string text;
  bool checked = false;
  bool enabled = true;
  bool visible = true;
  std::vector<std::string> items;
  int selection = -1;
  int topIndex = 0;
  int rangeMin = 0, rangeMax = 100, page = 20, tick = 1, pos = 0;  // a track bar's defaults
  int width = 0;                                                   // the window's, in pixels
  std::vector<ListViewRow> rows;
  // A list view's look: extended style, colours, column titles with widths, image list bitmap.
  std::uint32_t extendedStyle = 0;
  std::optional<std::uint32_t> textBackground, background;
  std::vector<std::pair<std::string, int>> columnHeads;
  std::optional<int> imageBitmap;
};

class SimDialogControls final : public platform::DialogControls {
 public:
  // `firstHandle` numbers the controls' handles, one each in template order; `programBitmaps`
  // are the bitmap ids of the program's own resources, where image lists come from.
  SimDialogControls(const DialogTemplate& dialog, std::uintptr_t firstHandle, std::set<int> programBitmaps = {});

  bool HasControl(int id) override;
  int IdOf(std::uintptr_t controlHandle) override;
  std::string GetText(int id) override;
  void SetText(int id, std::string_view text) override;
  bool IsChecked(int id) override;
  void SetChecked(int id, bool checked) override;
  bool IsEnabled(int id) override;
  void SetEnabled(int id, bool enabled) override;
  bool IsVisible(int id) override;
  void SetVisible(int id, bool visible) override;
  int ListAdd(int id, std::string_view text) override;
  void ListClear(int id) override;
  void ListDelete(int id, int index) override;
  int ListCount(int id) override;
  std::string ListItem(int id, int index) override;
  int ListSelection(int id) override;
  void ListSelect(int id, int index) override;
  void ListSetTopIndex(int id, int index) override;
  void SliderSetRange(int id, int minimum, int maximum) override;
  void SliderSetPos(int id, int position) override;
  int SliderPos(int id) override;
  void SliderSetPage(int id, int page) override;
  void SliderSetTicFrequency(int id, int frequency) override;
  int ControlWidth(int id) override;
  void ListViewSetExtendedStyle(int id, std::uint32_t style) override;
  void ListViewSetColors(int id, std::uint32_t textBackground, std::uint32_t background) override;
  int ListViewInsertColumn(int id, int column, std::string_view title, int width) override;
  // Taken when the bitmap is one of the program's.
  bool ListViewSetImageList(int id, int bitmapId, int imageWidth, std::uint32_t maskColor) override;
  int ListViewInsertRow(int id, int row, std::string_view text) override;
  bool ListViewSetText(int id, int row, int column, std::string_view text) override;
  bool ListViewSetImage(int id, int row, int image) override;
  bool ListViewSetData(int id, int row, std::intptr_t data) override;
  std::intptr_t ListViewData(int id, int row) override;
  int ListViewCount(int id) override;
  bool ListViewIsSelected(int id, int row) override;
  // LVS_SINGLESEL lets one row be selected at a time, as the control does.
  void ListViewSelect(int id, int row) override;

  // List views, for the simulation: rows keep their order; ListViewInsert returns the new row's
  // index (at the end when `index` is out of range), -1 when the control is no list view.
  int ListViewInsert(int id, int index, std::vector<std::string> columns, std::optional<int> image, std::intptr_t data);
  void ListViewClear(int id);
  std::optional<ListViewRow> ListViewRowAt(int id, int row);
  int ListViewSelection(int id);  // the first selected row, -1 when none

  // For the simulation: a copy of a control's state, and what a user's click does to an
  // automatic check box or radio button (the other radio buttons of its group go out).
  std::optional<ControlState> Find(int id) const;
  // The template's default push button (what DM_GETDEFID names), if it has one.
  std::optional<ControlState> DefaultButton() const;
  void UserClick(int id);
  // One snapshot payload per addressable control (not IDC_STATIC), in ascending id, each
  // starting with `prefix`.
  std::vector<std::string> Snapshot(const std::string& prefix) const;

 private:
  ControlState* Control(int id);
  const ControlState* Control(int id) const;
  void CheckRadioInGroup(std::size_t index);

  ControlState* ListView(int id);

  const std::set<int> programBitmaps_;
  mutable std::mutex mutex_;
  std::vector<ControlState> controls_;  // template order, which is also the group order
};

}  // namespace sim
