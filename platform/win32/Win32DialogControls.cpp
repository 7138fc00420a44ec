#include "platform/win32/Win32DialogControls.h"

#include <commctrl.h>

#include <iterator>
#include <string>

#include "platform/win32/ResourceModule.h"
#include "platform/win32/Text.h"

namespace win32 {

namespace {

enum class ListKind { None, ListBox, ComboBox };

// List boxes and combo boxes answer the same requests under different message numbers.
struct ListMessages {
  UINT add, reset, count, textLength, text, getSelection, setSelection, setTopIndex, remove;
};
constexpr ListMessages kListBox{LB_ADDSTRING, LB_RESETCONTENT, LB_GETCOUNT,    LB_GETTEXTLEN,  LB_GETTEXT,
                                LB_GETCURSEL, LB_SETCURSEL,    LB_SETTOPINDEX, LB_DELETESTRING};
constexpr ListMessages kComboBox{CB_ADDSTRING, CB_RESETCONTENT, CB_GETCOUNT,    CB_GETLBTEXTLEN, CB_GETLBTEXT,
                                 CB_GETCURSEL, CB_SETCURSEL,    CB_SETTOPINDEX, CB_DELETESTRING};

ListKind KindOf(HWND control) {
  if (!control) return ListKind::None;
  wchar_t name[32] = {};
  if (GetClassNameW(control, name, static_cast<int>(std::size(name))) <= 0) return ListKind::None;
  if (lstrcmpiW(name, WC_LISTBOXW) == 0) return ListKind::ListBox;
  if (lstrcmpiW(name, WC_COMBOBOXW) == 0) return ListKind::ComboBox;
  return ListKind::None;
}

const ListMessages* MessagesFor(HWND control) {
  switch (KindOf(control)) {
    case ListKind::ListBox:
      return &kListBox;
    case ListKind::ComboBox:
      return &kComboBox;
    case ListKind::None:
      break;
  }
  return nullptr;
}

// LB_GETCURSEL names the caret, not a selection, in a multiple-selection list box.
bool IsMultiSelect(HWND listBox) {
  return (GetWindowLongW(listBox, GWL_STYLE) & (LBS_MULTIPLESEL | LBS_EXTENDEDSEL)) != 0;
}

std::string WindowTextOf(HWND window) {
  if (!window) return {};
  const int length = GetWindowTextLengthW(window);
  if (length <= 0) return {};
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  const int copied = GetWindowTextW(window, text.data(), length + 1);
  text.resize(copied > 0 ? static_cast<std::size_t>(copied) : 0);
  return WideToUtf8(text);
}

}  // namespace

HWND Win32DialogControls::Control(int id) const { return dialog_ ? GetDlgItem(dialog_, id) : nullptr; }

bool Win32DialogControls::HasControl(int id) { return Control(id) != nullptr; }

std::string Win32DialogControls::GetText(int id) { return WindowTextOf(Control(id)); }

void Win32DialogControls::SetText(int id, std::string_view text) {
  if (dialog_) SetDlgItemTextW(dialog_, id, Utf8ToWide(text).c_str());
}

int Win32DialogControls::IdOf(std::uintptr_t controlHandle) {
  const HWND control = reinterpret_cast<HWND>(controlHandle);
  if (!dialog_ || !control || !IsWindow(control) || GetParent(control) != dialog_) return -1;
  return GetDlgCtrlID(control);
}

bool Win32DialogControls::IsChecked(int id) { return dialog_ && IsDlgButtonChecked(dialog_, id) == BST_CHECKED; }

void Win32DialogControls::SetChecked(int id, bool checked) {
  if (dialog_) CheckDlgButton(dialog_, id, checked ? BST_CHECKED : BST_UNCHECKED);
}

bool Win32DialogControls::IsEnabled(int id) {
  const HWND control = Control(id);
  return control && IsWindowEnabled(control);
}

void Win32DialogControls::SetEnabled(int id, bool enabled) {
  if (const HWND control = Control(id)) EnableWindow(control, enabled);
}

// The control's own visibility: IsWindowVisible would also answer false for every control of a
// dialog that is hidden as a whole.
bool Win32DialogControls::IsVisible(int id) {
  const HWND control = Control(id);
  return control && (GetWindowLongW(control, GWL_STYLE) & WS_VISIBLE) != 0;
}

void Win32DialogControls::SetVisible(int id, bool visible) {
  if (const HWND control = Control(id)) ShowWindow(control, visible ? SW_SHOW : SW_HIDE);
}

int Win32DialogControls::ListAdd(int id, std::string_view text) {
  const HWND control = Control(id);
  const ListMessages* messages = MessagesFor(control);
  if (!messages) return -1;
  const std::wstring wide = Utf8ToWide(text);
  const LRESULT index = SendMessageW(control, messages->add, 0, reinterpret_cast<LPARAM>(wide.c_str()));
  // LB_ERR / LB_ERRSPACE (and the CB_ twins) are negative.
  return index < 0 ? -1 : static_cast<int>(index);
}

void Win32DialogControls::ListClear(int id) {
  const HWND control = Control(id);
  if (const ListMessages* messages = MessagesFor(control)) SendMessageW(control, messages->reset, 0, 0);
}

void Win32DialogControls::ListDelete(int id, int index) {
  const HWND control = Control(id);
  if (const ListMessages* messages = MessagesFor(control)) {
    SendMessageW(control, messages->remove, static_cast<WPARAM>(index), 0);
  }
}

int Win32DialogControls::ListCount(int id) {
  const HWND control = Control(id);
  const ListMessages* messages = MessagesFor(control);
  if (!messages) return 0;
  const LRESULT count = SendMessageW(control, messages->count, 0, 0);
  return count < 0 ? 0 : static_cast<int>(count);
}

std::string Win32DialogControls::ListItem(int id, int index) {
  const HWND control = Control(id);
  const ListMessages* messages = MessagesFor(control);
  if (!messages || index < 0) return {};
  const LRESULT length = SendMessageW(control, messages->textLength, static_cast<WPARAM>(index), 0);
  if (length <= 0) return {};
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  const LRESULT copied =
      SendMessageW(control, messages->text, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.data()));
  if (copied <= 0) return {};
  text.resize(static_cast<std::size_t>(copied));
  return WideToUtf8(text);
}

