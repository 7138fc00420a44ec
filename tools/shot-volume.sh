#!/bin/bash
# Screenshots of Teliox.exe's two volume windows under Wine, on the simulated handset:
#   volume-popup.png          the whole screen while the pop-up of the handset's volume-down key shows
#   volume-popup-corner.png   its bottom-right corner: the pop-up above the taskbar at the right edge
#   volume-dialog.png         the whole screen with the volume dialog of the tray menu's command
#   volume-dialog-window.png  the dialog alone
# plus windows.txt: the work area, the taskbar and each visible dialog with its rectangle and its
# controls (enabled or not, a slider's position and range), for checking what the pictures show.
#
# Usage: tools/shot-volume.sh [--lang zh|en] [--build DIR] OUTDIR
#   --lang   the program's language setting: zh (built-in Traditional Chinese, Wine in zh_TW) or
#            en (the English library, Wine in en_US); default zh
#   --build  the win32 build folder holding sim-demo/ (default build/win32)
#
# Everything runs on copies: the Wine prefix (build/wine) and sim-demo/ are copied to a scratch
# folder, and that prefix gets its own wineserver, which is ended at the end; other programs'
# prefixes and servers are never touched. Uses DISPLAY, else starts a private Xvfb for the run.
#
# What the prefix copy gets:
# - the handset's audio resolves to Wine's own output: ALSA_CONFIG_PATH names an ALSA null device
#   (Wine then has waveOut "Out: default" and mixers "Out: default" and "In: default"), and the
#   USB audio driver's registry entries name "Out: default" for product 0x1402. Wine names its
#   input "In: default", so no waveIn carries the output's name: the dialog's speaker and
#   microphone sliders are disabled (the handset's audio counts as present only when both sides
#   carry its name). The pop-up needs the mixer alone and works. Naming devices through
#   winealsa.drv's ALSAOutputDevices/ALSAInputDevices does not change that: Wine puts "Out: " and
#   "In: " before those names too (measured: "Out: handset", "In: handset").
# - FontLink entries, so the dialog fonts fall back to a Chinese face instead of empty boxes.
#
# Wine facts this works around (wine 8.0, measured):
# - A program started by `wine explorer /desktop=...` joins that desktop; a program started
#   without it does not see its windows. The helper therefore runs inside the desktop too. The
#   desktop must exist before the next such explorer starts (see below).
# - The virtual desktop shows its taskbar only while a tray icon exists, and a process reads the
#   work area once, at its first query, and keeps that value. Teliox queries it before its own
#   tray icon is there, so it would place the pop-up at the screen's bottom edge, over the
#   taskbar. A helper shows a tray icon first, until Teliox's main window has been up a while.
# - Under Xvfb every caption is drawn in the inactive colours, the foreground window's too.
#
# Needs i686-w64-mingw32-gcc (for the helper), ImageMagick (import, convert) and xdotool.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
lang=zh
build=$ROOT/build/win32
while [ $# -gt 0 ]; do
  case "$1" in
    --lang) lang=${2:?}; shift 2 ;;
    --build) build=${2:?}; shift 2 ;;
    -h|--help) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
    -*) echo "shot-volume.sh: unknown option $1" >&2; exit 2 ;;
    *) break ;;
  esac
done
out=${1:?usage: shot-volume.sh [--lang zh|en] [--build DIR] OUTDIR}
case "$lang" in
  zh) language=2 locale=zh_TW.UTF-8 ;;
  en) language=1 locale=en_US.UTF-8 ;;
  *) echo "shot-volume.sh: --lang is zh or en" >&2; exit 2 ;;
esac
demo=$build/sim-demo
for f in Teliox.exe Hidmar.dll handset-sim.exe; do
  [ -f "$demo/$f" ] || { echo "shot-volume.sh: $demo/$f is missing (build the sim-demo target)" >&2; exit 2; }
done
[ -f "$ROOT/build/wine/system.reg" ] || { echo "shot-volume.sh: no prefix at build/wine (tools/wine-prefix.sh)" >&2; exit 2; }
mkdir -p "$out"
out=$(cd "$out" && pwd)

scratch=$(mktemp -d /tmp/shot-volume.XXXXXX)
. "$ROOT/tools/xvfb.sh"
server_up=
cleanup() {
  if [ -n "$server_up" ]; then timeout 30 wineserver -k 2>/dev/null || true; fi
  xvfb_stop
  rm -rf "$scratch"
}
trap cleanup EXIT

