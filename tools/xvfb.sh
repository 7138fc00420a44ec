# Sourced by the tools that need a display. xvfb_start [SIZE]: when DISPLAY is not set, starts a
# private Xvfb on the first display number from 90 with neither a lock file nor a socket, waits
# for it and exports DISPLAY. xvfb_stop: ends the Xvfb that xvfb_start started, if any.
XVFB_PID=
xvfb_start() {
  [ -n "${DISPLAY:-}" ] && return 0
  local number=90
  while [ -e "/tmp/.X$number-lock" ] || [ -e "/tmp/.X11-unix/X$number" ]; do number=$((number + 1)); done
  Xvfb ":$number" -screen 0 "${1:-1280x800x24}" -nolisten tcp >/dev/null 2>&1 &
  XVFB_PID=$!
  for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$number" ] && break; sleep 0.1; done
  [ -e "/tmp/.X11-unix/X$number" ] || { echo "Xvfb :$number did not start" >&2; return 1; }
  export DISPLAY=":$number"
}
xvfb_stop() {
  [ -n "$XVFB_PID" ] || return 0
  kill "$XVFB_PID" 2>/dev/null || true
  wait "$XVFB_PID" 2>/dev/null || true
  XVFB_PID=
}
