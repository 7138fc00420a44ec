#!/bin/bash
# The demonstration behind `./run demo`: Teliox.exe and SNDWD.exe installed in a Wine prefix of
# their own, with the simulated handset and the simulated softphone client as the outside world.
#
# Usage: tools/demo/demo.sh [--interactive] [--sim-hid]   (./run demo builds first, then calls this)
#
# Installs into build/demo-wine (never the tests' build/wine):
#   C:\Program Files\Teliox\                Teliox.exe, TarvoAPIDLL.dll, Hidmar.dll, the five T40*.dll
#   C:\Program Files\Teliox Simulators\     handset-sim.exe, softphone-sim.exe, the virtual handset's
#                                           driver and INF
# By default Teliox runs with the real Hidmar.dll and the handset is the virtual HID device, fed by
# handset-sim --device (which installs it: that is plugging the handset in). --sim-hid runs it with
# the sim Hidmar.dll instead, the handset model inside Teliox.exe.
#   C:\Program Files\Common Files\VL\       SNDWD.exe, the sim Sonvane.dll, the Swd_*.dll, Sonvane-sim.txt
# Everything runs in one Wine virtual desktop ("TelioxDemo", with a taskbar and the tray). The
# default run tells a scripted story, each step driven through the simulators' scripting
# interfaces and confirmed by waiting, with a deadline, for what the programs did; screenshots go
# to out/demo/. --interactive leaves everything running until Enter or Ctrl-C.
#
# Stops only what it started: the demo prefix's own wineserver, and Xvfb if it started one.
# Exit 0 when every step happened, 1 when one did not happen in time, 2 when setting up failed.
set -uo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
BUILD=$ROOT/build
WIN32=$BUILD/win32
OUT=$ROOT/out/demo
WORK=$BUILD/demo
interactive=0
sim_hid=0
for arg in "$@"; do
  case "$arg" in
    --interactive|-i) interactive=1 ;;
    --sim-hid) sim_hid=1 ;;
    *) echo "usage: tools/demo/demo.sh [--interactive] [--sim-hid]" >&2; exit 2 ;;
  esac
done
# The folder the build fills with Teliox.exe and the handset's side: the real library and the
# virtual device, or the sim library.
if [ $sim_hid -eq 1 ]; then FLAVOUR=sim-demo; else FLAVOUR=device-demo; fi

export WINEPREFIX=$BUILD/demo-wine WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# Wine's audio on an ALSA null device: a waveOut and a mixer named "Out: default", which the
# handset's USB audio entries below point at, so the volume keys step a real mixer.
export ALSA_CONFIG_PATH=$ROOT/tests/e2e/alsa-null.conf
# Wine takes its language from the locale's name; no glibc locale is needed (bash's warning hidden).
{ export LC_ALL=en_US.UTF-8; } 2>/dev/null
DESKTOP_NAME=TelioxDemo
DESKTOP=/desktop=$DESKTOP_NAME,1640x900
TELIOX_DIR='C:\Program Files\Teliox'
SIMS_DIR='C:\Program Files\Teliox Simulators'
VL_DIR='C:\Program Files\Common Files\VL'
HANDSET_PIPE='\\.\pipe\hidmar-sim'
CLIENT_PIPE='\\.\pipe\softphone-sim'

# --- narration ------------------------------------------------------------------------------
if [ -t 1 ]; then B=$'\e[1m' G=$'\e[32m' R=$'\e[31m' D=$'\e[2m' N=$'\e[0m'; else B= G= R= D= N=; fi
STEP=0
step() { STEP=$((STEP + 1)); printf '\n%s%2d. %s%s\n' "$B" "$STEP" "$*" "$N"; }
say() { printf '    %s\n' "$*"; }
seen() { printf '    %s✓ %s%s\n' "$G" "$*" "$N"; }
shown() { printf '      %s%-14s│ %s%s\n' "$D" "$1" "$2" "$N"; }
fail() {
  printf '\n%sThe demo stopped: %s%s\n' "$R" "$*" "$N" >&2
  printf 'Logs: %s (handset.log, softphone.log, wine.log)\n' "$WORK" >&2
  exit 1
}
setup_fail() { printf '%sdemo: %s%s\n' "$R" "$*" "$N" >&2; exit 2; }

