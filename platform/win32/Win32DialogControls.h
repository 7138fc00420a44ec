// DialogControls on the real child controls of one dialog window.
#pragma once

#include <windows.h>

#include "platform/DialogControls.h"

namespace win32 {

class Win32DialogControls final : public platform::DialogControls {
 public:
  // Every call is a no-op (or reads as empty) while no dialog is attached.
  void Attach(HWND dialog) { dialog_ = dialog; }
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

 private:
  HWND Control(int id) const;

  HWND dialog_ = nullptr;
};

}  // namespace win32