int Win32DialogControls::ListSelection(int id) {
  const HWND control = Control(id);
  const ListMessages* messages = MessagesFor(control);
  if (!messages) return -1;
  if (messages == &kListBox && IsMultiSelect(control)) {
    int first = -1;
    const LRESULT found = SendMessageW(control, LB_GETSELITEMS, 1, reinterpret_cast<LPARAM>(&first));
    return found == 1 ? first : -1;
  }
  const LRESULT selection = SendMessageW(control, messages->getSelection, 0, 0);
  return selection < 0 ? -1 : static_cast<int>(selection);
}

void Win32DialogControls::ListSelect(int id, int index) {
  const HWND control = Control(id);
  const ListMessages* messages = MessagesFor(control);
  if (!messages) return;
  if (messages == &kListBox && IsMultiSelect(control)) {
    // Item -1 stands for all items in LB_SETSEL.
    SendMessageW(control, LB_SETSEL, FALSE, -1);
    if (index >= 0) SendMessageW(control, LB_SETSEL, TRUE, index);
    return;
  }
  SendMessageW(control, messages->setSelection, static_cast<WPARAM>(index), 0);
}

void Win32DialogControls::ListSetTopIndex(int id, int index) {
  const HWND control = Control(id);
  if (const ListMessages* messages = MessagesFor(control))
    SendMessageW(control, messages->setTopIndex, static_cast<WPARAM>(index), 0);
}

