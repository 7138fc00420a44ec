#!/bin/bash
# The CPU and memory the simulated demo costs at rest under Wine: Teliox.exe with the sim
# Hidmar.dll, handset-sim.exe's window, softphone-sim.exe's window and the sim SNDWD.exe, all
# idle, in one Wine prefix of their own. Reads the CPU time (utime + stime, every thread) of each
# process and of the wineserver from /proc over the measured span, and each process's resident
# memory at the start and the end of it.
#
# Usage: tools/sim-idle-cost.sh [--device] [--settle SECONDS] [--seconds SECONDS] [--every SECONDS]
#                               [--prefix DIR] [--dir DIR]
#   --device   Teliox.exe with the real Hidmar.dll on the virtual HID device, fed by handset-sim.exe
#              --device (from build/win32/device-demo) instead of the sim Hidmar.dll
#   --dir      the folder with Teliox.exe, the sim Hidmar.dll, handset-sim.exe and softphone-sim.exe
#              (default build/win32/sim-demo); SNDWD.exe comes from build/win32/sndwd-sim
#   --settle   time from the start to the first reading (default 20)
#   --seconds  the measured span (default 60); a long span (600) shows the memory's growth
#   --every    also print every process's resident memory at this interval during the span
#   --prefix   the Wine prefix (default /tmp/teliox-sim-idle-prefix, made on first use)
# Needs a display: uses DISPLAY, else starts a private Xvfb for the run.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
settle=20
seconds=60
every=0
device=0
prefix=/tmp/teliox-sim-idle-prefix
dir=$ROOT/build/win32/sim-demo
sndwd=$ROOT/build/win32/sndwd-sim/SNDWD.exe
while [ $# -gt 0 ]; do
  case "$1" in
    --settle) settle=${2:?}; shift 2 ;;
    --seconds) seconds=${2:?}; shift 2 ;;
    --prefix) prefix=${2:?}; shift 2 ;;
    --every) every=${2:?}; shift 2 ;;
    --dir) dir=${2:?}; shift 2 ;;
    --device) device=1; [ "$dir" = "$ROOT/build/win32/sim-demo" ] && dir=$ROOT/build/win32/device-demo; shift ;;
    -h|--help) sed -n '2,19p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "sim-idle-cost.sh: unknown argument $1" >&2; exit 2 ;;
  esac
done
dir=$(cd "$dir" && pwd)
for f in Teliox.exe Hidmar.dll handset-sim.exe softphone-sim.exe; do
  [ -f "$dir/$f" ] || { echo "sim-idle-cost.sh: no $f in $dir" >&2; exit 2; }
done
[ -f "$sndwd" ] || { echo "sim-idle-cost.sh: no $sndwd" >&2; exit 2; }

export WINEPREFIX=$prefix WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

. "$ROOT/tools/wine-session.sh"  # xvfb_start, wine_start
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
  timeout 20 wineserver -k 2>/dev/null || true
  xvfb_stop
}
trap cleanup EXIT

xvfb_start || exit 1

"$ROOT/tools/wine-prefix.sh" "$prefix"

cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat" 2>/dev/null || true; }
rss_kb() { awk '/^VmRSS/ { print $2 }' "/proc/$1/status" 2>/dev/null || true; }
sleeps() { cat "/proc/$1"/task/*/status 2>/dev/null | awk '/^voluntary_ctxt_switches/ { n += $2 } END { print n + 0 }'; }

# The server of this prefix, as tools/idle-cost.sh finds it.
server_pid() {
  local tmp dir p
  tmp=$(cat "$prefix/wineserver" 2>/dev/null) || return 0
  dir=$(printf '/tmp/%s/server-%x-%x' "$tmp" "$((16#$(stat -c %D "$prefix")))" "$(stat -c %i "$prefix")")
  for p in /proc/[0-9]*; do
    case "$(cat "$p/comm" 2>/dev/null)" in
      wineserver*) [ "$(readlink "$p/cwd" 2>/dev/null)" = "$dir" ] && { basename "$p"; return 0; } ;;
    esac
  done
}

start() { wine_start "$@" || { echo "sim-idle-cost.sh: $(basename "$1") did not start" >&2; exit 1; }; }

if [ $device -eq 1 ]; then
  # The feeder first: it installs the device, which Teliox then finds like a USB handset.
  start "$dir/handset-sim.exe" --device
  timeout 60 wine "$dir/handset-sim.exe" --connect-timeout 30000 --timeout 30000 --wait-state plugged=1 >/dev/null
  start "$dir/Teliox.exe"
  names=(handset-sim.exe Teliox.exe)
else
  start "$dir/Teliox.exe"
  start "$dir/handset-sim.exe"
  names=(Teliox.exe handset-sim.exe)
fi
start "$dir/softphone-sim.exe"
start "$sndwd"
names+=(softphone-sim.exe SNDWD.exe)

sleep "$settle"
server=$(server_pid)
[ -n "$server" ] || { echo "sim-idle-cost.sh: no wineserver found for $prefix" >&2; exit 1; }
declare -a cpu0 rss0 sl0
for i in "${!pids[@]}"; do
  cpu0[i]=$(cpu_ticks "${pids[i]}")
  rss0[i]=$(rss_kb "${pids[i]}")
  sl0[i]=$(sleeps "${pids[i]}")
  [ -n "${cpu0[i]}" ] || { echo "sim-idle-cost.sh: ${names[i]} ended while settling" >&2; exit 1; }
done
server0=$(cpu_ticks "$server")
if [ "$every" -gt 0 ]; then
  elapsed=0
  while [ "$elapsed" -lt "$seconds" ]; do
    step=$((seconds - elapsed < every ? seconds - elapsed : every))
    sleep "$step"
    elapsed=$((elapsed + step))
    line="$(printf '%5d s' "$elapsed")"
    for i in "${!pids[@]}"; do line+="  ${names[i]} $(rss_kb "${pids[i]}") kB"; done
    echo "$line"
  done
else
  sleep "$seconds"
fi
server1=$(cpu_ticks "$server")

hz=$(getconf CLK_TCK)
total=0
for i in "${!pids[@]}"; do
  cpu1=$(cpu_ticks "${pids[i]}")
  [ -n "$cpu1" ] || { echo "sim-idle-cost.sh: ${names[i]} ended during the measurement" >&2; exit 1; }
  ticks=$((cpu1 - cpu0[i]))
  total=$((total + ticks))
  awk -v n="${names[i]}" -v t="$ticks" -v hz="$hz" -v s="$seconds" -v r0="${rss0[i]}" -v r1="$(rss_kb "${pids[i]}")" \
    -v w="$((($(sleeps "${pids[i]}") - sl0[i]) / seconds))" \
    'BEGIN { ms = t * 1000 / hz; printf "%-18s %6.0f ms CPU = %5.2f %%  %4d wake-ups/s  RSS %6d -> %6d kB (%+.1f MB an hour)\n", n, ms, ms / (s * 10), w, r0, r1, (r1 - r0) * 3600 / s / 1024 }'
done
ticks=$((server1 - server0))
total=$((total + ticks))
awk -v t="$ticks" -v hz="$hz" -v s="$seconds" 'BEGIN { ms = t * 1000 / hz; printf "%-18s %6.0f ms CPU = %5.2f %%\n", "wineserver", ms, ms / (s * 10) }'
awk -v t="$total" -v hz="$hz" -v s="$seconds" 'BEGIN { ms = t * 1000 / hz; printf "%-18s %6.0f ms CPU in %d s = %5.2f %% of one core\n", "total", ms, s, ms / (s * 10) }'
