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
  virtual int ListSelection(int id) = 0;  // -1 when nothing is selected
  virtual void ListSelect(int id, int index) = 0;  // -1 clears the selection
  virtual void ListSetTopIndex(int id, int index) = 0;

  // Track bars.
  virtual void SliderSetRange(int id, int minimum, int maximum) = 0;
  virtual void SliderSetPos(int id, int position) = 0;
  virtual int SliderPos(int id) = 0;
  virtual void SliderSetPage(int id, int page) = 0;
  virtual void SliderSetTicFrequency(int id, int frequency) = 0;
};

}  // namespace platform
