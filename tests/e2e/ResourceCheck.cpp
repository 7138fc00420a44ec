// resource_check.exe: every string, menu and dialog of Teliox.exe's built-in (Traditional
// Chinese) resources must exist in the English library under the same identifier and with the
// same structure, each dialog must be creatable from both, and its controls must fit: inside the
// window, not on top of each other, texts not clipped. Icons, status images and the version
// record are checked in the program itself. Prints each failure; exits 0 only when all pass.
#include "tests/e2e/ResourceCheck.h"

#include <commctrl.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/win32/Handles.h"
#include "platform/win32/ResourceModule.h"
#include "platform/win32/Text.h"
#include "resources/bridge/resource.h"

namespace rescheck {

INT_PTR CALLBACK PlainDialogProc(HWND, UINT message, WPARAM, LPARAM) { return message == WM_INITDIALOG; }

HWND CreateFromModule(HMODULE module, UINT id, HWND owner, DLGPROC proc) {
  const HMODULE previous = win32::CurrentResourceModule();
  win32::SetCurrentResourceModule(module);
  const DLGTEMPLATE* dialog = win32::FindDialogTemplate(id);
  win32::SetCurrentResourceModule(previous);
  if (!dialog) return nullptr;
  return CreateDialogIndirectParamW(win32::ProgramModule(), dialog, owner, proc, 0);
}

void InitControls() {
  INITCOMMONCONTROLSEX classes{sizeof classes, ICC_BAR_CLASSES | ICC_LISTVIEW_CLASSES};
  InitCommonControlsEx(&classes);
}

namespace {

class Checks {
 public:
  void Expect(bool ok, const std::string& what) {
    ++count_;
    if (ok) return;
    ++failed_;
    std::printf("FAIL: %s\n", what.c_str());
  }

  template <typename T>
  void Equal(const T& actual, const T& expected, const std::string& what) {
    Expect(actual == expected, what + ": got " + Show(actual) + ", want " + Show(expected));
  }

  int Finish() {
    std::printf("resource_check: %d checks, %d failed\n", count_, failed_);
    std::fflush(stdout);
    return failed_ == 0 ? 0 : 1;
  }

 private:
  static std::string Show(const std::string& text) { return "\"" + text + "\""; }
  static std::string Show(long long value) { return std::to_string(value); }
  static std::string Show(const std::set<UINT>& ids) {
    std::string out = "{";
    for (UINT id : ids) {
      if (out.size() > 1) out += ',';
      out += std::to_string(id);
    }
    return out + "}";
  }

