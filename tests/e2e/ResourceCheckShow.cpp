// resource_check.exe --show: one dialog of Teliox.exe, or its tray menu with the settings pop-up
// open, filled with the kind of content the program puts there, for screenshots.
#include <windows.h>

#include <commctrl.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/win32/AppShell.h"
#include "platform/win32/Handles.h"
#include "platform/win32/ResourceModule.h"
#include "platform/win32/Text.h"
#include "resources/bridge/resource.h"
#include "tests/e2e/ResourceCheck.h"

namespace rescheck {

namespace {

constexpr UINT_PTR kWatchdog = 1;
constexpr UINT kWatchdogMs = 30000;

INT_PTR CALLBACK ShowDialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      SetTimer(hwnd, kWatchdog, kWatchdogMs, nullptr);
      return TRUE;
    case WM_TIMER:
    case WM_CLOSE:
      DestroyWindow(hwnd);
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) DestroyWindow(hwnd);
      return TRUE;
    case WM_DESTROY:
      PostQuitMessage(0);
      return TRUE;
    default:
      return FALSE;
  }
}

void AddLines(HWND dialog, int list, const std::vector<const wchar_t*>& lines) {
  for (const wchar_t* line : lines) SendDlgItemMessageW(dialog, list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line));
}

void SetSlider(HWND dialog, int id, int maximum, int position) {
  const HWND slider = GetDlgItem(dialog, id);
  SendMessageW(slider, TBM_SETRANGEMIN, FALSE, 0);
  SendMessageW(slider, TBM_SETRANGEMAX, FALSE, maximum);
  SendMessageW(slider, TBM_SETTICFREQ, maximum >= 5 ? (maximum + 1) / 5 : 1, 0);
  SendMessageW(slider, TBM_SETPOS, TRUE, position);
}

void SetText(HWND dialog, int id, const std::wstring& text) { SetDlgItemTextW(dialog, id, text.c_str()); }

// What the voicemail window shows for a three-entry list.
void FillVoicemail(HWND dialog) {
  const HWND list = GetDlgItem(dialog, IDC_VOICEMAIL_LIST);
  ListView_SetExtendedListViewStyle(list, LVS_EX_FULLROWSELECT);
  ListView_SetTextBkColor(list, 0xFFFFF4);
  ListView_SetBkColor(list, 0xFFFFF4);
  RECT rect{};
  GetWindowRect(list, &rect);
  const int width = rect.right - rect.left;
  std::wstring from = win32::LoadWideString(IDS_VOICEMAIL_FROM);
  std::wstring date = win32::LoadWideString(IDS_VOICEMAIL_DATE);
  LVCOLUMNW column{};
  column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
  column.fmt = LVCFMT_LEFT;
  column.pszText = from.data();
  column.cx = width / 2 - 5;
  SendMessageW(list, LVM_INSERTCOLUMNW, 0, reinterpret_cast<LPARAM>(&column));
  column.pszText = date.data();
  column.cx = width / 2;
  SendMessageW(list, LVM_INSERTCOLUMNW, 1, reinterpret_cast<LPARAM>(&column));
  const HIMAGELIST images = ImageList_LoadImageW(win32::ProgramModule(), MAKEINTRESOURCEW(IDB_VOICEMAIL_STATUS), 16, 3,
                                                 RGB(255, 255, 255), IMAGE_BITMAP, 0);
  ListView_SetImageList(list, images, LVSIL_SMALL);
  struct Row {
    const wchar_t* partner;
    const wchar_t* when;
    int image;
  };
  // The program's dates end in asctime's line feed, which the list shows as a box; left out here.
  const Row rows[] = {{L"王大明", L"Mon Mar  4 09:15:02 2024", 0},
                      {L"Anna de Vries", L"Fri Mar  1 17:42:30 2024", 1},
                      {L"0912 345 678", L"Thu Jan  1 00:00:00 1970", 2}};
  int index = 0;
  for (const Row& row : rows) {
    LVITEMW item{};
    item.mask = LVIF_TEXT | LVIF_IMAGE;
    item.iItem = index;
    item.pszText = const_cast<wchar_t*>(row.partner);
    item.iImage = row.image;
    SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
    item.mask = LVIF_TEXT;
    item.iSubItem = 1;
    item.pszText = const_cast<wchar_t*>(row.when);
    SendMessageW(list, LVM_SETITEMTEXTW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item));
    ++index;
  }
  ListView_SetItemState(list, 0, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
}

