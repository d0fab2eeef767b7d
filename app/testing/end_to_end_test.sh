#!/usr/bin/env bash
# The real program in a real X server, driven by xdotool as a user would:
# the window appears with its caption and size; "Copy files",
# "Create INI-file" and "Run Velmora" are clicked on a demo game folder, and
# the disk and the stand-in game's record show what the commands did. During
# a copy that lasts, the window stays live (it answers the desktop's pings
# and is drawn again when uncovered), clicks come to nothing, and a request
# to close ends the program only once the copy is complete.
#
# Usage: end_to_end_test.sh linux VELMORA MAKE_DEMO WORK_FOLDER
#        end_to_end_test.sh windows VELMORA.EXE MAKE_DEMO WORK_FOLDER STAND_IN_GAME.EXE WINDOW_PROBE.EXE
# The Windows program runs under Wine in a fresh prefix, once at 96 and once
# at 144 dots per inch; with no window manager, Wine's X window is exactly
# the client area. Every step waits for the effect of the one before it.
set -euo pipefail
kind=$1 program=$(realpath "$2") make_demo=$3 work=$4
stand_in=${5:+$(realpath "$5")} win_probe=${6:+$(realpath "$6")}
here=$(cd "$(dirname "$0")" && pwd)
x_probe="$here/x_probe.py"
source "$here/x_session.sh"
tools=(Xvfb xdotool import convert compare /usr/bin/python3)
[ "$kind" = windows ] && tools+=(wine wineboot wineserver winepath) && on_exit+=("wineserver -k 2>/dev/null")
[ "$kind" = linux ] && tools+=(mkntfs ntfs-3g dbus-daemon dbus-monitor)
require_tools "${tools[@]}"
/usr/bin/python3 -c 'import Xlib' 2>/dev/null || { echo "SKIP: python3-xlib is not installed"; exit 77; }
# A run that was killed may have left its NTFS image mounted.
if mountpoint -q "$work/ntfs" 2>/dev/null; then umount -l "$work/ntfs"; fi
rm -rf "$work"
mkdir -p "$work"
start_x "$work"

if [ "$kind" = windows ]; then
  export WINEPREFIX="$work/wineprefix" WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  wineboot --init >/dev/null 2>&1 || true
fi

make_game() {  # FOLDER FILES: a demo game folder whose copy lasts with FILES more
  games="$1" game="$1/game" season="$1/game/ZENTOSEASON/tracks"
  rm -rf "$game"
  "$make_demo" "$game"
  if [ "$kind" = windows ]; then cp "$stand_in" "$game/Dromvik.exe"; fi
  mkdir -p "$game/season02/tracks/Bulk" "$season/Bulk"
  # A link back up the pits tree: read, it must not be followed round again.
  ln -s ../.. "$game/season02/tracks/pits/crews/back"
  bulk_files=$2
  (cd "$game/season02/tracks/Bulk" && seq -f 'part%g.dat' "$bulk_files" | xargs touch)
}

start() {  # starts the program in the game folder and finds its window; its standard error in $said
  said="$work/said.log"
  : >"$said"
  if [ "$kind" = windows ]; then
    (cd "$game" && exec wine "$program") 2>>"$said" &
  else
    (cd "$game" && exec "$program") 2>>"$said" &
  fi
  pid=$!
  find_window
}