# The helper: runs inside the virtual desktop.
#   tray MS       shows a tray icon until Teliox's main window has existed for MS, at most 60 s
#   post TITLE MESSAGE WPARAM   posts to the dialog with that title (MESSAGE: number or registered name)
#   info          the work area and every visible dialog: style, rectangle, title (UTF-8), and
#                 each control: id, enabled, a slider's position and range, else its text
cat >"$scratch/shothelp.c" <<'C'
#include <windows.h>
#include <shellapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>
static void Utf8(HWND w, char* text, int size) {
  wchar_t title[128];
  GetWindowTextW(w, title, 128);
  WideCharToMultiByte(CP_UTF8, 0, title, -1, text, size, NULL, NULL);
}
static BOOL CALLBACK ShowControl(HWND c, LPARAM unused) {
  wchar_t cls[64]; char text[512];
  (void)unused;
  GetClassNameW(c, cls, 64);
  Utf8(c, text, sizeof text);
  printf("  control id=%d enabled=%d", GetDlgCtrlID(c), IsWindowEnabled(c) ? 1 : 0);
  if (!wcscmp(cls, L"msctls_trackbar32"))  /* TBM_GETPOS, TBM_GETRANGEMIN, TBM_GETRANGEMAX */
    printf(" slider pos=%ld range=%ld..%ld", (long)SendMessageW(c, WM_USER, 0, 0),
           (long)SendMessageW(c, WM_USER + 1, 0, 0), (long)SendMessageW(c, WM_USER + 2, 0, 0));
  else
    printf(" text=%s", text);
  printf("\n");
  return TRUE;
}
static BOOL CALLBACK ShowDialog(HWND w, LPARAM unused) {
  wchar_t cls[64]; char text[512]; RECT r;
  LONG style = GetWindowLongW(w, GWL_STYLE);
  (void)unused;
  GetClassNameW(w, cls, 64);
  if (!IsWindowVisible(w) || wcscmp(cls, L"#32770") != 0) return TRUE;
  Utf8(w, text, sizeof text);
  GetWindowRect(w, &r);
  printf("dialog style=%08lx rect=%ld,%ld,%ld,%ld title=%s\n", (unsigned long)style, r.left, r.top, r.right,
         r.bottom, text);
  EnumChildWindows(w, ShowControl, 0);
  return TRUE;
}
int wmain(int argc, wchar_t** argv) {
  if (argc >= 2 && !wcscmp(argv[1], L"tray")) {
    NOTIFYICONDATAW icon = { sizeof icon };
    DWORD settle = argc > 2 ? wcstoul(argv[2], NULL, 0) : 3000, waited = 0;
    icon.hWnd = CreateWindowW(L"STATIC", L"shothelp", 0, 0, 0, 0, 0, NULL, NULL, NULL, NULL);
    icon.uID = 1;
    icon.uFlags = NIF_ICON;
    icon.hIcon = LoadIconW(NULL, (LPCWSTR)IDI_APPLICATION);
    Shell_NotifyIconW(NIM_ADD, &icon);
    while (!FindWindowW(L"#32770", L"Teliox") && waited < 60000) { Sleep(100); waited += 100; }
    Sleep(settle);
    Shell_NotifyIconW(NIM_DELETE, &icon);
    return 0;
  }
  if (argc == 5 && !wcscmp(argv[1], L"post")) {
    wchar_t* end;
    HWND w = FindWindowW(L"#32770", argv[2]);
    UINT msg = (UINT)wcstoul(argv[3], &end, 0);
    if (*end) msg = RegisterWindowMessageW(argv[3]);
    if (!w) { printf("no window\nend\n"); return 2; }
    printf("%s\nend\n", PostMessageW(w, msg, (WPARAM)wcstoul(argv[4], NULL, 0), 0) ? "posted" : "failed");
    return 0;
  }
  if (argc == 2 && !wcscmp(argv[1], L"info")) {
    RECT r; HWND tray = FindWindowW(L"Shell_TrayWnd", NULL);
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &r, 0);
    printf("workarea %ld,%ld,%ld,%ld\n", r.left, r.top, r.right, r.bottom);
    if (tray && IsWindowVisible(tray) && GetWindowRect(tray, &r))
      printf("taskbar %ld,%ld,%ld,%ld\n", r.left, r.top, r.right, r.bottom);
    EnumWindows(ShowDialog, 0);
    printf("end\n");
    return 0;
  }
  fprintf(stderr, "usage: shothelp tray MS | post TITLE MESSAGE WPARAM | info\n");
  return 64;
}
C
i686-w64-mingw32-gcc -O2 -municode -mconsole -o "$scratch/shothelp.exe" "$scratch/shothelp.c" -lshell32

xvfb_start || exit 1

cp -a "$ROOT/build/wine" "$scratch/prefix"
rm -f "$scratch/prefix/.teliox-prefix-lock"
cp -a "$demo" "$scratch/demo"
export WINEPREFIX=$scratch/prefix WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export ALSA_CONFIG_PATH=$ROOT/tests/e2e/alsa-null.conf
# Wine takes its language from the locale's name; no glibc locale is needed (bash's warning hidden).
{ export LC_ALL=$locale; } 2>/dev/null
desktop_name=VolumeShot$$
desktop=/desktop=$desktop_name,1280x800

