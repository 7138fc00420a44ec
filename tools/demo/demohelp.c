/* The demonstration's small Windows helper, built at demo time with i686-w64-mingw32-gcc.
 *
 *   demohelp tray MS            shows a tray icon until Teliox's main window has existed for MS (at
 *                               most 60 s): the virtual desktop shows its taskbar only while a tray
 *                               icon exists, and Teliox reads the work area before its own icon is up
 *   demohelp tail PIPE MS       connects to a named pipe (waiting up to MS for it) and copies every
 *                               byte it sends to standard output until the pipe closes
 *   demohelp info               the work area, the taskbar, the manager's window, each open menu
 *                               and every visible dialog with its controls
 *   demohelp post TITLE MESSAGE WPARAM
 *                               posts to the top window with that title (MESSAGE: a number or a
 *                               registered message name)
 *   demohelp close TITLE|CLASS  sends WM_CLOSE to the top window with that title or class
 *   demohelp move TITLE X Y     moves that window (a negative X counts from the work area's right)
 *
 * Programs inside a Wine virtual desktop see only that desktop's windows, so `info`, `post` and
 * `close` run in it; `tail` runs anywhere (pipes belong to the Wine server, not to a desktop).
 * Each command but `tray` and `tail` ends its output with a line "end".
 */
#include <windows.h>
#include <shellapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

static void Utf8(HWND w, char* text, int size) {
  wchar_t title[256];
  GetWindowTextW(w, title, 256);
  WideCharToMultiByte(CP_UTF8, 0, title, -1, text, size, NULL, NULL);
}

static BOOL CALLBACK ShowControl(HWND c, LPARAM unused) {
  wchar_t cls[64];
  char text[512];
  (void)unused;
  GetClassNameW(c, cls, 64);
  Utf8(c, text, sizeof text);
  printf("  control id=%d enabled=%d", GetDlgCtrlID(c), IsWindowEnabled(c) ? 1 : 0);
  if (!wcscmp(cls, L"msctls_trackbar32")) /* TBM_GETPOS, TBM_GETRANGEMIN, TBM_GETRANGEMAX */
    printf(" slider pos=%ld range=%ld..%ld", (long)SendMessageW(c, WM_USER, 0, 0),
           (long)SendMessageW(c, WM_USER + 1, 0, 0), (long)SendMessageW(c, WM_USER + 2, 0, 0));
  else if (!wcscmp(cls, L"SysListView32")) /* LVM_GETITEMCOUNT */
    printf(" list items=%ld", (long)SendMessageW(c, 0x1004, 0, 0));
  else
    printf(" text=%s", text);
  printf("\n");
  return TRUE;
}

static BOOL CALLBACK ShowDialog(HWND w, LPARAM unused) {
  wchar_t cls[64];
  char text[512];
  RECT r;
  LONG style = GetWindowLongW(w, GWL_STYLE);
  (void)unused;
  GetClassNameW(w, cls, 64);
  if (!IsWindowVisible(w) || wcscmp(cls, L"#32770") != 0) return TRUE;
  Utf8(w, text, sizeof text);
  GetWindowRect(w, &r);
  printf("dialog style=%08lx rect=%ld,%ld,%ld,%ld title=%s\n", (unsigned long)style, r.left, r.top, r.right, r.bottom,
         text);
  EnumChildWindows(w, ShowControl, 0);
  return TRUE;
}

static BOOL CALLBACK ShowTrayIcon(HWND w, LPARAM unused) {
  wchar_t cls[64];
  RECT r;
  (void)unused;
  GetClassNameW(w, cls, 64);
  GetWindowRect(w, &r);
  if (wcscmp(cls, L"__wine_tray_icon") != 0 || !IsWindowVisible(w)) return TRUE;
  printf("trayicon %ld,%ld,%ld,%ld\n", r.left, r.top, r.right, r.bottom);
  return TRUE;
}

static HWND TopWindow(const wchar_t* name) {
  HWND w = FindWindowW(NULL, name);
  return w ? w : FindWindowW(name, NULL);
}

