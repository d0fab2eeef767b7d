#!/usr/bin/env bash
# The Debian package as Debian's tools and a user's file manager see it:
# lintian finds no error in it, its desktop entry is valid, its program is
# stripped, it never becomes the system's folder opener, and the program
# unpacked from it, started by each of its entries on a game folder (the
# desktop entry, Dolphin's service menu, Nemo's action), works in that
# folder ("Create INI-file" writes Qorvane.ini there).
# Usage: package_test.sh BUILD_FOLDER WORK_FOLDER
set -euo pipefail
build=$1 work=$2
source "$(dirname "$0")/x_session.sh"
require_tools cpack dpkg-deb lintian desktop-file-validate update-desktop-database gio xdg-mime file Xvfb xdotool
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
if grep -q '^MimeType=' "$entry"; then fail "the desktop entry handles a file type"; fi
if grep -q '^NoDisplay=true' "$entry"; then fail "the desktop entry is kept out of the applications menu"; fi
service_menu="$root/usr/share/kio/servicemenus/velmora.desktop"
nemo_action="$root/usr/share/nemo/actions/velmora.nemo_action"
grep -qx 'MimeType=inode/directory;' "$service_menu" || fail "Dolphin's service menu is not offered for folders"
grep -qx 'Extensions=dir;' "$nemo_action" || fail "Nemo's action is not offered for folders"
grep -q ', stripped' <<<"$(file "$root/usr/bin/velmora")" || fail "the program is not stripped"
for doc in copyright changelog.gz; do
  [ -f "$root/usr/share/doc/velmora-config/$doc" ] || fail "no $doc"
done
grep -qx 'License: Expat' "$root/usr/share/doc/velmora-config/copyright" || fail "the copyright does not say MIT"
grep -q 'nlohmann/json' "$root/usr/share/doc/velmora-config/copyright" || fail "the copyright does not name the JSON library compiled in"
dpkg-deb -f "$deb" Depends | grep -q 'libyaml-cpp' || fail "the package does not depend on yaml-cpp"
echo "PASS: the desktop entry is valid and the package holds what Debian expects"

# Installed alone, the package is not what opens folders.
xdg="$work/xdg"
mkdir -p "$xdg/config" "$xdg/data"
update-desktop-database "$root/usr/share/applications"
for query in "gio mime inode/directory" "xdg-mime query default inode/directory"; do
  answer=$(XDG_DATA_DIRS="$root/usr/share" XDG_DATA_HOME="$xdg/data" XDG_CONFIG_HOME="$xdg/config" \
           XDG_CONFIG_DIRS="$xdg/config" XDG_CURRENT_DESKTOP=X-Generic $query 2>&1 || true)
  if grep -qi velmora <<<"$answer"; then fail "$query names the utility: $answer"; fi
done
echo "PASS: gio and xdg-mime do not take the utility for the folder opener"

check '[ "$("$root/usr/bin/velmora" --version)" = "velmora $(sed -n "s/^velmora-config (\(.*\)).*/\1/p" <(zcat "$root/usr/share/doc/velmora-config/changelog.gz") | head -n1)" ]' \
  "--version does not print the package's version"
message=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$root/usr/bin/velmora" 2>&1 && echo "exit 0" || echo "exit $?")
check '[ "$message" = "velmora needs a graphical session: DISPLAY or WAYLAND_DISPLAY is not set
exit 1" ]' "without a display: $message"
echo "PASS: --version and a start without a display say what they should"

# A game folder whose name needs quoting, opened as a file manager opens it:
# each entry's Exec line split into words, %f or %F standing for the folder.
game="$work/My Game (GOG)"
mkdir -p "$game/ZENTOSAVE"  # the add-on's folder for saves, which Qorvane.ini names
printf '[ Game Options ]\r\nSEASONDIR=season02\\\r\nSaveDir=save\\\r\n' > "$game/Config.ini"
start_x "$work"
for file in "$entry" "$service_menu" "$nemo_action"; do
  rm -f "$game/Qorvane.ini"
  read -r -a words <<< "$(sed -n 's/^Exec=//p' "$file")"
  command=()
  for word in "${words[@]}"; do
    case "$word" in %f|%F) command+=("$game") ;; *) command+=("$word") ;; esac
  done
  echo "starting from $(basename "$file"): ${command[*]} (from $HOME)"
  (cd "$HOME" && PATH="$root/usr/bin:$PATH" exec "${command[@]}") &
  pid=$!
  find_window
  click_button $create_ini
  wait_until 5 '[ -s "$game/Qorvane.ini" ]' || true
  check 'grep -q "^SAVEDIR=ZENTOSAVE" "$game/Qorvane.ini"' "Create INI-file did not write Qorvane.ini in the game folder"
  click_button $close
  wait_until 10 '! kill -0 "$pid" 2>/dev/null' || fail "Close did not end the program"
  pid=""
done
echo "PASS: opened on a game folder from each entry, the program works in that folder"
