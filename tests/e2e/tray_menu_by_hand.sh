#!/bin/bash
# Teliox's tray menu used as a person uses it: Teliox.exe from the sim-demo folder (the sim
# Hidmar.dll, so the handset is present and the ring and volume items are enabled) runs in a
# Wine virtual desktop with a taskbar, and xdotool right-clicks its tray icon, clicks menu items
# and presses Escape and Enter in the dialogs. Checked on the Windows side by tray_drive_probe:
# the language switch (registry value, tray tooltip, the next menu's width and dialog titles),
# each dialog appearing and going, and Close ending the program with code 0 and its icon gone.
#
# Usage: tray_menu_by_hand.sh PROBE_EXE SIM_FOLDER   (CTest passes both; needs WINEPREFIX and
# DISPLAY, as the run script sets them). Leaves the prefix's Teliox settings as it found them.
set -uo pipefail

PROBE=${1:?usage: tray_menu_by_hand.sh PROBE_EXE SIM_FOLDER}
SIM=${2:?usage: tray_menu_by_hand.sh PROBE_EXE SIM_FOLDER}
: "${WINEPREFIX:?WINEPREFIX is not set}" "${DISPLAY:?DISPLAY is not set}"
export WINEARCH=win32 WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
for tool in xdotool wine; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool is not installed" >&2; exit 1; }
done

T0=$(date +%s%N)
elapsed() { printf '%d.%01d s' $((($(date +%s%N) - T0) / 1000000000)) $((($(date +%s%N) - T0) / 100000000 % 10)); }
say() { printf '[%s] %s\n' "$(elapsed)" "$*"; }

winpath() { local p; p=$(realpath "$1"); printf 'Z:%s' "${p//\//\\}"; }
PROBE_W=$(winpath "$PROBE")
SIM_W=$(winpath "$SIM")
NAME=TelioxTrayByHand
# The desktop fits the screen, so every point in it can be reached.
read -r screen_w screen_h < <(xdotool getdisplaygeometry)
DESKTOP="/desktop=$NAME,$((screen_w < 1280 ? screen_w : 1280))x$((screen_h < 800 ? screen_h : 800))"
WORK=$(mktemp -d "${TMPDIR:-/tmp}/tray-by-hand.XXXXXX")
KEY='HKCU\SOFTWARE\VORLANE\TELIOX\Teliox'
REGISTER='HKCU\SOFTWARE\VORLANE\AUDIO_MANAGER\REGISTER'

fail() {
  echo "FAIL: $*" >&2
  [ -s "$WORK/info" ] && { echo "last seen in the desktop:"; cat "$WORK/info"; } >&2
  exit 1
}

# probe ARGS...: runs tray_drive_probe inside the test's desktop (only there does it see the
# desktop's windows) and prints its output; the launcher may return before the probe has written.
probe() {
  local out=$WORK/probe.out
  timeout 30 wine explorer "$DESKTOP" "$PROBE_W" "$@" >"$out" 2>&1 </dev/null
  for _ in $(seq 100); do grep -q '^end' "$out" && break; sleep 0.05; done
  tr -d '\r' <"$out" | sed '/^end$/d'
}
info() { probe info >"$WORK/info.new"; mv "$WORK/info.new" "$WORK/info"; cat "$WORK/info"; }

# until_true SECONDS WHAT COMMAND...: polls COMMAND until it succeeds, failing after SECONDS.
until_true() {
  local seconds=$1 what=$2 deadline
  shift 2
  deadline=$(($(date +%s) + seconds))
  until "$@"; do
    [ "$(date +%s)" -ge $deadline ] && fail "$what: not within $seconds s"
    sleep 0.1
  done
}

language_is() {
  [ "$(timeout 30 wine reg query "$KEY" /v LANGUAGE 2>/dev/null </dev/null | tr -d '\r' | sed -n 's/.*REG_DWORD *0x//p')" = "$1" ]
}