  int count_ = 0;
  int failed_ = 0;
};

struct Module {
  const char* name;
  HMODULE handle;
};

std::string Number(long long value) { return std::to_string(value); }

// ---- identifiers ------------------------------------------------------------------------------

BOOL CALLBACK CollectId(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR param) {
  // A resource with a text name has no place here; 0 stands for it so the comparison fails.
  reinterpret_cast<std::set<UINT>*>(param)->insert(IS_INTRESOURCE(name) ? LOWORD(name) : 0);
  return TRUE;
}

// `type` is one of the RT_ numbers.
std::set<UINT> ResourceIds(HMODULE module, LPCSTR type) {
  std::set<UINT> ids;
  EnumResourceNamesW(module, reinterpret_cast<LPCWSTR>(type), CollectId, reinterpret_cast<LONG_PTR>(&ids));
  return ids;
}

// String resources come in blocks of 16; a block holds the strings (block - 1) * 16 ... + 15.
std::set<UINT> StringIds(HMODULE module) {
  std::set<UINT> ids;
  for (UINT block : ResourceIds(module, RT_STRING)) {
    for (UINT id = (block - 1) * 16; id < block * 16; ++id) {
      const wchar_t* text = nullptr;
      if (LoadStringW(module, id, reinterpret_cast<LPWSTR>(&text), 0) > 0) ids.insert(id);
    }
  }
  return ids;
}

void CheckIdentifiers(Checks& checks, const Module& builtIn, const Module& english) {
  const std::set<UINT> dialogs{IDD_ABOUTBOX, IDD_BRIDGE_MAIN, IDD_VOLUME_POPUP, IDD_VOLUME,
                               IDD_NOTICE,   IDD_RING_TONE,   IDD_VOICEMAIL,    IDD_PLEASE_WAIT};
  const std::set<UINT> strings{IDS_ONLINE,
                               IDS_OFFLINE,
                               IDS_FACTORY_RESET_QUESTION,
                               IDS_VOICEMAIL_FROM,
                               IDS_VOICEMAIL_DATE,
                               IDS_VOICEMAIL_UNPLAYED,
                               IDS_VOICEMAIL_PLAYING,
                               IDS_VOICEMAIL_PLAYED,
                               IDS_VOICEMAIL_UPDATING,
                               IDS_ABOUTBOX};
  const std::set<UINT> menus{IDR_TRAY_MENU};
  for (const Module& module : {builtIn, english}) {
    const std::string in = std::string(" in ") + module.name;
    checks.Equal(ResourceIds(module.handle, RT_DIALOG), dialogs, "dialogs" + in);
    checks.Equal(StringIds(module.handle), strings, "strings" + in);
    checks.Equal(ResourceIds(module.handle, RT_MENU), menus, "menus" + in);
  }
  checks.Equal(ResourceIds(builtIn.handle, RT_GROUP_ICON),
               {IDI_APP, IDI_TRAY_CLIENT_ONLY, IDI_TRAY_HANDSET_ONLY, IDI_TRAY_BOTH, IDI_TRAY_NONE}, "icons");
  checks.Equal(ResourceIds(builtIn.handle, RT_BITMAP), {IDB_VOICEMAIL_STATUS}, "bitmaps");
}

// ---- texts -----------------------------------------------------------------------------------

std::string StringOf(HMODULE module, UINT id) {
  win32::SetCurrentResourceModule(module);
  std::string text = win32::LoadUtf8String(id);
  win32::SetCurrentResourceModule(nullptr);
  return text;
}

void CheckBuiltInStrings(Checks& checks, HMODULE program) {
  const std::map<UINT, std::string> texts{
      {IDS_ONLINE, "連線"},
      {IDS_OFFLINE, "離線"},
      {IDS_FACTORY_RESET_QUESTION, "這樣會回復為出廠預設值，是否要繼續？"},
      {IDS_VOICEMAIL_FROM, "來自"},
      {IDS_VOICEMAIL_DATE, "日期"},
      {IDS_VOICEMAIL_UPDATING, "正在更新語音留言"},
  };
  for (const auto& [id, text] : texts) checks.Equal(StringOf(program, id), text, "built-in string " + Number(id));
}

// ---- the tray menu ---------------------------------------------------------------------------

// "P(...)" for a pop-up, "-" for a separator, the command id for an item.
std::string MenuShape(HMENU menu) {
  std::string shape;
  const int count = GetMenuItemCount(menu);
  for (int i = 0; i < count; ++i) {
    MENUITEMINFOW item{};
    item.cbSize = sizeof item;
    item.fMask = MIIM_FTYPE | MIIM_ID | MIIM_SUBMENU;
    if (!GetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &item)) return "?";
    if (i) shape += ",";
    if (item.hSubMenu)
      shape += "P(" + MenuShape(item.hSubMenu) + ")";
    else if (item.fType & MFT_SEPARATOR)
      shape += "-";
    else
      shape += Number(item.wID);
  }
  return shape;
}

// The text at a position path: {1, 2} is the third item of the second pop-up.
std::string MenuText(HMENU menu, const std::vector<int>& path) {
  HMENU at = menu;
  for (std::size_t i = 0; at && i + 1 < path.size(); ++i) at = GetSubMenu(at, path[i]);
  wchar_t text[128] = {};
  if (at && !path.empty()) GetMenuStringW(at, static_cast<UINT>(path.back()), text, 128, MF_BYPOSITION);
  return win32::WideToUtf8(text);
}

win32::UniqueMenu MenuOf(HMODULE module) {
  win32::SetCurrentResourceModule(module);
  win32::UniqueMenu menu = win32::LoadMenuResource(IDR_TRAY_MENU);
  win32::SetCurrentResourceModule(nullptr);
  return menu;
}

void CheckMenus(Checks& checks, const Module& builtIn, const Module& english) {
  const std::string expected = "P(P(32810,32791,32792,32812),P(32796,32797,32814,32815,32816),-,32785,-,32777)";
  for (const Module& module : {builtIn, english}) {
    const win32::UniqueMenu menu = MenuOf(module.handle);
    checks.Expect(menu.valid(), std::string("tray menu loads from ") + module.name);
    if (!menu) continue;
    checks.Equal(MenuShape(menu.get()), expected, std::string("tray menu layout in ") + module.name);
    // Every item and pop-up needs a text in every language.
    const HMENU tray = GetSubMenu(menu.get(), 0);
    for (int i : {0, 1, 3, 5}) {
      checks.Expect(!MenuText(tray, {i}).empty(), std::string(module.name) + " tray item " + Number(i) + " has a text");
      const HMENU sub = GetSubMenu(tray, i);
      for (int j = 0; sub && j < GetMenuItemCount(sub); ++j)
        checks.Expect(!MenuText(sub, {j}).empty(),
                      std::string(module.name) + " item " + Number(i) + "." + Number(j) + " has a text");
    }
  }

  const win32::UniqueMenu menu = MenuOf(builtIn.handle);
  if (!menu) return;
  const HMENU tray = GetSubMenu(menu.get(), 0);
  const std::vector<std::pair<std::vector<int>, std::string>> texts{
      {{0}, "設定"},
      {{0, 0}, "鈴聲設定.."},
      {{0, 1}, "音量設定.."},
      {{0, 2}, "音效裝置設定.."},
      {{0, 3}, "回復出廠設定"},
      {{1}, "Language"},
      {{1, 0}, "English"},
      {{1, 1}, "Traditional Chinese"},
      {{1, 2}, "Japanese"},
      {{1, 3}, "French"},
      {{1, 4}, "Dutch"},
      {{3}, "版本.."},
      {{5}, "關閉"},
  };
  for (const auto& [path, text] : texts) checks.Equal(MenuText(tray, path), text, "built-in tray menu text");
}

// ---- dialogs ---------------------------------------------------------------------------------

struct Control {
  HWND hwnd;
  int id;
  std::wstring cls;
  DWORD style;
  std::wstring text;
  RECT rect;  // in the dialog's client coordinates
};

BOOL CALLBACK CollectControl(HWND hwnd, LPARAM param) {
  auto* controls = reinterpret_cast<std::vector<Control>*>(param);
  const HWND dialog = GetParent(hwnd);
  wchar_t cls[64] = {};
  GetClassNameW(hwnd, cls, 64);
  wchar_t text[256] = {};
  GetWindowTextW(hwnd, text, 256);
  RECT rect{};
  GetWindowRect(hwnd, &rect);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
  controls->push_back({hwnd, GetDlgCtrlID(hwnd), cls, static_cast<DWORD>(GetWindowLongW(hwnd, GWL_STYLE)), text, rect});
  return TRUE;
}

std::vector<Control> ControlsOf(HWND dialog) {
  std::vector<Control> controls;
  EnumChildWindows(dialog, CollectControl, reinterpret_cast<LPARAM>(&controls));
  // Only direct children: a combo box or list view has windows of its own.
  std::erase_if(controls, [dialog](const Control& c) { return GetParent(c.hwnd) != dialog; });
  return controls;
}

bool IsClass(const Control& control, const wchar_t* cls) { return lstrcmpiW(control.cls.c_str(), cls) == 0; }
DWORD ButtonType(const Control& c) { return IsClass(c, WC_BUTTONW) ? c.style & BS_TYPEMASK : 0xFFFF; }
DWORD StaticType(const Control& c) { return IsClass(c, WC_STATICW) ? c.style & SS_TYPEMASK : 0xFFFF; }
bool IsLine(const Control& c) { return StaticType(c) == SS_ETCHEDHORZ || StaticType(c) == SS_ETCHEDVERT; }
bool IsGroupBox(const Control& c) { return ButtonType(c) == BS_GROUPBOX; }

const Control* Find(const std::vector<Control>& controls, int id) {
  for (const Control& c : controls)
    if (c.id == id) return &c;
  return nullptr;
}

// What a control is, whatever its text: the same in every language.
std::string KindOf(const Control& c) {
  std::string kind = Number(c.id) + ":" + win32::WideToUtf8(c.cls);
  if (IsClass(c, WC_BUTTONW)) kind += "/" + Number(ButtonType(c));
  if (IsClass(c, TRACKBAR_CLASSW)) kind += "/" + Number(c.style & (TBS_VERT | TBS_BOTH | TBS_AUTOTICKS));
  if (IsClass(c, WC_LISTVIEWW)) kind += "/" + Number(c.style & (LVS_TYPEMASK | LVS_SINGLESEL | LVS_NOCOLUMNHEADER));
  if (c.style & WS_GROUP) kind += "/group";
  return kind;
}

std::vector<std::string> KindsOf(const std::vector<Control>& controls) {
  std::vector<std::string> kinds;
  for (const Control& c : controls) kinds.push_back(KindOf(c));
  return kinds;
}

std::string Describe(UINT dialog, const Control& c) {
  return "dialog " + Number(dialog) + " control " + Number(c.id) + " \"" + win32::WideToUtf8(c.text) + "\"";
}

// Text width of a label without its mnemonic marks, in the control's font.
SIZE TextExtent(const Control& c, std::wstring text, UINT format, int width) {
  std::wstring shown;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == L'&' && i + 1 < text.size()) ++i;
    shown += text[i];
  }
  const HDC dc = GetDC(c.hwnd);
  const HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(c.hwnd, WM_GETFONT, 0, 0)));
  RECT box{0, 0, width, 0};
  DrawTextW(dc, shown.c_str(), static_cast<int>(shown.size()), &box, format | DT_CALCRECT | DT_NOPREFIX);
  SelectObject(dc, old);
  ReleaseDC(c.hwnd, dc);
  return {box.right, box.bottom};
}

