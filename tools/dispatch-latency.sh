#!/bin/bash
# A handset key to its client command inside Teliox.exe, against bare message round trips in the
# same run (tests/e2e/DispatchLatencyProbe.cpp says what each figure holds): the probe is the
# client, posts PRESSES client-key reports to Teliox's main window and times each to its "FOCUS",
# taking turns with a post to another process answered by WM_COPYDATA and a post to its own window.
#
# Usage: tools/dispatch-latency.sh [--teliox PATH] [--prefix DIR] [PRESSES]
#   PRESSES   presses that count (default 200); needs the win32 build
#   --teliox  the Teliox.exe to start (default build/win32/sim-demo/Teliox.exe: the sim Hidmar.dll
#             beside it opens a handset without hardware, so the bridge attaches to the client)
#   --prefix  the Wine prefix (default /tmp/teliox-dispatch-prefix, made on first use); its
#             wineserver is ended when the script ends
# Runs on DISPLAY or a private Xvfb.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
WIN32=$ROOT/build/win32
presses=200
prefix=/tmp/teliox-dispatch-prefix
teliox=$WIN32/sim-demo/Teliox.exe
while [ $# -gt 0 ]; do
  case "$1" in
    --teliox) teliox=${2:?}; shift 2 ;;
    --prefix) prefix=${2:?}; shift 2 ;;
    -h|--help) sed -n '2,13p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) echo "dispatch-latency.sh: unknown option $1" >&2; exit 2 ;;
    *) presses=$1; shift ;;
  esac
done
probe=$WIN32/tests/e2e/dispatch_latency_probe.exe
for f in "$probe" "$teliox"; do
  [ -f "$f" ] || { echo "dispatch-latency.sh: $f is missing (build the win32 preset)" >&2; exit 2; }
done

. "$ROOT/tools/wine-session.sh"
wine_session "$prefix" || exit 1

timeout 900 wine "$probe" "$presses" "$(winepath -w "$teliox")" | tr -d '\r'