timeout 60 wineserver -p 600
server_up=1
reg() { timeout 60 wine reg add "$@" /f >/dev/null; }
instance='USB\Vid_11f1&Pid_1402&MI_00\6&1a2b3c&0&0000'
reg 'HKLM\SYSTEM\CurrentControlSet\Services\usbaudio\Enum' /v Count /t REG_DWORD /d 1
reg 'HKLM\SYSTEM\CurrentControlSet\Services\usbaudio\Enum' /v 0 /t REG_SZ /d "$instance"
reg "HKLM\\SYSTEM\\CurrentControlSet\\Enum\\$instance" /v LocationInformation /t REG_SZ /d 'Out: default'
reg "HKLM\\SYSTEM\\CurrentControlSet\\Enum\\$instance" /v DeviceDesc /t REG_SZ /d 'Out: default'
for face in 'Tahoma' 'Microsoft Sans Serif'; do
  reg 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' /v "$face" /t REG_MULTI_SZ \
    /d 'wqy-microhei.ttc,WenQuanYi Micro Hei'
done
reg 'HKCU\Software\VORLANE\TELIOX\Teliox' /v LANGUAGE /t REG_DWORD /d "$language"

# Runs the helper inside the desktop and prints what it wrote (explorer returns before it ends).
helper() {
  local log
  log=$(mktemp "$scratch/helper.XXXXXX")
  timeout 30 wine explorer "$desktop" "$scratch/shothelp.exe" "$@" >"$log" 2>&1 </dev/null
  for _ in $(seq 100); do grep -q '^end' "$log" && break; sleep 0.1; done
  tr -d '\r' <"$log" | sed '/^end$/d'
}
shot() { import -window root "$1"; echo "shot-volume.sh: wrote $1"; }

# The desktop with its taskbar first, then Teliox in it.
timeout 300 wine explorer "$desktop" "$scratch/shothelp.exe" tray 3000 >/dev/null 2>&1 </dev/null &
# No other explorer may start before this one has made the desktop: two that race for it can
# leave the desktop to the one that only launched its program and ends, and every later window
# then fails with BadWindow.
for _ in $(seq 100); do xdotool search --name "^$desktop_name - Wine desktop\$" >/dev/null 2>&1 && break; sleep 0.2; done
# (grep reads all: with pipefail, a grep -q that stops early fails the pipe through SIGPIPE.)
for _ in $(seq 60); do helper info | grep '^taskbar' >/dev/null && break; sleep 0.5; done
helper info | grep '^taskbar' >/dev/null || { echo "shot-volume.sh: the desktop shows no taskbar" >&2; exit 1; }
timeout 300 wine explorer "$desktop" "$scratch/demo/Teliox.exe" >/dev/null 2>&1 </dev/null &
sim() { timeout 30 wine "$scratch/demo/handset-sim.exe" "$@" </dev/null | tr -d '\r'; }
sim --connect-timeout 20000 --timeout 20000 --wait-state "opened=1" >/dev/null ||
  { echo "shot-volume.sh: Teliox did not open the simulated handset" >&2; exit 1; }
sleep 5  # the helper's tray icon goes; Teliox's stays, and with it the taskbar

{ echo "# $lang"; echo "# after the volume-down key"; } >"$out/windows.txt"
sim --key vol- >/dev/null
sleep 1.5
helper info >>"$out/windows.txt"
shot "$out/volume-popup.png"
convert "$out/volume-popup.png" -crop 400x260+880+540 +repage "$out/volume-popup-corner.png"

# The pop-up hides after 5 seconds; then the tray menu's command opens the dialog.
sleep 6
helper post Teliox 0x0111 32791 >/dev/null
sleep 2
echo "# after the volume settings command" >>"$out/windows.txt"
helper info | tee -a "$out/windows.txt" >"$scratch/dialog.txt"
shot "$out/volume-dialog.png"
# The dialog is the visible one with a caption (WS_CAPTION); the pop-up has none.
rect=
while read -r _ style geometry _; do
  style=${style#style=}
  if (( (0x$style & 0x00C00000) == 0x00C00000 )); then rect=${geometry#rect=}; break; fi
done < <(grep '^dialog ' "$scratch/dialog.txt")
if [ -n "$rect" ]; then
  IFS=, read -r left top right bottom <<<"$rect"
  convert "$out/volume-dialog.png" -crop "$((right - left))x$((bottom - top))+$left+$top" +repage \
    "$out/volume-dialog-window.png"
  echo "shot-volume.sh: wrote $out/volume-dialog-window.png"
else
  echo "shot-volume.sh: no volume dialog found (see windows.txt)" >&2
  exit 1
fi
helper post Teliox PX_CloseApplication 0xA0 >/dev/null || true
sleep 1
