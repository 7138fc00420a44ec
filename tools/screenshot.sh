#!/bin/bash
# Screenshot of a program's windows: starts it, waits, grabs the whole screen, ends it.
# Usage: tools/screenshot.sh [-d SECONDS] OUT.png -- COMMAND [ARGS...]
# The wait defaults to 3 s (or SCREENSHOT_DELAY). Without a DISPLAY a private Xvfb is started
# for the shot and stopped afterwards.
set -euo pipefail

delay=${SCREENSHOT_DELAY:-3}
if [ "${1:-}" = "-d" ]; then
  delay=$2
  shift 2
fi
out=${1:?usage: screenshot.sh [-d SECONDS] OUT.png -- COMMAND...}
shift
[ "${1:-}" = "--" ] && shift
[ $# -gt 0 ] || { echo "screenshot.sh: no command given" >&2; exit 2; }

xvfb_pid=
program_pid=
cleanup() {
  if [ -n "$program_pid" ] && kill -0 "$program_pid" 2>/dev/null; then
    kill "$program_pid" 2>/dev/null || true
    for _ in 1 2 3 4 5 6 7 8 9 10; do kill -0 "$program_pid" 2>/dev/null || break; sleep 0.5; done
    kill -9 "$program_pid" 2>/dev/null || true
  fi
  [ -n "$program_pid" ] && wait "$program_pid" 2>/dev/null || true
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
}
trap cleanup EXIT

if [ -z "${DISPLAY:-}" ]; then
  # First display number with neither a lock file nor a socket.
  number=90
  while [ -e "/tmp/.X$number-lock" ] || [ -e "/tmp/.X11-unix/X$number" ]; do number=$((number + 1)); done
  Xvfb ":$number" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$number" ] && break; sleep 0.1; done
  [ -e "/tmp/.X11-unix/X$number" ] || { echo "screenshot.sh: Xvfb :$number did not start" >&2; exit 1; }
  export DISPLAY=":$number"
fi

"$@" &
program_pid=$!
sleep "$delay"
if ! kill -0 "$program_pid" 2>/dev/null; then
  echo "screenshot.sh: the program ended before the screenshot" >&2
  exit 1
fi
mkdir -p "$(dirname "$out")"
import -window root "$out"
echo "screenshot.sh: wrote $out"