# --- cleanup: only what this script started -------------------------------------------------
XVFB_PID=
SERVER_UP=
BACKGROUND=()
cleanup() {
  local rc=$?
  trap - EXIT INT TERM
  if [ -n "$SERVER_UP" ]; then
    # Teliox first, the polite way (it removes its registration, and SNDWD ends by itself); then
    # the demo prefix's server ends whatever is left in it.
    helper post Teliox PX_CloseApplication 0xA0 >/dev/null 2>&1
    # Closed, the handset simulator removes its virtual device from the prefix.
    [ $sim_hid -eq 1 ] || helper close "Handset simulator" >/dev/null 2>&1
    sleep 1
    timeout 30 wineserver -k >/dev/null 2>&1
    timeout 30 wineserver -w >/dev/null 2>&1
  fi
  local pid
  for pid in "${BACKGROUND[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${BACKGROUND[@]}"; do wait "$pid" 2>/dev/null; done
  if [ -n "$XVFB_PID" ]; then
    kill "$XVFB_PID" 2>/dev/null
    wait "$XVFB_PID" 2>/dev/null
  fi
  [ $rc -eq 0 ] && printf '\nEverything the demo started has ended.\n'
  exit $rc
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# --- the display ----------------------------------------------------------------------------
if [ -z "${DISPLAY:-}" ]; then
  for n in $(seq 90 140); do
    { [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; } && continue
    Xvfb ":$n" -screen 0 1680x960x24 -nolisten tcp >/dev/null 2>&1 &
    XVFB_PID=$!
    export DISPLAY=":$n"
    for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
    [ -e "/tmp/.X11-unix/X$n" ] || setup_fail "Xvfb did not come up on :$n"
    break
  done
  [ -n "$XVFB_PID" ] || setup_fail "no free display number for Xvfb"
fi

# --- files ----------------------------------------------------------------------------------
device_files=
[ $sim_hid -eq 1 ] || device_files="$FLAVOUR/TelioxVHandset.sys $FLAVOUR/TelioxVHandset.inf"
TELIOX_LANGUAGES="T40ENG_VL.dll T40CHT_VL.dll T40JPN_Qor.dll T40FRA_Bex.dll T40DUT_Bex.dll"
SNDWD_LANGUAGES="Swd_Eng.dll Swd_Jpn.dll Swd_Fra.dll Swd_Dut.dll"
for f in $FLAVOUR/Teliox.exe $FLAVOUR/TarvoAPIDLL.dll $FLAVOUR/Hidmar.dll \
         $(for l in $TELIOX_LANGUAGES; do printf '%s/%s ' "$FLAVOUR" "$l"; done) \
         $FLAVOUR/handset-sim.exe $FLAVOUR/softphone-sim.exe $device_files sndwd-sim/SNDWD.exe \
         sndwd-sim/Sonvane.dll $(for l in $SNDWD_LANGUAGES; do printf 'sndwd-sim/%s ' "$l"; done); do
  [ -f "$WIN32/$f" ] || setup_fail "$WIN32/$f is missing (build the win32 preset first: ./run demo does)"
done
mkdir -p "$WORK" "$OUT"
rm -f "$OUT"/*.png "$WORK"/*.log
HELPER=$WORK/demohelp.exe
if [ ! -f "$HELPER" ] || [ "$ROOT/tools/demo/demohelp.c" -nt "$HELPER" ]; then
  i686-w64-mingw32-gcc -O2 -municode -mconsole -o "$HELPER" "$ROOT/tools/demo/demohelp.c" -lshell32 ||
    setup_fail "could not build the helper"
fi

printf '%sTeliox demonstration%s: the real Teliox.exe and SNDWD.exe under Wine, a simulated USB handset\n' "$B" "$N"
printf 'and a simulated softphone client. Screenshots go to %s.\n' "${OUT#"$ROOT"/}"
if [ $sim_hid -eq 1 ]; then
  printf 'The handset: the sim Hidmar.dll, with the handset model inside Teliox.exe (--sim-hid).\n'
else
  printf 'The handset: a virtual USB HID device in Wine, fed by the handset simulator; Teliox uses the real Hidmar.dll.\n'
fi

"$ROOT/tools/wine-prefix.sh" "$WINEPREFIX" >>"$WORK/wine.log" 2>&1 || setup_fail "could not make the Wine prefix $WINEPREFIX"
timeout 60 wineserver -p 900 || setup_fail "the demo's wineserver did not start"
SERVER_UP=1

drive_c=$WINEPREFIX/drive_c
teliox_dir="$drive_c/Program Files/Teliox"
sims_dir="$drive_c/Program Files/Teliox Simulators"
vl_dir="$drive_c/Program Files/Common Files/VL"
mkdir -p "$teliox_dir" "$sims_dir" "$vl_dir"
rm -f "$sims_dir"/TelioxVHandset.*
cp "$WIN32"/$FLAVOUR/{Teliox.exe,TarvoAPIDLL.dll,Hidmar.dll} "$teliox_dir/"
for l in $TELIOX_LANGUAGES; do cp "$WIN32/$FLAVOUR/$l" "$teliox_dir/"; done
cp "$WIN32"/$FLAVOUR/{handset-sim.exe,softphone-sim.exe} "$sims_dir/"
for f in $device_files; do cp "$WIN32/$f" "$sims_dir/"; done
cp "$WIN32"/sndwd-sim/{SNDWD.exe,Sonvane.dll} "$vl_dir/"
for l in $SNDWD_LANGUAGES; do cp "$WIN32/sndwd-sim/$l" "$vl_dir/"; done
STATE=$vl_dir/Sonvane-sim.txt
HANDSET_IN='Microphone (Teliox Handset)' HANDSET_OUT='Speakers (Teliox Handset)'
OTHER_IN='Microphone (High Definition Audio)' OTHER_OUT='Speakers (High Definition Audio)'
world() {  # world DEFAULT_RECORDING DEFAULT_PLAYBACK: the sim audio library's device world
  printf '%s\n' '# Sonvane sim state of the demo: Windows'"'"' audio devices and its defaults' \
    "recording=$HANDSET_IN" "recording=$OTHER_IN" "playback=$HANDSET_OUT" "playback=$OTHER_OUT" \
    "default-recording=$1" "default-playback=$2" 'fail-get=0' 'fail-set=0' >"$STATE.new" &&
    mv "$STATE.new" "$STATE"
}
world "$HANDSET_IN" "$HANDSET_OUT"

reg() { timeout 60 wine reg add "$@" /f >/dev/null 2>>"$WORK/wine.log"; }
# The simulated handset's USB audio entries (product 0x1402), naming Wine's "Out: default".
instance='USB\Vid_11f1&Pid_1402&MI_00\6&1a2b3c&0&0000'
reg 'HKLM\SYSTEM\CurrentControlSet\Services\usbaudio\Enum' /v Count /t REG_DWORD /d 1
reg 'HKLM\SYSTEM\CurrentControlSet\Services\usbaudio\Enum' /v 0 /t REG_SZ /d "$instance"
reg "HKLM\\SYSTEM\\CurrentControlSet\\Enum\\$instance" /v LocationInformation /t REG_SZ /d 'Out: default'
reg "HKLM\\SYSTEM\\CurrentControlSet\\Enum\\$instance" /v DeviceDesc /t REG_SZ /d 'Out: default'
reg 'HKCU\Software\VORLANE\TELIOX\Teliox' /v LANGUAGE /t REG_DWORD /d 1
# The manager keeps the handset as Windows' default devices, automatically (no wizard).
timeout 60 wine reg delete 'HKCU\SOFTWARE\VORLANE\AUDIO_MANAGER' /f >/dev/null 2>&1
manager_key='HKCU\SOFTWARE\VORLANE\AUDIO_MANAGER'
reg "$manager_key" /v DEFAULT_DEVICE_IN /t REG_SZ /d "$HANDSET_IN"
reg "$manager_key" /v DEFAULT_DEVICE_OUT /t REG_SZ /d "$HANDSET_OUT"
reg "$manager_key" /v WIZARD_AUTOMATIC /t REG_DWORD /d 1

# --- driving --------------------------------------------------------------------------------
# The helper inside the desktop (only there does it see the programs' windows); prints its output.
helper() {
  local log
  log=$(mktemp "$WORK/helper.XXXXXX")
  timeout 30 wine explorer "$DESKTOP" "$HELPER" "$@" >"$log" 2>&1 </dev/null
  for _ in $(seq 100); do grep -q '^end' "$log" && break; sleep 0.1; done
  tr -d '\r' <"$log" | sed '/^end$/d'
  rm -f "$log"
}
in_desktop() {  # in_desktop LOGNAME PROGRAM [ARGS...]: started in the background inside the desktop
  local name=$1; shift
  timeout 7200 wine explorer "$DESKTOP" "$@" >>"$WORK/$name.out" 2>&1 </dev/null &
  BACKGROUND+=($!)
}
handset() {  # the handset simulator's scripting interface
  timeout 30 wine "$sims_dir/handset-sim.exe" --connect-timeout 10000 --timeout 10000 "$@" </dev/null 2>>"$WORK/wine.log" |
    tr -d '\r'
}
client() {  # the softphone simulator's scripting interface
  timeout 30 wine "$sims_dir/softphone-sim.exe" --control --timeout 10000 "$@" </dev/null 2>>"$WORK/wine.log" |
    tr -d '\r'
}
key() {  # the handset simulator prints nothing on success, its reason on failure
  local answer
  answer=$(timeout 30 wine "$sims_dir/handset-sim.exe" --connect-timeout 10000 --key "$1" </dev/null 2>&1 | tr -d '\r') ||
    fail "the handset simulator could not press $1 (${answer:-no answer})"
  shown handset-sim "key $1 -> ok"
}
client_do() {
  local answer
  answer=$(client --do "$1")
  case "$answer" in ok*) ;; *) fail "the softphone simulator refused \"$1\" (${answer:-no answer})" ;; esac
  shown softphone-sim "$1 -> $answer"
  ANSWER=$answer
}

# Both simulators' event streams, recorded from their pipes for the whole run; every wait reads
# these. A mark remembers how far a log was read, so each wait looks only at what came after the
# action it confirms.
HS_LOG=$WORK/handset.log
SP_LOG=$WORK/softphone.log
: >"$HS_LOG"
: >"$SP_LOG"
declare -A MARK=([hs]=0 [sp]=0)
mark() { MARK[hs]=$(wc -l <"$HS_LOG"); MARK[sp]=$(wc -l <"$SP_LOG"); }
# expect WHO REGEX SECONDS WHAT: waits for a line of that simulator (after its mark) matching
# REGEX (the time field removed), prints it and moves the mark past it; fails the demo after SECONDS.
expect() {
  local who=$1 regex=$2 seconds=$3 what=$4 log name deadline line number
  if [ "$who" = hs ]; then log=$HS_LOG name=handset-sim; else log=$SP_LOG name=softphone-sim; fi
  deadline=$((SECONDS + seconds))
  while :; do
    line=$(tail -n +"$((MARK[$who] + 1))" "$log" | tr -d '\r' | sed -E 's/^([a-z!]+) [0-9]+ /\1 /' |
      grep -n -E -m1 -- "$regex")
    if [ -n "$line" ]; then
      number=${line%%:*}
      MARK[$who]=$((MARK[$who] + number))
      shown "$name" "${line#*:}"
      return 0
    fi
    [ $SECONDS -ge $deadline ] && fail "$what did not happen within $seconds s"
    sleep 0.2
  done
}
# until_true SECONDS WHAT COMMAND...: polls a check until it succeeds.
until_true() {
  local seconds=$1 what=$2 deadline
  shift 2
  deadline=$((SECONDS + seconds))
  until "$@"; do
    [ $SECONDS -ge $deadline ] && fail "$what did not happen within $seconds s"
    sleep 0.3
  done
}

DESKTOP_WINDOW=
shot() {  # shot NAME: the virtual desktop's window as out/demo/NAME.png
  import -window "$DESKTOP_WINDOW" "$OUT/$1.png" 2>>"$WORK/wine.log" || fail "the screenshot $1 failed"
  say "screenshot: ${OUT#"$ROOT"/}/$1.png"
}
# A visible dialog without a caption that holds a slider: the volume pop-up.
popup_shows() { helper info | awk '/^dialog /{d=($2 !~ /style=..[cC]/)} d && /slider/{f=1} END{exit !f}'; }
dialog_titled() { helper info | grep -q "^dialog .* title=$1\$"; }
manager_up() { helper info | grep -q '^manager '; }
default_playback() { sed -n 's/^default-playback=//p' "$STATE" | tr -d '\r'; }

# --- starting ------------------------------------------------------------------------------
step "Windows starts: a desktop with a taskbar"
in_desktop desktop "$HELPER" tray 6000
for _ in $(seq 100); do
  DESKTOP_WINDOW=$(xdotool search --name "^$DESKTOP_NAME - Wine desktop\$" 2>/dev/null | head -1)
  [ -n "$DESKTOP_WINDOW" ] && break
  sleep 0.2
done
[ -n "$DESKTOP_WINDOW" ] || setup_fail "the Wine desktop did not come up"
until_true 30 "the taskbar" eval 'helper info | grep -q "^taskbar"'
seen "the Wine desktop \"$DESKTOP_NAME\" is up with its taskbar"

step "The softphone client starts (softphone-sim.exe, its window on the desktop)"
(cd "$sims_dir" && in_desktop softphone-sim "$SIMS_DIR\\softphone-sim.exe")
# Its event stream is recorded from before Teliox starts, so the attach is seen.
timeout 7200 wine "$HELPER" tail "$CLIENT_PIPE" 30000 >"$SP_LOG" 2>>"$WORK/wine.log" </dev/null &
BACKGROUND+=($!)
expect sp '^hello softphone-sim' 30 "the softphone simulator's start"

step "The USB handset is plugged in and Teliox.exe starts from $TELIOX_DIR"
if [ $sim_hid -eq 0 ]; then
  say "the handset simulator installs the virtual HID device 11F1:1402 and feeds it from its window"
  (cd "$sims_dir" && in_desktop handset-sim "$SIMS_DIR\\handset-sim.exe" --device)
  timeout 7200 wine "$HELPER" tail "$HANDSET_PIPE" 60000 >"$HS_LOG" 2>>"$WORK/wine.log" </dev/null &
  BACKGROUND+=($!)
  expect hs '^hello hidmar-sim 1 the virtual HID device' 40 "the handset simulator's start"
  expect hs '^state .*plugged=1' 20 "the virtual device's installation"
fi
say "Teliox finds the handset, opens it, checks its firmware and uploads the ring tone."
(cd "$teliox_dir" && in_desktop teliox "$TELIOX_DIR\\Teliox.exe")
if [ $sim_hid -eq 1 ]; then
  timeout 7200 wine "$HELPER" tail "$HANDSET_PIPE" 60000 >"$HS_LOG" 2>>"$WORK/wine.log" </dev/null &
  BACKGROUND+=($!)
  expect hs '^hello hidmar-sim' 40 "the handset's appearance"
  expect hs '^state .*plugged=1' 10 "the handset's state"
fi
handset_state() {  # handset_state "FIELD=VALUE ...": waits for that state, then shows it
  handset --wait-state "$1" >/dev/null || return 1
  handset --state | grep '^state' | sed -E 's/^state [0-9]+ /state /' | while read -r l; do shown handset-sim "$l"; done
}
handset_state "plugged=1 opened=1 uploads=1" || fail "Teliox opening the handset and uploading its ring tone"
seen "the handset is open and has its ring tone"
if [ $sim_hid -eq 1 ]; then
  (cd "$sims_dir" && in_desktop handset-sim "$SIMS_DIR\\handset-sim.exe")
  say "the handset simulator's window opens too: its buttons are the handset's keys"
fi
# Side by side: the handset on the left, the client on the right.
until_true 20 "the simulators' windows" eval 'helper move "Handset simulator" 0 0 | grep -q moved'
helper move "Tarvo (simulated client)" -1 0 >/dev/null

step "The client library attaches, and Teliox points the client at the handset's audio"
expect sp '^lib attach ' 40 "the client library's attach"
expect sp '^cmd!? SET AUDIO_IN ' 20 "SET AUDIO_IN"
expect sp '^cmd!? SET AUDIO_OUT ' 20 "SET AUDIO_OUT"
expect sp '^cmd!? PROTOCOL 2' 20 "the PROTOCOL 2 answer"
seen "client attached; its microphone and speaker are the handset's (Wine calls them \"Out: default\")"

step "Teliox starts the audio device manager, SNDWD.exe, from $VL_DIR"
until_true 20 "SNDWD.exe's start" manager_up
seen "SNDWD is running (a hidden window titled SNDWD), keeping the handset as Windows' default devices"
sleep 4  # the taskbar helper's icon goes; Teliox's stays

if [ $interactive -eq 1 ]; then
  cat <<TXT

${B}Everything is running.$N On the display $DISPLAY, in the "$DESKTOP_NAME" Wine desktop:
  - the handset simulator's window: click its keys (yes, no, digits, hold, mute, volume, voicemail ...)
  - the softphone simulator's window: make a call ring ("incoming"), answer, hold, hang up ...
  - Teliox's tray icon at the bottom right: right-click it for its menu
  - SNDWD's device world: edit $STATE
Scripting from another terminal (same environment):
  WINEPREFIX=$WINEPREFIX wine "$sims_dir/handset-sim.exe" --key yes
  WINEPREFIX=$WINEPREFIX wine "$sims_dir/softphone-sim.exe" --control --do "incoming Alice"
Event logs: $HS_LOG and $SP_LOG

Press Enter (or Ctrl-C) to end the demo.
TXT
  trap 'exit 0' INT TERM
  read -r _ || true
  exit 0
fi

# --- the story -----------------------------------------------------------------------------
step "The tray: Teliox's icon and menu"
# Wine's taskbar draws the tray icons itself, from the right end; Teliox's is the only one left.
bar=$(helper info | sed -n 's/^taskbar //p')
[ -n "$bar" ] || fail "the taskbar went away"
IFS=, read -r left top right bottom <<<"$bar"
icon="$((right - 10)),$(((top + bottom) / 2))"
menu_open() { helper info | grep -q '^menu '; }
tray_menu_shot() {  # tray_menu_shot NAME: right-clicks the tray icon, opens Settings, screenshot, closes
  local menu left top right bottom
  xdotool mousemove --window "$DESKTOP_WINDOW" "${icon%,*}" "${icon#*,}" click 3
  until_true 10 "the tray menu" menu_open
  menu=$(helper info | sed -n 's/^menu //p' | head -1)
  IFS=, read -r left top right bottom <<<"$menu"
  # Resting on its first item opens the Settings submenu.
  xdotool mousemove --window "$DESKTOP_WINDOW" $((left + 30)) $((top + 10))
  sleep 1.5
  shot "$1"
  # A click on the empty desktop closes the menu without choosing anything.
  xdotool mousemove --window "$DESKTOP_WINDOW" 640 740 click 1
  until_true 10 "the tray menu closing" eval '! menu_open'
}
tray_menu_shot tray-menu
seen "right-clicked the tray icon at $icon: the menu shows Settings (opened), Language, Version and Close"

step "An incoming call from \"Alice Martin\""
mark
client_do "incoming Alice Martin"
call=${ANSWER#ok }
expect sp "^note 047F id=$call status=RINGING .*partner=Alice Martin" 10 "the RINGING notification"
expect hs '^out C0 00 9A' 10 "the ring command to the handset"
say "the handset rings and its light blinks:"
handset_state "ringer=ringing" || fail "the handset ringing"
expect hs '^state .*ringer=ringing indicator=on' 10 "the indicator light"
sleep 1
shot ringing
seen "the handset rings for Alice Martin's call $call"

step "The ring settings dialog (tray menu: Settings > Ring Settings..)"
helper post Teliox 0x0111 32810 >/dev/null
until_true 10 "the ring settings dialog" eval 'helper info | grep -q "^dialog style=..[cC].*title=Ring"'
sleep 1
shot ring-dialog
title=$(helper info | sed -n 's/^dialog style=..[cC].*title=\(Ring.*\)$/\1/p' | head -1)
helper post "$title" 0x0111 2 >/dev/null  # Cancel
seen "the dialog \"$title\" showed; closed with Cancel"

step "The yes key answers"
mark
key yes
expect hs '^out C0 00 9F' 10 "the handset's ringing stopping"
expect sp "^cmd!? SET CALL $call STATUS INPROGRESS" 10 "the answer"
expect sp "^note 047F id=$call status=INPROGRESS" 10 "the call going into progress"
seen "Alice Martin's call is in progress"

step "Digits 4, 2 and # go out as DTMF tones"
for d in d4 d2 hash; do
  mark
  key "$d"
  tone=${d#d}; [ "$d" = hash ] && tone="#"
  expect sp "^cmd!? SET CALL $call DTMF $tone" 10 "DTMF $tone"
done
seen "the client sent the three tones into the call"

step "Mute, and unmute"
mark
key mute
expect sp '^cmd!? SET MUTE ON' 10 "SET MUTE ON"
sleep 2  # Teliox learns the client's mute state by asking it
mark
key mute
expect sp '^cmd!? SET MUTE (ON|OFF)' 10 "the second mute command"
seen "the mute key toggles the client's microphone"

step "Hold, and resume"
mark
key hold
expect sp "^note 047F id=$call status=ONHOLD" 10 "the call going on hold"
mark
key hold
expect sp "^cmd!? SET CALL $call STATUS INPROGRESS" 10 "the resume command"
expect sp "^note 047F id=$call status=INPROGRESS" 10 "the call resuming"
seen "the hold key holds the call and takes it back"

step "The no key hangs up"
mark
key no
expect sp '^cmd!? HOOK ON' 10 "HOOK ON"
expect sp "^note 047F id=$call status=FINISHED" 10 "the call ending"
seen "Alice Martin's call is finished"

step "A caller gives up while the phone rings: the handset falls quiet"
mark
client_do "incoming Bob Leclerc"
call2=${ANSWER#ok }
expect hs '^out C0 00 9A' 10 "the ring command to the handset"
handset_state "ringer=ringing" || fail "the handset ringing for Bob Leclerc"
mark
client_do "status $call2 FINISHED"
expect hs '^out C0 00 9F' 10 "the stop command"
handset_state "ringer=quiet" || fail "the handset falling quiet"
seen "the client reported the unanswered call FINISHED and the handset stopped ringing"

step "Voicemail: the list from the handset's voicemail key (0xC3), up/down and yes"
mark
client_do "voicemail 7 1796716800 5 Alice Martin"
client_do "voicemail 8 1796720400 6 Bob Chen"
client_do "voicemail 9 1796724000 5 Carol Diaz"
key voicemail
expect sp '^api UpdateVMList' 10 "the voicemail list request"
until_true 10 "the voicemail list window" eval 'helper info | grep -q "list items=3"'
key down
sleep 1
mark
key yes
expect sp '^cmd!? ALTER VOICEMAIL 8 STARTPLAYBACK' 10 "the playback command"
expect sp '^note 0482 id=8 status=12' 10 "the voicemail playing"
sleep 1
shot voicemail-list
seen "the list showed three voicemails; down and yes played Bob Chen's"
key voicemail  # closes the list
sleep 1

step "The volume keys, with the volume pop-up"
mark
key vol-
until_true 10 "the volume pop-up" popup_shows
sleep 0.5
shot volume-popup
pos=$(helper info | awk '/^dialog /{d=($2 !~ /style=..[cC]/)} d && /slider/{print $5; exit}')
key vol+
seen "the pop-up above the taskbar shows the speaker level (slider ${pos:-pos=?}); the keys step Wine's mixer"

step "Windows switches its default playback device; the manager sets it back"
say "with WIZARD_AUTOMATIC=1 stored, SNDWD checks the defaults every few seconds"
world "$HANDSET_IN" "$OTHER_OUT"
shown Sonvane-sim.txt "default-playback=$(default_playback)   (edited by the demo)"
until_true 15 "the manager restoring the default playback device" eval '[ "$(default_playback)" = "$HANDSET_OUT" ]'
shown Sonvane-sim.txt "default-playback=$(default_playback)   (written back by SNDWD)"
seen "SNDWD put \"$HANDSET_OUT\" back as the default"

step "The manager's audio device settings (tray menu: Settings > Sound Device Settings..)"
helper post Teliox 0x0111 32792 >/dev/null
settings_title() { helper info | sed -n -E 's/^dialog .*title=((Sound Device Settings|音效裝置設定).*)$/\1/p' | head -1; }
until_true 15 "the manager's settings dialog" eval '[ -n "$(settings_title)" ]'
sleep 1.5
shot sndwd-settings
title=$(settings_title)
seen "SNDWD's dialog \"$title\" shows the playback and recording devices"
helper post "$title" 0x0111 2 >/dev/null  # Cancel

step "Five languages: the tray menu in Traditional Chinese, Japanese and French, and back to English"
for pick in "32797 Chinese tray-menu-chinese" "32814 Japanese tray-menu-japanese" "32815 French tray-menu-french"; do
  read -r command language name <<<"$pick"
  helper post Teliox 0x0111 "$command" >/dev/null  # the Language submenu's item
  sleep 1
  tray_menu_shot "$name"
  seen "$language: Teliox's menu and dialogs now come from its $language library, and SNDWD is told too"
done
helper post Teliox 0x0111 32796 >/dev/null
sleep 1
seen "English again"

step "The handset is unplugged, and plugged in again"
mark
handset --unplug >/dev/null || fail "the handset simulator could not unplug"
handset_state "plugged=0" || fail "the handset going"
if [ $sim_hid -eq 0 ]; then say "the virtual device is removed from Wine's HID stack; the real Hidmar.dll's reader ends"; fi
sleep 3
handset --plug >/dev/null || fail "the handset simulator could not plug in"
say "Teliox's probe finds the handset again, opens it and uploads the ring tone anew"
handset --timeout 30000 --wait-state "plugged=1 tone=E6-EA-14-19-14" >/dev/null || fail "Teliox taking the handset back"
expect hs '^out C0 00 85' 30 "the ring tone upload's last tag"
seen "the handset is back and has its ring tone again"

step "Closing Teliox (the registered PX_CloseApplication message)"
helper post Teliox PX_CloseApplication 0xA0 >/dev/null
expect sp '^lib (detach|gone)' 15 "the library's detach"
seen "Teliox closed; the demo ends the rest"

printf '\n%sThe demo is complete%s: %d steps, screenshots in %s\n' "$G" "$N" "$STEP" "${OUT#"$ROOT"/}"
ls "$OUT" | sed 's/^/    /'
