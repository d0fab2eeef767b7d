#!/usr/bin/env bash
# The real program in a real X server, as a screen reader sees it through
# AT-SPI on a session bus of its own (accessibility_probe.py).
#
# Usage: accessibility_test.sh VELMORA MAKE_DEMO WORK_FOLDER
set -euo pipefail
program=$(realpath "$1") make_demo=$2 work=$3
here=$(cd "$(dirname "$0")" && pwd)
source "$here/x_session.sh"
require_tools Xvfb dbus-run-session /usr/bin/python3
/usr/bin/python3 -c 'import pyatspi' 2>/dev/null || { echo "SKIP: python3-pyatspi is not installed"; exit 77; }
rm -rf "$work"
mkdir -p "$work"
start_x "$work"
"$make_demo" "$work/game" >/dev/null
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
dbus-run-session -- /usr/bin/python3 "$here/accessibility_probe.py" "$program" "$work/game" 2>"$work/bus.log" ||
  fail "see above; the bus said: $(tail -n 5 "$work/bus.log")"
echo "PASS: all"