void CheckTextFits(Checks& checks, UINT dialog, const Control& c) {
  if (c.text.empty() || IsLine(c)) return;
  const int width = c.rect.right - c.rect.left;
  const int height = c.rect.bottom - c.rect.top;
  const std::string what = Describe(dialog, c);
  if (IsClass(c, WC_STATICW)) {
    // Statics wrap at word boundaries: the whole text must fit in the control's box.
    const SIZE text = TextExtent(c, c.text, DT_WORDBREAK | DT_EXPANDTABS, width);
    checks.Expect(text.cx <= width && text.cy <= height, what + " fits (" + Number(text.cx) + "x" + Number(text.cy) +
                                                             " in " + Number(width) + "x" + Number(height) + ")");
    return;
  }
  if (!IsClass(c, WC_BUTTONW)) return;
  const SIZE text = TextExtent(c, c.text, DT_SINGLELINE, 0);
  const DWORD type = ButtonType(c);
  int room = width - 8;  // push buttons: frame and focus rectangle
  if (type == BS_AUTORADIOBUTTON || type == BS_RADIOBUTTON || type == BS_AUTOCHECKBOX || type == BS_CHECKBOX)
    room = width - GetSystemMetrics(SM_CXMENUCHECK) - 4;
  if (type == BS_GROUPBOX) room = width - 16;
  checks.Expect(text.cx <= room, what + " fits (" + Number(text.cx) + " in " + Number(room) + ")");
  if (type != BS_GROUPBOX) checks.Expect(text.cy <= height, what + " is tall enough");
}