start_naming_the_game() {  # the same, started elsewhere with the game folder named
  if [ "$kind" = windows ]; then
    (cd "$work" && exec wine "$program" "$(winepath -w "$game")") &
  else
    (cd "$work" && exec "$program" "$game") &
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

wait_for_end() {  # [SECONDS [STATUS]]
  wait_until "${1:-10}" '! alive' || fail "the program is still running"
  local status=0
  wait "$pid" || status=$?
  [ "$status" = "${2:-0}" ] || fail "exit status $status"
  pid=""
}

# The windows with the caption: the utility's own, and a notice it shows.
captioned() { xdotool search --onlyvisible --name '^Tamsel Velmora - Config$' 2>/dev/null | wc -l; }
# A notice appears over the window, once, saying TEXT (also on the standard
# error); a screenshot is kept as NAME; Return closes it and the window stays.
expect_notice() {  # NAME TEXT [KEY]: KEY (Return by default) closes it
  local text=$2 key=${3:-Return}
  wait_until 120 '[ "$(captioned)" -ge 2 ]' || fail "no notice appeared; expected: $text"
  import -window root "$work/notice-$1.png"
  echo "screenshot: $work/notice-$1.png"
  check 'grep -qF -- "$text" "$said"' "the notice does not say \"$text\": $(cat "$said")"
  check '[ "$(grep -c "^velmora: " "$said")" = 1 ]' "told more than once: $(cat "$said")"
  xdotool key "$key"
  wait_until 10 '[ "$(captioned)" = 1 ]' || fail "$key did not close the notice"
  check 'alive' "closing the notice ended the program"
  : >"$said"
}
# Nothing was told.
expect_silence() {
  check '[ "$(captioned)" = 1 ] && ! grep -q "^velmora: " "$said"' "a success was told: $(cat "$said")"
}

# Clicks a button until CONDITION holds: a click made while the command
# before still ends is dropped, which nothing shows, so while CONDITION does
# not hold the click came too early and is made again.
click_until() {  # CONDITION LEFT TOP WIDTH HEIGHT
  local condition=$1
  shift
  for _ in 1 2 3 4 5; do
    eval "$condition" && return 0
    click_button "$@" || true  # the window may go while the click is made
    # Without a window manager, Wine's window takes 2 s to go.
    wait_until 10 "$condition" && return 0
  done
  return 1
}

# Clicks a button that ends the program until it has ended.
click_until_ended() {  # LEFT TOP WIDTH HEIGHT [STATUS]: a button, and the exit status expected
  click_until '! alive' "$1" "$2" "$3" "$4" || true
  wait_for_end 10 "${5:-0}"
}

pixel() {  # the colour of one pixel of the window's last screenshot
  convert "$shot" -format "%[pixel:p{$1,$2}]" info: | sed 's/^srgb(\(.*\))$/\1/'
}
screenshot() {
  shot="$work/$1.png"
  import -window "$window" "$shot"
}

# The inside of a button (left, top, width, height in twips), clear of its
# border and focus frame: its face and caption.
inside() { echo "$(px $(($3 - 180)))x$(px $(($4 - 180)))+$(px $(($1 + 90)))+$(px $(($2 + 90)))"; }
same_picture() { [ "$(compare -metric AE "$1" "$2" null: 2>&1)" = 0 ]; }
# Keeps the look of "Copy files" and "Close" now as LOOK, once both show
# their captions: under Wine each button draws itself after the window, and
# one not drawn yet is two colours only.
keep_look() {
  for _ in $(seq 50); do
    import -window "$window" "$work/now.png"
    convert "$work/now.png" -crop "$(inside $copy_files)" +repage "$work/$1-copy.png"
    convert "$work/now.png" -crop "$(inside $close)" +repage "$work/$1-close.png"
    [ "$(identify -format %k "$work/$1-copy.png")" -gt 2 ] && [ "$(identify -format %k "$work/$1-close.png")" -gt 2 ] &&
      return
    sleep 0.1
  done
}
# True when both buttons look as they did in LOOK.
looks_like() {
  keep_look now
  for button in copy close; do
    same_picture "$work/now-$button.png" "$work/$1-$button.png" || return 1
  done
}

check_looks() {  # size, the strip and each button's face where the twips put them
  eval "$(xdotool getwindowgeometry --shell "$window")"
  echo "window at $X,$Y, client ${WIDTH}x$HEIGHT at $dpi dpi"
  check '[ "$WIDTH" = "$(px 5985)" ] && [ "$HEIGHT" = "$(px 3675)" ]' "client size ${WIDTH}x$HEIGHT"
  # Centred on the 1280 x 1024 screen (vertically the title bar counts too).
  check '[ $(( X - (1280 - WIDTH) / 2 )) -ge -8 ] && [ $(( X - (1280 - WIDTH) / 2 )) -le 8 ]' "not centred: x $X"
  check '[ $(( Y - (1024 - HEIGHT) / 2 )) -ge -8 ] && [ $(( Y - (1024 - HEIGHT) / 2 )) -le 40 ]' "not centred: y $Y"
  screenshot "window-$dpi"
  echo "screenshot: $shot"
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

# Clicks "Copy files" and waits until it reads "Copying ...".
click_copy_files() {
  keep_look idle
  click_button $copy_files
  wait_until 10 '! looks_like idle' || fail "Copy files did not start"
}

check_copy_complete() {  # GAME_FOLDER
  local folder=$1
  check '[ "$(ls "$season/Bulk" | wc -l)" = "$bulk_files" ]' "Copy files did not copy every file"
  check '[ -f "$season/Pits/pits.mas" ] && [ -f "$season/Pits/crews/deep/garage.dat" ]' "the pits folder was not copied"
  check '[ ! -e "$season/Pits/crews/back" ]' "the link back up the pits tree was followed round"
  check '[ -z "$(find "$folder" -name ".velmora-*.tmp")" ]' "temporary files were left behind"
}

# What docks heard of the copy: its fraction rising from below one half to
# the whole, then the bar taken away.
check_taskbar_progress() {  # DBUS_MONITOR_LOG
  local log=$1 heard
  wait_until 10 '[ "$(grep -c "member=Update" "$log")" -ge 2 ] && tail -n 3 "$log" | grep -q "boolean false"' ||
    fail "the taskbar's progress bar was never taken away"
  heard=$(/usr/bin/python3 - "$log" <<'PY'
import re, sys
log = open(sys.argv[1]).read()
updates = [u for u in log.split("signal ")[1:] if "member=Update" in u]
assert all('"application://velmora.desktop"' in u for u in updates), "an update for another program"
fractions = [float(x) for u in updates for x in re.findall(r"double ([0-9.e+-]+)", u)]
assert fractions, "no fraction was sent"
assert fractions[0] < 0.5, f"the first fraction was {fractions[0]}"
assert fractions == sorted(fractions), f"the fraction went back: {fractions}"
assert fractions[-1] == 1.0, f"the last fraction was {fractions[-1]}"
assert "boolean false" in updates[-1] and "double" not in updates[-1], "the bar stayed after the copy"
print(f"{len(fractions)} fractions from {fractions[0]:.2f} to {fractions[-1]:.2f}, then the bar taken away")
PY
) || fail "the taskbar's progress: $heard"
  echo "PASS: docks heard the copy's progress: $heard"
}

# During a copy made to last: the window answers the desktop's liveness
# checks throughout, is drawn again when uncovered, and drops clicks; a
# request to close, made with KEY or else by the window manager, ends the
# program once the copy is complete.
live_round() {  # FOLDER FILES [KEY]
  make_game "$1" "$2"
  start
  local stop="$work/copy-done"
  rm -f "$stop"
  if [ "$kind" = windows ]; then
    wine "$win_probe" watch "$(winepath -w "$stop")" >"$work/probe.log" 2>&1 &
  else
    "$x_probe" ping "$window" "$stop" >"$work/probe.log" 2>&1 &
  fi
  local probe=$! started=$SECONDS
  click_copy_files
  keep_look copying

  "$x_probe" cover "$window"
  wait_until 5 '[ "$(window_pixel "$(px 300)" "$(px 300)")" != "255,0,0" ]' || fail "the uncovered window was not drawn"
  wait_until 5 'looks_like copying' || fail "the uncovered window does not show the copy"
  screenshot "uncovered-$dpi"
  echo "screenshot: $shot"
  check '[ "$(pixel $(px 4350) $(px 1800))" = "0,51,153" ]' "the uncovered window lost its strip"
  echo "PASS: the window is drawn again when uncovered during a copy, greyed and \"Copying ...\""

  click_button $close        # greyed
  click_button $run_velmora  # enabled, but a command runs
  if [ -n "${3:-}" ]; then xdotool key "$3"; else "$x_probe" close "$window"; fi
  check '[ ! -e "$season/Pits/pits.mas" ]' "the copy ended before the clicks: make it longer"
  check 'alive' "a click or the request to close ended the program during the copy"
  wait_for_end 300
  echo "the copy lasted about $((SECONDS - started)) s"
  check_copy_complete "$game"
  check '[ ! -e "$game/launches.log" ] && [ ! -e "$game/launch-record.txt" ]' "the click on Run Velmora started the game"
  echo "PASS: clicks on Close and Run Velmora during the copy did nothing; ${3:-the close request} ended the program after it"
  touch "$stop"
  wait "$probe" || fail "the window did not stay live: $(cat "$work/probe.log")"
  echo "PASS: the window stayed live during the copy: $(cat "$work/probe.log")"
}

# A request to close from another program, during a copy and during
# "Create INI-file": the process ends after the command, which completes.
close_request_round() {  # HOW (close or syscommand-close)
  make_game "$work" 1500
  start
  click_copy_files
  wine "$win_probe" "$1" || fail "the probe could not send $1"
  check '[ ! -e "$season/Pits/pits.mas" ]' "the copy ended before $1: make it longer"
  wait_for_end 120
  check_copy_complete "$game"
  echo "PASS: $1 during a copy ended the program after it"

  # A Config.ini long enough that the rewrite lasts; the probe, ready
  # beforehand, sends as soon as the click is made.
  local lines=8000000
  awk -v lines="$lines" 'BEGIN { for (i = 0; i < lines; i++) printf "SEASONDIR=season02\\\r\n" }' >"$game/Config.ini"
  start
  local clicked="$work/clicked"
  rm -f "$clicked"
  wine "$win_probe" "$1" "$(winepath -w "$clicked")" >"$work/probe.log" 2>&1 &
  local probe=$!
  click_button $create_ini
  touch "$clicked"
  wait "$probe" || fail "the probe could not send $1: $(cat "$work/probe.log")"
  check '[ ! -e "$game/Qorvane.ini" ]' "Create INI-file ended before $1: make it longer"
  wait_for_end 120
  check '[ "$(grep -c "^SEASONDIR=ZENTOSEASON\\\\" "$game/Qorvane.ini")" = "$lines" ]' "Qorvane.ini is not complete"
  echo "PASS: $1 during Create INI-file ended the program after it"
  rm -rf "$game"
}

# The commands in the order a player uses them, then the keyboard, then Close.
one_round() {  # KEY: the key that clicks "Close" at the end
  make_game "$work" 1000
  start
  check_looks

  # Fast here: it may be over before "Copying ..." could be seen.
  keep_look idle
  click_button $copy_files
  wait_until 60 '[ -f "$season/Pits/pits.mas" ]' || fail "Copy files did not copy the pits folder"
  wait_until 10 'looks_like idle' || fail "Copy files and Close did not come back"
  check_copy_complete "$game"
  check '[ -f "$season/Monaco/Monaco.gdb" ] && [ -f "$season/Monaco/monaco.mas.old" ] && [ -f "$season/season.trk" ]' \
    "Copy files did not copy the track files"
  check '[ ! -e "$season/Monaco/monaco.mas" ] && [ ! -e "$season/Monaco/Monaco.AIW" ] && [ ! -e "$season/season.AIW" ]' \
    "Copy files copied a file it must leave out"

  click_button $create_ini
  wait_until 10 '[ -s "$game/Qorvane.ini" ]' || fail "Create INI-file wrote nothing"
  check 'grep -q "^SEASONDIR=ZENTOSEASON\\\\.$" "$game/Qorvane.ini"' \
    "Qorvane.ini was not written: $(cat "$game/Qorvane.ini" 2>/dev/null)"
  expect_silence
  echo "PASS: Copy files and Create INI-file wrote what they should, and said nothing"
  click_until_ended $run_velmora
  echo "PASS: Run Velmora ended the program"

  local folder
  folder=$(cd "$game" && pwd -P)
  if [ "$kind" = windows ]; then
    record="$game/launch-record.txt"
    wait_until 10 '[ -s "$record" ]' || true
    check 'grep -qxF "arguments=-config=Qorvane.INI" "$record" && grep -qxF "seasondir=ZENTOSEASON\\" "$record"' \
      "the stand-in game was not started as expected: $(cat "$record" 2>/dev/null)"
  else
    wait_until 5 '[ -s "$game/launches.log" ]' || true
    check 'grep -qxF "started: [-config=Qorvane.INI] in $folder" "$game/launches.log"' \
      "the stand-in game was not started as expected: $(cat "$game/launches.log" 2>/dev/null)"
  fi
  echo "PASS: the game was started on the add-on's configuration"

  # Once more, by keyboard: the focus starts on "Close", Esc does nothing,
  # Tab goes on to "Create INI-file", where Space clicks it, and round the
  # other two back to "Close", where Enter or Space clicks it.
  rm "$game/Qorvane.ini"
  start
  xdotool key Escape Tab space
  wait_until 5 '[ -s "$game/Qorvane.ini" ]' || fail "Tab and Space from Close did not click Create INI-file"
  check 'alive' "Esc ended the program"
  # Keys made while "Create INI-file" still ends are dropped, and nothing
  # shows when it has ended: the first Tab goes again until the focus moves.
  for _ in 1 2 3 4 5; do
    import -window "$window" "$work/before-tab.png"
    xdotool key Tab
    wait_until 3 'import -window "$window" "$work/after-tab.png" &&
      ! same_picture "$work/before-tab.png" "$work/after-tab.png"' && break
  done
  xdotool key Tab Tab "$1"
  wait_for_end
  echo "PASS: Tab goes from Close to Create INI-file and round; Space clicked Create INI-file, $1 Close"

  # By keyboard twice in a row: Tab, Tab to "Copy files" and Space copy; the
  # focus comes back to "Copy files", so the next Space copies again and
  # starts no game.
  rm -f "$game/launches.log" "$game/launch-record.txt"
  start
  keep_look idle
  # A track file and a pit file removed come back: the pits are copied last.
  rm "$season/Monaco/Monaco.gdb" "$season/Pits/pits.mas"
  xdotool key Tab Tab space
  wait_until 60 '[ -f "$season/Pits/pits.mas" ]' || fail "Tab, Tab and Space did not click Copy files"
  check '[ -f "$season/Monaco/Monaco.gdb" ]' "Copy files did not copy the track file"
  wait_until 60 'looks_like idle' || fail "Copy files did not come back after the copy"
  rm "$season/Monaco/Monaco.gdb" "$season/Pits/pits.mas"
  xdotool key space
  wait_until 60 '[ -f "$season/Pits/pits.mas" ]' || fail "the next Space did not copy again"
  check '[ -f "$season/Monaco/Monaco.gdb" ]' "the next Space did not copy the track file"
  wait_until 60 'looks_like idle' || fail "Copy files did not come back after the second copy"
  check 'alive' "the next Space ended the program"
  check '[ ! -e "$game/launches.log" ] && [ ! -e "$game/launch-record.txt" ]' "the next Space started the game"
  click_until_ended $close
  echo "PASS: after Copy files by Space the focus stays on it: the next Space copies again"

  # And once more, started elsewhere on the game folder named, ended with a
  # click on "Close".
  rm "$game/Qorvane.ini"
  start_naming_the_game
  click_button $create_ini
  wait_until 10 '[ -s "$game/Qorvane.ini" ]' || fail "started on the game folder named, it did not work there"
  click_until_ended $close
  echo "PASS: started on the game folder named, it works there; Close ends the program"
}

# Each way a command can fall short is told once, when it ends, and why: the
# add-on not installed, a full disk, a read-only disk (Linux, on tmpfs),
# Config.ini missing, Dromvik.exe missing and no wine (Linux); then Close
# ends the program with status 3, as the game could not be started.
failure_round() {
  make_game "$work" 10
  local sep=/ addon="$game/ZENTOSEASON"
  [ "$kind" = windows ] && sep='\'
  mv "$addon" "$work/addon-aside"
  start
  click_button $copy_files
  expect_notice addon-missing "The add-on's folder ZENTOSEASON${sep}tracks is not in this game folder. Install Velmora first, then press Copy files again."
  check '[ ! -e "$addon" ]' "Copy files made the add-on's folder"
  echo "PASS: Copy files without the add-on said to install it first"
  # The add-on's folders on a disk of their own (under Wine too, where a
  # Unix mount point below a drive must not pass for a link), too small for
  # the textures, then read-only.
  mkdir -p "$addon"
  mount -t tmpfs -o size=300k tmpfs "$addon" || { echo "SKIP: cannot mount a tmpfs here"; exit 77; }
  on_exit+=("umount -l '$addon' 2>/dev/null")
  (cd "$work/addon-aside" && find . -type d -exec mkdir -p "$addon/{}" \;)
  click_button $copy_files
  expect_notice full "The disk is full: "
  mount -o remount,ro "$addon"
  rm -f "$season/Bulk/part1.dat" 2>/dev/null || true
  click_button $copy_files
  expect_notice read-only "The disk is read-only: "
  umount "$addon"
  echo "PASS: a full disk and a read-only disk were told as such"
  rmdir "$addon" 2>/dev/null || true
  mv "$work/addon-aside" "$addon"
  # A link named like a leftover temporaries' folder: the sweep never goes through it.
  mkdir -p "$work/outside"
  echo keep >"$work/outside/precious"
  ln -s "$work/outside" "$season/.velmora-5-5.tmp"
  click_until '[ -f "$season/Pits/pits.mas" ]' $copy_files || fail "Copy files did not copy once the add-on was there"
  wait_until 10 '[ "$(ls "$season/Bulk" | wc -l)" = "$bulk_files" ]' || fail "Copy files did not copy every file"
  check '[ -f "$work/outside/precious" ]' "the sweep of leftovers went through a link out of the game folder"
  rm -rf "$season/.velmora-5-5.tmp" "$work/outside"
  # A file where the pits folder goes: told by that cause, the folder named
  # as it is on the disk.
  mv "$season/Pits" "$work/pits-aside"
  echo x >"$season/Pits"
  click_until '[ "$(captioned)" -ge 2 ]' $copy_files || fail "Copy files with a file for the pits folder told nothing"
  expect_notice pits-unmade "The folder ZENTOSEASON${sep}tracks${sep}Pits could not be made because a file or a link has its name"
  rm "$season/Pits"
  mv "$work/pits-aside" "$season/Pits"
  echo "PASS: a pits folder that could not be made was told by its cause"
  # A circuit folder the add-on lacks is its season's choice: passed over
  # in silence. Everything else there but one pit file: the copy that brings
  # it back says nothing. A notice would hold the next click, which writes
  # Qorvane.ini.
  rm -rf "$season/Japan"
  rm "$season/Pits/pits.mas"
  click_until '[ -f "$season/Pits/pits.mas" ]' $copy_files || fail "Copy files did not copy the pit file: $(cat "$said")"
  click_until '[ -s "$game/Qorvane.ini" ]' $create_ini || fail "Create INI-file did not follow the copy"
  expect_silence
  check '[ ! -e "$season/Japan" ] && [ ! -e "$season/JAPAN" ]' "Copy files made a circuit folder the add-on lacks"
  echo "PASS: a complete copy, one with everything there, and one into an add-on with fewer circuits said nothing"

  printf 'SaveDir=save\\\r\n' >"$game/Config.ini"
  click_until '[ "$(captioned)" -ge 2 ]' $create_ini || fail "Create INI-file without SEASONDIR told nothing"
  expect_notice no-season "Config.ini has no SEASONDIR line, so the game will not race Velmora's season."
  check 'grep -q "^SAVEDIR=ZENTOSAVE" "$game/Qorvane.ini"' "Qorvane.ini was not written from a Config.ini without SEASONDIR"
  echo "PASS: Create INI-file from a Config.ini without SEASONDIR wrote Qorvane.ini and said so"

  mv "$game/ZENTOSAVE" "$work/saves-aside"
  click_until '[ "$(captioned)" -ge 2 ]' $create_ini || fail "Create INI-file without ZENTOSAVE told nothing"
  expect_notice no-saves "The game folder has no folder ZENTOSAVE, where Qorvane.ini has the game keep Velmora's saved games."
  mv "$work/saves-aside" "$game/ZENTOSAVE"
  echo "PASS: Create INI-file told the folder for saves the game folder lacks"

  rm "$game/Config.ini" "$game/Qorvane.ini"
  click_until '[ "$(captioned)" -ge 2 ]' $create_ini || fail "Create INI-file without Config.ini told nothing"
  expect_notice no-config "Config.ini is not in the game folder, so Qorvane.ini was not made." Escape
  check '[ ! -e "$game/Qorvane.ini" ]' "Create INI-file wrote Qorvane.ini without Config.ini"
  echo "PASS: Create INI-file without Config.ini said so"

  rm "$game/Dromvik.exe"
  click_button $run_velmora
  expect_notice no-game "The game was not started: Dromvik.exe is not in the game folder"
  echo "PASS: Run Velmora without Dromvik.exe kept the window and said why"
  if [ "$kind" = linux ]; then
    click_until_ended $close 3
    printf 'MZ not really a program' >"$game/Dromvik.exe"
    : >"$said"
    (cd "$game" && PATH=/nonexistent exec "$program") 2>>"$said" &
    pid=$!
    find_window
    click_button $run_velmora
    expect_notice no-wine "no Wine was found to run it. Install 32-bit Wine:"
    echo "PASS: Run Velmora without wine said how to install it"
    # A wine without its 32-bit half ends at once: what it said is told.
    click_until_ended $close 3
    printf '#!/bin/sh\necho "it looks like wine32 is missing, you should install it." >&2\nexit 1\n' >"$work/wine-64"
    chmod +x "$work/wine-64"
    : >"$said"
    (cd "$game" && WINE="$work/wine-64" exec "$program") 2>>"$said" &
    pid=$!
    find_window
    click_button $run_velmora
    expect_notice wine-failed "The game was not started: the wine that WINE names ($work/wine-64) ended with status 1. Unset WINE, or point it at a working wine, then press Run Velmora again."
    echo "PASS: a wine that ended at once was told with what it said"
  fi
  click_until_ended $close 3
  echo "PASS: closed after the game could not be started, the program ended with status 3"
  # The same notice in the player's language: German, and Polish.
  rm -f "$game/Dromvik.exe"
  for language in de pl; do
    if [ "$kind" = windows ]; then
      locale=$([ "$language" = de ] && echo de_DE.UTF-8 || echo pl_PL.UTF-8)
      LC_ALL=$locale start
    else
      LANGUAGE=$language start
    fi
    click_button $run_velmora
    case $language in
      de) expect_notice no-game-de "Das Spiel wurde nicht gestartet: Dromvik.exe ist nicht im Spielordner" ;;
      pl) expect_notice no-game-pl "Gra nie została uruchomiona: Dromvik.exe nie ma w folderze gry" ;;
    esac
    click_until_ended $close 3
    echo "PASS: told in the player's language ($language)"
  done
  rm -rf "$game"
}

