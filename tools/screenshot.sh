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

. "$(dirname "${BASH_SOURCE[0]}")/xvfb.sh"
program_pid=
cleanup() {
  if [ -n "$program_pid" ] && kill -0 "$program_pid" 2>/dev/null; then
    kill "$program_pid" 2>/dev/null || true
    for _ in 1 2 3 4 5 6 7 8 9 10; do kill -0 "$program_pid" 2>/dev/null || break; sleep 0.5; done
    kill -9 "$program_pid" 2>/dev/null || true
  fi
  [ -n "$program_pid" ] && wait "$program_pid" 2>/dev/null || true
  xvfb_stop
}
trap cleanup EXIT

xvfb_start || exit 1

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