void CheckLayout(Checks& checks, UINT dialog, HWND hwnd, const std::vector<Control>& controls) {
  RECT client{};
  GetClientRect(hwnd, &client);
  for (const Control& c : controls) {
    const RECT& r = c.rect;
    checks.Expect(r.left >= 0 && r.top >= 0 && r.right <= client.right && r.bottom <= client.bottom,
                  Describe(dialog, c) + " lies inside the window");
    CheckTextFits(checks, dialog, c);
  }
  for (std::size_t i = 0; i < controls.size(); ++i) {
    for (std::size_t j = i + 1; j < controls.size(); ++j) {
      const Control& a = controls[i];
      const Control& b = controls[j];
      RECT common{};
      if (!IntersectRect(&common, &a.rect, &b.rect)) continue;
      if (IsGroupBox(a) || IsGroupBox(b)) {
        // Controls are either inside a group box or outside it, never across its frame.
        const Control& other = IsGroupBox(a) ? b : a;
        checks.Expect(EqualRect(&common, &other.rect), Describe(dialog, other) + " lies wholly inside its group");
        continue;
      }
      checks.Expect(false, Describe(dialog, a) + " overlaps " + Describe(dialog, b));
    }
  }
}

// The controls and window styles the program relies on, beyond their bare existence.
void CheckRequiredControls(Checks& checks, UINT dialog, HWND hwnd, const std::vector<Control>& controls,
                           const char* moduleName) {
  const std::string where = std::string(" in dialog ") + Number(dialog) + " of " + moduleName;
  const auto has = [&](int id, const wchar_t* cls, DWORD buttonType = 0xFFFF) {
    const Control* c = Find(controls, id);
    checks.Expect(c && IsClass(*c, cls) && (buttonType == 0xFFFF || ButtonType(*c) == buttonType),
                  "control " + Number(id) + " of the right kind" + where);
    return c;
  };
  const auto style = static_cast<DWORD>(GetWindowLongW(hwnd, GWL_STYLE));
  const auto vertical = [&](int id) {
    const Control* c = has(id, TRACKBAR_CLASSW);
    const DWORD bits = TBS_VERT | TBS_BOTH | TBS_AUTOTICKS;
    checks.Expect(c && (c->style & bits) == bits, "slider " + Number(id) + " vertical, ticks both sides" + where);
  };
  switch (dialog) {
    case IDD_BRIDGE_MAIN: {
      has(IDC_TARVO_DEBUG, WC_LISTBOXW);
      has(IDC_HID_DEBUG, WC_LISTBOXW);
      const std::vector<std::pair<int, std::string>> buttons{{IDC_TEST_YES, "Yes"},
                                                             {IDC_TEST_NO, "No"},
                                                             {IDC_TEST_UP, "^"},
                                                             {IDC_TEST_DOWN, "v"},
                                                             {IDC_TEST_TARVO, "Tarvo"},
                                                             {IDC_TEST_HOLD, "Hold"},
                                                             {IDC_TEST_VOLUME_UP, "Vol +"},
                                                             {IDC_TEST_VOLUME_DOWN, "Vol -"},
                                                             {IDC_TEST_REDIAL, "redial"},
                                                             {IDC_TEST_MUTE, "Mute"},
                                                             {IDC_CLEAR_TARVO_DEBUG, "Clear"},
                                                             {IDC_CLEAR_HID_DEBUG, "Clear"}};
      for (const auto& [id, text] : buttons) {
        const Control* c = has(id, WC_BUTTONW, BS_PUSHBUTTON);
        if (c) checks.Equal(win32::WideToUtf8(c->text), text, "test panel button " + Number(id) + where);
      }
      // Each list's label sits above it.
      for (const auto& [list, label] :
           {std::pair{IDC_TARVO_DEBUG, L"Tarvo debug"}, std::pair{IDC_HID_DEBUG, L"HID debug"}}) {
        const Control* l = Find(controls, list);
        bool above = false;
        for (const Control& c : controls)
          above |= l && c.text == label && c.rect.bottom <= l->rect.top && c.rect.left == l->rect.left;
        checks.Expect(above, "label of list " + Number(list) + where);
      }
      checks.Expect(!(style & WS_VISIBLE), "main window starts hidden" + where);
      break;
    }
    case IDD_ABOUTBOX: {
      const Control* software = has(IDC_SOFTWARE_VERSION, WC_STATICW);
      if (software)
        checks.Equal(win32::WideToUtf8(software->text), std::string("Software Version : "),
                     "software version placeholder" + where);
      has(IDC_FIRMWARE_VERSION, WC_STATICW);
      has(IDOK, WC_BUTTONW, BS_DEFPUSHBUTTON);
      break;
    }
    case IDD_VOLUME_POPUP: {
      vertical(IDC_POPUP_SPEAKER);
      checks.Expect(!(style & WS_CAPTION) && (style & WS_THICKFRAME), "pop-up: no caption, sizing frame" + where);
      RECT size{0, 0, 32, 75};
      MapDialogRect(hwnd, &size);
      RECT client{};
      GetClientRect(hwnd, &client);
      checks.Expect(EqualRect(&size, &client), "pop-up is 32 x 75 dialog units" + where);
      break;
    }
    case IDD_VOLUME:
      vertical(IDC_SPEAKER_VOLUME);
      vertical(IDC_MIC_VOLUME);
      vertical(IDC_KEYTONE_VOLUME);
      for (int label : {IDC_SPEAKER_LABEL, IDC_MIC_LABEL, IDC_KEYTONE_LABEL}) has(label, WC_STATICW);
      has(IDC_VOLUME_OK, WC_BUTTONW, BS_DEFPUSHBUTTON);
      checks.Expect((style & WS_CAPTION) == WS_CAPTION && !(style & WS_SYSMENU), "caption without close box" + where);
      break;
    case IDD_RING_TONE: {
      for (int id = IDC_RING_SILENT; id <= IDC_RING_TONE_10; ++id) {
        const Control* c = has(id, WC_BUTTONW, BS_AUTORADIOBUTTON);
        // One group: it starts at the silent button and ends before the next control.
        if (c) checks.Equal<long long>((c->style & WS_GROUP) != 0, id == IDC_RING_SILENT, "radio group" + where);
      }
      const Control* play = has(IDC_RING_PLAY, WC_BUTTONW, BS_PUSHBUTTON);
      checks.Expect(play && (play->style & WS_GROUP), "play button closes the radio group" + where);
      has(IDOK, WC_BUTTONW, BS_DEFPUSHBUTTON);
      checks.Expect((style & WS_CAPTION) == WS_CAPTION && !(style & WS_SYSMENU), "caption without close box" + where);
      break;
    }
    case IDD_VOICEMAIL: {
      const Control* list = has(IDC_VOICEMAIL_LIST, WC_LISTVIEWW);
      const DWORD bits = LVS_REPORT | LVS_SINGLESEL | LVS_NOCOLUMNHEADER;
      checks.Expect(list && (list->style & (LVS_TYPEMASK | LVS_SINGLESEL | LVS_NOCOLUMNHEADER)) == bits,
                    "voicemail list: report view, single selection, no header" + where);
      checks.Expect((style & WS_SYSMENU) != 0, "voicemail list has a close box" + where);
      break;
    }
    case IDD_PLEASE_WAIT: {
      const Control* text = has(IDC_WAIT_TEXT, WC_STATICW);
      if (text) checks.Equal(win32::WideToUtf8(text->text), std::string(), "request text starts empty" + where);
      bool below = false;
      for (const Control& c : controls) below |= text && c.id != IDC_WAIT_TEXT && c.rect.top >= text->rect.bottom;
      checks.Expect(below, "fixed text below the request text" + where);
      checks.Expect((style & WS_CAPTION) != WS_CAPTION, "please-wait window has no caption" + where);
      break;
    }
    case IDD_NOTICE:
      has(IDC_NOTICE_TEXT, WC_STATICW);
      break;
    default:
      break;
  }
}