# Types PATH into the folder chooser: the window then opens, "Copy files"
# copies into that game folder, and "Close" ends the program.
choose_game_and_copy() {  # PATH
  xdotool type --delay 10 "$1"
  xdotool key Return
  find_window
  keep_look idle
  click_button $copy_files
  wait_until 60 '[ -f "$season/Pits/pits.mas" ]' || fail "Copy files did not copy into the chosen game folder"
  wait_until 60 'looks_like idle' || fail "Copy files did not come back after the copy into the chosen game folder"
  check_copy_complete "$game"
  click_until_ended $close
}

# Named a game folder that is gone, it asks for the game folder first: a
# folder without a game is refused, the game's is taken, and the window then
# works there.
chooser_round() {
  make_game "$work" 10
  mkdir -p "$work/empty" "$work/home"
  (cd "$work/home" && HOME="$work/home" exec "$program" "$work/empty/gone") &
  pid=$!
  local chooser='^Choose the game folder'
  wait_until 30 'xdotool search --onlyvisible --name "$chooser" >/dev/null' || fail "no folder chooser appeared"
  check '! xdotool search --onlyvisible --name "^Tamsel Velmora - Config$" >/dev/null' "the window opened before a game folder was chosen"
  xdotool type --delay 10 "$work/empty"
  xdotool key Return
  wait_until 10 'xdotool search --onlyvisible --name "^Velmora Config$" >/dev/null' || fail "a folder without a game was taken"
  xdotool key Return
  wait_until 10 'xdotool search --onlyvisible --name "$chooser" >/dev/null' || fail "the chooser did not come back"
  choose_game_and_copy "$game"
  echo "PASS: named a folder that is gone, it asked for the game folder, refused one without a game, and worked in the one chosen"
  # Started again from the menu, it opens the chooser at the game chosen:
  # Return takes it.
  check 'grep -qF "$game" "$XDG_CONFIG_HOME/velmora/velmora.conf"' "the game chosen was not remembered"
  (cd "$work/home" && HOME="$work/home" exec "$program") &
  pid=$!
  wait_until 30 'xdotool search --onlyvisible --name "$chooser" >/dev/null' || fail "no folder chooser appeared"
  xdotool key Return
  find_window
  click_until_ended $close
  echo "PASS: started again outside a game folder, the chooser opened at the game chosen before"
}

