#!/bin/sh
# Creates a 32-bit Wine prefix ready for the programs and their tests: initialised once, with
# FontLink entries so the dialog fonts fall back to a Chinese face instead of empty boxes.
# Usage: tools/wine-prefix.sh PREFIX   (safe to call again: a marker file skips finished work)
set -eu

prefix=${1:?usage: wine-prefix.sh PREFIX}
mkdir -p "$prefix"
prefix=$(cd "$prefix" && pwd)
marker="$prefix/.teliox-prefix-ready"

# Serialise concurrent callers on the same prefix.
exec 9>"$prefix/.teliox-prefix-lock"
flock 9
[ -f "$marker" ] && exit 0

export WINEPREFIX="$prefix" WINEARCH=win32
export WINEDEBUG="${WINEDEBUG:--all}" WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"

timeout 300 wineboot -i
timeout 300 wineserver -w

link='HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink'
for face in 'Tahoma' 'Microsoft Sans Serif'; do
  timeout 60 wine reg add "$link" /v "$face" /t REG_MULTI_SZ /d 'wqy-microhei.ttc,WenQuanYi Micro Hei' /f >/dev/null
done
timeout 60 wineserver -w

touch "$marker"
