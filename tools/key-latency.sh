#!/bin/bash
# Key press at the handset simulator to client command at the softphone simulator, through the
# real Hidmar.dll on the virtual HID device and through the sim Hidmar.dll, each over PRESSES
# presses of the client key (tests/e2e/KeyLatencyProbe.cpp says what the figure holds).
#
# Usage: tools/key-latency.sh [PRESSES]      (default 100; needs the win32 build)
# Runs in a prefix of its own (a copy of build/wine), on DISPLAY or a private Xvfb.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
WIN32=$ROOT/build/win32
presses=${1:-100}
prefix=/tmp/teliox-key-latency-prefix
probe=$WIN32/tests/e2e/key_latency_probe.exe
for f in "$probe" "$WIN32/device-demo/Teliox.exe" "$WIN32/sim-demo/Teliox.exe"; do
  [ -f "$f" ] || { echo "key-latency.sh: $f is missing (build the win32 preset)" >&2; exit 2; }
done

. "$ROOT/tools/wine-session.sh"
wine_session "$prefix" || exit 1

handset_pipe='\\.\pipe\teliox-key-latency-handset'
client_pipe='\\.\pipe\teliox-key-latency-client'
export HIDMAR_SIM_PIPE=$handset_pipe

measure() {  # measure FOLDER [--device]
  local folder=$1 device=${2:-}
  timeout 20 wineserver -k 2>/dev/null || true
  (cd "$folder" && exec wine softphone-sim.exe --pipe "$client_pipe" >/dev/null 2>&1 </dev/null) &
  if [ -n "$device" ]; then
    (cd "$folder" && exec wine handset-sim.exe --device --pipe "$handset_pipe" >/dev/null 2>&1 </dev/null) &
    timeout 60 wine "$folder/handset-sim.exe" --pipe "$handset_pipe" --connect-timeout 30000 --timeout 30000 \
      --wait-state plugged=1 >/dev/null
  fi
  (cd "$folder" && exec wine Teliox.exe >/dev/null 2>&1 </dev/null) &
  timeout 60 wine "$folder/handset-sim.exe" --pipe "$handset_pipe" --connect-timeout 30000 --timeout 30000 \
    --wait-state "tone=E6-EA-14-19-14" >/dev/null
  timeout 600 wine "$probe" "$presses" "$handset_pipe" "$client_pipe" | tr -d '\r' | tail -1
}

printf 'real Hidmar.dll, virtual HID device: '
measure "$WIN32/device-demo" --device
printf 'sim Hidmar.dll:                      '
measure "$WIN32/sim-demo"