# Started from the menu with nothing remembered, in a home where the game
# is installed in a Wine prefix and in a Steam library: the chooser opens at
# the first install found, and Return opens the window on it.
found_round() {
  local home="$work/found-home"
  make_game "$home/.wine/drive_c/Program Files (x86)" 1
  touch "$home/.wine/system.reg"
  make_game "$home/.local/share/Steam/steamapps/common" 1
  rm -rf "$XDG_CONFIG_HOME/velmora"
  (cd "$home" && HOME="$home" exec "$program") &
  pid=$!
  wait_until 30 'xdotool search --onlyvisible --name "^Choose the game folder" >/dev/null' || fail "no folder chooser appeared"
  xdotool key Return
  find_window
  # ~/.wine holds one game: it is looked in before Steam's library.
  check 'grep -qF "$home/.wine/drive_c/Program Files (x86)/game" "$XDG_CONFIG_HOME/velmora/velmora.conf"' \
    "the chooser did not open at the install found first: $(cat "$XDG_CONFIG_HOME/velmora/velmora.conf")"
  click_until_ended $close
  rm -rf "$home"
  echo "PASS: started from the menu with nothing remembered, the chooser opened at the install it found"
}

# "Run Velmora" as each game manager would start the game, with recording
# stand-ins for the system's wine, Heroic's and Lutris' wines and Steam: each
# records itself, WINEPREFIX and its arguments, then waits to be released.
# The window is gone while the starter still runs; a starter that fails
# after it brings the window back with what it said, and Close then ends the
# program with status 3; a manager's refusal is told, the window staying.
managers_round() {
  local home="$work/managers-home" bin="$work/managers-bin"
  said="$work/said.log"
  # A stand-in left waiting by a failed step must not outlive the test:
  # it would take a later run's release, and hold the test's output open.
  on_exit+=("pkill -f '$work/managers-' 2>/dev/null")
  rm -rf "$home" "$bin"
  mkdir -p "$bin" "$work/share/wine"
  cat >"$work/starter" <<'STARTER'
#!/bin/sh
printf '%s|%s|%s\n' "$0" "$WINEPREFIX" "$*" >>"$STARTS"
i=0
while [ ! -e "$RELEASE" ] && [ $i -lt 1200 ]; do sleep 0.05; i=$((i + 1)); done
rm -f "$RELEASE"
if [ -n "$FAIL" ]; then echo "$FAIL" >&2; exit 1; fi
STARTER
  chmod +x "$work/starter"
  cp "$work/starter" "$bin/wine"
  cp "$work/starter" "$bin/steam"
  # The system's wine keeps its wine.inf in share/wine beside its bin.
  touch "$work/share/wine/wine.inf"
  starts="$work/starts.log" release="$work/release"
  game_at() { mkdir -p "$1"; printf 'MZ' >"$1/Dromvik.exe"; printf '[Game Options]\r\n' >"$1/Config.ini"; }
  # Starts the program in FOLDER (by that path, as a shell's cd leaves it),
  # without a WINEPREFIX of the player's, which would stand over any manager's.
  start_in() {  # FOLDER [FAIL]
    : >"$starts" && : >"$said" && rm -f "$release"
    (cd "$1" && HOME="$home" PATH="$bin:$PATH" STARTS="$starts" RELEASE="$release" FAIL="${2:-}" exec env -u WINEPREFIX "$program") 2>>"$said" &
    pid=$!
    find_window
  }
  # Presses Run Velmora: STARTER is started in PREFIX with ARGUMENTS, and the
  # window is gone before the starter is released.
  expect_start() {  # STARTER PREFIX ARGUMENTS
    local want="$1|$2|$3"
    : >"$starts"
    click_button $run_velmora
    wait_until 30 '[ -s "$starts" ]' || fail "Run Velmora started nothing; it said: $(cat "$said")"
    check 'grep -qxF -- "$want" "$starts"' "expected $want, started: $(cat "$starts")"
    wait_until 10 '[ "$(captioned)" = 0 ]' || fail "the window stayed while the game started"
    touch "$release"
  }
  local heroic="$home/.config/heroic" heroic_wine="$home/.config/heroic/tools/wine/Wine-GE-Proton8-26/bin/wine"
  mkdir -p "$(dirname "$heroic_wine")" "$heroic/gog_store" "$heroic/GamesConfig"
  cp "$work/starter" "$heroic_wine"
  game_at "$home/Games/Heroic/Dromvik"
  printf '{"installed": [{"appName": "1207658930", "install_path": "%s"}]}' "$home/Games/Heroic/Dromvik" \
    >"$heroic/gog_store/installed.json"
  heroic_settings() {  # TYPE BIN
    printf '{"1207658930": {"winePrefix": "%s", "wineVersion": {"bin": "%s", "name": "Wine-GE-Proton8-26", "type": "%s"}}}' \
      "$home/Games/Heroic/Prefixes/default/Dromvik" "$2" "$1" >"$heroic/GamesConfig/1207658930.json"
  }
  # Heroic set to Proton: refused with what to do in Heroic; then set to its
  # wine, and pressed again, the game runs with it and fails later.
  heroic_settings proton "$home/.steam/root/compatibilitytools.d/GE-Proton9-2/proton"
  start_in "$home/Games/Heroic/Dromvik" "wine: could not load kernel32.dll"
  click_button $run_velmora
  expect_notice heroic-proton "Heroic runs it with Proton, and only Heroic can start it that way."
  heroic_settings wine "$heroic_wine"
  expect_start "$heroic_wine" "$home/Games/Heroic/Prefixes/default/Dromvik" "Dromvik.exe -config=Qorvane.INI"
  expect_notice heroic-late "The game was not started: Heroic's wine ($heroic_wine) ended with status 1."
  click_until_ended $close 3
  echo "PASS: a Heroic game ran with Heroic's wine and prefix (Proton refused); a late failure brought the window back"

  # Lutris: its runner's wine; without the runner, the system's wine only in
  # a prefix the system's wine made.
  local lutris_prefix="$home/Games/dromvik" runner="$home/.local/share/lutris/runners/wine/lutris-7.2-2-x86_64/bin/wine"
  game_at "$lutris_prefix/drive_c/Games/Dromvik"
  touch "$lutris_prefix/system.reg"
  mkdir -p "$home/.local/share/lutris/games" "$(dirname "$runner")"
  cp "$work/starter" "$runner"
  printf 'game:\n  exe: %s\n  prefix: %s\nwine:\n  version: lutris-7.2-2-x86_64\n' \
    "$lutris_prefix/drive_c/Games/Dromvik/Dromvik.exe" "$lutris_prefix" >"$home/.local/share/lutris/games/dromvik-1.yml"
  start_in "$lutris_prefix/drive_c/Games/Dromvik"
  expect_start "$runner" "$lutris_prefix" "Dromvik.exe -config=Qorvane.INI"
  wait_for_end 60 0
  rm -rf "$home/.local/share/lutris/runners"
  echo 12345 >"$lutris_prefix/.update-timestamp"
  start_in "$lutris_prefix/drive_c/Games/Dromvik"
  click_button $run_velmora
  expect_notice lutris-runner "runs it with its Wine runner lutris-7.2-2-x86_64, which is not installed"
  check '[ ! -s "$starts" ]' "a wine was started in Lutris' prefix: $(cat "$starts")"
  stat -c %Y "$work/share/wine/wine.inf" >"$lutris_prefix/.update-timestamp"
  expect_start "$bin/wine" "$lutris_prefix" "Dromvik.exe -config=Qorvane.INI"
  wait_for_end 60 0
  echo "PASS: a Lutris game ran with its runner, was refused the system's wine in another wine's prefix, and took it in its own"

  # Reached through a link inside a prefix, and started again from the menu.
  local linked="$home/.local/share/wineprefixes/linked"
  game_at "$work/other-disk/Dromvik"
  mkdir -p "$linked/drive_c/Games"
  touch "$linked/system.reg"
  ln -sfn "$work/other-disk/Dromvik" "$linked/drive_c/Games/Dromvik"
  rm -rf "$XDG_CONFIG_HOME/velmora"
  start_in "$linked/drive_c/Games/Dromvik"
  expect_start "$bin/wine" "$linked" "Dromvik.exe -config=Qorvane.INI"
  wait_for_end 60 0
  : >"$starts" && rm -f "$release"
  (cd "$home" && HOME="$home" PATH="$bin:$PATH" STARTS="$starts" RELEASE="$release" exec env -u WINEPREFIX "$program") 2>>"$said" &
  pid=$!
  wait_until 30 'xdotool search --onlyvisible --name "^Choose the game folder" >/dev/null' || fail "no folder chooser appeared"
  xdotool key Return
  find_window
  expect_start "$bin/wine" "$linked" "Dromvik.exe -config=Qorvane.INI"
  wait_for_end 60 0
  echo "PASS: a game reached through a link in a prefix ran in that prefix, also when started again from the menu"

  # A Steam library spelled SteamApps, with a server installed in the same folder.
  local library="$home/.local/share/Steam/SteamApps"
  game_at "$library/common/Dromvik"
  printf '"AppState"\n{\n\t"appid"\t\t"2298610"\n\t"name"\t\t"Dromvik"\n\t"installdir"\t\t"Dromvik"\n}\n' \
    >"$library/appmanifest_2298610.acf"
  printf '"AppState"\n{\n\t"appid"\t\t"1000"\n\t"name"\t\t"Dromvik Dedicated Server"\n\t"installdir"\t\t"Dromvik"\n}\n' \
    >"$library/appmanifest_1000.acf"
  start_in "$library/common/Dromvik"
  expect_start "$bin/steam" "" "-applaunch 2298610 -config=Qorvane.INI"
  wait_for_end 60 0
  echo "PASS: a game in a SteamApps library started through Steam as the game, not its server"
  rm -rf "$home" "$bin" "$work/share" "$work/other-disk"
}

