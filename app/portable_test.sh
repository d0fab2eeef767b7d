#!/usr/bin/env bash
# The portable Linux build as a player on another distribution meets it:
# packed from this build, extracted into a folder whose name has blanks, and
# run with every system Qt 6 library and plugin hidden (covered by an empty
# file or folder in a mount namespace of its own). Nothing it needs is
# missing, and in a real X server "Copy files", "Create INI-file" and
# "Close" do what they should.
# Usage: portable_test.sh SOURCE_FOLDER BUILD_FOLDER WORK_FOLDER
set -euo pipefail
top=$1 build=$2 work=$3
here=$(cd "$(dirname "$0")" && pwd)
source "$here/x_session.sh"
require_tools unshare Xvfb xdotool import convert compare patchelf readelf objdump
if [ -z "${VELMORA_PORTABLE_NAMESPACE:-}" ]; then
  rm -rf "$work"
  mkdir -p "$work"
  "$top/scripts/make-portable" "$build" "$work/dist"
  unshare -m true 2>/dev/null || { echo "SKIP: no mount namespace can be made here"; exit 77; }
  VELMORA_PORTABLE_NAMESPACE=1 exec unshare -m --propagation private "$0" "$@"
fi

# Hides the system's Qt: every libQt6 library and the plugin folder.
: >"$work/empty"
mkdir -p "$work/empty-folder"
hidden=0
for library in /usr/lib/x86_64-linux-gnu/libQt6*.so.6.*; do
  mount --bind "$work/empty" "$library"
  hidden=$((hidden + 1))
done
mount --bind "$work/empty-folder" /usr/lib/x86_64-linux-gnu/qt6
echo "hidden: $hidden system Qt libraries and the Qt plugin folder"

folder="$work/extracted with blanks"
mkdir -p "$folder"
tar -C "$folder" -xzf "$work"/dist/velmora-*-linux-x86_64.tar.gz
program=$(echo "$folder"/velmora-*-linux-x86_64/velmora)
portable=$(dirname "$program")
missing=""
while IFS= read -r -d '' file; do
  if ldd "$file" | grep -q 'not found'; then missing+="$file: $(ldd "$file" | grep 'not found' | tr -s ' \t' ' ')"$'\n'; fi
done < <(find "$portable" -type f \( -name velmora -o -name '*.so*' \) -print0)
[ -z "$missing" ] || fail "libraries not found:"$'\n'"$missing"
ldd "$program" | grep -q "libQt6Core.so.6 => $portable/lib/" || fail "Qt is not taken from the folder"
echo "PASS: with the system's Qt hidden, ldd finds everything the program and its libraries need, in the folder"

game="$work/game"
"$top/scripts/make-demo" "$game" >/dev/null
start_x "$work"
"$program" "$game" 2>"$work/velmora.log" &
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
