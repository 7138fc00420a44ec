// A dialog's controls, reached by control id. Texts are UTF-8; the Win32 side converts them to
// the wide functions so any language renders on any system code page.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

class DialogControls {
 public:
  virtual ~DialogControls() = default;

  virtual bool HasControl(int id) = 0;
  // The id of the control with this window handle (a scroll notification's lParam); -1 when it
  // is not a control of this dialog.
  virtual int IdOf(std::uintptr_t controlHandle) = 0;

  virtual std::string GetText(int id) = 0;
  virtual void SetText(int id, std::string_view text) = 0;

  virtual bool IsChecked(int id) = 0;
  virtual void SetChecked(int id, bool checked) = 0;

  virtual bool IsEnabled(int id) = 0;
  virtual void SetEnabled(int id, bool enabled) = 0;

  virtual bool IsVisible(int id) = 0;
  virtual void SetVisible(int id, bool visible) = 0;

  // List boxes and combo boxes.
  virtual int ListAdd(int id, std::string_view text) = 0;  // index of the new item, -1 on failure
  virtual void ListClear(int id) = 0;
  virtual void ListDelete(int id, int index) = 0;  // later items move up
  virtual int ListCount(int id) = 0;
  virtual std::string ListItem(int id, int index) = 0;
  virtual int ListSelection(int id) = 0;           // -1 when nothing is selected
  virtual void ListSelect(int id, int index) = 0;  // -1 clears the selection
  virtual void ListSetTopIndex(int id, int index) = 0;

  // Track bars.
  virtual void SliderSetRange(int id, int minimum, int maximum) = 0;
  virtual void SliderSetPos(int id, int position) = 0;
  virtual int SliderPos(int id) = 0;
  virtual void SliderSetPage(int id, int page) = 0;
  virtual void SliderSetTicFrequency(int id, int frequency) = 0;

  // The control's window rectangle width in pixels, border included; 0 when there is none.
  virtual int ControlWidth(int id) = 0;

  // List views in report view. Colours are COLORREF values (0x00BBGGRR).
  virtual void ListViewSetExtendedStyle(int id, std::uint32_t style) = 0;  // replaces every extended style
  virtual void ListViewSetColors(int id, std::uint32_t textBackground, std::uint32_t background) = 0;
  // A left-aligned column; its index, -1 on failure.
  virtual int ListViewInsertColumn(int id, int column, std::string_view title, int width) = 0;
  // The small-icon image list, cut from a bitmap of the program's own resources into images
  // `imageWidth` pixels wide, `maskColor` transparent. It lives as long as the dialog window.
  virtual bool ListViewSetImageList(int id, int bitmapId, int imageWidth, std::uint32_t maskColor) = 0;
  // A row with `text` in column 0 and no image; its index (at the end when `row` is past it), -1
  // on failure.
  virtual int ListViewInsertRow(int id, int row, std::string_view text) = 0;
  virtual bool ListViewSetText(int id, int row, int column, std::string_view text) = 0;
  virtual bool ListViewSetImage(int id, int row, int image) = 0;
  virtual bool ListViewSetData(int id, int row, std::intptr_t data) = 0;
  virtual std::intptr_t ListViewData(int id, int row) = 0;  // 0 when there is no such row
  virtual int ListViewCount(int id) = 0;
  virtual bool ListViewIsSelected(int id, int row) = 0;
  // Gives the row the selected state (a single-selection list view clears the previous one
  // itself); a row that does not exist changes nothing; -1 clears every row's.
  virtual void ListViewSelect(int id, int row) = 0;
};

}  // namespace platform