# Starts velmora.exe in $work/tool, where no game is, and takes the folder
# its chooser opens at with Return, its file name box showing that folder's
# path; the window then opens.
take_shown_folder_windows() {  # WHICH_START NAME
  local chooser=""
  (cd "$work/tool" && exec wine velmora.exe) &
  pid=$!
  wait_until 60 'chooser=$(xdotool search --onlyvisible --name "^Choose the game folder" 2>/dev/null | head -n1) && [ -n "$chooser" ]' ||
    fail "no folder chooser appeared $1"
  eval "$(xdotool getwindowgeometry --shell "$chooser")"
  xdotool mousemove --window "$chooser" $((WIDTH * 2 / 3)) $((HEIGHT - 44)) click 1
  import -window "$chooser" "$work/chooser-$2.png"
  xdotool key Return
  find_window
}

# velmora.exe started from a folder of its own below the game, as unpacked
# from the zip: the folder chooser opens in the game's folder, a path typed
# into it leads to the window, and "Copy files" works in the game chosen.
chooser_round_windows() {
  make_game "$work" 10
  mkdir -p "$work/tool"
  cp "$program" "$work/tool/velmora.exe"
  (cd "$work/tool" && exec wine velmora.exe) &
  pid=$!
  local chooser=""
  wait_until 60 'chooser=$(xdotool search --onlyvisible --name "^Choose the game folder" 2>/dev/null | head -n1) && [ -n "$chooser" ]' ||
    fail "no folder chooser appeared"
  check '! xdotool search --onlyvisible --name "^Tamsel Velmora - Config$" >/dev/null' "the window opened before a game folder was chosen"
  # Without a window manager the chooser takes the keys once clicked: into
  # its file name box, at the bottom right, which shows the folder's path.
  eval "$(xdotool getwindowgeometry --shell "$chooser")"
  xdotool mousemove --window "$chooser" $((WIDTH * 2 / 3)) $((HEIGHT - 44)) click 1
  xdotool key ctrl+a
  choose_game_and_copy "$(winepath -w "$game")"
  echo "PASS: started where no game is, velmora.exe asked for the game folder and worked in the one chosen"
  # Started there again, it opens the chooser at the game chosen: "." takes
  # the folder it shows.
  check 'wine reg query "HKCU\\Software\\Velmora Config" /v GameFolder 2>/dev/null | grep -qiF "$(winepath -w "$game")"' \
    "the game chosen was not remembered"
  take_shown_folder_windows "the second time" second
  click_until_ended $close
  echo "PASS: started again outside a game folder, velmora.exe's chooser opened at the game chosen before"
  # With nothing remembered, it opens at the game an installer recorded.
  wine reg delete 'HKCU\Software\Velmora Config' /f >/dev/null 2>&1
  wine reg add 'HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Dromvik' /v InstallLocation \
    /d "$(winepath -w "$game")" /f >/dev/null 2>&1
  take_shown_folder_windows "the third time" third
  check 'wine reg query "HKCU\\Software\\Velmora Config" /v GameFolder 2>/dev/null | grep -qiF "$(winepath -w "$game")"' \
    "the chooser did not open at the game the uninstall entry names"
  click_until_ended $close
  wine reg delete 'HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Dromvik' /f >/dev/null 2>&1
  rm -rf "$work/tool"
  echo "PASS: with nothing remembered, velmora.exe's chooser opened at the game an uninstall entry records"
}