void CheckDialogs(Checks& checks, const Module& builtIn, const Module& english) {
  for (UINT id : ResourceIds(builtIn.handle, RT_DIALOG)) {
    std::vector<std::string> kinds[2];
    DWORD styles[2] = {};
    int index = 0;
    for (const Module& module : {builtIn, english}) {
      const HWND dialog = CreateFromModule(module.handle, id, nullptr, PlainDialogProc);
      checks.Expect(dialog != nullptr, "dialog " + Number(id) + " created from " + module.name);
      if (dialog) {
        const std::vector<Control> controls = ControlsOf(dialog);
        kinds[index] = KindsOf(controls);
        styles[index] = static_cast<DWORD>(GetWindowLongW(dialog, GWL_STYLE));
        CheckRequiredControls(checks, id, dialog, controls, module.name);
        CheckLayout(checks, id, dialog, controls);
        DestroyWindow(dialog);
      }
      ++index;
    }
    std::string first, second;
    for (const std::string& kind : kinds[0]) first += kind + " ";
    for (const std::string& kind : kinds[1]) second += kind + " ";
    checks.Equal(second, first, "controls of dialog " + Number(id) + " in English and built in");
    checks.Equal<long long>(styles[0], styles[1], "dialog " + Number(id) + " window style in both languages");
  }
}