void Fill(HWND dialog, UINT id) {
  switch (id) {
    case IDD_BRIDGE_MAIN:
      AddLines(dialog, IDC_TARVO_DEBUG,
               {L"Attach: attached", L"PROTOCOL 2", L"CALL 12 STATUS RINGING", L"FOCUS",
                L"SET CALL 12 STATUS INPROGRESS", L"CALL 12 STATUS INPROGRESS"});
      AddLines(dialog, IDC_HID_DEBUG,
               {L"MCU-> 01 5A 00 00 00 00 00", L"MCU-> 02 00 00 12 05 00 00", L"MCU-> 03 20 00 00 00 00 00",
                L"MCU-> 04 5A 00 00 00 00 00"});
      break;
    case IDD_ABOUTBOX:
      SetText(dialog, IDC_SOFTWARE_VERSION, L"1.0.0.0");
      SetText(dialog, IDC_FIRMWARE_VERSION, L"1.2.0.5");
      break;
    case IDD_VOLUME_POPUP:
      SetSlider(dialog, IDC_POPUP_SPEAKER, 100, 30);
      break;
    case IDD_VOLUME:
      SetSlider(dialog, IDC_SPEAKER_VOLUME, 100, 40);
      SetSlider(dialog, IDC_MIC_VOLUME, 100, 70);
      SetSlider(dialog, IDC_KEYTONE_VOLUME, 2, 1);
      break;
    case IDD_RING_TONE:
      CheckRadioButton(dialog, IDC_RING_SILENT, IDC_RING_TONE_10, IDC_RING_TONE_4);
      break;
    case IDD_VOICEMAIL:
      FillVoicemail(dialog);
      break;
    case IDD_PLEASE_WAIT:
      SetText(dialog, IDC_WAIT_TEXT, win32::LoadWideString(IDS_VOICEMAIL_UPDATING));
      break;
    case IDD_NOTICE:
      SetText(dialog, IDC_NOTICE_TEXT, win32::LoadWideString(IDS_FACTORY_RESET_QUESTION));
      break;
    default:
      break;
  }
}

void CentreOnScreen(HWND hwnd) {
  RECT rect{};
  GetWindowRect(hwnd, &rect);
  const int x = (GetSystemMetrics(SM_CXSCREEN) - (rect.right - rect.left)) / 2;
  const int y = (GetSystemMetrics(SM_CYSCREEN) - (rect.bottom - rect.top)) / 2;
  SetWindowPos(hwnd, HWND_TOP, x, y, 0, 0, SWP_NOSIZE);
}

int ShowDialog(UINT id) {
  const HWND dialog = CreateFromModule(win32::CurrentResourceModule(), id, nullptr, ShowDialogProc);
  if (!dialog) return 1;
  Fill(dialog, id);
  CentreOnScreen(dialog);
  ShowWindow(dialog, SW_SHOW);
  SetForegroundWindow(dialog);
  return win32::AppShell().Run();
}

void CALLBACK EndMenuTimer(HWND, UINT, UINT_PTR, DWORD) { EndMenu(); }

// The tray menu as the program opens it, with the language ticked and one pop-up open (0 the
// settings, 1 the languages).
int ShowMenu(bool english, int popup) {
  const HWND owner = CreateFromModule(win32::CurrentResourceModule(), IDD_BRIDGE_MAIN, nullptr, PlainDialogProc);
  const win32::UniqueMenu menu = win32::LoadMenuResource(IDR_TRAY_MENU);
  if (!owner || !menu) return 1;
  const HMENU tray = GetSubMenu(menu.get(), 0);
  CheckMenuItem(GetSubMenu(tray, 1), english ? 0 : 1, MF_BYPOSITION | MF_CHECKED);
  SetForegroundWindow(owner);
  // The menu's own loop takes these: highlight the pop-up's item, then open it.
  for (int i = 0; i <= popup; ++i) PostMessageW(owner, WM_KEYDOWN, VK_DOWN, 0);
  PostMessageW(owner, WM_KEYDOWN, VK_RIGHT, 0);
  SetTimer(nullptr, 0, kWatchdogMs, EndMenuTimer);
  TrackPopupMenu(tray, TPM_RIGHTALIGN | TPM_RIGHTBUTTON, GetSystemMetrics(SM_CXSCREEN) / 2 + 100,
                 GetSystemMetrics(SM_CYSCREEN) / 3, 0, owner, nullptr);
  DestroyWindow(owner);
  return 0;
}

}  // namespace

int Show(const std::vector<std::string>& args) {
  if (args.size() < 2) return 2;
  bool english = false;
  for (const std::string& arg : args) english |= arg == "--english";
  InitControls();
  const win32::UniqueModule library(english ? LoadLibraryW(kEnglishLibrary) : nullptr);
  if (english && !library) return 1;
  win32::SetCurrentResourceModule(library.get());
  if (args[1] == "menu") return ShowMenu(english, 0);
  if (args[1] == "language-menu") return ShowMenu(english, 1);
  return ShowDialog(static_cast<UINT>(std::atoi(args[1].c_str())));
}

}  // namespace rescheck