# --- cleanup: only what this test started ----------------------------------------------------
DESKTOP_JOB=
KEY_EXISTED=
cleanup() {
  local rc=$?
  trap - EXIT INT TERM
  if [ -n "$DESKTOP_JOB" ] && kill -0 "$DESKTOP_JOB" 2>/dev/null; then
    local pid
    pid=$(tr -d '\r' <"$WORK/run.out" | sed -n 's/^started //p')
    [ -n "$pid" ] && ! grep -q '^exit' "$WORK/run.out" && probe stop "$pid" >/dev/null
    # The desktop ends by itself about a second after the last program in it.
    for _ in $(seq 100); do kill -0 "$DESKTOP_JOB" 2>/dev/null || break; sleep 0.1; done
    if kill -0 "$DESKTOP_JOB" 2>/dev/null; then
      probe end-desktop >/dev/null
      for _ in $(seq 50); do kill -0 "$DESKTOP_JOB" 2>/dev/null || break; sleep 0.1; done
      kill "$DESKTOP_JOB" 2>/dev/null
    fi
    wait "$DESKTOP_JOB" 2>/dev/null
  fi
  [ -n "$KEY_EXISTED" ] && restore_settings
  rm -rf "$WORK"
  exit $rc
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# --- the prefix's settings, restored at the end ----------------------------------------------
reg_snapshot() { timeout 30 wine reg query "$KEY" 2>/dev/null </dev/null | tr -d '\r' | grep -E '^    .*    REG_'; }
SAVED=$WORK/settings.before
reg_snapshot >"$SAVED"
registration() { timeout 30 wine reg query "$REGISTER" /v Teliox 2>/dev/null </dev/null | tr -d '\r' | sed -n 's/^    Teliox    REG_DWORD    //p'; }
REGISTERED_BEFORE=$(registration)
# Set last: from here on the cleanup restores.
if timeout 30 wine reg query "$KEY" >/dev/null 2>&1 </dev/null; then KEY_EXISTED=1; else KEY_EXISTED=0; fi
restore_settings() {
  # Teliox.exe removes a registration on Close (also one left by an earlier run), and one ended
  # by force leaves its own behind.
  local now_registered
  now_registered=$(registration)
  if [ "$now_registered" != "$REGISTERED_BEFORE" ]; then
    if [ -n "$REGISTERED_BEFORE" ]; then
      timeout 30 wine reg add "$REGISTER" /v Teliox /t REG_DWORD /d "$REGISTERED_BEFORE" /f >/dev/null 2>&1 </dev/null
    else
      timeout 30 wine reg delete "$REGISTER" /v Teliox /f >/dev/null 2>&1 </dev/null
    fi
  fi
  if [ $KEY_EXISTED -eq 0 ]; then
    timeout 30 wine reg delete "$KEY" /f >/dev/null 2>&1 </dev/null
    return
  fi
  local now=$WORK/settings.after line name type data
  reg_snapshot >"$now"
  cmp -s "$SAVED" "$now" && return
  while IFS= read -r line; do
    grep -qxF -- "$line" "$now" && continue
    [[ $line =~ ^\ \ \ \ (.*)\ \ \ \ (REG_[A-Z_]+)\ \ \ \ (.*)$ ]] || continue
    name=${BASH_REMATCH[1]} type=${BASH_REMATCH[2]} data=${BASH_REMATCH[3]}
    timeout 30 wine reg add "$KEY" /v "$name" /t "$type" /d "$data" /f >/dev/null 2>&1 </dev/null
  done <"$SAVED"
  while IFS= read -r line; do
    [[ $line =~ ^\ \ \ \ (.*)\ \ \ \ REG_ ]] || continue
    name=${BASH_REMATCH[1]}
    grep -qE "^    $(printf '%s' "$name" | sed 's/[][\.*^$]/\\&/g')    REG_" "$SAVED" ||
      timeout 30 wine reg delete "$KEY" /v "$name" /f >/dev/null 2>&1 </dev/null
  done <"$now"
}

# --- start: Traditional Chinese, as stored ---------------------------------------------------
timeout 30 wine reg add "$KEY" /v LANGUAGE /t REG_DWORD /d 2 /f >/dev/null 2>&1 </dev/null ||
  fail "could not write LANGUAGE"
: >"$WORK/run.out"
timeout 300 wine explorer "$DESKTOP" "$PROBE_W" run "$SIM_W" "$SIM_W\\Teliox.exe" >"$WORK/run.out" 2>&1 </dev/null &
DESKTOP_JOB=$!

desktop_window() { DESKTOP_X=$(xdotool search --name "^$NAME - Wine desktop\$" 2>/dev/null | head -1); [ -n "$DESKTOP_X" ]; }
until_true 30 "the Wine desktop window" desktop_window
until_true 30 "Teliox.exe starting" grep -q '^started' "$WORK/run.out"
TELIOX_PID=$(tr -d '\r' <"$WORK/run.out" | sed -n 's/^started //p')
teliox_up() {
  grep -q '^exit' "$WORK/run.out" &&
    fail "Teliox.exe ended at once ($(tr -d '\r' <"$WORK/run.out" | grep '^exit')): is another one running in this prefix?"
  info >/dev/null
  MAIN=$(sed -n 's/^main //p' "$WORK/info")
  [ -n "$MAIN" ] && grep -q '^taskbar ' "$WORK/info"
}
until_true 30 "Teliox's hidden main window and the taskbar" teliox_up
[ "$(probe icon "$MAIN")" = "icon present" ] || fail "the tray holds no icon of Teliox's window"
IFS=, read -r _ bar_top bar_right bar_bottom < <(sed -n 's/^taskbar //p' "$WORK/info")
# Wine's taskbar draws the tray icons from its right end; Teliox's is the only one.
ICON_X=$((bar_right - 10)) ICON_Y=$(((bar_top + bar_bottom) / 2))
# Keys go to the window under the pointer inside the desktop's window.
timeout 5 xdotool windowfocus --sync "$DESKTOP_X" 2>/dev/null
say "Teliox.exe is up, its tray icon at $ICON_X,$ICON_Y"

# --- driving ---------------------------------------------------------------------------------
point() { xdotool mousemove --window "$DESKTOP_X" "$1" "$2"; }
menus() { info | sed -n 's/^menu //p'; }
no_menu() { [ -z "$(menus)" ]; }

# tooltip_says REGEX: the tip shown while the pointer rests on the icon matches.
tooltip_says() {
  point 1000 200
  point "$ICON_X" "$ICON_Y"
  local tip
  for _ in $(seq 8); do
    tip=$(info | sed -n 's/^tooltip text=//p')
    [ -n "$tip" ] && break
    sleep 0.1
  done
  TIP=$tip
  [[ $tip =~ $1 ]]
}

# open_menu: right-clicks the icon; MAIN_L/T/R/B: the menu's rectangle.
open_menu() {
  until_true 5 "no menu open before the right-click" no_menu
  point "$ICON_X" "$ICON_Y"
  xdotool click 3
  local one=
  one_menu() { one=$(menus); [ "$(wc -l <<<"$one")" -eq 1 ] && [ -n "$one" ]; }
  until_true 10 "the tray menu after a right-click on the icon" one_menu
  IFS=, read -r MAIN_L MAIN_T MAIN_R MAIN_B <<<"$one"
}

# hover_for_submenu Y: rests the pointer on the main menu's row at Y; SUB_L/T/R/B: the submenu.
hover_for_submenu() {
  point $((MAIN_L + 12)) "$1"
  local sub=
  submenu() { sub=$(menus | grep -vx "$MAIN_L,$MAIN_T,$MAIN_R,$MAIN_B" | head -1); [ -n "$sub" ]; }
  until_true 10 "a submenu from the row at y=$1" submenu
  IFS=, read -r SUB_L SUB_T SUB_R SUB_B <<<"$sub"
}

# Rows are equally high and inside a 3-pixel border; ROW_H is measured on the Settings submenu.
BORDER=3
ROW_H=
row_y() { echo $(($1 + BORDER + ROW_H * $2 + ROW_H / 2)); }  # row_y TOP INDEX
click_sub_row() { point $((SUB_L + 15)) "$(row_y "$SUB_T" "$1")"; xdotool click 1; }

settings_submenu() {  # opens the menu and its Settings submenu
  open_menu
  hover_for_submenu $((MAIN_T + 8))  # inside the first row, whatever its height
  if [ -z "$ROW_H" ]; then
    ROW_H=$(((SUB_B - SUB_T - 2 * BORDER) / 4))
    [ "$ROW_H" -ge 8 ] || fail "the Settings submenu is $((SUB_B - SUB_T)) pixels high: not four rows"
  fi
}
language_submenu() {
  open_menu
  hover_for_submenu "$(row_y "$MAIN_T" 1)"
  [ $((SUB_B - SUB_T)) -gt $((ROW_H * 4 + 2 * BORDER)) ] ||
    fail "the submenu of the second row is not the five-row Language submenu ($SUB_L,$SUB_T,$SUB_R,$SUB_B)"
}

# A visible dialog of Teliox's with exactly that title; DLG_L/T/R/B: its rectangle.
dialog_shows() {
  local rect
  rect=$(info | sed -n "s/^dialog pid=$TELIOX_PID rect=\([-0-9,]*\) title=$(printf '%s' "$1" | sed 's/[.]/\\./g')\$/\1/p" | head -1)
  [ -n "$rect" ] || return 1
  IFS=, read -r DLG_L DLG_T DLG_R DLG_B <<<"$rect"
}
no_dialog() { ! info | grep -q '^dialog '; }

# press_in_dialog KEY TITLE: the pointer on the dialog's caption (keys follow the pointer), a key.
press_in_dialog() {
  point $(((DLG_L + DLG_R) / 2)) $((DLG_T + 8))
  xdotool key "$1"
  until_true 10 "the dialog \"$2\" closing on $1" no_dialog
}

set_language() {  # set_language ROW NUMBER REGEX-OF-THE-TOOLTIP
  language_submenu
  click_sub_row "$1"
  until_true 10 "the menu closing after the language choice" no_menu
  until_true 10 "LANGUAGE becoming $2" language_is "$2"
  until_true 10 "the tray tooltip in the new language" tooltip_says "$3"
}

# The handset is open once the tip reads "連線" (online) for Teliox; the client stays offline.
until_true 20 "the tooltip showing the open handset, in Traditional Chinese" tooltip_says '^Teliox: 連線[|]Tarvo: 離線$'
say "tooltip: \"$TIP\""

# 1. Language > English, and back to Traditional Chinese.
settings_submenu
WIDTH_ZH=$((SUB_R - SUB_L))
xdotool key Escape Escape
set_language 0 1 '^Teliox: Online[|]Tarvo: Offline$'
say "Language > English: LANGUAGE=1, tooltip \"$TIP\""
settings_submenu
WIDTH_EN=$((SUB_R - SUB_L))
[ "$WIDTH_EN" -ne "$WIDTH_ZH" ] ||
  fail "the Settings submenu is $WIDTH_EN pixels wide in both languages: its texts did not change"
click_sub_row 0
until_true 10 "the ring settings dialog in English" dialog_shows "Ring Settings"
press_in_dialog Escape "Ring Settings"
say "the next menu is English (Settings submenu $WIDTH_EN px wide, was $WIDTH_ZH); it opened \"Ring Settings\""
set_language 1 2 '^Teliox: 連線[|]Tarvo: 離線$'
say "Language > Traditional Chinese: LANGUAGE=2, tooltip \"$TIP\""

# 2. The three dialogs, each checked open and closed.
settings_submenu
[ $((SUB_R - SUB_L)) -eq "$WIDTH_ZH" ] || fail "the Settings submenu is not back to its Chinese width"
click_sub_row 0
until_true 10 "the ring settings dialog" dialog_shows "鈴聲設定"
press_in_dialog Escape "鈴聲設定"
say "Settings > ring settings: \"鈴聲設定\" opened, Escape closed it"
settings_submenu
click_sub_row 1
until_true 10 "the volume settings dialog" dialog_shows "音量設定.."
press_in_dialog Return "音量設定.."
say "Settings > volume settings: \"音量設定..\" opened, Enter closed it"
open_menu
# Below the two submenu rows and a separator: the version row; then a separator and Close.
SEP_H=$(((MAIN_B - MAIN_T - 2 * BORDER - 4 * ROW_H) / 2))
point $((MAIN_L + 12)) $((MAIN_B - BORDER - ROW_H - SEP_H - ROW_H / 2))
xdotool click 1
until_true 10 "the version box" dialog_shows "版本資訊"
press_in_dialog Return "版本資訊"
say "Version: \"版本資訊\" opened, Enter closed it"

# 3. Close.
[ "$(probe icon "$MAIN")" = "icon present" ] || fail "Teliox's tray icon went before Close"
open_menu
point $((MAIN_L + 12)) $((MAIN_B - BORDER - ROW_H / 2))
xdotool click 1
until_true 15 "Teliox.exe ending after Close" grep -q '^exit' "$WORK/run.out"
code=$(tr -d '\r' <"$WORK/run.out" | sed -n 's/^exit //p')
[ "$code" = 0 ] || fail "Teliox.exe ended with code $code after Close"
[ "$(probe icon "$MAIN")" = "icon absent" ] || fail "the tray still holds Teliox's icon after it ended"
if info | grep -q '^taskbar '; then taskbar="still shown"; else taskbar="hidden, no icon left"; fi
say "Close: Teliox.exe ended with code 0, its tray icon is gone (taskbar $taskbar)"
say "PASS: the tray menu by hand took $(elapsed)"