// ---- pictures and the version record ---------------------------------------------------------

std::vector<DWORD> PixelsOf(HBITMAP bitmap, int width, int height) {
  std::vector<DWORD> pixels(static_cast<std::size_t>(width * height));
  BITMAPINFO info{};
  info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  const HDC dc = GetDC(nullptr);
  const int rows = GetDIBits(dc, bitmap, 0, static_cast<UINT>(height), pixels.data(), &info, DIB_RGB_COLORS);
  ReleaseDC(nullptr, dc);
  if (rows != height) pixels.clear();
  return pixels;
}

std::vector<DWORD> IconPixels(HICON icon, int size) {
  ICONINFO info{};
  if (!icon || !GetIconInfo(icon, &info)) return {};
  std::vector<DWORD> pixels = info.hbmColor ? PixelsOf(info.hbmColor, size, size) : std::vector<DWORD>{};
  DeleteObject(info.hbmColor);
  DeleteObject(info.hbmMask);
  return pixels;
}

void CheckPictures(Checks& checks) {
  const UINT tray[] = {IDI_TRAY_BOTH, IDI_TRAY_HANDSET_ONLY, IDI_TRAY_CLIENT_ONLY, IDI_TRAY_NONE};
  std::vector<DWORD> pixels16[4];
  for (int size : {16, 32}) {
    for (UINT id : {IDI_APP, IDI_TRAY_BOTH, IDI_TRAY_HANDSET_ONLY, IDI_TRAY_CLIENT_ONLY, IDI_TRAY_NONE}) {
      const win32::UniqueIcon icon = win32::LoadProgramIcon(id, size, size);
      checks.Expect(icon.valid(), "icon " + Number(id) + " at " + Number(size) + " pixels");
    }
  }
  for (int i = 0; i < 4; ++i) {
    const win32::UniqueIcon icon = win32::LoadProgramIcon(tray[i], 16, 16);
    pixels16[i] = IconPixels(icon.get(), 16);
    checks.Expect(!pixels16[i].empty(), "pixels of tray icon " + Number(tray[i]));
  }
  for (int i = 0; i < 4; ++i)
    for (int j = i + 1; j < 4; ++j)
      checks.Expect(pixels16[i] != pixels16[j],
                    "tray icons " + Number(tray[i]) + " and " + Number(tray[j]) + " differ");

  // Three 16-pixel status images on white, which the list treats as transparent.
  const auto bitmap = static_cast<HBITMAP>(
      LoadImageW(win32::ProgramModule(), MAKEINTRESOURCEW(IDB_VOICEMAIL_STATUS), IMAGE_BITMAP, 0, 0, 0));
  BITMAP size{};
  checks.Expect(bitmap && GetObjectW(bitmap, sizeof size, &size) && size.bmWidth == 48 && size.bmHeight == 16,
                "status images are 48 x 16");
  const std::vector<DWORD> pixels = bitmap ? PixelsOf(bitmap, 48, 16) : std::vector<DWORD>{};
  for (int image = 0; image < 3 && pixels.size() == 48 * 16; ++image) {
    const int left = image * 16;
    const DWORD corners[] = {pixels[left], pixels[left + 15], pixels[15 * 48 + left], pixels[15 * 48 + left + 15]};
    bool white = true;
    for (DWORD corner : corners) white &= (corner & 0xFFFFFF) == 0xFFFFFF;
    checks.Expect(white, "status image " + Number(image) + " stands on white");
    int drawn = 0;
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < 16; ++x)
        drawn += (pixels[static_cast<std::size_t>(y * 48 + left + x)] & 0xFFFFFF) != 0xFFFFFF;
    checks.Expect(drawn > 40, "status image " + Number(image) + " has a picture");
  }
  if (bitmap) DeleteObject(bitmap);
  const HIMAGELIST list = ImageList_LoadImageW(win32::ProgramModule(), MAKEINTRESOURCEW(IDB_VOICEMAIL_STATUS), 16, 3,
                                               RGB(255, 255, 255), IMAGE_BITMAP, 0);
  checks.Expect(list && ImageList_GetImageCount(list) == 3, "status images cut into three");
  if (list) ImageList_Destroy(list);
}