static int Tail(const wchar_t* name, DWORD waitMs) {
  HANDLE pipe = INVALID_HANDLE_VALUE;
  DWORD waited = 0;
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  char buffer[4096];
  DWORD got, written;
  for (;;) {
    pipe = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    if (pipe != INVALID_HANDLE_VALUE) break;
    if (waited >= waitMs) return 2;
    if (GetLastError() == ERROR_PIPE_BUSY) WaitNamedPipeW(name, 200);
    Sleep(100);
    waited += 100;
  }
  while (ReadFile(pipe, buffer, sizeof buffer, &got, NULL) && got > 0) {
    if (!WriteFile(out, buffer, got, &written, NULL)) break;
  }
  CloseHandle(pipe);
  return 0;
}

int wmain(int argc, wchar_t** argv) {
  if (argc >= 2 && !wcscmp(argv[1], L"tray")) {
    NOTIFYICONDATAW icon = {sizeof icon};
    DWORD settle = argc > 2 ? wcstoul(argv[2], NULL, 0) : 3000, waited = 0;
    icon.hWnd = CreateWindowW(L"STATIC", L"demohelp", 0, 0, 0, 0, 0, NULL, NULL, NULL, NULL);
    icon.uID = 1;
    icon.uFlags = NIF_ICON;
    icon.hIcon = LoadIconW(NULL, (LPCWSTR)IDI_APPLICATION);
    Shell_NotifyIconW(NIM_ADD, &icon);
    while (!FindWindowW(L"#32770", L"Teliox") && waited < 60000) {
      Sleep(100);
      waited += 100;
    }
    Sleep(settle);
    Shell_NotifyIconW(NIM_DELETE, &icon);
    return 0;
  }
  if (argc == 4 && !wcscmp(argv[1], L"tail")) return Tail(argv[2], wcstoul(argv[3], NULL, 0));
  if (argc == 5 && !wcscmp(argv[1], L"post")) {
    wchar_t* end;
    HWND w = TopWindow(argv[2]);
    UINT msg = (UINT)wcstoul(argv[3], &end, 0);
    if (*end) msg = RegisterWindowMessageW(argv[3]);
    if (!w) {
      printf("no window\nend\n");
      return 2;
    }
    printf("%s\nend\n", PostMessageW(w, msg, (WPARAM)wcstoul(argv[4], NULL, 0), 0) ? "posted" : "failed");
    return 0;
  }
  if (argc == 5 && !wcscmp(argv[1], L"move")) {
    RECT r, work;
    HWND w = TopWindow(argv[2]);
    long x = wcstol(argv[3], NULL, 0), y = wcstol(argv[4], NULL, 0);
    if (!w) {
      printf("no window\nend\n");
      return 2;
    }
    GetWindowRect(w, &r);
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    if (x < 0) x = work.right - (r.right - r.left) + x + 1; /* -1: flush with the right edge */
    SetWindowPos(w, NULL, (int)x, (int)y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    printf("moved\nend\n");
    return 0;
  }
  if (argc == 3 && !wcscmp(argv[1], L"close")) {
    HWND w = TopWindow(argv[2]);
    if (!w) {
      printf("no window\nend\n");
      return 2;
    }
    PostMessageW(w, WM_CLOSE, 0, 0);
    printf("closed\nend\n");
    return 0;
  }
  if (argc == 2 && !wcscmp(argv[1], L"info")) {
    RECT r;
    HWND tray = FindWindowW(L"Shell_TrayWnd", NULL);
    HWND manager = FindWindowW(NULL, L"SNDWD");
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &r, 0);
    printf("workarea %ld,%ld,%ld,%ld\n", r.left, r.top, r.right, r.bottom);
    if (tray && IsWindowVisible(tray) && GetWindowRect(tray, &r)) {
      printf("taskbar %ld,%ld,%ld,%ld\n", r.left, r.top, r.right, r.bottom);
      EnumChildWindows(tray, ShowTrayIcon, 0);
    }
    if (manager) printf("manager %s\n", IsWindowVisible(manager) ? "visible" : "hidden");
    {
      HWND menu = NULL;
      while ((menu = FindWindowExW(NULL, menu, L"#32768", NULL)) != NULL) {
        if (IsWindowVisible(menu) && GetWindowRect(menu, &r))
          printf("menu %ld,%ld,%ld,%ld\n", r.left, r.top, r.right, r.bottom);
      }
    }
    EnumWindows(ShowDialog, 0);
    printf("end\n");
    fflush(stdout);
    return 0;
  }
  fprintf(stderr, "usage: demohelp tray MS | tail PIPE MS | info | post TITLE MESSAGE WPARAM | close TITLE\n");
  return 64;
}
