// DialogControls on the real child controls of one dialog window.
#pragma once

#include <windows.h>
// After windows.h.
#include <commctrl.h>

#include <map>

#include "platform/DialogControls.h"
#include "platform/win32/Handles.h"

namespace win32 {

struct ImageListTraits {
  using Type = HIMAGELIST;
  static Type Empty() { return nullptr; }
  static bool IsValid(Type list) { return list != nullptr; }
  static void Close(Type list) { ImageList_Destroy(list); }
};
using UniqueImageList = UniqueHandleOf<ImageListTraits>;

class Win32DialogControls final : public platform::DialogControls {
 public:
  // Every call is a no-op (or reads as empty) while no dialog is attached. The image lists the
  // controls share go when the dialog does: the host lets go of it at WM_NCDESTROY, once the
  // child controls are destroyed.
  void Attach(HWND dialog) {
    if (dialog != dialog_) imageLists_.clear();
    dialog_ = dialog;
  }
  HWND Dialog() const { return dialog_; }

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
  bool ListViewSetImageList(int id, int bitmapId, int imageWidth, std::uint32_t maskColor) override;
  int ListViewInsertRow(int id, int row, std::string_view text) override;
  bool ListViewSetText(int id, int row, int column, std::string_view text) override;
  bool ListViewSetImage(int id, int row, int image) override;
  bool ListViewSetData(int id, int row, std::intptr_t data) override;
  std::intptr_t ListViewData(int id, int row) override;
  int ListViewCount(int id) override;
  bool ListViewIsSelected(int id, int row) override;
  void ListViewSelect(int id, int row) override;

 private:
  HWND Control(int id) const;
  // The control when it is a list view.
  HWND ListView(int id) const;
  bool SetItem(int id, LVITEMW& item);

  HWND dialog_ = nullptr;
  // Image lists given to list views with LVS_SHAREIMAGELISTS, by control id.
  std::map<int, UniqueImageList> imageLists_;
};

}  // namespace win32
