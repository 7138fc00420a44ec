#!/bin/bash
# The CPU a Windows program costs at rest under Wine: starts it, lets it settle, then reads the
# CPU time (utime + stime, every thread) of its process and of the wineserver from /proc over a
# measured span, and prints both as a share of one core, with how often the process's threads
# woke.
#
# Usage: tools/idle-cost.sh [--device] [--manager DIR] [--settle SECONDS] [--seconds SECONDS]
#                           [--prefix DIR] [PROGRAM.exe]
#   PROGRAM.exe  defaults to build/win32/bridge/Teliox.exe, beside which lies the real Hidmar.dll:
#                with no handset under Wine, that is the program at rest
#   --device     with the handset plugged and open: handset-sim.exe --device from the program's
#                folder installs the virtual handset device and feeds it before the program
#                starts (PROGRAM.exe then defaults to build/win32/device-demo/Teliox.exe, the real
#                Hidmar.dll beside it). The feeder is measured too; Wine's driver host is not.
#   --manager DIR  puts SNDWD.exe, Sonvane.dll and the Swd_*.dll of DIR into the prefix's
#                "Common Files\VL", where Teliox.exe starts the manager from, and measures
#                SNDWD.exe as well (its real audio library meets the ALSA null device of
#                tests/e2e/alsa-null.conf)
#   --settle     time from the start to the first reading (default 20)
#   --seconds    the measured span (default 60)
#   --prefix     the Wine prefix (default: a private one in /tmp, made on first use). A prefix
#                of its own keeps other programs out of the wineserver's figure, and keeps the
#                program's single-instance mutex from meeting a copy that tests start meanwhile.
#                Its wineserver is ended when the script ends.
# Needs a display: uses DISPLAY, else starts a private Xvfb for the run.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
settle=20
seconds=60
prefix=/tmp/teliox-idle-prefix
program=
device=0
manager=
while [ $# -gt 0 ]; do
  case "$1" in
    --settle) settle=${2:?}; shift 2 ;;
    --seconds) seconds=${2:?}; shift 2 ;;
    --prefix) prefix=${2:?}; shift 2 ;;
    --device) device=1; shift ;;
    --manager) manager=${2:?}; shift 2 ;;
    -h|--help) sed -n '2,25p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) echo "idle-cost.sh: unknown option $1" >&2; exit 2 ;;
    *) program=$1; shift ;;
  esac
done
if [ -z "$program" ]; then
  program=$ROOT/build/win32/bridge/Teliox.exe
  [ $device -eq 1 ] && program=$ROOT/build/win32/device-demo/Teliox.exe
fi
[ -f "$program" ] || { echo "idle-cost.sh: no program at $program" >&2; exit 2; }
program=$(cd "$(dirname "$program")" && pwd)/$(basename "$program")
folder=$(dirname "$program")
if [ $device -eq 1 ]; then
  for f in handset-sim.exe TelioxVHandset.sys TelioxVHandset.inf; do
    [ -f "$folder/$f" ] || { echo "idle-cost.sh: --device needs $f beside the program" >&2; exit 2; }
  done
fi
if [ -n "$manager" ]; then
  manager=$(cd "$manager" && pwd)
  [ -f "$manager/SNDWD.exe" ] && [ -f "$manager/Sonvane.dll" ] ||
    { echo "idle-cost.sh: no SNDWD.exe with its Sonvane.dll in $manager" >&2; exit 2; }
  export ALSA_CONFIG_PATH=$ROOT/tests/e2e/alsa-null.conf
fi

export WINEPREFIX=$prefix WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

. "$ROOT/tools/wine-session.sh"  # xvfb_start, wine_start
pids=()
names=()
cleanup() {
  local p
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
  timeout 20 wineserver -k 2>/dev/null || true
  xvfb_stop
}
trap cleanup EXIT

xvfb_start || exit 1

"$ROOT/tools/wine-prefix.sh" "$prefix"

