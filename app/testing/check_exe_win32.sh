#!/usr/bin/env bash
# Checks the shape of velmora.exe: one small 32-bit file that needs only
# Windows' own DLLs, whose manifest requests no execution level, and whose
# version information names the product and the project's version.
# Usage: check_exe_win32.sh VELMORA.EXE OBJDUMP VERSION
set -euo pipefail
exe=$1 objdump=$2 version=$3
fail() { echo "FAIL: $*"; exit 1; }

size=$(stat -c %s "$exe")
echo "velmora.exe: $size bytes"
# The search for installs lists folders with Windows' own calls: std::filesystem
# would bring about 700 KB of file streams and locales. A static Qt or a
# debug build would be several times the limit.
[ "$size" -le $((1536 * 1024)) ] || fail "larger than 1.5 MB"

grep -q 'file format pei-i386' <<<"$("$objdump" -f "$exe")" || fail "not a 32-bit (i686) program"
imports=$("$objdump" -p "$exe" | sed -n 's/^\s*DLL Name: //p' | tr '[:upper:]' '[:lower:]' | sort -u)
echo "imports: $(echo $imports)"
for dll in $imports; do
  case "$dll" in
    ntdll.dll|kernel32.dll|user32.dll|gdi32.dll|shell32.dll|advapi32.dll|msvcrt.dll|comctl32.dll|ole32.dll) ;;
    *) fail "imports $dll, which Windows does not come with" ;;
  esac
done

# Read the strings once: with pipefail, "strings | grep -q" fails whenever
# grep stops at its first match and strings dies writing to the closed pipe.
narrow=$(strings "$exe")
wide=$(strings -el "$exe")
grep -q '<dpiAwareness[^>]*>PerMonitorV2' <<<"$narrow" || fail "the manifest does not declare PerMonitorV2"
grep -q '<longPathAware[^>]*>true' <<<"$narrow" || fail "the manifest is not longPathAware"
grep -q 'Microsoft.Windows.Common-Controls' <<<"$narrow" || fail "the manifest does not ask for common controls 6"
if grep -q '<requestedExecutionLevel' <<<"$narrow"; then fail "the manifest requests an execution level"; fi
grep -q -x 'Velmora Config' <<<"$wide" || fail "no product name in the version information"
grep -q -x "$version" <<<"$wide" || fail "no version $version in the version information"
grep -q -x 'Copyright (c) 2026 The Velmora Config developers. MIT License.' <<<"$wide" ||
  fail "no LegalCopyright in the version information"
grep -q "name=\"Velmora.Config\" version=\"$version.0\"" <<<"$narrow" || fail "the manifest does not carry $version"
echo "PASS: velmora.exe has the shape it should"
