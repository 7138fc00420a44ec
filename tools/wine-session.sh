# Sourced by the measuring tools that run programs in a Wine prefix of their own.
# wine_session PREFIX: exports the Wine settings for PREFIX (32-bit, quiet, no Mono or Gecko),
# starts a private Xvfb when there is no display, makes the prefix if it is missing, and on exit
# ends the prefix's wineserver and the Xvfb.
. "$(dirname "${BASH_SOURCE[0]}")/xvfb.sh"
wine_session_end() {
  timeout 30 wineserver -k 2>/dev/null || true
  xvfb_stop
}
wine_session() {
  export WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  export WINEPREFIX=$1
  trap wine_session_end EXIT
  xvfb_start || return 1
  "$(dirname "${BASH_SOURCE[0]}")/wine-prefix.sh" "$1" >/dev/null
}
