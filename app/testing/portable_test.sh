#!/usr/bin/env bash
# The portable Linux build as a player on another distribution meets it:
# packed from this build, extracted into a folder whose name has blanks, and
# run with every library of the system hidden but those every desktop has,
# and the system's Qt plugins (covered by an empty file or folder in a mount
# namespace of its own: app/testing/hide_libraries.py). Nothing it needs is missing, its notices are
# complete, in a real X server "Copy files", "Create INI-file" and "Close" do
# what they should, and on a Wayland-only desktop it opens its window through
# the Wayland plugin it carries.
# Usage: portable_test.sh SOURCE_FOLDER BUILD_FOLDER WORK_FOLDER
set -euo pipefail
top=$1 build=$2 work=$3
here=$(cd "$(dirname "$0")" && pwd)
source "$here/x_session.sh"
require_tools unshare Xvfb xdotool import convert compare patchelf readelf objdump python3
rm -rf "$work"
mkdir -p "$work"
"$top/scripts/make-portable" "$build" "$work/dist"
unshare -m true 2>/dev/null || { echo "SKIP: no mount namespace can be made here"; exit 77; }

folder="$work/extracted with blanks"
mkdir -p "$folder"
tar -C "$folder" -xzf "$work"/dist/velmora-*-linux-x86_64.tar.gz
program=$(echo "$folder"/velmora-*-linux-x86_64/velmora)
portable=$(dirname "$program")
# Runs a command as on a distribution with only the libraries every desktop
# has; the loader lists what a file needs (ldd, a shell script, cannot run
# there: the shell's own libraries are hidden).
hidden() { python3 "$here/hide_libraries.py" "$portable" "$@"; }
loader=$(readelf -l "$program" | sed -n 's/.*interpreter: \(.*\)]/\1/p')
for language in de pl; do
  [ -f "$portable/locale/$language/LC_MESSAGES/velmora.mo" ] || fail "no $language catalog beside the program"
  [ -f "$portable/translations/qtbase_$language.qm" ] || fail "no Qt words in $language beside the program"
done
echo "PASS: the messages' catalogs and Qt's words travel beside the program"

missing=""
while IFS= read -r -d '' file; do
  found=$(hidden "$loader" --list "$file" 2>&1) || missing+="$file: $found"$'\n'
  if grep -q 'not found' <<<"$found"; then missing+="$file: $(grep 'not found' <<<"$found" | tr -s ' \t' ' ')"$'\n'; fi
done < <(find "$portable" -type f \( -name velmora -o -name '*.so*' \) -print0)
[ -z "$missing" ] || fail "libraries not found:"$'\n'"$missing"
hidden "$loader" --list "$program" | grep -q "libQt6Core.so.6 => $portable/lib/" || fail "Qt is not taken from the folder"
echo "PASS: on a system with only the libraries every desktop has, the loader finds all the rest in the folder"

# Every licence text a carried copyright file points at travels with it, and
# every package is named with its version (Qt's Wayland plugin's too).
for text in $(grep -oh '/usr/share/common-licenses/[A-Za-z0-9.+-]*[A-Za-z0-9+]' "$portable"/notices/*.copyright | sort -u); do
  [ ! -f "$text" ] || [ -f "$portable/notices/$(basename "$text")" ] || fail "notices/ lacks $(basename "$text")"
done
grep -Eq '^  qt6-wayland [0-9][^ ]* \(source: qt6-wayland ' "$portable/THIRD-PARTY-NOTICES" ||
  fail "THIRD-PARTY-NOTICES does not name qt6-wayland and its version"
# The parsers of the game managers' files: yaml-cpp carried, nlohmann/json compiled in.
ls "$portable"/notices/libyaml-cpp*.copyright >/dev/null 2>&1 || fail "notices/ lacks yaml-cpp's"
[ -f "$portable/notices/nlohmann-json3-dev.copyright" ] || fail "notices/ lacks nlohmann/json's"
echo "PASS: notices/ holds every licence text the copyright files name; every package is named with its version"

game="$work/game"
"$top/scripts/make-demo" "$game" >/dev/null
start_x "$work"
hidden "$program" "$game" 2>"$work/velmora.log" &
pid=$!
find_window
season="$game/ZENTOSEASON/tracks"
click_button $copy_files
wait_until 60 '[ -f "$season/Pits/crews/deep/garage.dat" ] && [ -f "$season/Monaco/Monaco.gdb" ]' ||
  fail "Copy files did not copy"
# A click while the copy still ends is dropped: made again until it acts.
for _ in 1 2 3 4 5; do
  click_button $create_ini
  wait_until 5 '[ -f "$game/Qorvane.ini" ]' && break
done
check 'grep -q "^SAVEDIR=ZENTOSAVE" "$game/Qorvane.ini"' "Create INI-file did not write Qorvane.ini"
for _ in 1 2 3 4 5; do
  kill -0 "$pid" 2>/dev/null || break
  click_button $close || true
  wait_until 5 '! kill -0 "$pid" 2>/dev/null' && break
done
wait "$pid" || fail "exit status $?: $(cat "$work/velmora.log")"
pid=""
echo "PASS: run from the extracted folder, Copy files, Create INI-file and Close did what they should"

# A Wayland desktop without XWayland: a headless compositor, no X display.
# The window opens through the Wayland plugin the folder carries (Qt's client
# protocol log shows the window's title and its first frame).
if command -v weston >/dev/null; then
  runtime="$work/runtime"
  mkdir -m 700 "$runtime"
  XDG_RUNTIME_DIR="$runtime" weston --backend=headless-backend.so --socket=wayland-velmora --idle-time=0 \
    >"$work/weston.log" 2>&1 &
  weston=$!
  on_exit+=("kill $weston")
  wait_until 30 '[ -S "$runtime/wayland-velmora" ]' || fail "weston did not start: $(tail -3 "$work/weston.log")"
  env -u DISPLAY -u QT_QPA_PLATFORM XDG_RUNTIME_DIR="$runtime" WAYLAND_DISPLAY=wayland-velmora WAYLAND_DEBUG=1 \
    python3 "$here/hide_libraries.py" "$portable" "$program" "$game" >"$work/wayland.log" 2>&1 &
  pid=$!
  wait_until 60 'grep -q "xdg_toplevel@[0-9]*\.set_title(\"Tamsel Velmora - Config\")" "$work/wayland.log" &&
                 grep -q "wl_surface@[0-9]*\.attach(wl_buffer" "$work/wayland.log" || ! kill -0 $pid 2>/dev/null' || true
  kill -0 "$pid" 2>/dev/null ||
    fail "on Wayland the program ended: $(grep -v '^\[' "$work/wayland.log" | head -5)"
  grep -q "wl_surface@[0-9]*\.attach(wl_buffer" "$work/wayland.log" || fail "on Wayland no window was drawn"
  kill "$pid"
  wait "$pid" 2>/dev/null || true
  pid=""
  echo "PASS: on a Wayland-only desktop, with only the libraries every desktop has, the window opens through the carried plugin"
else
  echo "weston is not installed: the Wayland round is skipped"
fi
