#!/bin/bash
# The CPU a Windows program costs at rest under Wine: starts it, lets it settle, then reads the
# CPU time (utime + stime, every thread) of its process and of the wineserver from /proc over a
# measured span, and prints both as a share of one core.
#
# Usage: tools/idle-cost.sh [--settle SECONDS] [--seconds SECONDS] [--prefix DIR] [PROGRAM.exe]
#   PROGRAM.exe  defaults to build/win32/bridge/Teliox.exe, beside which lies the real Hidmar.dll:
#                with no handset under Wine, that is the program at rest
#   --settle     time from the start to the first reading (default 20)
#   --seconds    the measured span (default 60)
#   --prefix     the Wine prefix (default: a private one in /tmp, made on first use). A prefix
#                of its own keeps other programs out of the wineserver's figure, and keeps the
#                program's single-instance mutex from meeting a copy that tests start meanwhile.
# Needs a display: uses DISPLAY, else starts a private Xvfb for the run.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
settle=20
seconds=60
prefix=/tmp/teliox-idle-prefix
program=$ROOT/build/win32/bridge/Teliox.exe
while [ $# -gt 0 ]; do
  case "$1" in
    --settle) settle=${2:?}; shift 2 ;;
    --seconds) seconds=${2:?}; shift 2 ;;
    --prefix) prefix=${2:?}; shift 2 ;;
    -h|--help) sed -n '2,15p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) echo "idle-cost.sh: unknown option $1" >&2; exit 2 ;;
    *) program=$1; shift ;;
  esac
done
[ -f "$program" ] || { echo "idle-cost.sh: no program at $program" >&2; exit 2; }
program=$(cd "$(dirname "$program")" && pwd)/$(basename "$program")

export WINEPREFIX=$prefix WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

. "$ROOT/tools/xvfb.sh"
program_pid=
cleanup() {
  if [ -n "$program_pid" ] && kill -0 "$program_pid" 2>/dev/null; then
    kill "$program_pid" 2>/dev/null || true
    wait "$program_pid" 2>/dev/null || true
  fi
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

# The program's folder as its working folder, as Explorer would start it. Wine runs the program
# in the process it was started as.
cd "$(dirname "$program")"
wine "$program" >/dev/null 2>&1 </dev/null &
program_pid=$!
name=$(basename "$program")
for _ in $(seq 100); do
  [ "$(cat "/proc/$program_pid/comm" 2>/dev/null)" = "${name:0:15}" ] && break
  sleep 0.1
done
[ "$(cat "/proc/$program_pid/comm" 2>/dev/null)" = "${name:0:15}" ] || { echo "idle-cost.sh: $name did not start" >&2; exit 1; }

sleep "$settle"
server=$(server_pid)
[ -n "$server" ] || { echo "idle-cost.sh: no wineserver found for $prefix" >&2; exit 1; }
program_start=$(cpu_ticks "$program_pid")
server_start=$(cpu_ticks "$server")
sleeps_start=$(sleeps "$program_pid")
[ -n "$program_start" ] || { echo "idle-cost.sh: $name ended while settling (another copy running?)" >&2; exit 1; }
sleep "$seconds"
program_end=$(cpu_ticks "$program_pid")
server_end=$(cpu_ticks "$server")
sleeps_end=$(sleeps "$program_pid")
[ -n "$program_end" ] || { echo "idle-cost.sh: $name ended during the measurement" >&2; exit 1; }

hz=$(getconf CLK_TCK)
report() {
  local label=$1 ticks=$2
  awk -v label="$label" -v t="$ticks" -v hz="$hz" -v s="$seconds" \
    'BEGIN { ms = t * 1000 / hz; printf "%-12s %6.0f ms CPU in %d s = %.2f %% of one core\n", label, ms, s, ms / (s * 10) }'
}
report "$name" $((program_end - program_start))
report wineserver $((server_end - server_start))
echo "$name threads woke $(((sleeps_end - sleeps_start) / seconds)) times a second"
