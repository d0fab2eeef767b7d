#!/usr/bin/env bash
# Checks that THIRD-PARTY-NOTICES.txt has a notice for every library and
# start-up object that the link map shows velmora.exe was linked from, other
# than the project's own.
# Usage: check_notices_win32.sh VELMORA.MAP THIRD-PARTY-NOTICES.TXT BUILD_FOLDER
set -euo pipefail
map=$1 notices=$2 build=$3
fail() { echo "FAIL: $*"; exit 1; }
[ -s "$map" ] || fail "no link map $map"
[ -s "$notices" ] || fail "no notices $notices"

covers=$(sed -n 's/^Covers: //p' "$notices" | tr -d '\r')
# Everything the linker loaded: archives and objects, named by path.
loaded=$(sed -n 's/^LOAD //p' "$map" | sort -u)
checked=0
while read -r path; do
  case "$path" in
    /*) path=$(realpath -m "$path") ;;
    *) continue ;;  # relative to the build folder: the project's own
  esac
  name=$(basename "$path")
  case "$path" in
    "$build"/*) continue ;;
    /usr/i686-w64-mingw32/lib/libpthread.a | /usr/i686-w64-mingw32/lib/libwinpthread.a)
      grep -qw libwinpthread.a <<<"$covers" || fail "no notice for $path" ;;
    /usr/i686-w64-mingw32/lib/*)
      # The MinGW-w64 runtime and its import libraries of Windows' DLLs.
      grep -qF "$name" <<<"$covers" || grep -q "import libraries of Windows' DLLs" <<<"$covers" ||
        fail "no notice for $path" ;;
    *)
      grep -qF "$name" <<<"$covers" || fail "no notice covers $path" ;;
  esac
  checked=$((checked + 1))
done <<<"$loaded"
[ "$checked" -gt 5 ] || fail "the link map names only $checked outside libraries"
echo "PASS: each of the $checked libraries and objects velmora.exe was linked from has its notice"