# CPU time of a process in clock ticks, all its threads; empty once it has ended.
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat" 2>/dev/null || true; }
# How often its threads went to sleep of their own accord: one per wake-up at rest.
sleeps() { cat "/proc/$1"/task/*/status 2>/dev/null | awk '/^voluntary_ctxt_switches/ { n += $2 } END { print n + 0 }'; }

# The server of this prefix runs in /tmp/<the name the prefix's "wineserver" file holds>/
# server-<device>-<inode of the prefix>, in hexadecimal.
server_dir() {
  local tmp
  tmp=$(cat "$prefix/wineserver" 2>/dev/null) || return 0
  printf '/tmp/%s/server-%x-%x' "$tmp" "$((16#$(stat -c %D "$prefix")))" "$(stat -c %i "$prefix")"
}
server_pid() {
  local dir p
  dir=$(server_dir)
  [ -n "$dir" ] || return 0
  for p in /proc/[0-9]*; do
    case "$(cat "$p/comm" 2>/dev/null)" in
      wineserver*) [ "$(readlink "$p/cwd" 2>/dev/null)" = "$dir" ] && { basename "$p"; return 0; } ;;
    esac
  done
}
# A process of this prefix by its name (a program another one started).
prefix_pid() {
  local p
  for p in /proc/[0-9]*; do
    [ "$(cat "$p/comm" 2>/dev/null)" = "${1:0:15}" ] || continue
    tr '\0' '\n' <"$p/environ" 2>/dev/null | grep -qx "WINEPREFIX=$prefix" && { basename "$p"; return 0; }
  done
}

start() {
  names+=("$(basename "$1")")
  wine_start "$@" || { echo "idle-cost.sh: ${names[-1]} did not start" >&2; exit 1; }
}

if [ -n "$manager" ]; then
  vl="$prefix/drive_c/Program Files/Common Files/VL"
  mkdir -p "$vl"
  cp "$manager/SNDWD.exe" "$manager/Sonvane.dll" "$vl/"
  cp "$manager"/Swd_*.dll "$vl/" 2>/dev/null || true
fi
if [ $device -eq 1 ]; then
  # The feeder first: it installs the device, which the program then finds like a USB handset.
  start "$folder/handset-sim.exe" --device
  timeout 60 wine "$folder/handset-sim.exe" --connect-timeout 30000 --timeout 30000 --wait-state plugged=1 >/dev/null
fi
start "$program"
name=$(basename "$program")
if [ $device -eq 1 ]; then
  timeout 60 wine "$folder/handset-sim.exe" --connect-timeout 30000 --timeout 30000 --wait-state opened=1 >/dev/null ||
    { echo "idle-cost.sh: $name did not open the handset" >&2; exit 1; }
fi

sleep "$settle"
if [ -n "$manager" ]; then
  p=$(prefix_pid SNDWD.exe)
  [ -n "$p" ] || { echo "idle-cost.sh: SNDWD.exe is not running" >&2; exit 1; }
  pids+=("$p")
  names+=(SNDWD.exe)
fi
server=$(server_pid)
[ -n "$server" ] || { echo "idle-cost.sh: no wineserver found for $prefix" >&2; exit 1; }
declare -a cpu0 sl0
for i in "${!pids[@]}"; do
  cpu0[i]=$(cpu_ticks "${pids[i]}")
  sl0[i]=$(sleeps "${pids[i]}")
  [ -n "${cpu0[i]}" ] || { echo "idle-cost.sh: ${names[i]} ended while settling (another copy running?)" >&2; exit 1; }
done
server0=$(cpu_ticks "$server")
sleep "$seconds"
server1=$(cpu_ticks "$server")

hz=$(getconf CLK_TCK)
report() {
  awk -v label="$1" -v t="$2" -v hz="$hz" -v s="$seconds" -v w="${3:-}" \
    'BEGIN { ms = t * 1000 / hz; printf "%-16s %6.0f ms CPU in %d s = %.2f %% of one core", label, ms, s, ms / (s * 10);
             if (w != "") printf ", %d wake-ups a second", w; printf "\n" }'
}
for i in "${!pids[@]}"; do
  cpu1=$(cpu_ticks "${pids[i]}")
  [ -n "$cpu1" ] || { echo "idle-cost.sh: ${names[i]} ended during the measurement" >&2; exit 1; }
  report "${names[i]}" $((cpu1 - cpu0[i])) $((($(sleeps "${pids[i]}") - sl0[i]) / seconds))
done
report wineserver $((server1 - server0))
