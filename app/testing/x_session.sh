# Shared by the tests that drive the real window in Xvfb with xdotool; meant
# to be sourced. When the test ends, the program it started ("$pid") and the
# X server are stopped, and then the commands in the array "on_exit", if any.

# A failure keeps what the screen showed and what the program said.
fail() {
  echo "FAIL: $*"
  if [ -n "$xvfb" ] && [ -n "${work:-}" ] && import -window root "$work/failed.png" 2>/dev/null; then
    echo "screenshot: $work/failed.png"
  fi
  if [ -s "${said:-}" ]; then echo "the program said:"; cat "$said"; fi
  exit 1
}
check() { if ! eval "$1"; then fail "$2"; fi; }

# Skips the test (exit 77) unless every tool named is installed.
require_tools() {
  for tool in "$@"; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
  done
}

xvfb="" pid="" on_exit=()
end_session() {
  if [ -n "$pid" ]; then kill "$pid" 2>/dev/null || true; fi
  for command in "${on_exit[@]}"; do eval "$command" || true; done
  if [ -n "$xvfb" ]; then kill "$xvfb" 2>/dev/null || true; fi
}
trap end_session EXIT

# Starts Xvfb for the tests in WORK and points DISPLAY at it. Xvfb picks a
# free display itself and names it once it is ready; -noreset keeps it from
# restarting (and refusing clients) whenever the last one leaves.
start_x() {
  local displayfile="$1/display"
  Xvfb -displayfd 3 -noreset -screen 0 1280x1024x24 -nolisten tcp 3>"$displayfile" 2>"$1/xvfb.log" &
  xvfb=$!
  for _ in $(seq 300); do [ -s "$displayfile" ] && break; sleep 0.1; done
  [ -s "$displayfile" ] || fail "Xvfb did not start: $(cat "$1/xvfb.log")"
  export DISPLAY=":$(cat "$displayfile")"
  unset QT_QPA_PLATFORM
  # The game folder the program remembers is kept in the test's folder.
  export XDG_CONFIG_HOME="$1/config"
  echo "X server on $DISPLAY"
}

# Waits for the utility's window and sets $window, then for its first
# drawing: the blue strip between "Run Velmora" and "Close", and the buttons,
# which draw themselves after it: two pictures in a row the same.
find_window() {
  window=""
  for _ in $(seq 300); do
    window=$(timeout 5 xdotool search --onlyvisible --name '^Tamsel Velmora - Config$' 2>/dev/null | head -n1) &&
      [ -n "$window" ] && break
    sleep 0.1
  done
  [ -n "$window" ] || fail "the window did not appear"
  for _ in $(seq 100); do
    [ "$(window_pixel "$(px 4350)" "$(px 1800)")" = "0,51,153" ] && break
    sleep 0.1
  done
  [ "$(window_pixel "$(px 4350)" "$(px 1800)")" = "0,51,153" ] || fail "the window was not drawn"
  # Wine fills the window with its blue background before anything is
  # painted: an all-blue window is steady too, so the first button's face
  # must be there before the pictures are compared.
  set -- $copy_files
  for _ in $(seq 100); do
    [ "$(window_pixel $(( $(px $1) + 5 )) $(( $(px $2) + 5 )))" = "192,192,255" ] && break
    sleep 0.1
  done
  local before="${TMPDIR:-/tmp}/window-$$-before.png" after="${TMPDIR:-/tmp}/window-$$-after.png"
  import -window "$window" "$before" 2>/dev/null || true
  for _ in $(seq 100); do
    import -window "$window" "$after" 2>/dev/null || true
    if [ "$(compare -metric AE "$before" "$after" null: 2>&1)" = 0 ]; then
      rm -f "$before" "$after"
      return
    fi
    mv "$after" "$before"
  done
  fail "the window did not settle"
}

# The colour of one pixel of the window as the screen shows it now.
window_pixel() {
  import -window "$window" -crop "1x1+$1+$2" +repage -format '%[pixel:p{0,0}]' info: 2>/dev/null |
    sed 's/^srgb(\(.*\))$/\1/'
}

# Runs a command until it succeeds, up to SECONDS (tenths of a second apart).
wait_until() {
  local seconds=$1
  shift
  for _ in $(seq $((seconds * 10))); do
    eval "$1" && return 0
    sleep 0.1
  done
  eval "$1"
}

# The buttons' left, top, width and height in twips.
copy_files="4440 120 1455 375" create_ini="4440 600 1455 375"
run_velmora="4440 1080 1455 615" close="4800 1920 1095 375"
dpi=96

px() { echo $(( ($1 * dpi + 720) / 1440 )); }  # twips to pixels at $dpi
# The centre of a button, given its left, top, width and height in twips.
centre() { echo "$(px $(($1 + $3 / 2))) $(px $(($2 + $4 / 2)))"; }
click() { xdotool mousemove --window "$window" "$1" "$2" click 1; }  # a point of the client area
click_button() { click $(centre "$@"); }
