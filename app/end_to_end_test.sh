#!/usr/bin/env bash
# The real program in a real X server, driven by xdotool as a user would:
# the window appears with its caption and size; "Copy files",
# "Create INI-file" and "Run Velmora" are clicked on a demo game folder, and
# the disk and the stand-in game's record show what the commands did; a
# click on the greyed "Close" during a long copy does nothing; "Close" ends it.
#
# Usage: end_to_end_test.sh linux VELMORA MAKE_DEMO WORK_FOLDER
#        end_to_end_test.sh windows VELMORA.EXE MAKE_DEMO WORK_FOLDER STAND_IN_GAME.EXE
# The Windows program runs under Wine in a fresh prefix, once at 96 and once
# at 144 dots per inch; with no window manager, Wine's X window is exactly
# the client area.
set -euo pipefail
kind=$1 program=$(realpath "$2") make_demo=$3 work=$4 stand_in=${5:+$(realpath "$5")}
source "$(dirname "$0")/x_session.sh"
tools=(Xvfb xdotool import convert)
[ "$kind" = windows ] && tools+=(wine wineboot wineserver) && on_exit="wineserver -k 2>/dev/null"
require_tools "${tools[@]}"
rm -rf "$work"
mkdir -p "$work"
start_x "$work"

if [ "$kind" = windows ]; then
  export WINEPREFIX="$work/wineprefix" WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  wineboot --init >/dev/null 2>&1 || true
fi

make_game() {  # a demo game folder with enough files for a copy that lasts
  rm -rf "$work/game"
  "$make_demo" "$work/game"
  if [ "$kind" = windows ]; then cp "$stand_in" "$work/game/Dromvik.exe"; fi
  mkdir -p "$work/game/season02/tracks/Bulk" "$work/game/ZENTOSEASON/tracks/Bulk"
  (cd "$work/game/season02/tracks/Bulk" && seq -f 'part%g.dat' "$bulk_files" | xargs touch)
}

start() {  # starts the program in the game folder and finds its window
  if [ "$kind" = windows ]; then
    (cd "$work/game" && exec wine "$program") &
  else
    (cd "$work/game" && exec "$program") &
  fi
  pid=$!
  find_window
}

alive() {
  if [ "$kind" = windows ]; then
    xdotool search --name '^Tamsel Velmora - Config$' >/dev/null 2>&1
  else
    kill -0 "$pid" 2>/dev/null
  fi
}

wait_for_end() {
  for _ in $(seq 100); do alive || break; sleep 0.1; done
  check '! alive' "the program is still running"
  wait "$pid" || fail "exit status $?"
  pid=""
}

pixel() {  # the colour of one pixel of the window's last screenshot
  convert "$shot" -format "%[pixel:p{$1,$2}]" info: | sed 's/^srgb(\(.*\))$/\1/'
}
screenshot() {
  shot="$work/$1.png"
  import -window "$window" "$shot"
  echo "screenshot: $shot"
}

check_looks() {  # size, the strip and each button's face where the twips put them
  eval "$(xdotool getwindowgeometry --shell "$window")"
  echo "window at $X,$Y, client ${WIDTH}x$HEIGHT at $dpi dpi"
  check '[ "$WIDTH" = "$(px 5985)" ] && [ "$HEIGHT" = "$(px 3675)" ]' "client size ${WIDTH}x$HEIGHT"
  # Centred on the 1280 x 1024 screen (vertically the title bar counts too).
  check '[ $(( X - (1280 - WIDTH) / 2 )) -ge -8 ] && [ $(( X - (1280 - WIDTH) / 2 )) -le 8 ]' "not centred: x $X"
  check '[ $(( Y - (1024 - HEIGHT) / 2 )) -ge -8 ] && [ $(( Y - (1024 - HEIGHT) / 2 )) -le 40 ]' "not centred: y $Y"
  screenshot "window-$dpi"
  # Between "Run Velmora" and "Close", left of the column: the blue strip.
  check '[ "$(pixel $(px 4350) $(px 1800))" = "0,51,153" ]' "no blue strip: $(pixel $(px 4350) $(px 1800))"
  for button in "$copy_files" "$create_ini" "$run_velmora" "$close"; do
    set -- $button
    local inside_x=$(( $(px $1) + 5 )) inside_y=$(( $(px $2) + 5 )) left=$(( $(px $1) - 3 ))
    check '[ "$(pixel $inside_x $inside_y)" = "192,192,255" ]' "no button face at $inside_x,$inside_y"
    check '[ "$(pixel $left $inside_y)" = "0,51,153" ]' "a button reaches left of $(px $1)"
  done
  echo "PASS: the window has its size, strip and buttons at $dpi dpi"
}