// Separate minimum and maximum messages: TBM_SETRANGE packs both into 16 bits each.
void Win32DialogControls::SliderSetRange(int id, int minimum, int maximum) {
  if (const HWND control = Control(id)) {
    SendMessageW(control, TBM_SETRANGEMIN, FALSE, minimum);
    SendMessageW(control, TBM_SETRANGEMAX, TRUE, maximum);
  }
}

void Win32DialogControls::SliderSetPos(int id, int position) {
  if (const HWND control = Control(id)) SendMessageW(control, TBM_SETPOS, TRUE, position);
}

int Win32DialogControls::SliderPos(int id) {
  const HWND control = Control(id);
  return control ? static_cast<int>(SendMessageW(control, TBM_GETPOS, 0, 0)) : 0;
}

void Win32DialogControls::SliderSetPage(int id, int page) {
  if (const HWND control = Control(id)) SendMessageW(control, TBM_SETPAGESIZE, 0, page);
}

void Win32DialogControls::SliderSetTicFrequency(int id, int frequency) {
  if (const HWND control = Control(id)) SendMessageW(control, TBM_SETTICFREQ, static_cast<WPARAM>(frequency), 0);
}

int Win32DialogControls::ControlWidth(int id) {
  RECT rect{};
  const HWND control = Control(id);
  return control && GetWindowRect(control, &rect) ? static_cast<int>(rect.right - rect.left) : 0;
}

HWND Win32DialogControls::ListView(int id) const {
  const HWND control = Control(id);
  wchar_t name[32] = {};
  if (!control || GetClassNameW(control, name, static_cast<int>(std::size(name))) <= 0) return nullptr;
  return lstrcmpiW(name, WC_LISTVIEWW) == 0 ? control : nullptr;
}

void Win32DialogControls::ListViewSetExtendedStyle(int id, std::uint32_t style) {
  // A mask of 0 makes every extended style take its bit from `style`.
  if (const HWND control = ListView(id)) SendMessageW(control, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, style);
}

void Win32DialogControls::ListViewSetColors(int id, std::uint32_t textBackground, std::uint32_t background) {
  const HWND control = ListView(id);
  if (!control) return;
  SendMessageW(control, LVM_SETTEXTBKCOLOR, 0, static_cast<LPARAM>(textBackground));
  SendMessageW(control, LVM_SETBKCOLOR, 0, static_cast<LPARAM>(background));
}

int Win32DialogControls::ListViewInsertColumn(int id, int column, std::string_view title, int width) {
  const HWND control = ListView(id);
  if (!control) return -1;
  std::wstring text = Utf8ToWide(title);
  LVCOLUMNW record{};
  record.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
  record.fmt = LVCFMT_LEFT;
  record.cx = width;
  record.pszText = text.data();
  record.iSubItem = column;
  const LRESULT index =
      SendMessageW(control, LVM_INSERTCOLUMNW, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&record));
  return index < 0 ? -1 : static_cast<int>(index);
}

bool Win32DialogControls::ListViewSetImageList(int id, int bitmapId, int imageWidth, std::uint32_t maskColor) {
  const HWND control = ListView(id);
  if (!control || bitmapId <= 0 || bitmapId > 0xFFFF || imageWidth <= 0) return false;
  // The images are the program's, whatever language library is current. The growth is of no
  // consequence: nothing is added to the list later.
  constexpr int kGrowBy = 3;
  UniqueImageList list(ImageList_LoadImageW(ProgramModule(), MAKEINTRESOURCEW(bitmapId), imageWidth, kGrowBy,
                                            static_cast<COLORREF>(maskColor), IMAGE_BITMAP, LR_CREATEDIBSECTION));
  if (!list) return false;
  const HIMAGELIST handle = list.get();
  const auto previous = reinterpret_cast<HIMAGELIST>(
      SendMessageW(control, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(handle)));
  if (reinterpret_cast<HIMAGELIST>(SendMessageW(control, LVM_GETIMAGELIST, LVSIL_SMALL, 0)) != handle) return false;
  // "The current image list will be destroyed when the list-view control is destroyed unless the
  // LVS_SHAREIMAGELISTS style is set", and a list it replaced is the program's to destroy
  // (LVM_SETIMAGELIST). A shared list is held here until the dialog goes.
  UniqueImageList replaced;
  if (const auto held = imageLists_.find(id); held != imageLists_.end() && held->second.get() == previous) {
    replaced = std::move(held->second);
    imageLists_.erase(held);
  } else if (previous && previous != handle) {
    replaced.reset(previous);
  }
  if (GetWindowLongW(control, GWL_STYLE) & LVS_SHAREIMAGELISTS)
    imageLists_[id] = std::move(list);
  else
    list.release();  // the control's now
  return true;
}