if [ "$kind" = windows ]; then
  wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 96 /f >/dev/null 2>&1
  wineserver -w  # the next start reads the new setting
  live_round "$work" 4000 alt+F4
  failure_round
  chooser_round_windows
  close_request_round close
  close_request_round syscommand-close
  for dpi in 96 144; do
    wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
    wineserver -w
    one_round "$([ "$dpi" = 96 ] && echo Return || echo space)"
  done
else
  # A game on an NTFS partition, read through ntfs-3g as players' often are:
  # there a copy lasts.
  ntfs="$work/ntfs"
  mkdir -p "$ntfs"
  truncate -s 1G "$work/ntfs.img"
  mkntfs -F -q -f "$work/ntfs.img" >/dev/null 2>&1
  ntfs-3g "$work/ntfs.img" "$ntfs" || { echo "SKIP: ntfs-3g cannot mount here"; exit 77; }
  # Lazily, since the program may still be ending when the test does.
  on_exit+=("umount -l '$ntfs'" "rm -f '$work/ntfs.img'")
  # A session bus of the test's own, on which docks would hear the program.
  dbus-daemon --session --fork --print-address=3 --print-pid=4 3>"$work/bus" 4>"$work/bus.pid"
  on_exit+=("kill \$(cat '$work/bus.pid')")
  DBUS_SESSION_BUS_ADDRESS=$(cat "$work/bus") && export DBUS_SESSION_BUS_ADDRESS
  dbus-monitor "type='signal',interface='com.canonical.Unity.LauncherEntry'" >"$work/launcher-entry.log" 2>&1 &
  on_exit+=("kill $!")
  wait_until 10 'grep -q "NameAcquired" "$work/launcher-entry.log"' || fail "dbus-monitor did not start"
  live_round "$ntfs" 20000
  check_taskbar_progress "$work/launcher-entry.log"
  one_round Return
  failure_round
  chooser_round
  found_round
  managers_round
fi
echo "PASS: all"