std::string VersionText(const std::vector<char>& block, const wchar_t* path) {
  void* value = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(block.data(), path, &value, &length) || !value) return "<absent>";
  return win32::WideToUtf8(std::wstring(static_cast<const wchar_t*>(value), length ? length - 1 : 0));
}

void CheckVersion(Checks& checks) {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(path, &ignored);
  checks.Expect(size > 0, "the program has a version record");
  if (!size) return;
  std::vector<char> block(size);
  if (!GetFileVersionInfoW(path, 0, size, block.data())) return;

  void* value = nullptr;
  UINT length = 0;
  checks.Expect(VerQueryValueW(block.data(), L"\\", &value, &length) && length == sizeof(VS_FIXEDFILEINFO),
                "fixed file information of 52 bytes");
  if (length != sizeof(VS_FIXEDFILEINFO)) return;
  const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
  const std::string numbers = Number(HIWORD(fixed->dwFileVersionMS)) + "." + Number(LOWORD(fixed->dwFileVersionMS)) +
                              "." + Number(HIWORD(fixed->dwFileVersionLS)) + "." +
                              Number(LOWORD(fixed->dwFileVersionLS));

  checks.Expect(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", &value, &length) && length == 4 &&
                    *static_cast<const DWORD*>(value) == MAKELONG(0x0404, 1200),
                "one translation: Traditional Chinese, Unicode");
  checks.Equal(VersionText(block, L"\\StringFileInfo\\040404B0\\FileVersion"), numbers, "FileVersion text");
  checks.Equal(VersionText(block, L"\\StringFileInfo\\040404B0\\ProductName"), std::string("Teliox"), "ProductName");
  for (const wchar_t* name :
       {L"CompanyName", L"FileDescription", L"InternalName", L"LegalCopyright", L"OriginalFileName", L"ProductVersion",
        L"Comments", L"LegalTrademarks", L"PrivateBuild", L"SpecialBuild"}) {
    const std::wstring query = std::wstring(L"\\StringFileInfo\\040404B0\\") + name;
    checks.Expect(VersionText(block, query.c_str()) != "<absent>", "version text " + win32::WideToUtf8(name));
  }
}

int RunChecks() {
  Checks checks;
  InitControls();
  const win32::UniqueModule library(LoadLibraryW(kEnglishLibrary));
  checks.Expect(library.valid(), "T40ENG_VL.dll loads by file name");
  const Module builtIn{"the program", win32::ProgramModule()};
  CheckBuiltInStrings(checks, builtIn.handle);
  CheckPictures(checks);
  CheckVersion(checks);
  if (library) {
    const Module english{"T40ENG_VL.dll", library.get()};
    CheckIdentifiers(checks, builtIn, english);
    CheckMenus(checks, builtIn, english);
    CheckDialogs(checks, builtIn, english);
  }
  return checks.Finish();
}

}  // namespace
}  // namespace rescheck

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
  std::vector<std::string> args;
  std::string word;
  for (const char* p = commandLine ? commandLine : "";; ++p) {
    if (*p && *p != ' ') {
      word += *p;
      continue;
    }
    if (!word.empty()) args.push_back(word);
    word.clear();
    if (!*p) break;
  }
  if (!args.empty() && args[0] == "--show") return rescheck::Show(args);
  return rescheck::RunChecks();
}