one_round() {  # KEY: the key that clicks "Close" at the end
  make_game
  start
  check_looks

  click_button $copy_files
  sleep 0.3
  screenshot "copying-$dpi"
  click_button $close    # greyed while the copy runs: the click must come to nothing
  season="$work/game/ZENTOSEASON/tracks"
  check '[ ! -e "$season/Pits/pits.mas" ]' "the copy ended before the click on Close: make it longer"
  local waited=0
  while [ ! -f "$season/Pits/pits.mas" ] && [ $waited -lt 600 ]; do sleep 0.1; waited=$((waited + 1)); done
  check '[ -f "$season/Pits/pits.mas" ]' "the copy did not finish"
  echo "the copy went on for about $((waited / 10)).$((waited % 10)) s after the click on Close"
  sleep 2
  check 'alive' "a click on the greyed Close during the copy ended the program"
  echo "PASS: a click on the greyed Close during a copy did nothing"

  click_button $create_ini
  sleep 1
  click_button $run_velmora
  wait_for_end
  echo "PASS: Run Velmora ended the program"

  game=$(cd "$work/game" && pwd -P)
  if [ "$kind" = windows ]; then
    record="$work/game/launch-record.txt"
    for _ in $(seq 100); do [ -s "$record" ] && break; sleep 0.1; done
    check 'grep -qxF "arguments=-config=Qorvane.INI" "$record" && grep -qxF "seasondir=ZENTOSEASON\\" "$record"' \
      "the stand-in game was not started as expected: $(cat "$record" 2>/dev/null)"
  else
    for _ in $(seq 50); do [ -s "$work/game/launches.log" ] && break; sleep 0.1; done
    check 'grep -qxF "started: [-config=Qorvane.INI] in $game" "$work/game/launches.log"' \
      "the stand-in game was not started as expected: $(cat "$work/game/launches.log" 2>/dev/null)"
  fi
  echo "PASS: the game was started on the add-on's configuration"

  check '[ -f "$season/Monaco/Monaco.gdb" ] && [ -f "$season/Monaco/monaco.mas.old" ] && [ -f "$season/season.trk" ]' \
    "Copy files did not copy the track files"
  check '[ "$(ls "$season/Bulk" | wc -l)" = "$bulk_files" ]' "Copy files did not copy every file"
  check '[ ! -e "$season/Monaco/monaco.mas" ] && [ ! -e "$season/Monaco/Monaco.AIW" ] && [ ! -e "$season/season.AIW" ]' \
    "Copy files copied a file it must leave out"
  check '[ -f "$season/Pits/crews/deep/garage.dat" ] && [ -f "$season/Pits/ORDER.PIT" ]' "the pits folder was not copied"
  check 'grep -q "^SEASONDIR=ZENTOSEASON\\\\.$" "$work/game/Qorvane.ini"' \
    "Qorvane.ini was not written: $(cat "$work/game/Qorvane.ini" 2>/dev/null)"
  echo "PASS: Copy files and Create INI-file wrote what they should"

  # Once more, by keyboard: the focus starts on "Close", Esc does nothing,
  # Tab goes on to "Create INI-file", where Space clicks it, and round the
  # other two back to "Close", where Enter or Space clicks it.
  rm "$work/game/Qorvane.ini"
  start
  xdotool key Escape
  sleep 1
  check 'alive' "Esc ended the program"
  xdotool key Tab
  sleep 0.3
  xdotool key space
  for _ in $(seq 50); do [ -s "$work/game/Qorvane.ini" ] && break; sleep 0.1; done
  check '[ -s "$work/game/Qorvane.ini" ]' "Tab and Space from Close did not click Create INI-file"
  xdotool key Tab Tab Tab
  sleep 0.5
  xdotool key "$1"
  wait_for_end
  echo "PASS: Tab goes from Close to Create INI-file and round; Space clicked Create INI-file, $1 Close"

  # And once more, ended with a click on "Close".
  start
  click_button $close
  wait_for_end
  echo "PASS: Close ends the program"
}

if [ "$kind" = windows ]; then
  bulk_files=1000
  for dpi in 96 144; do
    wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
    wineserver -w  # the next start reads the new setting
    one_round "$([ "$dpi" = 96 ] && echo Return || echo space)"
  done
else
  bulk_files=30000 dpi=96
  one_round Return
fi
echo "PASS: all"
