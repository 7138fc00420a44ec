#!/bin/bash
# The installer's round trip under Wine, in a prefix of its own (a copy of the tests' prefix: the
# installer writes a Run key, which a later session of a shared prefix would act on).
#   installed silently: the files lie where the programs look for them, the Start-menu entry,
#   the log-on start and the uninstall entry exist; Teliox.exe, started the way the installer's
#   last page starts it (run-unelevated.exe), runs from its folder and starts SNDWD.exe from
#   Common Files\VL; the uninstaller closes both, removes their files, its entries and its own
#   file, and keeps the user's settings.
# Usage: installer_round_trip.sh SETUP.EXE RUN-UNELEVATED.EXE [BASE_PREFIX]
#        (the base prefix defaults to WINEPREFIX; needs DISPLAY)
set -u
setup=${1:?setup} launcher=${2:?launcher} base=${3:-${WINEPREFIX:?no prefix given}}
prefix=$(mktemp -d /tmp/teliox-installer.XXXXXX)
cleanup() {
  WINEPREFIX=$prefix timeout 30 wineserver -k >/dev/null 2>&1
  rm -rf "$prefix"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }
cp -a "$base"/. "$prefix"/ || fail "could not copy the prefix"
export WINEPREFIX=$prefix WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
c=$prefix/drive_c
teliox="$c/Program Files/Teliox"
vl="$c/Program Files/Common Files/VL"
run_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Run'
settings='HKCU\Software\VORLANE\TELIOX\Teliox'

# running NAME: a process of this prefix runs that program.
running() {
  local p
  for p in $(pgrep -f "$1"); do
    { tr '\0' '\n' <"/proc/$p/environ"; } 2>/dev/null | grep -qx "WINEPREFIX=$prefix" && return 0
  done
  return 1
}
# within SECONDS COMMAND...: true once the command succeeds, checked every 0.2 s.
within() {
  local deadline=$((SECONDS + $1))
  shift
  until "$@"; do [ $SECONDS -ge $deadline ] && return 1; sleep 0.2; done
}
absent() { [ ! -e "$1" ]; }
not_running() { ! running "$1"; }

timeout 180 wine "$setup" /S 2>/dev/null || fail "the installer ended with $?"
for f in Teliox.exe Hidmar.dll TarvoAPIDLL.dll T40ENG_VL.dll T40CHT_VL.dll T40JPN_Qor.dll T40FRA_Bex.dll \
         T40DUT_Bex.dll Uninstall.exe; do
  [ -f "$teliox/$f" ] || fail "$f is not in Program Files\\Teliox"
done
for f in SNDWD.exe Sonvane.dll Swd_Eng.dll Swd_Jpn.dll Swd_Fra.dll Swd_Dut.dll; do
  [ -f "$vl/$f" ] || fail "$f is not in Common Files\\VL"
done
shortcut=$(find "$c/users" -path '*Start Menu/Programs/Teliox/Teliox.lnk' | head -1)
[ -n "$shortcut" ] || fail "no Start-menu entry"
timeout 60 wine reg query "$run_key" /v Teliox 2>/dev/null | grep -q 'Teliox.exe' || fail "no log-on start"
timeout 60 wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Teliox' /v UninstallString \
  >/dev/null 2>&1 || fail "no uninstall entry"
echo "installed: files, Start-menu entry, log-on start, uninstall entry"

timeout 60 wine reg add "$settings" /v LANGUAGE /t REG_DWORD /d 4 /f >/dev/null 2>&1
timeout 60 wine "$launcher" 'C:\Program Files\Teliox\Teliox.exe' 2>/dev/null || fail "run-unelevated.exe ended with $?"
within 30 running 'Teliox.exe' || fail "Teliox.exe did not start from its folder"
within 30 running 'SNDWD.exe' || fail "Teliox.exe did not start SNDWD.exe from Common Files\\VL"
echo "started: Teliox.exe, and SNDWD.exe from Common Files\\VL"

# The uninstaller copies itself away and runs from there, so its own file can go too. The copy
# (its command line names the folder with "_?=") goes on after Uninstall.exe has returned, and on
# a loaded machine its ten seconds of asking the programs to close and its deletions take a while:
# the checks below wait for it to end first.
timeout 60 wine "$teliox/Uninstall.exe" /S 2>/dev/null || fail "the uninstaller ended with $?"
within 10 running '_[?]=' >/dev/null
pgrep -af '_[?]=' | grep -o '[^/]*\.exe.*' | head -1 | sed 's/^/uninstaller copy: /'
within 180 not_running '_[?]=' || fail "the uninstaller's copy did not end"
within 30 not_running 'Teliox.exe' || fail "the uninstaller did not close Teliox.exe"
within 30 not_running 'SNDWD.exe' || fail "the uninstaller did not close SNDWD.exe"
within 60 absent "$teliox/Uninstall.exe" || fail "the uninstaller did not finish"
for f in "$teliox/Teliox.exe" "$teliox/T40FRA_Bex.dll" "$vl/SNDWD.exe" "$vl/Swd_Dut.dll" "$shortcut"; do
  [ -e "$f" ] && fail "$f is still there"
done
timeout 60 wine reg query "$run_key" /v Teliox >/dev/null 2>&1 && fail "the log-on start is still there"
timeout 60 wine reg query "$settings" /v LANGUAGE 2>/dev/null | grep -q '0x4' || fail "the user's settings went"
echo "uninstalled: programs closed, files and entries removed, the user's settings kept"
echo "PASS"
