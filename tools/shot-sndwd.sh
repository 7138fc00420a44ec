#!/bin/bash
# Screenshots of SNDWD.exe's three dialogs under Wine, installed as the bridge installs it
# ("C:\Program Files\Common Files\VL\" with the sim Sonvane.dll and Swd_Eng.dll beside it):
#   sndwd-wizard.png    two playback and two recording devices, no stored names: the wizard
#   sndwd-settings.png  stored names equal to the defaults; UWM_OPEN_SETTINGS (0x83E8) posted
#   sndwd-changed.png   stored names set, the sim state's defaults switched: the changed dialog
# Usage: tools/shot-sndwd.sh [--lang zh|en] OUTDIR     (zh: Wine in zh_TW, the built-in set)
#
# Works on a copy of build/wine with its own wineserver, ended at the end; uses DISPLAY. The
# program runs inside a Wine virtual desktop, which draws the captions (Xvfb has no window
# manager). A small helper keeps a registration alive (so the manager does not end after 5 s)
# and posts the settings request.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
lang=zh
if [ "${1:-}" = "--lang" ]; then lang=$2; shift 2; fi
out=${1:?usage: shot-sndwd.sh [--lang zh|en] OUTDIR}
mkdir -p "$out"
out=$(cd "$out" && pwd)
[ -n "${DISPLAY:-}" ] || { echo "shot-sndwd.sh: needs DISPLAY" >&2; exit 1; }
locale=zh_TW.UTF-8
[ "$lang" = en ] && locale=en_US.UTF-8

scratch=$(mktemp -d /tmp/shot-sndwd.XXXXXX)
cleanup() { WINEPREFIX=$scratch/prefix timeout 30 wineserver -k >/dev/null 2>&1 || true; rm -rf "$scratch"; }
trap cleanup EXIT

cat >"$scratch/helper.c" <<'C'
#include <windows.h>
#include <stdlib.h>
#include <string.h>
int main(int argc, char** argv) {
  if (argc > 2 && strcmp(argv[1], "keep") == 0) {
    HKEY key;
    DWORD pid = GetCurrentProcessId();
    if (RegCreateKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\VORLANE\\AUDIO_MANAGER\\REGISTER", 0, NULL, 0,
                        KEY_ALL_ACCESS, NULL, &key, NULL) == ERROR_SUCCESS) {
      RegSetValueExA(key, "Shot", 0, REG_DWORD, (const BYTE*)&pid, sizeof pid);
      RegCloseKey(key);
    }
    Sleep(atoi(argv[2]) * 1000);
    return 0;
  }
  if (argc > 1 && strcmp(argv[1], "settings") == 0) {
    HWND window = FindWindowA(NULL, "SNDWD");
    return window && PostMessageA(window, 0x83E8, 0, 0) ? 0 : 1;
  }
  return 2;
}
C
i686-w64-mingw32-gcc -O2 -o "$scratch/helper.exe" "$scratch/helper.c"

cp -a "$ROOT/build/wine" "$scratch/prefix"
rm -f "$scratch/prefix/.teliox-prefix-lock"
export WINEPREFIX=$scratch/prefix WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
{ export LC_ALL=$locale; } 2>/dev/null
vl="$WINEPREFIX/drive_c/Program Files/Common Files/VL"
mkdir -p "$vl"
cp "$ROOT/build/win32/sndwd-sim/"* "$vl/"
state="$vl/Sonvane-sim.txt"
desktop_name=SndwdShot$$
desktop=/desktop=$desktop_name,1024x700

timeout 60 wineserver -p 600
reg() { timeout 60 wine reg add "$@" /f >/dev/null; }
for face in 'Tahoma' 'Microsoft Sans Serif' 'MS Shell Dlg' 'MS Shell Dlg 2'; do
  reg 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' /v "$face" /t REG_MULTI_SZ \
    /d 'wqy-microhei.ttc,WenQuanYi Micro Hei'
done
reg 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes' /v '新細明體' /t REG_SZ /d 'WenQuanYi Micro Hei'
key='HKCU\SOFTWARE\VORLANE\AUDIO_MANAGER'

world() {  # world DEFAULT_RECORDING DEFAULT_PLAYBACK
  printf '%s\n' 'recording=Microphone (Teliox Handset)' 'recording=Microphone (High Definition Audio)' \
    'playback=Speakers (Teliox Handset)' 'playback=Speakers (High Definition Audio)' \
    "default-recording=$1" "default-playback=$2" 'fail-get=0' 'fail-set=0' >"$state"
}
stored() {  # stored IN OUT
  reg "$key" /v DEFAULT_DEVICE_IN /t REG_SZ /d "$1"
  reg "$key" /v DEFAULT_DEVICE_OUT /t REG_SZ /d "$2"
  reg "$key" /v WIZARD_AUTOMATIC /t REG_DWORD /d 0
}
run() {  # run SHOT SECONDS [settings]
  timeout 120 wine explorer "$desktop" "$scratch/helper.exe" keep 60 >/dev/null 2>&1 </dev/null &
  sleep 2
  (cd "$vl" && timeout 120 wine explorer "$desktop" "C:\\Program Files\\Common Files\\VL\\SNDWD.exe" >/dev/null 2>&1 </dev/null &)
  sleep "$2"
  if [ "${3:-}" = settings ]; then
    # Only a program inside the virtual desktop sees its windows.
    timeout 30 wine explorer "$desktop" "$scratch/helper.exe" settings >/dev/null 2>&1 </dev/null
    sleep 3
  fi
  import -window root "$scratch/screen.png"
  window=$(xdotool search --name "^$desktop_name - Wine desktop\$" | head -1)
  import -window "$window" "$out/$1"
  echo "shot-sndwd.sh: wrote $out/$1"
  timeout 30 wine taskkill /f /im SNDWD.exe >/dev/null 2>&1 || true
  timeout 30 wine taskkill /f /im helper.exe >/dev/null 2>&1 || true
  sleep 2
}

timeout 60 wine reg delete "$key" /f >/dev/null 2>&1 || true
world 'Microphone (High Definition Audio)' 'Speakers (High Definition Audio)'
run sndwd-wizard.png 6

stored 'Microphone (Teliox Handset)' 'Speakers (Teliox Handset)'
world 'Microphone (Teliox Handset)' 'Speakers (Teliox Handset)'
run sndwd-settings.png 4 settings

# "Windows switches its default device": the state file names other defaults than the stored ones.
world 'Microphone (High Definition Audio)' 'Speakers (High Definition Audio)'
run sndwd-changed.png 6
