#!/usr/bin/env bash
# The real program in a real X server: the window appears with its caption and
# size; xdotool clicks "Copy files", "Create INI-file" and "Run Velmora", and
# the disk and the stand-in game's record show what the commands did.
# Usage: end_to_end_test.sh VELMORA MAKE_DEMO WORK_FOLDER
set -euo pipefail
program=$1 make_demo=$2 work=$3
for tool in Xvfb xdotool; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
rm -rf "$work"
mkdir -p "$work"
"$make_demo" "$work/game"

# Xvfb picks a free display itself and names it once it is ready; -noreset
# keeps it from restarting (and refusing clients) whenever the last one leaves.
displayfile="$work/display"
Xvfb -displayfd 3 -noreset -screen 0 1024x768x24 -nolisten tcp 3>"$displayfile" 2>"$work/xvfb.log" &
xvfb=$!
pid=""
cleanup() {
  if [ -n "$pid" ]; then kill "$pid" 2>/dev/null || true; fi
  kill "$xvfb" 2>/dev/null || true
}
trap cleanup EXIT
for _ in $(seq 300); do [ -s "$displayfile" ] && break; sleep 0.1; done
[ -s "$displayfile" ] || { echo "FAIL: Xvfb did not start: $(cat "$work/xvfb.log")"; exit 1; }
export DISPLAY=":$(cat "$displayfile")"
unset QT_QPA_PLATFORM
echo "X server on $DISPLAY"

start() {  # starts the program in the game folder and finds its window
  (cd "$work/game" && exec "$program") &
  pid=$!
  window=""
  for _ in $(seq 100); do
    window=$(timeout 5 xdotool search --onlyvisible --name '^Tamsel Velmora - Config$' 2>/dev/null | head -n1) && [ -n "$window" ] && break
    sleep 0.1
  done
  [ -n "$window" ] || { echo "FAIL: the window did not appear"; exit 1; }
  sleep 0.5
}
start
geometry=$(xdotool getwindowgeometry --shell "$window")
eval "$geometry"
echo "window $WINDOW at $X,$Y size ${WIDTH}x$HEIGHT"
[ "$WIDTH" = 399 ] && [ "$HEIGHT" = 245 ] || { echo "FAIL: client size ${WIDTH}x$HEIGHT"; exit 1; }
if command -v import >/dev/null; then import -window root "$work/screenshot.png" || true; fi

click() {  # click at a point of the client area
  xdotool mousemove --window "$window" "$1" "$2" click 1
}
check() { if ! eval "$1"; then echo "FAIL: $2"; exit 1; fi; }

click 340 20      # Copy files
sleep 1
click 340 52      # Create INI-file
sleep 1
click 340 92      # Run Velmora
wait_for_end() {
  for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  check '! kill -0 "$pid" 2>/dev/null' "the program is still running"
  wait "$pid" || { echo "FAIL: exit status $?"; exit 1; }
  pid=""
}
wait_for_end

game=$(cd "$work/game" && pwd -P)
for _ in $(seq 50); do [ -s "$work/game/launches.log" ] && break; sleep 0.1; done
check 'grep -qxF "started: [-config=Qorvane.INI] in $game" "$work/game/launches.log"' \
  "the stand-in game was not started as expected: $(cat "$work/game/launches.log" 2>/dev/null)"
echo "PASS: Run Velmora started the game and ended the program"

season="$work/game/ZENTOSEASON/tracks"
check '[ -f "$season/Monaco/Monaco.gdb" ] && [ -f "$season/Monaco/monaco.mas.old" ] && [ -f "$season/season.trk" ]' \
  "Copy files did not copy the track files"
check '[ ! -e "$season/Monaco/monaco.mas" ] && [ ! -e "$season/Monaco/Monaco.AIW" ] && [ ! -e "$season/season.AIW" ]' \
  "Copy files copied a file it must leave out"
check '[ -f "$season/Pits/crews/deep/garage.dat" ] && [ -f "$season/Pits/ORDER.PIT" ]' "the pits folder was not copied"
check 'grep -q "^SEASONDIR=ZENTOSEASON\\\\.$" "$work/game/Qorvane.ini"' "Qorvane.ini was not written: $(cat "$work/game/Qorvane.ini" 2>/dev/null)"
echo "PASS: Copy files and Create INI-file wrote what they should"

# Once more, ended with "Close".
start
click 356 140     # Close
wait_for_end
echo "PASS: Close ends the program"
