#!/usr/bin/env bash
# The Debian package as Debian's tools and a user's file manager see it:
# lintian finds no error in it, its desktop entry is valid, its program is
# stripped, and the program unpacked from it, started the way a file
# manager's "Open With" starts it on a game folder, works in that folder
# ("Create INI-file" writes Qorvane.ini there).
# Usage: package_test.sh BUILD_FOLDER WORK_FOLDER
set -euo pipefail
build=$1 work=$2
source "$(dirname "$0")/x_session.sh"
require_tools cpack dpkg-deb lintian desktop-file-validate file Xvfb xdotool
rm -rf "$work"
mkdir -p "$work"

(cd "$build" && cpack -G DEB -B "$work/out" >/dev/null)
deb=$(ls "$work"/out/*.deb)
echo "package: $deb"
# lintian warns that it runs as root; only its findings matter here.
lintian --fail-on error "$deb" 2>&1 | grep -v 'running with root privileges' || true
lintian --fail-on error "$deb" >/dev/null 2>&1 || fail "lintian found errors"
echo "PASS: lintian finds no error"

root="$work/root"
dpkg-deb -x "$deb" "$root"
entry="$root/usr/share/applications/velmora.desktop"
desktop-file-validate "$entry" || fail "the desktop entry is not valid"
grep -qx 'MimeType=inode/directory;' "$entry" || fail "the desktop entry is not offered for folders"
grep -qx 'NoDisplay=true' "$entry" || fail "the desktop entry shows in the applications menu"
grep -q ', stripped' <<<"$(file "$root/usr/bin/velmora")" || fail "the program is not stripped"
for doc in copyright changelog.gz; do
  [ -f "$root/usr/share/doc/velmora-config/$doc" ] || fail "no $doc"
done
echo "PASS: the desktop entry is valid and the package holds what Debian expects"

# A game folder whose name needs quoting, opened as a file manager opens it:
# the entry's Exec line split into words, %f standing for the folder.
game="$work/My Game (GOG)"
mkdir -p "$game"
printf '[ Game Options ]\r\nSaveDir=save\\\r\n' > "$game/Config.ini"
read -r -a words <<< "$(sed -n 's/^Exec=//p' "$entry")"
command=()
for word in "${words[@]}"; do
  if [ "$word" = "%f" ]; then command+=("$game"); else command+=("$word"); fi
done
echo "starting: ${command[*]} (from $HOME)"
start_x "$work"
(cd "$HOME" && PATH="$root/usr/bin:$PATH" exec "${command[@]}") &
pid=$!
find_window
click_button $create_ini
for _ in $(seq 50); do [ -s "$game/Qorvane.ini" ] && break; sleep 0.1; done
check 'grep -q "^SAVEDIR=ZENTOSAVE" "$game/Qorvane.ini"' "Create INI-file did not write Qorvane.ini in the game folder"
click_button $close
for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
check '! kill -0 "$pid" 2>/dev/null' "Close did not end the program"
pid=""
echo "PASS: opened on a game folder from the desktop entry, the program works in that folder"