int Win32DialogControls::ListViewInsertRow(int id, int row, std::string_view text) {
  const HWND control = ListView(id);
  if (!control || row < 0) return -1;
  std::wstring wide = Utf8ToWide(text);
  LVITEMW item{};
  // An explicit "no image": a row inserted without one would show the list's first image.
  item.mask = LVIF_TEXT | LVIF_IMAGE;
  item.iItem = row;
  item.pszText = wide.data();
  item.iImage = I_IMAGENONE;
  const LRESULT index = SendMessageW(control, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
  return index < 0 ? -1 : static_cast<int>(index);
}

bool Win32DialogControls::SetItem(int id, LVITEMW& item) {
  const HWND control = ListView(id);
  return control && item.iItem >= 0 && SendMessageW(control, LVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&item)) != 0;
}

bool Win32DialogControls::ListViewSetText(int id, int row, int column, std::string_view text) {
  std::wstring wide = Utf8ToWide(text);
  LVITEMW item{};
  item.mask = LVIF_TEXT;
  item.iItem = row;
  item.iSubItem = column;
  item.pszText = wide.data();
  return column >= 0 && SetItem(id, item);
}

bool Win32DialogControls::ListViewSetImage(int id, int row, int image) {
  LVITEMW item{};
  item.mask = LVIF_IMAGE;
  item.iItem = row;
  item.iImage = image;
  return SetItem(id, item);
}

bool Win32DialogControls::ListViewSetData(int id, int row, std::intptr_t data) {
  LVITEMW item{};
  item.mask = LVIF_PARAM;
  item.iItem = row;
  item.lParam = data;
  return SetItem(id, item);
}

std::intptr_t Win32DialogControls::ListViewData(int id, int row) {
  const HWND control = ListView(id);
  if (!control || row < 0) return 0;
  LVITEMW item{};
  item.mask = LVIF_PARAM;
  item.iItem = row;
  return SendMessageW(control, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item)) ? item.lParam : 0;
}

int Win32DialogControls::ListViewCount(int id) {
  const HWND control = ListView(id);
  return control ? static_cast<int>(SendMessageW(control, LVM_GETITEMCOUNT, 0, 0)) : 0;
}

bool Win32DialogControls::ListViewIsSelected(int id, int row) {
  const HWND control = ListView(id);
  return control && row >= 0 &&
         (SendMessageW(control, LVM_GETITEMSTATE, static_cast<WPARAM>(row), LVIS_SELECTED) & LVIS_SELECTED) != 0;
}

void Win32DialogControls::ListViewSelect(int id, int row) {
  const HWND control = ListView(id);
  if (!control) return;
  LVITEMW item{};
  item.stateMask = LVIS_SELECTED;
  item.state = row >= 0 ? LVIS_SELECTED : 0;
  // Item -1 stands for every item; any other row that does not exist is refused by the control.
  SendMessageW(control, LVM_SETITEMSTATE, static_cast<WPARAM>(row < 0 ? -1 : row), reinterpret_cast<LPARAM>(&item));
}

}  // namespace win32
