#!/bin/bash
# Start-up to the tray icon: Teliox.exe against trivial_tray.exe, the least a tray program does
# (one hidden window, one tray icon), started in turns by tests/e2e/StartupProbe.cpp, RUNS times
# each after one start of each that is not counted. Prints every start, each program's median and
# range, and Teliox.exe's time as a multiple of the trivial program's.
#
# Usage: tools/startup-time.sh [--teliox PATH] [--prefix DIR] [RUNS]
#   RUNS      starts of each program that count (default 10); needs the win32 build
#   --teliox  the Teliox.exe to start (default build/win32/bridge/Teliox.exe, the real Hidmar.dll
#             beside it finding no handset)
#   --prefix  the Wine prefix (default /tmp/teliox-startup-prefix, made on first use, no manager
#             installed); its wineserver is ended when the script ends
# Runs on DISPLAY or a private Xvfb.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
WIN32=$ROOT/build/win32
runs=10
prefix=/tmp/teliox-startup-prefix
teliox=$WIN32/bridge/Teliox.exe
while [ $# -gt 0 ]; do
  case "$1" in
    --teliox) teliox=${2:?}; shift 2 ;;
    --prefix) prefix=${2:?}; shift 2 ;;
    -h|--help) sed -n '2,13p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) echo "startup-time.sh: unknown option $1" >&2; exit 2 ;;
    *) runs=$1; shift ;;
  esac
done
probe=$WIN32/tests/e2e/startup_probe.exe
trivial=$WIN32/tests/e2e/trivial_tray.exe
for f in "$probe" "$trivial" "$teliox"; do
  [ -f "$f" ] || { echo "startup-time.sh: $f is missing (build the win32 preset)" >&2; exit 2; }
done

. "$ROOT/tools/wine-session.sh"
wine_session "$prefix" || exit 1
# The tray and the rest of Wine's own start-up are running before the first start is timed.
timeout 60 wine cmd /c exit >/dev/null 2>&1 || true

timeout 900 wine "$probe" "$runs" "$(winepath -w "$trivial")" "$(winepath -w "$teliox")" | tr -d '\r'
