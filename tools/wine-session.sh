# Sourced by the measuring tools that run programs in a Wine prefix of their own.
# wine_session PREFIX: exports the Wine settings for PREFIX (32-bit, quiet, no Mono or Gecko),
# starts a private Xvfb when there is no display, makes the prefix if it is missing, and on exit
# ends the prefix's wineserver and the Xvfb.
. "$(dirname "${BASH_SOURCE[0]}")/xvfb.sh"
wine_session_end() {
  timeout 30 wineserver -k 2>/dev/null || true
  xvfb_stop
}
# wine_start PROGRAM [ARGS...]: starts a program from its folder, as Explorer would (Wine runs it
# in the process it was started as), adds its pid to the caller's `pids` array and waits up to
# 10 s for that process to carry the program's name; false when it does not.
wine_start() {
  local program=$1 name
  shift
  (cd "$(dirname "$program")" && exec wine "$program" "$@" >/dev/null 2>&1 </dev/null) &
  pids+=($!)
  name=$(basename "$program")
  for _ in $(seq 100); do
    [ "$(cat "/proc/${pids[-1]}/comm" 2>/dev/null)" = "${name:0:15}" ] && return 0
    sleep 0.1
  done
  return 1
}
wine_session() {
  export WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  export WINEPREFIX=$1
  trap wine_session_end EXIT
  xvfb_start || return 1
  "$(dirname "${BASH_SOURCE[0]}")/wine-prefix.sh" "$1" >/dev/null
}
